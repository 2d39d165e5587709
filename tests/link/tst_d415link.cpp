#include "d415link.h"
#include "ptydoser.h"
#include "serialport.h"
#include "stderrcapture.h"
#include "testworkdir.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

D415DataPacket request(quint8 address, quint8 command, quint8 parameter = 0)
{
    D415DataPacket packet;
    packet.reset();
    packet.destinationAddress = address;
    packet.command = command;
    packet.parameter = parameter;
    return packet;
}

D415DataPacket packetAt(const QSignalSpy &spy, int row)
{
    return spy.at(row).at(0).value<D415DataPacket>();
}

// The message of a log line, after its time stamp "dd.MM.yyyy (hh:mm:ss:zzz) " and before its line feed.
QStringList messages(const QSignalSpy &spy)
{
    static const QRegularExpression line(
        QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\(\\d\\d:\\d\\d:\\d\\d:\\d{3}\\) (.*)\n$"),
        QRegularExpression::DotMatchesEverythingOption);
    QStringList texts;
    for (const QList<QVariant> &arguments : spy) {
        const QRegularExpressionMatch match = line.match(arguments.at(0).toString());
        texts << (match.hasMatch() ? match.captured(1) : QStringLiteral("<malformed> ") + arguments.at(0).toString());
    }
    return texts;
}

} // namespace

/// The link's signals, brought to the main thread before a spy records them: a spy appends from the
/// thread that emits, and the exchange thread emits.
class MainThreadRelay : public QObject
{
    Q_OBJECT
public:
    explicit MainThreadRelay(D415Link *link)
    {
        connect(link, &D415Link::replyPacketReceived, this, &MainThreadRelay::replyPacketReceived);
        connect(link, &SerialSchedule::hasSysMes, this, &MainThreadRelay::hasSysMes);
    }

signals:
    void replyPacketReceived(D415DataPacket packet, quint32 index, quint32 expected);
    void hasSysMes(QString line);
};

/// Receives replies the way a doser object does: a string-based, queued connection.
class ReplyReceiver : public QObject
{
    Q_OBJECT
public:
    QList<D415DataPacket> packets;
    QList<quint32> indexes;
    QList<Qt::HANDLE> threads;

public slots:
    void replyPacketReceived(D415DataPacket packet, quint32 index, quint32 expected)
    {
        Q_UNUSED(expected);
        packets << packet;
        indexes << index;
        threads << QThread::currentThreadId();
    }
};

class tst_D415Link : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void repliesByShape_data();
    void repliesByShape();
    void backToBackRequestsKeepOrder();
    void stringConnectDeliversOnMainThread();
    void openMissingPort();
    void closeTwice();
    void settersWhileClosed_data();
    void settersWhileClosed();
    void settersWhileOpen();
    void slaveModeSendsNothing();
    void channelStillBusyAfterClaimLimit();
    void lineDropGivesFailureAndReopenWorks();
    void exchangeThreadEndsWhenIdle();
    void destroyedDuringUnlimitedRead();

private:
    std::unique_ptr<TestWorkDir> m_workDir;
    std::unique_ptr<PtyDoser> m_doser;
};

void tst_D415Link::initTestCase()
{
    SerialPort::setSystemPortsListed(false);
}

void tst_D415Link::init()
{
    m_workDir = std::make_unique<TestWorkDir>();
    m_doser = std::make_unique<PtyDoser>();
    QVERIFY(m_doser->isValid());
    QVERIFY(m_doser->linkAs(QStringLiteral("line1")));
}

void tst_D415Link::cleanup()
{
    m_doser.reset();
    m_workDir.reset();
}

void tst_D415Link::repliesByShape_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<quint32>("index");
    QTest::addColumn<int>("linkResult");
    QTest::addColumn<QString>("logged");

    const auto ok = QString();
    QTest::addRow("whole reply") << int(PtyDoser::Answer::Reply) << 0 << 1u << 0 << ok;
    QTest::addRow("split 3 ms apart") << int(PtyDoser::Answer::SplitReply) << 3 << 1u << 0 << ok;
    // The first read ends at the 10 ms gap with six bytes; the next read takes the rest.
    QTest::addRow("split 40 ms apart") << int(PtyDoser::Answer::SplitReply) << 40 << 1u << 0 << ok;
    QTest::addRow("split beyond the reply time-out") << int(PtyDoser::Answer::SplitReply) << 400 << 0u << 2
                                                     << QStringLiteral("Ошибка: неудалось принять ни одно сообщение");
    QTest::addRow("half a reply") << int(PtyDoser::Answer::HalfReply) << 0 << 0u << 2
                                  << QStringLiteral("Ошибка: неудалось принять ни одно сообщение");
    QTest::addRow("no reply") << int(PtyDoser::Answer::Silence) << 0 << 0u << 2
                              << QStringLiteral("Ошибка: неудалось принять ни одно сообщение");
    QTest::addRow("wrong check byte") << int(PtyDoser::Answer::BadCheckByte) << 0 << 1u << 1
                                      << QStringLiteral("Ошибка: получен пакет с ошибочными данными");
    // A reply that came after its own time-out is not taken for the next request's.
    QTest::addRow("late reply to another request first")
        << int(PtyDoser::Answer::LateReplyFirst) << 40 << 1u << 0 << ok;
    QTest::addRow("only a late reply to another request")
        << int(PtyDoser::Answer::LateReplyOnly) << 0 << 0u << 2
        << QStringLiteral("Ошибка: неудалось принять ни одно сообщение");
}

