#include "rs232settings.h"

#include "combotextrelay.h"

#include <QSignalBlocker>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cstdio>

rs232Settings::rs232Settings(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setupUi(this);
    setModal(true);
    adjustSize();
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_DeleteOnClose, false);

    // Connected last: the form has already made "38400" current, so building the dialog announces nothing.
    connect(new ComboTextRelay(comPortNameComboBox), &ComboTextRelay::currentIndexChanged, this,
        &rs232Settings::announcePortChange);
    connect(comPortNameComboBox, &QComboBox::activated, this, &rs232Settings::announceChosenPort);
    connect(new ComboTextRelay(comPortRatecomboBox), &ComboTextRelay::currentIndexChanged, this,
        &rs232Settings::rateChanged);
}

rs232Settings::~rs232Settings()
{
    std::fputs("~rs232Settings()\n", stderr);
}

void rs232Settings::addPort(const QString &text, const QString &name)
{
    comPortNameComboBox->addItem(text, name);
}

void rs232Settings::addComPorts(const QList<QString> &ports)
{
    for (const QString &port : ports)
        addPort(port, port);
}

void rs232Settings::refreshComPorts(const QList<QString> &ports, const QList<RefusedPort> &refused)
{
    const QString current = getCurrentCOMPort();
    const bool currentRefused
        = std::any_of(refused.begin(), refused.end(), [&](const RefusedPort &port) { return port.name == current; });
    QStringList listed = ports;
    if (!current.isEmpty() && !listed.contains(current) && !currentRefused)
        listed.prepend(current);
    const QSignalBlocker quiet(comPortNameComboBox);
    comPortNameComboBox->clear();
    addComPorts(listed);
    for (const RefusedPort &port : refused) {
        const QString reason = port.group.isEmpty() ? QStringLiteral("нет доступа")
                                                    : QStringLiteral("нет доступа: группа %1").arg(port.group);
        addPort(QStringLiteral("%1 (%2)").arg(port.name, reason), port.name);
    }
    // Only the operator makes a refused device current: found by itself it would be tried for ever.
    const int first = listed.isEmpty() ? -1 : 0;
    comPortNameComboBox->setCurrentIndex(current.isEmpty() ? first : comPortNameComboBox->findData(current));
}

void rs232Settings::announcePortChange()
{
    // A choice that changes the entry gives currentIndexChanged and then activated, in one call; the
    // mark outlives that call only until the event loop runs again.
    m_portChangeAnnounced = true;
    QTimer::singleShot(0, this, [this] { m_portChangeAnnounced = false; });
    emit comPortChanged(getCurrentCOMPort());
}

void rs232Settings::announceChosenPort()
{
    if (!m_portChangeAnnounced)
        emit comPortChanged(getCurrentCOMPort());
    m_portChangeAnnounced = false;
}

void rs232Settings::lockLineChoice(bool locked)
{
    comPortNameComboBox->setDisabled(locked);
    comPortRatecomboBox->setDisabled(locked);
}

QString rs232Settings::getCurrentCOMPort() const
{
    const QVariant name = comPortNameComboBox->currentData();
    return name.isValid() ? name.toString() : comPortNameComboBox->currentText();
}

QString rs232Settings::getCurrentCOMPortRate() const
{
    return comPortRatecomboBox->currentText();
}
