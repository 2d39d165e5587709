#include "directioncontrol.h"
#include "monotonicclock.h"

#include <QtTest>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using Mode = DirectionControl::Mode;

/// A terminal pair of our own: the slave side is written to, the master side shows what has left.
class TerminalPair
{
public:
    TerminalPair()
    {
        if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            m_master = m_slave = -1;
        termios t {};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
    }
    ~TerminalPair()
    {
        ::close(m_slave);
        ::close(m_master);
    }
    int master() const { return m_master; }
    int slave() const { return m_slave; }

private:
    int m_master = -1;
    int m_slave = -1;
};

class tst_DirectionControl : public QObject
{
    Q_OBJECT

private slots:
    void modeChosen_data();
    void modeChosen();
    void writeEndsOnceSent_data();
    void writeEndsOnceSent();
};

void tst_DirectionControl::modeChosen_data()
{
    QTest::addColumn<bool>("terminal");

    // Both answer ENOTTY to the RS-485 and modem-line requests: no modem lines, not a fault.
    QTest::addRow("pseudo-terminal") << true;
    QTest::addRow("not a terminal") << false;
}

void tst_DirectionControl::modeChosen()
{
    QFETCH(bool, terminal);

    TerminalPair pair;
    QVERIFY(pair.slave() >= 0);
    int pipeFds[2] = {-1, -1};
    QCOMPARE(pipe2(pipeFds, O_CLOEXEC), 0);
    DirectionControl direction;
    direction.setUp(terminal ? pair.slave() : pipeFds[1]);
    QCOMPARE(direction.mode(), Mode::None);
    // Writes need nothing switched and are not held up.
    const qint64 start = MonotonicClock::nowNs();
    direction.beginWrite();
    direction.endWrite(120, 1200, start, -1);
    QVERIFY(MonotonicClock::nowNs() - start < 50 * MonotonicClock::NsPerMs);
    direction.restore();
    QCOMPARE(direction.mode(), Mode::None);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

void tst_DirectionControl::writeEndsOnceSent_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    // Twelve bytes at 9600 bit/s are 12.5 ms on the wire: RTS may not fall before.
    QTest::addRow("frame at 9600 bit/s") << 9600 << 12 << -1 << 12 << 150;
    QTest::addRow("frame at 9600 bit/s within its time-out") << 9600 << 12 << 112 << 12 << 150;
    // 120 bytes at 1200 bit/s need a second; the write's total time-out ends the wait first.
    QTest::addRow("slow line: bounded by the time-out") << 1200 << 120 << 30 << 29 << 250;
    QTest::addRow("nothing sent: no wait") << 1200 << 0 << -1 << 0 << 50;
}

void tst_DirectionControl::writeEndsOnceSent()
{
    QFETCH(int, baudRate);
    QFETCH(int, bytes);
    QFETCH(int, deadlineMs);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    TerminalPair pair;
    QVERIFY(pair.slave() >= 0);
    DirectionControl direction;
    // A pseudo-terminal has no RTS to switch (those requests fail quietly), but the wait is the same.
    direction.use(pair.slave(), Mode::RtsAroundWrite);
    const QByteArray frame(bytes, '\x5a');
    const qint64 start = MonotonicClock::nowNs();
    const qint64 deadline = deadlineMs < 0 ? -1 : start + deadlineMs * MonotonicClock::NsPerMs;
    direction.beginWrite();
    QCOMPARE(::write(pair.slave(), frame.constData(), size_t(frame.size())), ssize_t(frame.size()));
    direction.endWrite(bytes, baudRate, start, deadline);
    const qint64 elapsedMs = (MonotonicClock::nowNs() - start) / MonotonicClock::NsPerMs;
    QVERIFY2(elapsedMs >= minMs && elapsedMs <= maxMs, qPrintable(QStringLiteral("%1 ms").arg(elapsedMs)));
    // The bytes have left the sending side.
    int arrived = 0;
    QCOMPARE(ioctl(pair.master(), FIONREAD, &arrived), 0);
    QCOMPARE(arrived, bytes);
    direction.restore();
    QCOMPARE(direction.mode(), Mode::None);
}

QTEST_GUILESS_MAIN(tst_DirectionControl)
#include "tst_directioncontrol.moc"