void tst_D415Link::repliesByShape()
{
    QFETCH(int, answer);
    QFETCH(int, gapMs);
    QFETCH(quint32, index);
    QFETCH(int, linkResult);
    QFETCH(QString, logged);

    m_doser->setAnswer(PtyDoser::Answer(answer), gapMs);
    D415Link link;
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    QCOMPARE(link.setReplyTimeout(150), 1);
    QCOMPARE(link.setBaudRate(38400), 1);
    MainThreadRelay relay(&link);
    QSignalSpy replies(&relay, &MainThreadRelay::replyPacketReceived);
    QSignalSpy log(&relay, &MainThreadRelay::hasSysMes);

    D415DataPacket asked = request(30, 8, 1);
    asked.setValue(20.0, 1);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(link.sendCommandPacket(asked), qint8(1));
    QVERIFY(replies.wait(2000));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(replies.count(), 1);
    QCOMPARE(replies.at(0).at(1).value<quint32>(), index);
    QCOMPARE(replies.at(0).at(2).value<quint32>(), 1u);

    const D415DataPacket got = packetAt(replies, 0);
    QCOMPARE(int(got.linkResult), linkResult);
    QCOMPARE(got.sourceAddress, quint8(30));
    QCOMPARE(got.command, quint8(8));
    QCOMPARE(got.parameter, quint8(1));
    if (linkResult == 0) {
        QCOMPARE(got.destinationAddress, quint8(0x80));
        QCOMPARE(got.stateFlags, quint8(0x02));
        QCOMPARE(got.value(), 1.0);
        QVERIFY(messages(log).isEmpty());
    } else {
        // The failure packet: the request's fields with the addresses swapped and the fault bit set.
        QCOMPARE(got.destinationAddress, quint8(0));
        QCOMPARE(got.stateFlags, quint8(0x80));
        QCOMPARE(got.errorCode, quint8(0));
        QCOMPARE(got.value(), 20.0);
        QCOMPARE(messages(log), QStringList {logged});
    }
    if (linkResult == 2 && answer != int(PtyDoser::Answer::SplitReply)) {
        // Nothing more after the last byte received: 12 ms for the frame plus the 150 ms time-out; a late
        // reply to another request buys no more time.
        QVERIFY2(elapsed >= 155 && elapsed < 320, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }
    QCOMPARE(link.lastStatus(), qint8(1));
}

void tst_D415Link::backToBackRequestsKeepOrder()
{
    D415Link link;
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    MainThreadRelay relay(&link);
    QSignalSpy replies(&relay, &MainThreadRelay::replyPacketReceived);

    // The second call waits until the first exchange is over, then goes out.
    QCOMPARE(link.sendCommandPacket(request(30, 0)), qint8(1));
    QCOMPARE(link.sendCommandPacket(request(31, 5, 2)), qint8(1));
    QTRY_COMPARE_WITH_TIMEOUT(replies.count(), 2, 2000);

    QCOMPARE(m_doser->receivedCount(), 2);
    QCOMPARE(m_doser->received().at(0), QByteArray::fromHex("9e000000000000000000004b"));
    const D415DataPacket first = packetAt(replies, 0);
    const D415DataPacket second = packetAt(replies, 1);
    QCOMPARE(first.sourceAddress, quint8(30));
    QCOMPARE(first.command, quint8(0));
    QCOMPARE(first.value(), 1.0);
    QCOMPARE(second.sourceAddress, quint8(31));
    QCOMPARE(second.command, quint8(5));
    QCOMPARE(second.parameter, quint8(2));
    QCOMPARE(second.value(), 2.0);
    QCOMPARE(int(second.linkResult), 0);
}

void tst_D415Link::stringConnectDeliversOnMainThread()
{
    D415Link link;
    ReplyReceiver receiver;
    QVERIFY(connect(&link, SIGNAL(replyPacketReceived(D415DataPacket, quint32, quint32)), &receiver,
        SLOT(replyPacketReceived(D415DataPacket, quint32, quint32))));
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    link.sendCommandPacket(request(7, 3));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.packets.size(), 1, 2000);
    QCOMPARE(receiver.packets.first().sourceAddress, quint8(7));
    QCOMPARE(receiver.indexes.first(), 1u);
    QCOMPARE(receiver.threads.first(), QThread::currentThreadId());
}

