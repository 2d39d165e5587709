// The dialogs opened from the panel (doser settings, serial settings, product catalogue, statistics), the
// product the doser is dosing, the doser number, and the serial port the station talks on.
#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "panelcodes.h"

#include "d415device.h"
#include "d415link.h"
#include "d415settings.h"
#include "rs232settings.h"
#include "serialport.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

using namespace PanelCodes;

// Centred over the window, yet whole on the screen: at a large panel scale a tall dialog centred over a
// window at the screen's foot would have its last buttons out of reach of a touch.
void D415_Fendrix::centreOnWindow(QWidget *dialog) const
{
    QPoint corner(x() + width() / 2 - dialog->width() / 2, y() + height() / 2 - dialog->height() / 2);
    if (const QScreen *screen = QGuiApplication::screenAt(geometry().center())) {
        const QRect available = screen->availableGeometry();
        corner.setX(std::max(std::min(corner.x(), available.right() + 1 - dialog->width()), available.left()));
        corner.setY(std::max(std::min(corner.y(), available.bottom() + 1 - dialog->height()), available.top()));
    }
    dialog->move(corner);
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
    // A port plugged in since the last look can be chosen.
    refreshPortList();
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
        lineKeeper.opened(name, false);
        return;
    }
    const bool open = openLine(name);
    if (!open)
        showState(0, NoConnection);
    lineKeeper.opened(name, open);
}

bool D415_Fendrix::openLine(const QString &name)
{
    const bool opened = link->openPort(name) == PortOk;
    link->setReplyTimeout(150);
    if (link->isPortOpen())
        setCOMPortRate(rs232SettingsDialog->getCurrentCOMPortRate());
    return opened;
}

void D415_Fendrix::lineLostActions(const QString &name)
{
    // A report from before the port was chosen anew concerns a line that has been let go already.
    if (name != link->portName() || !link->isPortOpen())
        return;
    link->closePort();
    lineKeeper.lost(name);
}

void D415_Fendrix::reopenLine(const QString &name)
{
    const bool open = openLine(name);
    lineKeeper.opened(name, open);
    // The doser is lost: the probe brings it back and runs the connection test, as after any loss.
    if (open)
        checkDeviceActivity();
}

void D415_Fendrix::refreshPortList()
{
    const bool hadPort = !rs232SettingsDialog->getCurrentCOMPort().isEmpty();
    QList<RefusedPort> refused;
    const QStringList ports = SerialPort::availablePorts(&refused);
    rs232SettingsDialog->refreshComPorts(ports, refused);
    // The first port to appear is opened as the first listed port is at start-up.
    const QString current = rs232SettingsDialog->getCurrentCOMPort();
    if (hadPort || current.isEmpty())
        return;
    openCOMPort(current);
    // Requests sent while there was no port reached nobody and left the doser counted as online.
    if (link->isPortOpen())
        deviceConnectionTest(0);
}

void D415_Fendrix::setCOMPortRate(const QString &text)
{
    link->setBaudRate(text.toInt(nullptr, 10));
}

// A batch is open from its start until it is finished or abandoned: while it runs, and while it is stopped
// with "Продолжить задание" on offer (after a stop, a fault, a lost doser or a restore).
bool D415_Fendrix::isBatchOpen() const
{
    if (idButch == 0)
        return false;
    return batchRunning || continueMode || ui->stopButton->isEnabled() || ui->continueButton->isEnabled();
}

// An open batch belongs to this doser on this line: another doser number, the simulation mode or another
// port would carry it off behind its records, and a manual fill or full cycle would dose product that no
// batch counts. Emptying the hopper and stopping the doser (clearing its fault) stay at hand all along.
void D415_Fendrix::applyBatchLock()
{
    const bool open = isBatchOpen();
    ui->groupBox_2->setEnabled(true);
    ui->downloadDoseButton->setDisabled(open);
    ui->doCycleButton->setDisabled(open);
    ui->uploadDoseButton->setEnabled(true);
    ui->stopWorkButton->setEnabled(true);
    ui->rs232SettingsButton->setDisabled(open);
    rs232SettingsDialog->lockLineChoice(open);
    d415SettingsDialog->lockDoserChoice(open);
    refreshBatchProgress();
    applyReceiptLock(open);
}
