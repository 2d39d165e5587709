// The plant database: the station's batches, tasks and journal events go to the plant's PostgreSQL server
// through data.db's outbox, when the settings name one. Without the setting nothing of this runs.
#include "d415_fendrix.h"

#include "plantconnection.h"
#include "plantoutbox.h"
#include "plantsender.h"
#include "statestrip.h"

#include <QLabel>
#include <QSettings>
#include <QSysInfo>

#include <cstdio>

// Settings (organisation "KESTU", application "D415_Test"): "plantDatabase" is a service name from
// pg_service.conf or a libpq connection string; "stationName" (the host name unless given) and
// "productionLine" name the station on the server.
void D415_Fendrix::startPlantFeed()
{
    QSettings settings(QStringLiteral("KESTU"), QStringLiteral("D415_Test"));
    PlantSender::Settings feed;
    feed.connection = settings.value(QStringLiteral("plantDatabase")).toString().trimmed();
    PlantOutbox outbox(m_query);
    if (feed.connection.isEmpty()) {
        // A station taken out of the plant stops queueing; what is queued stays for a later return.
        if (outbox.hasTriggers() && !outbox.removeTriggers())
            std::fprintf(
                stderr, "\nThe plant outbox triggers can not be removed: %s\n", qPrintable(outbox.errorText()));
        return;
    }
    feed.station = settings.value(QStringLiteral("stationName"), QSysInfo::machineHostName()).toString();
    feed.line = settings.value(QStringLiteral("productionLine")).toString();

    // Rows are queued even while the setting is refused, so that nothing is lost once it is mended.
    if (!outbox.installTriggers())
        std::fprintf(stderr, "\nThe plant outbox can not be set up: %s\n", qPrintable(outbox.errorText()));
    m_plantWaiting = outbox.waiting();
    addPlantLabel();

    const QString refused = PlantConnection::refusal(feed.connection);
    if (!refused.isEmpty()) {
        std::fprintf(stderr, "\nThe plant database is not used: %s\n", qPrintable(refused));
        plantLinkChanged(false, refused);
        return;
    }
    m_plantSender = new PlantSender(feed, this);
    connect(m_plantSender, &PlantSender::linkChanged, this, &D415_Fendrix::plantLinkChanged);
    connect(m_plantSender, &PlantSender::waitingChanged, this, [this](qint64 waiting) {
        m_plantWaiting = waiting;
        showPlantState();
    });
    m_plantSender->start(QThread::LowPriority);
    std::fprintf(stderr, "\nFeeding the plant database as station \"%s\"\n", qPrintable(feed.station));
}

// At the state strip's right end: quiet, in the strip's own colours, and the window keeps its size.
void D415_Fendrix::addPlantLabel()
{
    m_plantLabel = new QLabel(this);
    m_plantLabel->setObjectName(QStringLiteral("plantStateLabel"));
    stateStrip()->addTrailingWidget(m_plantLabel);
    showPlantState();
}

void D415_Fendrix::plantLinkChanged(bool reached, const QString &reason)
{
    m_plantReached = reached;
    m_plantReason = reason;
    if (reached)
        std::fputs("\nPlant database reached\n", stderr);
    else
        std::fprintf(stderr, "\nPlant database not reached: %s\n", qPrintable(reason));
    // A first contact at start-up is no news; a loss is, and so is the return after it.
    if (!reached || m_plantLossJournaled) {
        m_journal.record(0, reached ? QStringLiteral("plantback") : QStringLiteral("plantlost"),
            reached ? QStringLiteral("Заводская база данных: связь восстановлена")
                    : QStringLiteral("Заводская база данных: нет связи (%1)").arg(reason),
            0);
        m_plantLossJournaled = !reached;
    }
    showPlantState();
}

void D415_Fendrix::showPlantState()
{
    if (!m_plantLabel)
        return;
    const QString waiting = m_plantWaiting < 0 ? QStringLiteral("?") : QString::number(m_plantWaiting);
    m_plantLabel->setText(m_plantReached ? QStringLiteral("Заводская база: связь есть, ждут отправки: %1").arg(waiting)
                                         : QStringLiteral("Заводская база: нет связи, ждут отправки: %1").arg(waiting));
    m_plantLabel->setToolTip(m_plantReason);
}