void tst_D415Link::openMissingPort()
{
    D415Link link;
    MainThreadRelay relay(&link);
    QSignalSpy log(&relay, &MainThreadRelay::hasSysMes);
    QSignalSpy replies(&relay, &MainThreadRelay::replyPacketReceived);
    QCOMPARE(link.openPort(QStringLiteral("nosuchport")), -11);
    QCOMPARE(link.lastStatus(), qint8(-11));
    QCOMPARE(link.portName(), QString());
    QVERIFY(!link.isPortOpen());

    QCOMPARE(link.sendCommandPacket(request(30, 0)), qint8(1));
    QCOMPARE(link.lastStatus(), qint8(-3));
    QCOMPARE(messages(log),
        (QStringList {
            QStringLiteral("Ошибка: невозможно открыть порт nosuchport"), QStringLiteral("Ошибка: порт  закрыт")}));
    // Nothing was sent, so nothing comes back.
    QVERIFY(!replies.wait(300));
}

void tst_D415Link::closeTwice()
{
    D415Link link;
    MainThreadRelay relay(&link);
    QSignalSpy log(&relay, &MainThreadRelay::hasSysMes);
    QCOMPARE(link.closePort(), -3);
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    QCOMPARE(link.portName(), QStringLiteral("line1"));
    QCOMPARE(link.closePort(), 1);
    QCOMPARE(link.lastStatus(), qint8(1));
    QCOMPARE(link.closePort(), -3);
    QCOMPARE(link.lastStatus(), qint8(-3));
    QCOMPARE(messages(log), QStringList {QStringLiteral("Открыт порт line1")});
}

void tst_D415Link::settersWhileClosed_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("logged");

    QTest::addRow("speed") << 0 << -4 << QStringLiteral("Ошибка: невозможно установиьт скорость 9600 бит/с");
    QTest::addRow("reply time-out")
        << 1 << -10
        << QStringLiteral("Ошибка: невозможно установиьт предельное время ожидания ответного сообщения (чтение из COM "
                          "порта) 9600 мс");
    QTest::addRow("write time-out")
        << 2 << -9
        << QStringLiteral(
               "Ошибка: невозможно установиьт предельное время передачи сообщения (запись в COM порт) 9600 мс");
}

void tst_D415Link::settersWhileClosed()
{
    QFETCH(int, which);
    QFETCH(int, status);
    QFETCH(QString, logged);

    D415Link link;
    MainThreadRelay relay(&link);
    QSignalSpy log(&relay, &MainThreadRelay::hasSysMes);
    const int result = which == 0 ? link.setBaudRate(9600)
        : which == 1              ? link.setReplyTimeout(9600)
                                  : link.setWriteTimeout(9600);
    QCOMPARE(result, status);
    QCOMPARE(int(link.lastStatus()), status);
    QCOMPARE(messages(log), QStringList {logged});
}

void tst_D415Link::settersWhileOpen()
{
    D415Link link;
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    MainThreadRelay relay(&link);
    QSignalSpy log(&relay, &MainThreadRelay::hasSysMes);
    QCOMPARE(link.setBaudRate(38400), 1);
    QCOMPARE(link.baudRate(), 38400);
    QCOMPARE(link.setBaudRate(12345), -4);
    QCOMPARE(link.baudRate(), 38400);
    QCOMPARE(link.setReplyTimeout(150), 1);
    QCOMPARE(link.setWriteTimeout(100), 1);
    QCOMPARE(messages(log),
        (QStringList {
            QStringLiteral("Установлена скорость 38400 бит/с"),
            QStringLiteral("Ошибка: невозможно установиьт скорость 12345 бит/с"),
            QStringLiteral("Установлено предельное время ожидания ответного сообщения (чтение из COM порта) 150 мс"),
            QStringLiteral("Установлено предельное время передачи сообщения (запись в COM порт) 100 мс"),
        }));
}

void tst_D415Link::slaveModeSendsNothing()
{
    D415Link link;
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    QSignalSpy master(&link, &SerialSchedule::linkMaster);
    MainThreadRelay relay(&link);
    QSignalSpy log(&relay, &MainThreadRelay::hasSysMes);
    link.setSlave(true);
    QCOMPARE(master.count(), 1);
    QCOMPARE(master.at(0).at(0).toBool(), false);
    QCOMPARE(link.sendCommandPacket(request(30, 0)), qint8(0));
    const quint8 bytes[12] = {0x9e};
    QCOMPARE(link.sendRequest(12, bytes, 12, 1), -5);
    QCOMPARE(messages(log), QStringList {QStringLiteral("Ошибка: невозможно отослать команду, режим SLAVE")});

    link.setSlave(false);
    QCOMPARE(master.at(1).at(0).toBool(), true);
    QSignalSpy replies(&relay, &MainThreadRelay::replyPacketReceived);
    QCOMPARE(link.sendCommandPacket(request(30, 0)), qint8(1));
    QVERIFY(replies.wait(2000));
    QCOMPARE(m_doser->receivedCount(), 1);
}

