#include "d415device.h"
#include "d415link.h"
#include "serialport.h"
#include "signalrecorder.h"
#include "simulatorprocess.h"
#include "testworkdir.h"

#include <QtTest>

#include <memory>

namespace {

const char *const errorNine = "Ошибка, ГПУ не пустое (при попытке набора вес отличен от нуля)";

} // namespace

/// The doser object on the real link, with the doser simulator at the far end of a pseudo-terminal.
class tst_DoserLine : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void simulatorIsTheFirstListedPort();
    void connectionTestGetsItsValues();
    void fillIsCountedThenDischarged();
    void faultsReachTheDevice_data();
    void faultsReachTheDevice();
    void silentDoserIsProbedBack();
    void droppedLineIsConnectionError();
    void refusedValueNeverReachesTheLine();

private:
    bool startLine(const QStringList &simulatorArguments = {});
    // Waits until the signal @p name has come @p count times in all.
    bool waitFor(const QString &name, int count = 1, int timeoutMs = 3000);

    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<SimulatorProcess> m_sim;
    std::unique_ptr<D415Link> m_link;
    std::unique_ptr<D415Device> m_device;
    std::unique_ptr<SignalRecorder> m_signals;
};

void tst_DoserLine::init()
{
    m_dir = std::make_unique<TestWorkDir>();
    m_sim = std::make_unique<SimulatorProcess>();
}

void tst_DoserLine::cleanup()
{
    m_signals.reset();
    m_device.reset();
    m_link.reset();
    m_sim.reset();
    m_dir.reset();
}

bool tst_DoserLine::startLine(const QStringList &simulatorArguments)
{
    if (!m_sim->start(simulatorArguments)) {
        qWarning() << m_sim->lastError();
        return false;
    }
    // As the main window does: a link without a port, the doser object on it, then the port opened
    // with the 150 ms reply time-out.
    m_link = std::make_unique<D415Link>();
    m_device = std::make_unique<D415Device>(m_link.get());
    m_device->setDeviceID(30);
    m_signals = std::make_unique<SignalRecorder>(m_device.get());
    m_signals->ignore(QStringLiteral("requestSignal"));
    return m_device->isConnectedToLink() && m_link->openPort(m_sim->portName()) == 1
        && m_link->setReplyTimeout(150) == 1 && m_link->setBaudRate(38400) == 1;
}

bool tst_DoserLine::waitFor(const QString &name, int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_signals->entriesOf(name).size() >= count; }, timeoutMs);
}

void tst_DoserLine::simulatorIsTheFirstListedPort()
{
    // The workstation opens the first port it lists: the simulator's, never the machine's own.
    SerialPort::setSystemPortsListed(false);
    SimulatorProcess other;
    QVERIFY2(other.start({"--name", "z-line", "--address", "31"}), qPrintable(other.lastError()));
    QVERIFY2(m_sim->start({"--name", "a-line"}), qPrintable(m_sim->lastError()));
    QCOMPARE(SerialPort::availablePorts(), (QStringList {"a-line", "z-line"}));
}

void tst_DoserLine::connectionTestGetsItsValues()
{
    QVERIFY(startLine({"--decimals", "2", "--max-dose", "250", "--plus", "0.3", "--minus", "0.2", "--lifetime-weight",
        "123456", "--lifetime-doses", "77"}));
    // The connection test, in the main window's order.
    m_device->requestScale();
    m_device->requestTotalCommonWeight();
    m_device->requestTotalCommonDoseCount();
    m_device->requestWeightScale();
    m_device->requestNPD();
    m_device->requestDoseFaultPlus();
    m_device->requestDoseFaultMinus();
    m_device->requestPOVersion();
    QVERIFY(waitFor("hasGetPOVersionSignal"));

    QStringList values;
    for (const QString &entry : m_signals->entries()) {
        if (!entry.startsWith("hasCurrentStateSignal") && !entry.startsWith("workStopped"))
            values << entry;
    }
    QCOMPARE(values,
        (QStringList {"hasGetScaleSignal 30 0.01", "hasGetScaleSignal 30 2", "hasGetTotalCommonWeightSignal 30 123456",
            "hasGetTotalCommonDoseCountSignal 30 77", "hasGetWeightScaleSignal 30 кг", "hasGetNPDSignal 30 250.00",
            "hasGetDoseFaultPlusSignal 30 0.30", "hasGetDoseFaultMinusSignal 30 0.20",
            "hasGetPOVersionSignal 30 4.15"}));
    // Every reply says where the doser stands: stopped with an empty hopper, ready to fill.
    QCOMPARE(m_signals->entriesOf("hasCurrentStateSignal"), QStringList(8, "hasCurrentStateSignal 30 ОСТАНОВ"));
    QCOMPARE(m_signals->entriesOf("workStoppedMustDownloadSignal").size(), 8);
    QCOMPARE(m_sim->requestCommands(),
        (QList<QPair<int, int>> {{44, 1}, {24, 20}, {24, 19}, {44, 2}, {44, 0}, {10, 0}, {12, 0}, {3, 0}}));
}

