#include "ptydoser.h"
#include "serialport.h"
#include "testworkdir.h"

#include <QElapsedTimer>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray frameTo(quint8 address, quint8 command)
{
    QByteArray frame(12, '\0');
    frame[0] = char(0x80 | address);
    frame[2] = char(command);
    return frame;
}

int readInto(SerialPort &port, QByteArray &bytes, int count)
{
    bytes = QByteArray(count, '\0');
    const int got = port.read(reinterpret_cast<quint8 *>(bytes.data()), quint16(count));
    bytes.truncate(qMax(got, 0));
    return got;
}

int writeAll(SerialPort &port, const QByteArray &bytes)
{
    return port.write(reinterpret_cast<const quint8 *>(bytes.constData()), quint16(bytes.size()));
}

// The process id of a process that has ended and been reaped.
pid_t deadProcessId()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

// A station in a child process that opens @p name and is then killed without closing it, as a crash
// would end it. Returns its process id, or 0 when it could not open the port.
pid_t killedStation(const QString &name)
{
    int ready[2] = {-1, -1};
    if (pipe(ready) != 0)
        return 0;
    const pid_t child = fork();
    if (child == 0) {
        SerialPort port;
        const char opened = port.open(name) ? '1' : '0';
        if (::write(ready[1], &opened, 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    ::close(ready[1]);
    pollfd answer {ready[0], POLLIN, 0};
    char opened = '0';
    const bool answered = poll(&answer, 1, 10000) == 1 && ::read(ready[0], &opened, 1) == 1;
    ::close(ready[0]);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return answered && opened == '1' ? child : 0;
}

QByteArray lockContent(pid_t pid)
{
    return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
}

} // namespace

class tst_SerialPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openRefusesWhatIsNoPort_data();
    void openRefusesWhatIsNoPort();
    void openAppliesRawLineAndCloseRestores();
    void reopenClosesFirst();
    void baudRates_data();
    void baudRates();
    void baudRateWhileClosedKeepsPrevious();
    void readEndsOnCountGapOrTotal_data();
    void readEndsOnCountGapOrTotal();
    void readWithoutTotalLimitWaitsForData();
    void abortEndsPendingRead();
    void clearInputDiscardsStaleBytes();
    void secondOpenIsRefused();
    void listingOrderAndFilter();
    void heldPortIsNotListed();
    void portHeldExclusivelyElsewhereIsRefused();
    void lineDropAndReopen();
    void lockFileOwnership_data();
    void lockFileOwnership();

private:
    std::unique_ptr<TestWorkDir> m_workDir;
    std::unique_ptr<PtyDoser> m_doser;
};

void tst_SerialPort::initTestCase()
{
    // Never probe the machine's own serial devices from a test.
    SerialPort::setSystemPortsListed(false);
}

void tst_SerialPort::init()
{
    m_workDir = std::make_unique<TestWorkDir>();
    SerialPort::setLockDirectory(m_workDir->path());
    m_doser = std::make_unique<PtyDoser>();
    QVERIFY(m_doser->isValid());
    QVERIFY(m_doser->linkAs(QStringLiteral("line1")));
    m_doser->setAnswer(PtyDoser::Answer::Silence);
}

void tst_SerialPort::cleanup()
{
    m_doser.reset();
    m_workDir.reset();
}

void tst_SerialPort::openRefusesWhatIsNoPort_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("linkTarget");

    QTest::addRow("missing") << QStringLiteral("nosuchport") << QString();
    QTest::addRow("empty") << QString() << QString();
    QTest::addRow("path, not a name") << QStringLiteral("../line1") << QString();
    QTest::addRow("hidden entry") << QStringLiteral(".line1") << QString();
    QTest::addRow("link to a non-terminal") << QStringLiteral("null") << QStringLiteral("/dev/null");
    QTest::addRow("dangling link") << QStringLiteral("gone") << QStringLiteral("/dev/nonexistent-tty");
    QTest::addRow("link to a folder") << QStringLiteral("dir") << QStringLiteral("/tmp");
}

void tst_SerialPort::openRefusesWhatIsNoPort()
{
    QFETCH(QString, name);
    QFETCH(QString, linkTarget);
    if (!linkTarget.isEmpty())
        QVERIFY(QFile::link(linkTarget, QStringLiteral("ports/") + name));

    SerialPort port;
    QVERIFY(!port.open(name));
    QVERIFY(!port.isOpen());
    QVERIFY(!port.close());
    QCOMPARE(port.read(nullptr, 12), -1);
}

