#include "d415datapacket.h"
#include "simulatorprocess.h"
#include "testworkdir.h"

#include <QElapsedTimer>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The workstation's end of the line, as plain as it gets: the test holds the simulator to its
// contract without the link in between.
class LineEnd
{
public:
    explicit LineEnd(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd >= 0) {
            termios settings {};
            tcgetattr(m_fd, &settings);
            cfmakeraw(&settings);
            tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~LineEnd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    bool write(const QByteArray &bytes)
    {
        tcflush(m_fd, TCIFLUSH);
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // Reads until @p count bytes are in or the line stays silent for @p silenceMs.
    QByteArray read(int count = D415DataPacket::FrameSize, int silenceMs = 200)
    {
        QByteArray bytes;
        while (bytes.size() < count) {
            pollfd descriptor {m_fd, POLLIN, 0};
            if (::poll(&descriptor, 1, silenceMs) <= 0)
                break;
            if (descriptor.revents & (POLLHUP | POLLERR)) {
                m_hungUp = true;
                break;
            }
            char buffer[64];
            const ssize_t n = ::read(m_fd, buffer, size_t(qMin<qsizetype>(64, count - bytes.size())));
            if (n <= 0)
                break;
            bytes.append(buffer, int(n));
        }
        return bytes;
    }

    QByteArray exchange(const QByteArray &request, int silenceMs = 200)
    {
        return write(request) ? read(D415DataPacket::FrameSize, silenceMs) : QByteArray();
    }

    bool hungUp() const { return m_hungUp; }

private:
    int m_fd = -1;
    bool m_hungUp = false;
};

QByteArray frame(int address, int command, int parameter, qint32 mantissa = 0, int decimals = 0)
{
    D415DataPacket packet;
    packet.reset();
    packet.destinationAddress = quint8(address);
    packet.command = quint8(command);
    packet.parameter = quint8(parameter);
    packet.mantissa[0] = quint8(mantissa & 0xFF);
    packet.mantissa[1] = quint8((mantissa >> 8) & 0xFF);
    packet.mantissa[2] = quint8((mantissa >> 16) & 0xFF);
    packet.decimals = quint8(decimals);
    quint8 wire[D415DataPacket::FrameSize];
    packet.toWire(wire);
    return QByteArray(reinterpret_cast<const char *>(wire), D415DataPacket::FrameSize);
}

struct Reply
{
    bool valid = false;
    D415DataPacket packet;
};

Reply decode(const QByteArray &bytes)
{
    Reply reply;
    reply.valid = reply.packet.fromWire(reinterpret_cast<const quint8 *>(bytes.constData()), int(bytes.size())) > 0;
    return reply;
}

// One valid exchange with doser 30.
D415DataPacket ask(LineEnd &line, int command, int parameter = 0, qint32 mantissa = 0, int decimals = 0)
{
    const Reply reply = decode(line.exchange(frame(30, command, parameter, mantissa, decimals)));
    return reply.valid ? reply.packet : D415DataPacket();
}

QString text(const D415DataPacket &packet)
{
    return QString::number(packet.value(), 'f', packet.decimals);
}

} // namespace

class tst_Simulator : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linkLivesWithTheProgram_data();
    void linkLivesWithTheProgram();
    void oneSimulatorPerLink();
    void endsWithTheProgramThatStartedIt();
    void staleLinkIsReplaced();
    void otherFileIsNotReplaced();
    void wrongOptionsEndAtOnce_data();
    void wrongOptionsEndAtOnce();
    void everyCommandGetsOneEchoingReply_data();
    void everyCommandGetsOneEchoingReply();
    void framesThatGetNoReply_data();
    void framesThatGetNoReply();
    void fillWeighDischargeKeepCountersConsistent();
    void noisyFillsStayWithinNoise_data();
    void noisyFillsStayWithinNoise();
    void fillIntoLoadedHopperIsErrorNine();
    void stopAndContinue();
    void fullCycle();
    void tolerancesServiceValuesAndTestMode();
    void lineFaults_data();
    void lineFaults();
    void silenceIsNotCarriedOut();
    void errorLastsUntilReset();
    void lineDropsAndComesBack();
    void aimedFaultFiresOnceOnItsRequest_data();
    void aimedFaultFiresOnceOnItsRequest();
    void helpNamesEveryControlCommand();

private:
    TestWorkDir *m_dir = nullptr;
    SimulatorProcess *m_sim = nullptr;
};

