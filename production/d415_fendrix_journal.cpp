// The event journal: what the doser reports, what the operator does and how batches go, written as events
// once per occurrence; the button "Журнал событий" and its window.
#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "d415device.h"
#include "d415settings.h"
#include "eventjournalwindow.h"
#include "rs232settings.h"

#include <QPushButton>

namespace {
constexpr int JournalButtonHeight = 36;
constexpr int JournalButtonGap = 4;
} // namespace

void D415_Fendrix::setUpJournal()
{
    journalButton = new QPushButton(QStringLiteral("Журнал событий"), this);
    journalButton->setObjectName(QStringLiteral("journalButton"));
    placeJournalButton();
    connect(journalButton, &QPushButton::clicked, this, &D415_Fendrix::showJournal);

    for (D415Device *device : d415)
        connectDoserJournal(device);
    connect(&lineKeeper, &LineKeeper::lossBegan, this, [this](const QString &name) { m_journal.lineLost(name); });
    connect(&lineKeeper, &LineKeeper::lossEnded, this, [this](const QString &name) { m_journal.lineBack(name); });
    connectSettingsJournal();
    connect(&stat, &Stat::exported, this, &D415_Fendrix::journalExport);
}

// Beside the recipe button, in the row it adds below the designed arrangement; without one, in a row of its
// own, as wide as the settings buttons.
void D415_Fendrix::placeJournalButton()
{
    if (const QWidget *receipt = findChild<QWidget *>(QStringLiteral("receiptButton"))) {
        const QRect row = receipt->geometry();
        const int left = row.right() + 1 + JournalButtonGap;
        journalButton->setGeometry(left, row.y(), width() - left - JournalButtonGap, row.height());
        return;
    }
    setFixedSize(width(), height() + JournalButtonHeight + JournalButtonGap);
    journalButton->setGeometry(ui->d415SettingsButton->x(), height() - JournalButtonHeight,
        ui->rs232SettingsButton->geometry().right() - ui->d415SettingsButton->x() + 1, JournalButtonHeight);
    keepOnScreen();
}

void D415_Fendrix::connectDoserJournal(D415Device *device)
{
    // As the panel does, a doser switched off reports nothing.
    auto serving = [this](int number) {
        const int position = positionOf(number);
        return position >= 0 && d415[position]->isDeviceActive();
    };
    connect(device, &D415Device::hasConnectionErrorSignal, this, [this, serving](int number) {
        if (serving(number))
            m_journal.connectionError(number, idButch);
    });
    connect(device, &D415Device::hasCurrentStateSignal, this, [this, serving](int number, const QString &state) {
        if (serving(number))
            m_journal.stateReported(number, state, idButch);
    });
    connect(device, &D415Device::hasErrorSignal, this, [this, serving](int number, const QString &message) {
        if (serving(number))
            m_journal.faultReported(number, message, idButch);
    });
    connect(device, &D415Device::needToStopTheWork, this, [this, serving](int number) {
        if (serving(number))
            m_journal.stopDemanded(number, idButch);
    });
}

void D415_Fendrix::connectSettingsJournal()
{
    const QString setting = QStringLiteral("setting");
    connect(rs232SettingsDialog, &rs232Settings::comPortChanged, this,
        [this, setting](const QString &name) { journalEvent(setting, QStringLiteral("Порт: %1").arg(name)); });
    connect(rs232SettingsDialog, &rs232Settings::rateChanged, this,
        [this, setting](const QString &rate) { journalEvent(setting, QStringLiteral("Скорость: %1").arg(rate)); });
    connect(d415SettingsDialog, &d415Settings::d415IdChanged, this,
        [this, setting](int number) { journalEvent(setting, QStringLiteral("Номер дозатора: %1").arg(number)); });
    connect(d415SettingsDialog, &d415Settings::d415ProductChanged, this,
        [this, setting](int, const QString &name) { journalEvent(setting, QStringLiteral("Продукт: %1").arg(name)); });
    connect(d415SettingsDialog, &d415Settings::startTestModeClicked, this,
        [this] { journalEvent(QStringLiteral("command"), QStringLiteral("Тестовый режим включён")); });
    connect(d415SettingsDialog, &d415Settings::stopTestModeClicked, this,
        [this] { journalEvent(QStringLiteral("command"), QStringLiteral("Тестовый режим выключен")); });
    connect(&product, &Product::productAdded, this, [this, setting](const QString &name) {
        journalEvent(setting, QStringLiteral("Продукт добавлен в справочник: %1").arg(name));
    });
    connect(&product, &Product::productDeleted, this, [this, setting](const QString &name) {
        journalEvent(setting, QStringLiteral("Продукт удалён из справочника: %1").arg(name));
    });
}

void D415_Fendrix::journalEvent(const QString &kind, const QString &text)
{
    m_journal.record(d415[0]->getDeviceID(), kind, text, idButch);
}

void D415_Fendrix::journalRefusal(const QString &why)
{
    journalEvent(QStringLiteral("refused"), QString(why).replace(QLatin1Char('\n'), QLatin1Char(' ')));
}

void D415_Fendrix::journalExport(const QString &fileName)
{
    m_journal.record(0, QStringLiteral("export"), QStringLiteral("Файл: %1").arg(fileName), 0);
}

QString D415_Fendrix::journalWeights(int position) const
{
    const DoserState &doser = doserState[position];
    return QStringLiteral("продукт %1, выполнено %2 из %3 %4")
        .arg(d415[position]->productName(), formatWeight(position, doser.haveDoneWeight),
            formatWeight(position, doser.taskWeight), doser.weightUnit);
}

void D415_Fendrix::showJournal()
{
    if (!journalWindow) {
        journalWindow = new EventJournalWindow(this);
        connect(journalWindow, &EventJournalWindow::exported, this, &D415_Fendrix::journalExport);
    }
    journalWindow->showNewest();
    centreOnWindow(journalWindow);
    journalWindow->show();
    journalWindow->raise();
}