void tst_SerialPort::openAppliesRawLineAndCloseRestores()
{
    // The slave starts in the cooked mode of a fresh terminal, at 9600 bit/s.
    termios original {};
    QCOMPARE(tcgetattr(m_doser->slaveFd(), &original), 0);
    original.c_lflag |= ICANON | ECHO;
    original.c_iflag |= ICRNL | IXON;
    original.c_oflag |= OPOST;
    cfsetispeed(&original, B9600);
    cfsetospeed(&original, B9600);
    QCOMPARE(tcsetattr(m_doser->slaveFd(), TCSANOW, &original), 0);

    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    QVERIFY(port.isOpen());
    termios working {};
    QCOMPARE(tcgetattr(m_doser->slaveFd(), &working), 0);
    QCOMPARE(working.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(working.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(working.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    QCOMPARE(working.c_iflag & (IXON | IXOFF | ICRNL | INPCK | ISTRIP), tcflag_t(0));
    QCOMPARE(working.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(working.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(cfgetospeed(&working), speed_t(B115200));

    // Bytes pass unchanged in both directions: CR, LF, XON, XOFF and bit 7 included.
    const QByteArray awkward = QByteArray::fromHex("0d0a11138000ff7f0d0a1113");
    m_doser->send(awkward);
    QByteArray got;
    QCOMPARE(readInto(port, got, awkward.size()), int(awkward.size()));
    QCOMPARE(got, awkward);
    QCOMPARE(writeAll(port, awkward), int(awkward.size()));
    QTRY_COMPARE(m_doser->receivedCount(), 1);
    QCOMPARE(m_doser->received().first(), awkward);

    QVERIFY(port.close());
    QVERIFY(!port.isOpen());
    QVERIFY(!port.close());
    termios restored {};
    QCOMPARE(tcgetattr(m_doser->slaveFd(), &restored), 0);
    QCOMPARE(restored.c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
    QCOMPARE(restored.c_iflag & (ICRNL | IXON), tcflag_t(ICRNL | IXON));
    QCOMPARE(cfgetospeed(&restored), speed_t(B9600));
}

void tst_SerialPort::reopenClosesFirst()
{
    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    QVERIFY(port.setBaudRate(38400));
    // The same port again: released first, so the exclusive lock does not refuse it.
    QVERIFY(port.open(QStringLiteral("line1")));
    QVERIFY(port.isOpen());
    termios working {};
    QCOMPARE(tcgetattr(m_doser->slaveFd(), &working), 0);
    QCOMPARE(cfgetospeed(&working), speed_t(B38400));
}

void tst_SerialPort::baudRates_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("speedConstant");

    QTest::addRow("9600") << 9600 << true << int(B9600);
    QTest::addRow("19200") << 19200 << true << int(B19200);
    QTest::addRow("38400") << 38400 << true << int(B38400);
    QTest::addRow("115200") << 115200 << true << int(B115200);
    QTest::addRow("no such speed") << 12345 << false << int(B115200);
    QTest::addRow("zero") << 0 << false << int(B115200);
    QTest::addRow("negative") << -9600 << false << int(B115200);
}

void tst_SerialPort::baudRates()
{
    QFETCH(int, rate);
    QFETCH(bool, accepted);
    QFETCH(int, speedConstant);

    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    QCOMPARE(port.setBaudRate(rate), accepted);
    QCOMPARE(port.baudRate(), accepted ? rate : 115200);
    termios working {};
    QCOMPARE(tcgetattr(m_doser->slaveFd(), &working), 0);
    QCOMPARE(int(cfgetospeed(&working)), speedConstant);
}

void tst_SerialPort::baudRateWhileClosedKeepsPrevious()
{
    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    QVERIFY(port.setBaudRate(19200));
    QVERIFY(port.close());
    QVERIFY(!port.setBaudRate(9600));
    QVERIFY(!port.setReadTimeout(50));
    QVERIFY(!port.setWriteTimeout(50));
    QCOMPARE(port.baudRate(), 19200);
    QVERIFY(port.open(QStringLiteral("line1")));
    termios working {};
    QCOMPARE(tcgetattr(m_doser->slaveFd(), &working), 0);
    QCOMPARE(cfgetospeed(&working), speed_t(B19200));
}

void tst_SerialPort::readEndsOnCountGapOrTotal_data()
{
    QTest::addColumn<int>("firstPart");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("expectedBytes");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    // Default time-outs: 10 ms gap, 12 ms + 100 ms in all for twelve bytes.
    QTest::addRow("whole frame") << 12 << 0 << 12 << 0 << 50;
    QTest::addRow("two bursts 3 ms apart") << 6 << 3 << 12 << 0 << 60;
    QTest::addRow("two bursts 40 ms apart: cut at the gap") << 6 << 40 << 6 << 9 << 38;
    QTest::addRow("silence: total time-out") << 0 << 0 << 0 << 111 << 400;
}

void tst_SerialPort::readEndsOnCountGapOrTotal()
{
    QFETCH(int, firstPart);
    QFETCH(int, pauseMs);
    QFETCH(int, expectedBytes);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    const QByteArray frame = QByteArray::fromHex("9e000000000000000000004b");
    std::thread far([&] {
        if (firstPart == 0)
            return;
        m_doser->send(frame.left(firstPart));
        if (pauseMs > 0) {
            // The far end's own timing, not a wait of the test.
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            m_doser->send(frame.mid(firstPart, 12 - firstPart));
        }
    });
    QElapsedTimer clock;
    clock.start();
    QByteArray got;
    const int count = readInto(port, got, 12);
    const qint64 elapsed = clock.elapsed();
    far.join();
    QCOMPARE(count, expectedBytes);
    QCOMPARE(got, frame.left(expectedBytes));
    QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
}

void tst_SerialPort::readWithoutTotalLimitWaitsForData()
{
    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    QVERIFY(port.setReadTimeout(0));
    std::thread far([&] {
        // Later than the total a limited read would allow (112 ms).
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        m_doser->send(QByteArray("abc"));
    });
    QElapsedTimer clock;
    clock.start();
    QByteArray got;
    QCOMPARE(readInto(port, got, 12), 3);
    QVERIFY(clock.elapsed() >= 240);
    far.join();
    QCOMPARE(got, QByteArray("abc"));
}

void tst_SerialPort::abortEndsPendingRead()
{
    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    QVERIFY(port.setReadTimeout(0));
    std::atomic<int> result {-2};
    std::thread reader([&] {
        quint8 buffer[12];
        result = port.read(buffer, 12);
    });
    // The reader may not have entered its wait yet: abort until it returns.
    QTRY_VERIFY_WITH_TIMEOUT((port.abortInput(), result.load() != -2), 2000);
    reader.join();
    QCOMPARE(result.load(), -1);

    // An abort is spent by the read it ended, and one that came with no read running is forgotten.
    QVERIFY(port.abortInput());
    QVERIFY(port.setReadTimeout(20));
    m_doser->send(QByteArray("xy"));
    QByteArray got;
    QCOMPARE(readInto(port, got, 12), 2);
}

void tst_SerialPort::clearInputDiscardsStaleBytes()
{
    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    QVERIFY(port.setReadTimeout(20));
    m_doser->send(QByteArray("stale"));
    // The bytes must be in the slave's queue before they can be discarded.
    QTRY_VERIFY([&] {
        int queued = 0;
        return ioctl(m_doser->slaveFd(), FIONREAD, &queued) == 0 && queued == 5;
    }());
    QVERIFY(port.clearInput());
    QByteArray got;
    QCOMPARE(readInto(port, got, 12), 0);
    QVERIFY(port.clearOutput());
}

void tst_SerialPort::secondOpenIsRefused()
{
    SerialPort first;
    QVERIFY(first.open(QStringLiteral("line1")));
    SerialPort second;
    QVERIFY(!second.open(QStringLiteral("line1")));
    QVERIFY(!second.isOpen());
    // The same device under another name is the same line.
    QVERIFY(m_doser->linkAs(QStringLiteral("alias")));
    QVERIFY(!second.open(QStringLiteral("alias")));
    // The holder is undisturbed.
    m_doser->send(QByteArray("ok"));
    QByteArray got;
    QCOMPARE(readInto(first, got, 2), 2);
    QVERIFY(first.close());
    QVERIFY(second.open(QStringLiteral("line1")));
}

void tst_SerialPort::listingOrderAndFilter()
{
    PtyDoser second;
    PtyDoser third;
    QVERIFY(second.linkAs(QStringLiteral("line10")));
    QVERIFY(third.linkAs(QStringLiteral("line2")));
    QVERIFY(m_doser->linkAs(QStringLiteral("a")));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), QStringLiteral("ports/null")));
    QVERIFY(QFile::link(QStringLiteral("/dev/nonexistent-tty"), QStringLiteral("ports/gone")));
    // A plain file is not a port even when it names one.
    QFile note(QStringLiteral("ports/readme"));
    QVERIFY(note.open(QIODevice::WriteOnly));
    note.close();

    const QStringList expected {
        QStringLiteral("a"), QStringLiteral("line1"), QStringLiteral("line2"), QStringLiteral("line10")};
    QCOMPARE(SerialPort::availablePorts(), expected);
    QCOMPARE(availablePorts(), expected);

    // The folder is read anew at each call.
    QVERIFY(QFile::remove(QStringLiteral("ports/line2")));
    QCOMPARE(availablePorts(), (QStringList {QStringLiteral("a"), QStringLiteral("line1"), QStringLiteral("line10")}));
}

void tst_SerialPort::heldPortIsNotListed()
{
    PtyDoser other;
    QVERIFY(other.linkAs(QStringLiteral("line2")));
    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    QCOMPARE(availablePorts(), QStringList {QStringLiteral("line2")});

    // The listing did not touch the held line: its exchange goes on.
    m_doser->send(QByteArray("still"));
    QByteArray got;
    QCOMPARE(readInto(port, got, 5), 5);
    QVERIFY(port.close());
    QCOMPARE(availablePorts(), (QStringList {QStringLiteral("line1"), QStringLiteral("line2")}));
}

void tst_SerialPort::portHeldExclusivelyElsewhereIsRefused()
{
    // Another program holds the line with TIOCEXCL only, as most terminal programs do; root passes it.
    const int other = ::open(QFile::encodeName(m_doser->slavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(other >= 0);
    QCOMPARE(ioctl(other, TIOCEXCL), 0);
    SerialPort port;
    QVERIFY(!port.open(QStringLiteral("line1")));
    QVERIFY(!port.isOpen());
    QCOMPARE(availablePorts(), QStringList());

    // Released, the line can be had.
    QCOMPARE(ioctl(other, TIOCNXCL), 0);
    ::close(other);
    QCOMPARE(availablePorts(), QStringList {QStringLiteral("line1")});
    QVERIFY(port.open(QStringLiteral("line1")));
}

void tst_SerialPort::lineDropAndReopen()
{
    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
    m_doser->hangUp();

    QElapsedTimer clock;
    clock.start();
    QByteArray got;
    QCOMPARE(readInto(port, got, 12), -1);
    QCOMPARE(readInto(port, got, 12), -1);
    QCOMPARE(writeAll(port, frameTo(30, 0)), -1);
    // No waiting for time-outs on a dead line.
    QVERIFY2(clock.elapsed() < 100, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    QVERIFY(port.isOpen());

    // The adapter comes back (here: a new terminal under the same name).
    PtyDoser back;
    QVERIFY(back.linkAs(QStringLiteral("line1")));
    back.setAnswer(PtyDoser::Answer::Silence);
    QVERIFY(port.open(QStringLiteral("line1")));
    QCOMPARE(writeAll(port, frameTo(30, 0)), 12);
    QTRY_COMPARE(back.receivedCount(), 1);
    back.send(QByteArray("hi"));
    QCOMPARE(readInto(port, got, 2), 2);
}

void tst_SerialPort::lockFileOwnership_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("opens");

    QTest::addRow("no lock") << QStringLiteral("none") << true;
    QTest::addRow("lock of a running process") << QStringLiteral("running") << false;
    QTest::addRow("stale lock of an ended process") << QStringLiteral("ended") << true;
    // The station's exclusive mark outlives it while the far end keeps the terminal open.
    QTest::addRow("station killed with its line open") << QStringLiteral("killed") << true;
    QTest::addRow("lock folder not writable") << QStringLiteral("no folder") << true;
}

void tst_SerialPort::lockFileOwnership()
{
    QFETCH(QString, holder);
    QFETCH(bool, opens);

    // Named for the device itself, as other serial programs name it, not for the ports/ link.
    const QString lockPath = m_workDir->filePath(
        QStringLiteral("LCK..") + m_doser->slavePath().mid(5).replace(QLatin1Char('/'), QLatin1Char('_')));
    const auto writeLock = [&](pid_t pid) {
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(lockContent(pid));
    };
    if (holder == QLatin1String("running"))
        writeLock(getppid());
    else if (holder == QLatin1String("ended"))
        writeLock(deadProcessId());
    else if (holder == QLatin1String("killed")) {
        QVERIFY(killedStation(QStringLiteral("line1")) != 0);
        int marked = 0;
        QCOMPARE(ioctl(m_doser->slaveFd(), TIOCGEXCL, &marked), 0);
        QCOMPARE(marked, 1);
    } else if (holder == QLatin1String("no folder"))
        SerialPort::setLockDirectory(m_workDir->filePath(QStringLiteral("missing")));
    QFile lock(lockPath);
    const QByteArray before = lock.open(QIODevice::ReadOnly) ? lock.readAll() : QByteArray();
    lock.close();

    // The port list agrees with open().
    QCOMPARE(availablePorts(), opens ? QStringList {QStringLiteral("line1")} : QStringList());
    SerialPort port;
    QCOMPARE(port.open(QStringLiteral("line1")), opens);
    if (!opens) {
        // The holder's lock and line are left as they were.
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), before);
        return;
    }
    QCOMPARE(QFile::exists(lockPath), holder != QLatin1String("no folder"));
    if (QFile::exists(lockPath)) {
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), lockContent(getpid()));
        lock.close();
    }
    QCOMPARE(writeAll(port, frameTo(30, 0)), 12);
    QTRY_COMPARE(m_doser->receivedCount(), 1);
    QVERIFY(port.close());
    QVERIFY(!QFile::exists(lockPath));
}

QTEST_GUILESS_MAIN(tst_SerialPort)
#include "tst_serialport.moc"