void tst_Simulator::init()
{
    m_dir = new TestWorkDir;
    m_sim = new SimulatorProcess;
}

void tst_Simulator::cleanup()
{
    delete m_sim;
    m_sim = nullptr;
    delete m_dir;
    m_dir = nullptr;
}

void tst_Simulator::linkLivesWithTheProgram_data()
{
    QTest::addColumn<QString>("how");
    QTest::addRow("SIGTERM") << "SIGTERM";
    QTest::addRow("SIGINT") << "SIGINT";
    QTest::addRow("SIGHUP") << "SIGHUP";
    QTest::addRow("quit command") << "quit";
}

void tst_Simulator::linkLivesWithTheProgram()
{
    QFETCH(QString, how);
    QVERIFY2(m_sim->start({"--name", "line7"}), qPrintable(m_sim->lastError()));
    const QFileInfo link(QStringLiteral("ports/line7"));
    QVERIFY(link.isSymLink());
    QCOMPARE(link.symLinkTarget(), m_sim->devicePath());
    QVERIFY(m_sim->devicePath().startsWith("/dev/pts/"));
    QCOMPARE(m_sim->portName(), QStringLiteral("line7"));

    if (how == "quit")
        QVERIFY(m_sim->command("quit"));
    else
        ::kill(pid_t(m_sim->processId()), how == "SIGTERM" ? SIGTERM : how == "SIGINT" ? SIGINT : SIGHUP);
    QVERIFY(m_sim->waitForExit());
    QCOMPARE(m_sim->exitCode(), 0);
    QVERIFY(!QFileInfo(QStringLiteral("ports/line7")).isSymLink());
    QVERIFY(m_sim->logLines().last().endsWith("SIM stopped, ports/line7 removed"));
}

void tst_Simulator::oneSimulatorPerLink()
{
    QVERIFY2(m_sim->start(), qPrintable(m_sim->lastError()));
    const QString target = QFileInfo(QStringLiteral("ports/d415")).symLinkTarget();
    SimulatorProcess second;
    QVERIFY(!second.start());
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.logLines().join('\n').contains("another simulator already serves ports/d415"));
    // The first one's link is untouched and it still answers.
    QCOMPARE(QFileInfo(QStringLiteral("ports/d415")).symLinkTarget(), target);
    LineEnd line(QStringLiteral("ports/d415"));
    QCOMPARE(int(ask(line, 0).sourceAddress), 30);
    // Another name is another line.
    SimulatorProcess third;
    QVERIFY2(third.start({"--name", "d415b", "--address", "31"}), qPrintable(third.lastError()));
    LineEnd other(QStringLiteral("ports/d415b"));
    QCOMPARE(int(decode(other.exchange(frame(31, 0, 0))).packet.sourceAddress), 31);
}

void tst_Simulator::endsWithTheProgramThatStartedIt()
{
    // What a test that dies leaves: the simulator's standard input at its end.
    QProcess harness;
    harness.setStandardErrorFile(QProcess::nullDevice());
    harness.start(SimulatorProcess::program(), {"--exit-on-eof"});
    QVERIFY(harness.waitForStarted());
    QTRY_VERIFY(QFileInfo(QStringLiteral("ports/d415")).isSymLink());
    harness.closeWriteChannel();
    QVERIFY(harness.waitForFinished(5000));
    QCOMPARE(harness.exitCode(), 0);
    QVERIFY(!QFileInfo(QStringLiteral("ports/d415")).isSymLink());
}

