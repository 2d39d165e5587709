#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "d415device.h"
#include "d415link.h"
#include "d415settings.h"
#include "productionschema.h"
#include "rs232settings.h"
#include "serialport.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <sqlite3.h>

namespace {

// What the operator reads; SQLite's own text follows it for the service engineer.
QString databaseFault(int code)
{
    switch (code & 0xff) {
    case SQLITE_CANTOPEN:
        return QStringLiteral("файл не открывается и не создаётся (нет прав на папку или файл, либо data.db — папка)");
    case SQLITE_NOTADB: return QStringLiteral("файл не является базой данных");
    case SQLITE_CORRUPT: return QStringLiteral("файл базы данных повреждён");
    case SQLITE_READONLY: return QStringLiteral("файл доступен только для чтения");
    case SQLITE_PERM:
    case SQLITE_AUTH: return QStringLiteral("нет прав на запись");
    case SQLITE_FULL: return QStringLiteral("диск заполнен");
    default: return QStringLiteral("ошибка базы данных");
    }
}

} // namespace

D415_Fendrix::D415_Fendrix(QWidget *parent)
    : QWidget(parent)
{
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    setFixedSize(895, 350);
    move(300, 300);
    keepOnScreen();

    link = new D415Link(QString());
    for (int position = 0; position < DoserCount; ++position) {
        d415[position] = new D415Device(link);
        d415[position]->setDeviceID(position + 1);
        onDeviceArray.append(position);
    }
    // The station's doser answers at address 30 unless the doser settings name another.
    d415[0]->setDeviceID(30);

    openDatabase();
    ui = new Ui::D415_FendrixForm;
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Рабочее место дозатора D415 — служба поддержки КЭСТУ"));
    buildMessageBoxes();
    placeReceiptButton();
    buildScreen();

    rs232SettingsDialog = new rs232Settings();
    rs232SettingsDialog->hide();
    // Devices this user may not open are listed (and logged) with the group to join from the start.
    QList<RefusedPort> refusedPorts;
    const QStringList ports = SerialPort::availablePorts(&refusedPorts);
    rs232SettingsDialog->refreshComPorts(ports, refusedPorts);
    d415SettingsDialog = new d415Settings();
    d415SettingsDialog->hide();

    getProductsNames();
    openCOMPort(rs232SettingsDialog->getCurrentCOMPort());

    connectDialogs();
    connectLine();
    // The stored doser number reaches checkD415Connection() through d415IdChanged.
    d415SettingsDialog->restoreDoserNumber();
    connectPanel();
    for (int position = 0; position < DoserCount; ++position)
        connectDoser(position);
    setUpJournal();

    startPlantFeed();

    probeTimer.start(500);
    pollTimer.start(190);
}

D415_Fendrix::~D415_Fendrix()
{
    std::fputs("~D415_Fendrix()\n", stderr);
    pollTimer.stop();
    probeTimer.stop();
    doseCycleTimer.stop();
    for (D415Device *device : d415)
        delete device;
    delete questionBox;
    delete infoBox;
    delete rs232SettingsDialog;
    delete d415SettingsDialog;
    delete link;
    delete ui;
}