void tst_D415Link::channelStillBusyAfterClaimLimit()
{
    m_doser->setAnswer(PtyDoser::Answer::Silence);
    D415Link link;
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    // A reply time-out beyond the claim limit keeps the first exchange on the line.
    QCOMPARE(link.setReplyTimeout(7000), 1);
    MainThreadRelay relay(&link);
    QSignalSpy log(&relay, &MainThreadRelay::hasSysMes);
    QSignalSpy replies(&relay, &MainThreadRelay::replyPacketReceived);
    QCOMPARE(link.sendCommandPacket(request(30, 0)), qint8(1));

    QElapsedTimer clock;
    clock.start();
    StderrCapture stderrText;
    QCOMPARE(link.sendCommandPacket(request(30, 1)), qint8(1));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(stderrText.text(), QByteArray("Ошибка: таймаут записи в порт\n"));
    QVERIFY2(elapsed >= 4990 && elapsed < 6000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    QCOMPARE(link.lastStatus(), qint8(-8));
    QCOMPARE(messages(log), QStringList {QStringLiteral("Ошибка: таймаут записи в порт 5000 мс")});
    // The dropped request never went out; the first one still ends with its failure packet.
    QCOMPARE(m_doser->receivedCount(), 1);
    QVERIFY(replies.wait(4000));
    QCOMPARE(replies.at(0).at(1).value<quint32>(), 0u);
}

void tst_D415Link::lineDropGivesFailureAndReopenWorks()
{
    D415Link link;
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    MainThreadRelay relay(&link);
    QSignalSpy replies(&relay, &MainThreadRelay::replyPacketReceived);
    QSignalSpy log(&relay, &MainThreadRelay::hasSysMes);
    m_doser->hangUp();

    QCOMPARE(link.sendCommandPacket(request(30, 0)), qint8(1));
    QVERIFY(replies.wait(1000));
    QCOMPARE(replies.at(0).at(1).value<quint32>(), 0u);
    QCOMPARE(int(packetAt(replies, 0).linkResult), 2);
    QCOMPARE(link.lastStatus(), qint8(-5));
    QCOMPARE(messages(log),
        (QStringList {QStringLiteral("Ошибка: послано -1 байт (корректно 12 байт)"),
            QStringLiteral("Ошибка: неудалось принять ни одно сообщение")}));

    PtyDoser back;
    QVERIFY(back.linkAs(QStringLiteral("line1")));
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    QCOMPARE(link.sendCommandPacket(request(30, 0)), qint8(1));
    QTRY_COMPARE_WITH_TIMEOUT(replies.count(), 2, 2000);
    QCOMPARE(int(packetAt(replies, 1).linkResult), 0);
    QCOMPARE(replies.at(1).at(1).value<quint32>(), 1u);
}

void tst_D415Link::exchangeThreadEndsWhenIdle()
{
    D415Link link;
    QCOMPARE(link.openPort(QStringLiteral("line1")), 1);
    QVERIFY(!link.isRunning());
    MainThreadRelay relay(&link);
    QSignalSpy replies(&relay, &MainThreadRelay::replyPacketReceived);
    for (int i = 0; i < 20; ++i)
        link.sendCommandPacket(request(30, quint8(i)));
    QTRY_COMPARE_WITH_TIMEOUT(replies.count(), 20, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!link.isRunning(), 1000);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(packetAt(replies, i).command, quint8(i));
}

void tst_D415Link::destroyedDuringUnlimitedRead()
{
    m_doser->setAnswer(PtyDoser::Answer::Silence);
    {
        StderrCapture stderrText;
        auto link = std::make_unique<D415Link>(QStringLiteral("line1"));
        QVERIFY(link->isPortOpen());
        QCOMPARE(link->setReplyTimeout(0), 1);
        link->sendCommandPacket(request(30, 0));
        QTRY_COMPARE(m_doser->receivedCount(), 1);
        // Nothing will ever answer and the read has no total limit: closing must still end it.
        link.reset();
        const QByteArray traces = stderrText.text();
        QVERIFY(traces.indexOf("~D415Link()\n") >= 0);
        QVERIFY(traces.indexOf("~SerialSchedule()\n") > traces.indexOf("~D415Link()\n"));
    }
    // The port was released: it can be opened again.
    SerialPort port;
    QVERIFY(port.open(QStringLiteral("line1")));
}

QTEST_GUILESS_MAIN(tst_D415Link)
#include "tst_d415link.moc"
