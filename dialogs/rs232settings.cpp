#include "rs232settings.h"

#include "combotextrelay.h"

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
        &rs232Settings::comPortChanged);
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

QString rs232Settings::getCurrentCOMPort() const
{
    return comPortNameComboBox->currentText();
}

QString rs232Settings::getCurrentCOMPortRate() const
{
    return comPortRatecomboBox->currentText();
}