void tst_Simulator::staleLinkIsReplaced()
{
    // What a killed simulator leaves behind.
    QVERIFY(QDir().mkpath("ports"));
    QVERIFY(QFile::link("/dev/pts/9999", "ports/d415"));
    QVERIFY2(m_sim->start(), qPrintable(m_sim->lastError()));
    QCOMPARE(QFileInfo(QStringLiteral("ports/d415")).symLinkTarget(), m_sim->devicePath());
}

void tst_Simulator::otherFileIsNotReplaced()
{
    QVERIFY(QDir().mkpath("ports"));
    QFile file(QStringLiteral("ports/d415"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    QVERIFY(!m_sim->start());
    QCOMPARE(m_sim->exitCode(), 1);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void tst_Simulator::wrongOptionsEndAtOnce_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addRow("address beyond 7 bits") << QStringList {"--address", "128"};
    QTest::addRow("unknown unit") << QStringList {"--unit", "lb"};
    QTest::addRow("weight that is no number") << QStringList {"--max-dose", "lots"};
    QTest::addRow("negative tolerance") << QStringList {"--plus", "-1"};
    QTest::addRow("name with a slash") << QStringList {"--name", "../d415"};
    QTest::addRow("unknown option") << QStringList {"--colour", "red"};
    QTest::addRow("stray argument") << QStringList {"d415"};
}

void tst_Simulator::wrongOptionsEndAtOnce()
{
    QFETCH(QStringList, arguments);
    QVERIFY(m_sim->runToEnd(arguments));
    QCOMPARE(m_sim->exitCode(), 2);
    QVERIFY(!QFileInfo::exists(QStringLiteral("ports")) || QDir(QStringLiteral("ports")).isEmpty());
}

void tst_Simulator::everyCommandGetsOneEchoingReply_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("parameter");
    const QList<QPair<int, int>> commands = {{0, 0}, {3, 0}, {4, 0}, {8, 1}, {10, 0}, {11, 0}, {12, 0}, {13, 0},
        {14, 0}, {15, 0}, {17, 0}, {20, 0}, {22, 0}, {24, 0}, {24, 16}, {24, 18}, {24, 19}, {24, 20}, {26, 0}, {39, 0},
        {44, 0}, {44, 1}, {44, 2}, {44, 3}, {1, 0}, {127, 5}, {24, 99}, {44, 200}};
    for (const auto &[command, parameter] : commands)
        QTest::addRow("%d/%d", command, parameter) << command << parameter;
}

void tst_Simulator::everyCommandGetsOneEchoingReply()
{
    QFETCH(int, command);
    QFETCH(int, parameter);
    QVERIFY2(m_sim->start({"--address", "5"}), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    QVERIFY(line.isOpen());
    const QByteArray bytes = line.exchange(frame(5, command, parameter));
    QCOMPARE(bytes.size(), 12);
    const Reply reply = decode(bytes);
    QVERIFY2(reply.valid, bytes.toHex(' ').constData());
    QCOMPARE(int(reply.packet.destinationAddress), 0x80);
    QCOMPARE(int(reply.packet.sourceAddress), 5);
    QCOMPARE(int(reply.packet.command), command);
    QCOMPARE(int(reply.packet.parameter), parameter);
    QCOMPARE(int(reply.packet.stateFlags) & 0x80, 0);
    QCOMPARE(int(reply.packet.errorCode), 0);
    // Exactly one reply: nothing follows it.
    QCOMPARE(line.read(1, 50), QByteArray());
    QVERIFY(m_sim->waitForRequests(1));
    QCOMPARE(m_sim->requestCommands(), (QList<QPair<int, int>> {{command, parameter}}));
}

void tst_Simulator::framesThatGetNoReply_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray good = frame(30, 0, 0);
    QTest::addRow("other doser") << frame(31, 0, 0) << "for doser 31";
    QByteArray badCheck = good;
    badCheck[11] = char(badCheck[11] ^ 0x01);
    QTest::addRow("wrong check byte") << badCheck << "wrong check byte";
    QByteArray highBit = frame(30, 8, 1, 125, 1);
    highBit[5] = char(quint8(highBit[5]) | 0x80);
    QTest::addRow("bit 7 inside the frame") << highBit << "incomplete frame (5 of 12 bytes)";
    QTest::addRow("frame cut short") << good.left(7) << "incomplete frame (7 of 12 bytes)";
    QTest::addRow("bytes without a start") << QByteArray::fromHex("01020304") << "bytes without a frame start";
}

void tst_Simulator::framesThatGetNoReply()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QVERIFY2(m_sim->start(), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    // The bad bytes and a good request right behind them: the only reply is the good one's.
    QVERIFY(line.write(bytes + frame(30, 3, 0)));
    const Reply reply = decode(line.read());
    QVERIFY(reply.valid);
    QCOMPARE(int(reply.packet.command), 3);
    QCOMPARE(line.read(1, 50), QByteArray());
    QVERIFY(m_sim->waitForLine(reason));
    QVERIFY(m_sim->waitForLine("REP"));
    QCOMPARE(m_sim->linesWithTag("REP").size(), 1);
}

void tst_Simulator::fillWeighDischargeKeepCountersConsistent()
{
    QVERIFY2(m_sim->start({"--fill-time", "150", "--decimals", "1"}), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    QCOMPARE(int(ask(line, 0).stateFlags), 0x10); // stopped, empty: fill next
    QCOMPARE(ask(line, 24, 20).rawValue(), 0u);

    D415DataPacket fill = ask(line, 14, 0, 125, 1);
    QCOMPARE(int(fill.stateFlags), 0x02);
    QCOMPARE(text(fill), QStringLiteral("12.5"));
    // The lifetime weight changes once the dose has been weighed; then the doser stands loaded.
    QTRY_COMPARE_WITH_TIMEOUT(ask(line, 24, 20).rawValue(), 125u, 3000);
    const D415DataPacket weighed = ask(line, 0);
    QCOMPARE(int(weighed.stateFlags), 0x00);
    QCOMPARE(text(weighed), QStringLiteral("12.5"));
    QCOMPARE(ask(line, 24, 19).rawValue(), 1u);
    QCOMPARE(text(ask(line, 24, 16)), QStringLiteral("1"));
    QCOMPARE(ask(line, 24, 18).rawValue(), 125u);
    QCOMPARE(text(ask(line, 24, 0)), QStringLiteral("12.5"));

    const D415DataPacket discharged = ask(line, 20);
    QCOMPARE(text(discharged), QStringLiteral("12.5"));
    QCOMPARE(int(discharged.stateFlags), 0x10);
    QCOMPARE(text(ask(line, 0)), QStringLiteral("0.0"));

    // A second dose, sent with two decimals: the doser keeps its own.
    QCOMPARE(text(ask(line, 14, 0, 2000, 2)), QStringLiteral("20.0"));
    QTRY_COMPARE_WITH_TIMEOUT(ask(line, 24, 20).rawValue(), 325u, 3000);
    QCOMPARE(ask(line, 24, 19).rawValue(), 2u);
    QCOMPARE(ask(line, 24, 18).rawValue(), 325u);
    QCOMPARE(text(ask(line, 20)), QStringLiteral("20.0"));
    QCOMPARE(text(ask(line, 20)), QStringLiteral("0.0")); // nothing left
}

void tst_Simulator::noisyFillsStayWithinNoise_data()
{
    QTest::addColumn<int>("dose"); // in units of 0.01
    QTest::addColumn<QString>("noise");
    QTest::addColumn<int>("lowest");
    QTest::addColumn<int>("highest");
    QTest::addRow("10.00 within 0.50") << 1000 << "0.5" << 950 << 1050;
    // The lifetime weight must change for every dose weighed: a small dose never lands on nothing.
    QTest::addRow("0.01 within 0.05") << 1 << "0.05" << 1 << 6;
}

void tst_Simulator::noisyFillsStayWithinNoise()
{
    QFETCH(int, dose);
    QFETCH(QString, noise);
    QFETCH(int, lowest);
    QFETCH(int, highest);
    QVERIFY2(m_sim->start({"--fill-time", "20", "--decimals", "2", "--noise", noise, "--seed", "7", "--lifetime-weight",
                 "1000000", "--lifetime-doses", "40"}),
        qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    quint32 lifetime = 1000000;
    bool anyOff = false;
    for (int n = 1; n <= 8; ++n) {
        ask(line, 14, 0, dose, 2);
        QTRY_VERIFY_WITH_TIMEOUT(ask(line, 24, 19).rawValue() == quint32(40 + n), 3000);
        const D415DataPacket discharged = ask(line, 20);
        const qint32 units = qRound(discharged.value() * 100);
        QVERIFY2(units >= lowest && units <= highest, qPrintable(text(discharged)));
        anyOff = anyOff || units != dose;
        lifetime += quint32(units);
        QCOMPARE(ask(line, 24, 20).rawValue(), lifetime);
    }
    QVERIFY(anyOff);
}

void tst_Simulator::fillIntoLoadedHopperIsErrorNine()
{
    QVERIFY2(m_sim->start({"--net", "3.0"}), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    QCOMPARE(int(ask(line, 0).stateFlags), 0x00); // loaded: discharge next
    const D415DataPacket refused = ask(line, 14, 0, 100, 1);
    QCOMPARE(int(refused.stateFlags) & 0x80, 0x80);
    QCOMPARE(int(refused.errorCode), 9);
    QCOMPARE(text(ask(line, 20)), QStringLiteral("0.0")); // in fault nothing moves
    QCOMPARE(int(ask(line, 4).stateFlags), 0x00);
    QCOMPARE(text(ask(line, 20)), QStringLiteral("3.0"));
    QCOMPARE(int(ask(line, 14, 0, 100, 1).stateFlags), 0x02);
}

void tst_Simulator::stopAndContinue()
{
    QVERIFY2(m_sim->start({"--fill-time", "400"}), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    ask(line, 14, 0, 500, 1);
    QTRY_VERIFY_WITH_TIMEOUT(ask(line, 0).value() > 0, 3000);
    const D415DataPacket stopped = ask(line, 26);
    QCOMPARE(int(stopped.stateFlags), 0x00); // stopped with part of the dose in the hopper
    const double part = ask(line, 0).value();
    QVERIFY(part > 0 && part < 50.0);
    QCOMPARE(ask(line, 24, 19).rawValue(), 0u); // not weighed: not counted
    QCOMPARE(int(ask(line, 17).stateFlags), 0x02);
    QTRY_COMPARE_WITH_TIMEOUT(ask(line, 24, 20).rawValue(), 500u, 3000);
    QCOMPARE(text(ask(line, 20)), QStringLiteral("50.0"));
}

void tst_Simulator::fullCycle()
{
    QVERIFY2(m_sim->start({"--fill-time", "100", "--discharge-time", "100"}), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    QCOMPARE(text(ask(line, 8, 1, 75, 1)), QStringLiteral("7.5"));
    QCOMPARE(int(ask(line, 22).stateFlags), 0x02);
    QTRY_COMPARE_WITH_TIMEOUT(ask(line, 24, 20).rawValue(), 75u, 3000);
    // Weighed, then discharged by the doser itself: it ends stopped and empty.
    QTRY_COMPARE_WITH_TIMEOUT(int(ask(line, 0).stateFlags), 0x10, 3000);
    QCOMPARE(text(ask(line, 0)), QStringLiteral("0.0"));
    QCOMPARE(text(ask(line, 24, 0)), QStringLiteral("7.5"));
}

void tst_Simulator::tolerancesServiceValuesAndTestMode()
{
    QVERIFY2(m_sim->start({"--decimals", "2", "--max-dose", "250", "--unit", "t", "--firmware", "5.3"}),
        qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    QCOMPARE(text(ask(line, 10)), QStringLiteral("0.50"));
    QCOMPARE(text(ask(line, 11, 0, 7, 1)), QStringLiteral("0.70"));
    QCOMPARE(text(ask(line, 10)), QStringLiteral("0.70"));
    QCOMPARE(text(ask(line, 13, 0, 125, 2)), QStringLiteral("1.25"));
    QCOMPARE(text(ask(line, 12)), QStringLiteral("1.25"));
    QCOMPARE(text(ask(line, 44, 0)), QStringLiteral("250.00"));
    QCOMPARE(int(ask(line, 44, 1).decimals), 2);
    QCOMPARE(ask(line, 44, 2).value(), 2.0);
    QCOMPARE(ask(line, 44, 3).value(), 2.0);
    QCOMPARE(text(ask(line, 3)), QStringLiteral("5.3"));
    QCOMPARE(ask(line, 39, 0, 0xFFFFFF).rawValue(), 0xFFFFFFu);
    QVERIFY(m_sim->status().contains("test mode on"));
    QCOMPARE(ask(line, 39, 0, 0).rawValue(), 0u);
    QVERIFY(m_sim->status().contains("test mode off"));
    // Values set while it runs.
    QVERIFY(m_sim->setValue("max-dose", "99.5"));
    QCOMPARE(text(ask(line, 44, 0)), QStringLiteral("99.50"));
    QVERIFY(!m_sim->setValue("decimals", "9"));
    QVERIFY(m_sim->lastError().contains("expected 0 to 6 decimals"));
}

void tst_Simulator::lineFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("replyBytes");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("lateMs");
    QTest::addRow("wrong check byte") << "badcrc" << 12 << false << -1 << 0;
    QTest::addRow("other address") << "wrongaddress" << 12 << true << 31 << 0;
    QTest::addRow("partial reply") << "partial" << 6 << false << -1 << 0;
    QTest::addRow("slow reply") << "slow 1 300" << 12 << true << 30 << 300;
}

void tst_Simulator::lineFaults()
{
    QFETCH(QString, fault);
    QFETCH(int, replyBytes);
    QFETCH(bool, valid);
    QFETCH(int, source);
    QFETCH(int, lateMs);
    QVERIFY2(m_sim->start(), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    QVERIFY(m_sim->command(fault));
    QElapsedTimer clock;
    clock.start();
    const QByteArray bytes = line.exchange(frame(30, 0, 0), lateMs + 200);
    QVERIFY(clock.elapsed() >= lateMs);
    QCOMPARE(bytes.size(), replyBytes);
    const Reply reply = decode(bytes);
    QCOMPARE(reply.valid, valid);
    if (valid)
        QCOMPARE(int(reply.packet.sourceAddress), source);
    // One reply only; the next one is sound again.
    const Reply next = decode(line.exchange(frame(30, 0, 0)));
    QVERIFY(next.valid);
    QCOMPARE(int(next.packet.sourceAddress), 30);
}

void tst_Simulator::silenceIsNotCarriedOut()
{
    QVERIFY2(m_sim->start({"--fill-time", "50"}), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    QVERIFY(m_sim->setSilent(true));
    QCOMPARE(line.exchange(frame(30, 14, 0, 100, 1), 150), QByteArray());
    QCOMPARE(line.exchange(frame(30, 0, 0), 150), QByteArray());
    QVERIFY(m_sim->setSilent(false));
    QCOMPARE(int(ask(line, 0).stateFlags), 0x10); // the fill it did not answer never started
    QVERIFY(m_sim->silenceNext(1));
    QCOMPARE(line.exchange(frame(30, 0, 0), 150), QByteArray());
    QVERIFY(decode(line.exchange(frame(30, 0, 0))).valid);
    QTRY_COMPARE(m_sim->linesWithTag("REP").size(), 2);
    QCOMPARE(m_sim->linesWithTag("FLT").size(), 3);
}

void tst_Simulator::errorLastsUntilReset()
{
    QVERIFY2(m_sim->start({"--error", "5"}), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    for (int command : {0, 24, 44}) {
        const D415DataPacket reply = ask(line, command);
        QCOMPARE(int(reply.stateFlags) & 0x80, 0x80);
        QCOMPARE(int(reply.errorCode), 5);
    }
    QCOMPARE(int(ask(line, 4).stateFlags), 0x10);
    QCOMPARE(int(ask(line, 0).errorCode), 0);
    QVERIFY(m_sim->raiseError(12));
    QCOMPARE(int(ask(line, 0).errorCode), 12);
    QVERIFY(m_sim->resetError());
    QCOMPARE(int(ask(line, 0).stateFlags), 0x10);
}

void tst_Simulator::lineDropsAndComesBack()
{
    QVERIFY2(m_sim->start(), qPrintable(m_sim->lastError()));
    LineEnd line(QStringLiteral("ports/d415"));
    QVERIFY(decode(line.exchange(frame(30, 0, 0))).valid);
    QVERIFY(m_sim->dropLine());
    QVERIFY(!QFileInfo(QStringLiteral("ports/d415")).isSymLink());
    line.read(1, 1000);
    QVERIFY(line.hungUp());
    QVERIFY(!m_sim->dropLine()); // already down

    QVERIFY2(m_sim->reconnectLine(), qPrintable(m_sim->lastError()));
    LineEnd again(QStringLiteral("ports/d415"));
    QVERIFY(again.isOpen());
    QCOMPARE(int(decode(again.exchange(frame(30, 0, 0))).packet.sourceAddress), 30);
}

void tst_Simulator::aimedFaultFiresOnceOnItsRequest_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("atStart"); // --at instead of the control command
    QTest::addColumn<int>("target"); // the exchange of 0, 20, 0, 20, 0 the aim fires on
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("lateMs");
    QTest::addColumn<int>("discharges"); // carried out of the two asked for
    QTest::addRow("badcrc, 2nd netweight") << "netweight"
                                           << "badcrc" << false << 2 << "bad check" << 0 << 2;
    QTest::addRow("wrongaddress, 2nd discharge") << "discharge"
                                                 << "wrongaddress" << false << 3 << "other address" << 0 << 2;
    QTest::addRow("partial, 2nd of any, from the start") << "any"
                                                         << "partial" << true << 1 << "partial" << 0 << 2;
    QTest::addRow("silence, 2nd 20") << "20"
                                     << "silence" << false << 3 << "nothing" << 0 << 1;
    QTest::addRow("slow, 2nd 0/0") << "0/0"
                                   << "slow 400" << false << 2 << "sound" << 400 << 2;
    QTest::addRow("hold, 2nd discharge") << "discharge"
                                         << "hold 400" << false << 3 << "sound" << 400 << 2;
    QTest::addRow("junk, 2nd 0") << "0"
                                 << "junk" << false << 2 << "junk" << 0 << 2;
    QTest::addRow("hangup, 2nd discharge") << "discharge"
                                           << "hangup 300" << false << 3 << "nothing" << 0 << 2;
    QTest::addRow("badcrc, 2nd netweight from the first 20") << "netweight"
                                                             << "badcrc from 20" << false << 4 << "bad check" << 0 << 2;
    QTest::addRow("mark, 2nd discharge") << "discharge"
                                         << "mark" << false << 3 << "sound" << 0 << 2;
}

void tst_Simulator::aimedFaultFiresOnceOnItsRequest()
{
    QFETCH(QString, kind);
    QFETCH(QString, fault);
    QFETCH(bool, atStart);
    QFETCH(int, target);
    QFETCH(QString, outcome);
    QFETCH(int, lateMs);
    QFETCH(int, discharges);
    const QString aim = QStringLiteral("2 %1 %2").arg(kind, fault);
    // 5.0 in the hopper: the first discharge carried out is the one the totals count.
    const QStringList arguments {"--net", "5.0"};
    QVERIFY2(m_sim->start(atStart ? arguments + QStringList {"--at", aim} : arguments), qPrintable(m_sim->lastError()));
    auto line = std::make_unique<LineEnd>(QStringLiteral("ports/d415"));
    if (!atStart) {
        // Requests before the aim do not count towards it.
        QVERIFY(decode(line->exchange(frame(30, 0, 0))).valid);
        QVERIFY(decode(line->exchange(frame(30, 20, 0))).valid);
        QVERIFY(m_sim->aim(2, kind, fault));
        QVERIFY(m_sim->status().contains("aims: " + aim));
    }
    const int commands[] = {0, 20, 0, 20, 0};
    for (int i = 0; i < 5; ++i) {
        const QByteArray request = frame(30, commands[i], 0);
        if (i != target) {
            const Reply reply = decode(line->exchange(request));
            QVERIFY2(reply.valid && reply.packet.sourceAddress == 30, qPrintable(QString::number(i)));
            continue;
        }
        QElapsedTimer clock;
        clock.start();
        QVERIFY(line->write(request));
        const QByteArray bytes = line->read(D415DataPacket::FrameSize + 3, lateMs + 200);
        QVERIFY(clock.elapsed() >= lateMs);
        QVERIFY(m_sim->waitForAimed(2, kind, fault));
        if (outcome == "nothing")
            QCOMPARE(bytes, QByteArray());
        else if (outcome == "junk")
            QVERIFY(bytes.size() == 15 && bytes.left(3) == QByteArray::fromHex("052A55") && decode(bytes.mid(3)).valid);
        else if (outcome == "partial")
            QCOMPARE(bytes.size(), 6);
        else if (outcome == "bad check")
            QVERIFY(bytes.size() == 12 && !decode(bytes).valid);
        else
            QCOMPARE(int(decode(bytes).packet.sourceAddress), outcome == "other address" ? 31 : 30);
        if (fault.startsWith("hangup")) {
            QVERIFY(line->hungUp());
            QVERIFY2(m_sim->waitForLineBack(), qPrintable(m_sim->lastError()));
            line = std::make_unique<LineEnd>(QStringLiteral("ports/d415"));
        }
    }
    QCOMPARE(m_sim->aimedLines().size(), 1);
    QVERIFY(m_sim->aimedLines().first().contains(QStringLiteral("cmd %1/0").arg(commands[target])));
    QVERIFY(m_sim->status().contains("aims: none"));
    const QStringList log = m_sim->logLines();
    QCOMPARE(log.filter(" EVT discharged").size(), (atStart ? 0 : 1) + discharges);
    const SimulatorProcess::Totals totals = m_sim->totals();
    QCOMPARE(totals.discharges, 1);
    QCOMPARE(totals.weightText, QStringLiteral("5.0"));
    QCOMPARE(totals.unit, QStringLiteral("kg"));
    if (fault == "mark") // logged before the doser acts on the request
        QVERIFY(log.indexOf(QRegularExpression(".* FLT aimed .*"))
            < log.lastIndexOf(QRegularExpression(".* EVT discharged.*")));
}

void tst_Simulator::helpNamesEveryControlCommand()
{
    QProcess help;
    help.start(SimulatorProcess::program(), {"--help"});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    for (const char *word :
        {"silence on|off|N", "badcrc", "wrongaddress", "partial", "slow", "delay MS", "error CODE", "reset", "clear",
            "drop", "reconnect", "set NAME VALUE", "status", "quit", "ports/NAME", "--exit-on-eof", "junk [N]",
            "hangup MS", "at N KIND FAULT", "--at", "mark", "totals", "REQ", "REP", "IGN", "FLT", "EVT", "CTL"})
        QVERIFY2(text.contains(QLatin1String(word)), word);
}

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
