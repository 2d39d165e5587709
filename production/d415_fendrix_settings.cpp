// The dialogs opened from the panel (doser settings, serial settings, product catalogue, statistics), the
// product the doser is dosing, the doser number, and the serial port the station talks on.
#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "panelcodes.h"

#include "d415device.h"
#include "d415link.h"
#include "d415settings.h"
#include "rs232settings.h"

#include <QGroupBox>

using namespace PanelCodes;

void D415_Fendrix::centreOnWindow(QWidget *dialog) const
{
    dialog->move(x() + width() / 2 - dialog->width() / 2, y() + height() / 2 - dialog->height() / 2);
}

void D415_Fendrix::changeD415Product(int position, const QString &name)
{
    if (position < 0 || position >= DoserCount)
        return;
    d415[position]->setProductName(name);
    refreshContainerTitle(position);
}

void D415_Fendrix::checkD415Connection(int number)
{
    d415SettingsDialog->clearFields();
    d415[0]->setDeviceID(number);
    // Another doser: its number format and maximum dose are to be learnt anew.
    doserState[0].scaleKnown = false;
    doserState[0].npvKnown = false;
    refreshContainerTitle(0);
    deviceConnectionTest(0);
}

void D415_Fendrix::startTestMode()
{
    d415[0]->startTestMode();
}

void D415_Fendrix::stopTestMode()
{
    d415[0]->stopTestMode();
}

void D415_Fendrix::getProductsNames()
{
    runQuery(QStringLiteral("SELECT productName FROM product"));
    // Copied: each name added is announced as the doser's product, and the handlers of that may query too.
    const QList<QByteArray> names = m_query.values();
    d415SettingsDialog->dellAllProductTypes();
    for (const QByteArray &name : names)
        d415SettingsDialog->addProductType(QString::fromUtf8(name));
}

void D415_Fendrix::showD415Settings()
{
    d415SettingsDialog->clearFields();
    deviceConnectionTest(0);
    // Refilling the list announces each current entry as the doser's product (empty, then the first name):
    // opening the dialog to look must leave the doser on the product it is dosing, batch records included.
    // A doser without a product yet takes the first of the list, as the refill offers it.
    const QString chosen = d415[0]->productName();
    getProductsNames();
    const QString product = chosen.isEmpty() ? d415[0]->productName() : chosen;
    d415SettingsDialog->selectProductType(product);
    changeD415Product(0, product);
    centreOnWindow(d415SettingsDialog);
    d415SettingsDialog->show();
}

void D415_Fendrix::showRs232Settings()
{
    centreOnWindow(rs232SettingsDialog);
    rs232SettingsDialog->show();
}

void D415_Fendrix::showStat()
{
    centreOnWindow(&product);
    product.newProductName->clear();
    product.show();
}

void D415_Fendrix::showStat2()
{
    stat.reloadDates();
    centreOnWindow(&stat);
    stat.show();
}

void D415_Fendrix::openCOMPort(const QString &name)
{
    if (name.isEmpty()) {
        for (int position = 0; position < DoserCount; ++position)
            showState(position, NoConnection);
        return;
    }
    link->openPort(name);
    link->setReplyTimeout(150);
    if (link->isPortOpen())
        setCOMPortRate(rs232SettingsDialog->getCurrentCOMPortRate());
    else
        showState(0, NoConnection);
}

void D415_Fendrix::setCOMPortRate(const QString &text)
{
    link->setBaudRate(text.toInt(nullptr, 10));
}