// At (300, 300) the window reaches 1195 pixels to the right: on a 1024 x 768 panel the manual group would lie
// beyond the edge, out of reach of a touch. Where the screen is too small the window moves left (and up)
// just enough to be whole; the dialogs centred on it follow.
void D415_Fendrix::keepOnScreen()
{
    const QScreen *screen = QGuiApplication::screenAt(pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const int x = std::max(std::min(this->x(), available.right() + 1 - width()), available.left());
    const int y = std::max(std::min(this->y(), available.bottom() + 1 - height()), available.top());
    move(x, y);
}

void D415_Fendrix::buildMessageBoxes()
{
    questionBox = new QMessageBox(this);
    questionBox->setFont(font());
    questionBox->setIcon(QMessageBox::Question);
    QPushButton *no = questionBox->addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    questionYesButton = questionBox->addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    questionBox->setDefaultButton(no);
    // The answer is taken from the click itself: a box hidden by a connection loss counts as "Нет".
    connect(
        questionBox, &QMessageBox::buttonClicked, this, [this](QAbstractButton *button) { questionAnswer = button; });

    infoBox = new QMessageBox(this);
    infoBox->setFont(font());
    infoBox->setTextFormat(Qt::RichText);
    infoBox->setIcon(QMessageBox::Warning);
    infoBox->addButton(QStringLiteral("Ok"), QMessageBox::YesRole);
}

D415_Fendrix::Answer D415_Fendrix::askAnswer(const QString &text)
{
    questionBox->setWindowTitle(QStringLiteral("Сообщение"));
    questionBox->setText(text);
    questionAnswer = nullptr;
    questionBox->exec();
    const QAbstractButton *clicked = questionAnswer;
    questionAnswer = nullptr;
    if (!clicked)
        return Answer::Dismissed;
    return clicked == questionYesButton ? Answer::Yes : Answer::No;
}

void D415_Fendrix::inform(const QString &text)
{
    infoBox->setWindowTitle(QStringLiteral("Сообщение"));
    infoBox->setText(text);
    infoBox->exec();
}

void D415_Fendrix::connectDialogs()
{
    connect(ui->rs232SettingsButton, &QPushButton::clicked, this, &D415_Fendrix::showRs232Settings);
    connect(ui->d415SettingsButton, &QPushButton::clicked, this, &D415_Fendrix::showD415Settings);
    connect(rs232SettingsDialog, &rs232Settings::comPortChanged, this, &D415_Fendrix::openCOMPort);
    connect(rs232SettingsDialog, &rs232Settings::rateChanged, this, &D415_Fendrix::setCOMPortRate);
    connect(d415SettingsDialog, &d415Settings::d415ProductChanged, this, &D415_Fendrix::changeD415Product);
    connect(d415SettingsDialog, &d415Settings::d415IdChanged, this, &D415_Fendrix::checkD415Connection);
    connect(d415SettingsDialog, &d415Settings::startTestModeClicked, this, &D415_Fendrix::startTestMode);
    connect(d415SettingsDialog, &d415Settings::stopTestModeClicked, this, &D415_Fendrix::stopTestMode);
}

void D415_Fendrix::connectLine()
{
    // The loss is found on the exchange thread and handled here, on the GUI thread that owns the port.
    connect(link, &SerialSchedule::lineLost, this, &D415_Fendrix::lineLostActions, Qt::QueuedConnection);
    connect(&lineKeeper, &LineKeeper::reopenDue, this, &D415_Fendrix::reopenLine);
    connect(&lineKeeper, &LineKeeper::searchDue, this, &D415_Fendrix::refreshPortList);
}

void D415_Fendrix::connectPanel()
{
    connect(ui->containerD415_11, &QGroupBox::clicked, this, &D415_Fendrix::setDeviceActive0);
    connect(ui->productWeightD415_11, &LineEditEmbedded::textHasEntered, this, &D415_Fendrix::setWeight);
    connect(ui->doseFaultMinusD415_11, &LineEditEmbedded::textHasEntered, this, &D415_Fendrix::setDoseFaultMinus);
    connect(ui->doseFaultPlusD415_11, &LineEditEmbedded::textHasEntered, this, &D415_Fendrix::setDoseFaultPlus);
    connect(ui->statButton, &QPushButton::clicked, this, &D415_Fendrix::showStat);
    connect(ui->statButton_2, &QPushButton::clicked, this, &D415_Fendrix::showStat2);

    connect(&probeTimer, &QTimer::timeout, this, &D415_Fendrix::checkDeviceActivity);
    connect(&pollTimer, &QTimer::timeout, this, &D415_Fendrix::requestWeightNETTO);
    connect(&doseCycleTimer, &QTimer::timeout, this, &D415_Fendrix::checkDoseDownload);

    connect(ui->startButton, &QPushButton::clicked, this, &D415_Fendrix::startButton);
    connect(ui->stopButton, &QPushButton::clicked, this, &D415_Fendrix::stopButton);
    connect(ui->continueButton, &QPushButton::clicked, this, &D415_Fendrix::continueButton);
    connect(ui->downloadDoseButton, &QPushButton::clicked, this, &D415_Fendrix::downloadDoseButton);
    connect(ui->uploadDoseButton, &QPushButton::clicked, this, &D415_Fendrix::uploadDoseButton);
    connect(ui->stopWorkButton, &QPushButton::clicked, this, &D415_Fendrix::stopWorkButton);
    connect(ui->doCycleButton, &QPushButton::clicked, this, &D415_Fendrix::doCycleButton);
    connect(ui->exitButton, &QPushButton::clicked, this, &D415_Fendrix::exitButton);
}

void D415_Fendrix::connectDoser(int position)
{
    D415Device *device = d415[position];
    connect(device, &D415Device::hasCurrentStateSignal, this, &D415_Fendrix::hasCurrentStateActions);
    connect(device, &D415Device::hasConnectionErrorSignal, this, &D415_Fendrix::connectionErrorActions);
    connect(device, &D415Device::hasErrorSignal, this, &D415_Fendrix::workErrorActions);
    connect(device, &D415Device::hasGetWeightNETTOSignal, this, &D415_Fendrix::hasGetWeightNETTO);
    connect(device, &D415Device::hasGetPOVersionSignal, this, &D415_Fendrix::hasGetPOVersion);
    connect(device, qOverload<int, QString>(&D415Device::hasGetScaleSignal), this,
        qOverload<int, const QString &>(&D415_Fendrix::hasGetScale));
    connect(device, qOverload<int, quint8>(&D415Device::hasGetScaleSignal), this,
        qOverload<int, quint8>(&D415_Fendrix::hasGetScale));
    connect(device, &D415Device::hasGetNPDSignal, this, &D415_Fendrix::hasGetNPD);
    connect(device, &D415Device::hasGetWeightScaleSignal, this, &D415_Fendrix::hasGetWeightScale);
    connect(device, &D415Device::hasGetDoseFaultPlusSignal, this, &D415_Fendrix::hasGetDoseFaultPlus);
    connect(device, &D415Device::hasGetDoseFaultMinusSignal, this, &D415_Fendrix::hasGetDoseFaultMinus);
    connectStopOnFault(position);
    connect(device, &D415Device::hasGetDoseCountSignal, this, &D415_Fendrix::hasGetDoseCount);
    connect(device, &D415Device::hasGetTotalWeightSignal, this, &D415_Fendrix::hasGetTotalWeight);
    connect(device, &D415Device::hasGetTotalCommonWeightSignal, this, &D415_Fendrix::hasGetTotalCommonWeight);
    connect(device, &D415Device::hasGetTotalCommonDoseCountSignal, this, &D415_Fendrix::hasGetTotalCommonDoseCount);
    connect(device, &D415Device::hasGetDoseUploadSignal, this, &D415_Fendrix::hasGetDoseUploadSignal);
}

void D415_Fendrix::openDatabase()
{
    const bool opened = m_query.open(QStringLiteral("data.db"));
    const QString openError = m_query.errorText();
    // The schema reports a file it cannot bring up to date; the station goes on with the designed tables.
    ProductionSchema(m_query).prepare();
    if (m_query.takesWrites())
        return;
    const QString reason = opened ? m_query.errorText() : openError;
    m_recordsProblem = QStringLiteral("%1 (%2)").arg(databaseFault(m_query.returnCode()), reason);
    std::fprintf(stderr, "\ndata.db in %s can not be written, nothing will be recorded: %s\n",
        qPrintable(QDir::currentPath()), qPrintable(reason));
}

void D415_Fendrix::warnIfRecordsUnusable()
{
    if (m_recordsProblem.isEmpty())
        return;
    inform(QStringLiteral("База данных data.db в папке %1 не принимает записи: %2.<br>Партии и задания "
                          "записываться не будут; задание не начнётся, пока причина не устранена и программа "
                          "не запущена снова.")
               .arg(QDir::currentPath().toHtmlEscaped(), m_recordsProblem.toHtmlEscaped()));
}

bool D415_Fendrix::recordsUsable()
{
    if (m_recordsProblem.isEmpty())
        return true;
    journalRefusal(QStringLiteral("База данных data.db не принимает записи: %1").arg(m_recordsProblem));
    inform(QStringLiteral("Задание не начато: база данных data.db не принимает записи: %1.")
               .arg(m_recordsProblem.toHtmlEscaped()));
    return false;
}

void D415_Fendrix::runQuery(const QString &statement)
{
    m_query.runQuery(statement);
    if (m_query.returnCode() != 0)
        ++failedStatements;
}

// Only the operator's "Выход" asks: a close by the window manager or by the service manager (SIGTERM) is an
// orderly stop that nobody is there to confirm. Either way an open batch stays open in data.db.
void D415_Fendrix::exitButton()
{
    if (isBatchOpen()
        && !ask(QStringLiteral("Задание не завершено. Оно будет предложено снова при следующем запуске.\nВыйти?")))
        return;
    close();
}

void D415_Fendrix::closeEvent(QCloseEvent *event)
{
    stopAllWork();
    event->accept();
}