void tst_DoserLine::fillIsCountedThenDischarged()
{
    QVERIFY(startLine({"--fill-time", "200", "--lifetime-weight", "1000"}));
    m_device->requestTotalCommonWeight();
    QVERIFY(waitFor("hasGetTotalCommonWeightSignal"));
    QCOMPARE(m_signals->entriesOf("hasGetTotalCommonWeightSignal").last(), "hasGetTotalCommonWeightSignal 30 1000");

    m_device->downloadDose(QStringLiteral("12.5"), 1);
    QVERIFY(waitFor("hasCurrentStateSignal", 2));
    QCOMPARE(m_signals->entriesOf("hasCurrentStateSignal").last(), "hasCurrentStateSignal 30 РАБОТА");

    // As the dose cycle does: read the lifetime weight until it changes.
    const auto counterChanged = [&] {
        m_device->requestTotalCommonWeight();
        const int seen = int(m_signals->entriesOf("hasGetTotalCommonWeightSignal").size());
        return waitFor("hasGetTotalCommonWeightSignal", seen + 1)
            && m_signals->entriesOf("hasGetTotalCommonWeightSignal").last() != "hasGetTotalCommonWeightSignal 30 1000";
    };
    QVERIFY(QTest::qWaitFor(counterChanged, 5000));
    QCOMPARE(m_signals->entriesOf("hasGetTotalCommonWeightSignal").last(), "hasGetTotalCommonWeightSignal 30 1125");
    QCOMPARE(m_signals->entriesOf("workStoppedMustUploadSignal").size(), 1); // weighed: discharge next

    m_device->uploadDose();
    QVERIFY(waitFor("hasGetDoseUploadSignal"));
    QCOMPARE(m_signals->entriesOf("hasGetDoseUploadSignal"), QStringList {"hasGetDoseUploadSignal 30 12.5"});
    m_device->requestDoseCount();
    QVERIFY(waitFor("hasGetDoseCountSignal"));
    QCOMPARE(m_signals->entriesOf("hasGetDoseCountSignal"), QStringList {"hasGetDoseCountSignal 30 1"});
}

void tst_DoserLine::faultsReachTheDevice_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("expected"); // for a net-weight request, then a version request

    const QStringList version
        = {"hasCurrentStateSignal 30 ОСТАНОВ", "workStoppedMustDownloadSignal 30", "hasGetPOVersionSignal 30 4.15"};
    const QStringList weight
        = {"hasCurrentStateSignal 30 ОСТАНОВ", "workStoppedMustDownloadSignal 30", "hasGetWeightNETTOSignal 30 0.0"};
    // A failed reply is no value and no state: the weight is asked once more, after the version.
    QTest::addRow("silence") << "silence 1" << version + weight;
    QTest::addRow("partial reply") << "partial 1" << version + weight;
    QTest::addRow("reply beyond the time-out") << "slow 1 300" << version + weight;
    QTest::addRow("wrong check byte") << "badcrc 1" << version + weight;
    QTest::addRow("reply from another address") << "wrongaddress 1" << version + weight;
    const QStringList errorNineSignals
        = {"hasCurrentStateSignal 30 АВАРИЯ", QString("hasErrorSignal 30 ") + errorNine, "needToStopTheWork 30"};
    QTest::addRow("error 9") << "error 9"
                             << errorNineSignals + QStringList {"hasGetWeightNETTOSignal 30 0.0"} + errorNineSignals
            + QStringList {"hasGetPOVersionSignal 30 4.15"};
}

void tst_DoserLine::faultsReachTheDevice()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, expected);
    QVERIFY(startLine());
    QVERIFY2(m_sim->command(fault), qPrintable(m_sim->lastError()));
    m_device->requestWeightNETTO();
    m_device->requestPOVersion();
    QVERIFY(waitFor("hasGetPOVersionSignal"));
    QVERIFY(waitFor("hasGetWeightNETTOSignal"));
    QCOMPARE(m_signals->entries(), expected);
}

void tst_DoserLine::silentDoserIsProbedBack()
{
    QVERIFY(startLine());
    QVERIFY(m_sim->setSilent(true));
    m_device->requestWeightNETTO();
    QVERIFY(waitFor("hasConnectionErrorSignal", 1));
    QVERIFY(m_sim->setSilent(false));
    m_device->requestWeightNETTO();
    QVERIFY(waitFor("hasGetWeightNETTOSignal"));
    QCOMPARE(m_signals->entries(),
        (QStringList {"hasConnectionErrorSignal 30", "hasCurrentStateSignal 30 ОСТАНОВ",
            "workStoppedMustDownloadSignal 30", "hasGetWeightNETTOSignal 30 0.0"}));
    QCOMPARE(m_sim->requestCount(), 3); // asked, asked again, asked after the silence
}

void tst_DoserLine::droppedLineIsConnectionError()
{
    QVERIFY(startLine());
    QVERIFY(m_sim->dropLine());
    m_device->requestWeightNETTO();
    QVERIFY(waitFor("hasConnectionErrorSignal"));
    QCOMPARE(m_signals->entries(), QStringList {"hasConnectionErrorSignal 30"});
}

void tst_DoserLine::refusedValueNeverReachesTheLine()
{
    QVERIFY(startLine());
    m_device->setDoseFaultPlus(QStringLiteral("99999999"), 1);
    m_device->downloadDose(QStringLiteral("-3"), 1);
    m_device->requestPOVersion();
    QVERIFY(waitFor("hasGetPOVersionSignal"));
    QVERIFY(m_sim->waitForRequests(1));
    QCOMPARE(m_sim->requestCommands(), (QList<QPair<int, int>> {{3, 0}}));
}

QTEST_GUILESS_MAIN(tst_DoserLine)
#include "tst_doserline.moc"
