#include "rs232settings.h"

#include "combotextrelay.h"

#include <QSignalBlocker>
#include <QTimer>

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

void rs232Settings::addComPorts(const QList<QString> &ports)
{
    comPortNameComboBox->addItems(ports);
}

void rs232Settings::refreshComPorts(const QList<QString> &ports)
{
    const QString current = comPortNameComboBox->currentText();
    QStringList listed = ports;
    if (!current.isEmpty() && !listed.contains(current))
        listed.prepend(current);
    const QSignalBlocker quiet(comPortNameComboBox);
    comPortNameComboBox->clear();
    comPortNameComboBox->addItems(listed);
    comPortNameComboBox->setCurrentIndex(current.isEmpty() ? 0 : int(listed.indexOf(current)));
}

void rs232Settings::announcePortChange(const QString &portName)
{
    // A choice that changes the entry gives currentIndexChanged and then activated, in one call; the
    // mark outlives that call only until the event loop runs again.
    m_portChangeAnnounced = true;
    QTimer::singleShot(0, this, [this] { m_portChangeAnnounced = false; });
    emit comPortChanged(portName);
}

void rs232Settings::announceChosenPort()
{
    if (!m_portChangeAnnounced)
        emit comPortChanged(comPortNameComboBox->currentText());
    m_portChangeAnnounced = false;
}

void rs232Settings::lockLineChoice(bool locked)
{
    comPortNameComboBox->setDisabled(locked);
    comPortRatecomboBox->setDisabled(locked);
}

QString rs232Settings::getCurrentCOMPort() const
{
    return comPortNameComboBox->currentText();
}

QString rs232Settings::getCurrentCOMPortRate() const
{
    return comPortRatecomboBox->currentText();
}
