// Round trip of one doser exchange on a pseudo-terminal whose far end answers at once, done three
// ways: a bare termios write/poll/read loop (the floor), our D415Link from sendCommandPacket to the
// replyPacketReceived slot on the main thread, and a blocking QSerialPort exchange. Then the CPU time
// an open, idle link costs in 10 s. Prints its figures; not a test.

#include "d415link.h"
#include "ptydoser.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#ifdef HAVE_QSERIALPORT
#include <QSerialPort>
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Rounds = 5;
constexpr int PerRound = 1200;
constexpr int WarmUp = 200;

qint64 nowNs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Figures
{
    std::vector<qint64> samples;
    void add(qint64 ns) { samples.push_back(ns); }
    double percentileUs(double p)
    {
        if (samples.empty())
            return 0;
        std::sort(samples.begin(), samples.end());
        const size_t at = std::min(samples.size() - 1, size_t(p / 100.0 * double(samples.size())));
        return double(samples[at]) / 1000.0;
    }
};

QByteArray requestFrame()
{
    D415DataPacket packet;
    packet.reset();
    packet.destinationAddress = 30;
    quint8 wire[D415DataPacket::FrameSize];
    packet.toWire(wire);
    return QByteArray(reinterpret_cast<const char *>(wire), D415DataPacket::FrameSize);
}

// The floor: what the kernel and the far end cost, with nothing of ours in between.
void bareTermios(const QString &path, int count, Figures *figures)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const QByteArray frame = requestFrame();
    char reply[64];
    for (int i = 0; i < count; ++i) {
        const qint64 start = nowNs();
        if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
            break;
        int got = 0;
        while (got < 12) {
            pollfd p {fd, POLLIN, 0};
            if (poll(&p, 1, 150) <= 0)
                break;
            const ssize_t n = ::read(fd, reply + got, size_t(12 - got));
            if (n > 0)
                got += int(n);
        }
        if (figures != nullptr)
            figures->add(nowNs() - start);
    }
    ::close(fd);
}

#ifdef HAVE_QSERIALPORT
void qtSerialPort(const QString &path, int count, Figures *figures)
{
    QSerialPort port(path);
    port.setBaudRate(38400);
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("QSerialPort could not open %s: %s\n", qPrintable(path), qPrintable(port.errorString()));
        return;
    }
    const QByteArray frame = requestFrame();
    for (int i = 0; i < count; ++i) {
        const qint64 start = nowNs();
        port.write(frame);
        port.waitForBytesWritten(100);
        QByteArray reply;
        while (reply.size() < 12 && port.waitForReadyRead(150))
            reply += port.readAll();
        if (figures != nullptr)
            figures->add(nowNs() - start);
    }
}
#endif

/// The link with time stamps where its thread starts and where the reply is handed over.
class TimedLink : public D415Link
{
public:
    std::atomic<qint64> runEntered {0};
    std::atomic<qint64> replyHandled {0};
    std::atomic<int> threadStarts {0};

protected:
    void run() override
    {
        runEntered.store(nowNs());
        threadStarts.fetch_add(1);
        D415Link::run();
    }
    void handleReplies(const quint8 *request, quint16 requestLength, const quint8 *reply, quint16 replyLength,
        quint32 framesReceived, quint32 framesExpected) override
    {
        replyHandled.store(nowNs());
        D415Link::handleReplies(request, requestLength, reply, replyLength, framesReceived, framesExpected);
    }
};

struct LinkFigures
{
    Figures roundTrip;
    Figures threadStart; // sendCommandPacket to run() of a newly started exchange thread
    Figures lineTime; // run() (or the send, when the thread was still there) to handleReplies
    Figures delivery; // handleReplies to the slot on the main thread
    int exchanges = 0;
    int failures = 0;
    int threadStarts = 0;
};

void ourLink(const QString &name, int count, LinkFigures *figures)
{
    TimedLink link;
    link.openPort(name);
    link.setReplyTimeout(150);
    link.setBaudRate(38400);
    D415DataPacket packet;
    packet.reset();
    packet.destinationAddress = 30;
    QEventLoop loop;
    int done = 0;
    qint64 sentAt = 0;
    const auto sendNext = [&] {
        sentAt = nowNs();
        link.sendCommandPacket(packet);
    };
    QObject::connect(
        &link, &D415Link::replyPacketReceived, &loop,
        [&](D415DataPacket reply, quint32 index, quint32) {
            const qint64 arrived = nowNs();
            if (figures != nullptr) {
                figures->roundTrip.add(arrived - sentAt);
                const qint64 runAt = link.runEntered.load();
                const qint64 handledAt = link.replyHandled.load();
                if (runAt >= sentAt) {
                    figures->threadStart.add(runAt - sentAt);
                    figures->lineTime.add(handledAt - runAt);
                } else {
                    figures->lineTime.add(handledAt - sentAt);
                }
                figures->delivery.add(arrived - handledAt);
                ++figures->exchanges;
                if (index == 0 || reply.linkResult != 0)
                    ++figures->failures;
            }
            if (++done == count)
                loop.quit();
            else
                sendNext();
        },
        Qt::QueuedConnection);
    const int startsBefore = link.threadStarts.load();
    QTimer::singleShot(0, &loop, sendNext);
    loop.exec();
    if (figures != nullptr)
        figures->threadStarts += link.threadStarts.load() - startsBefore;
}

double cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

void idleCpu(const QString &name)
{
    D415Link link;
    link.openPort(name);
    link.setReplyTimeout(150);
    link.setBaudRate(38400);
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    const double before = cpuMs();
    loop.exec();
    const double used = cpuMs() - before;
    std::printf(
        "\nIdle, port open, no requests, 10 s: %.2f ms of CPU (goal: under 10 ms); exchange thread running: %s\n", used,
        link.isRunning() ? "yes" : "no");
}

template<typename Op> double nsPerCall(int count, Op op)
{
    const qint64 start = nowNs();
    for (int i = 0; i < count; ++i)
        op(i);
    return double(nowNs() - start) / count;
}

void pieces()
{
    D415DataPacket packet;
    packet.reset();
    packet.destinationAddress = 30;
    quint8 wire[12];
    packet.toWire(wire);
    volatile quint8 sink = 0;
    const double copy = nsPerCall(1000000, [&](int) {
        D415DataPacket copied(packet);
        sink = copied.command;
    });
    const double encode = nsPerCall(1000000, [&](int) { sink = quint8(packet.toWire(wire)); });
    D415DataPacket decoded;
    const double decode = nsPerCall(1000000, [&](int) { sink = quint8(decoded.fromWire(wire, 12)); });
    Q_UNUSED(sink);
    std::printf("Packet: copy %.0f ns, toWire %.0f ns, fromWire %.0f ns\n", copy, encode, decode);
}

void printRow(const char *what, Figures &f, double floorMedian)
{
    const double median = f.percentileUs(50);
    std::printf("%-34s median %7.1f us   p99 %7.1f us   overhead over the floor (median) %7.1f us\n", what, median,
        f.percentileUs(99), median - floorMedian);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir workDir;
    QDir::setCurrent(workDir.path());
    PtyDoser doser;
    if (!doser.isValid() || !doser.linkAs(QStringLiteral("bench"))) {
        std::fputs("no pseudo-terminal\n", stderr);
        return 1;
    }
    const QString name = QStringLiteral("bench");
    const QString path = doser.slavePath();

    Figures floor;
    LinkFigures ours;
    Figures qt;
    bareTermios(path, WarmUp, nullptr);
    ourLink(name, WarmUp, nullptr);
#ifdef HAVE_QSERIALPORT
    qtSerialPort(path, WarmUp, nullptr);
#endif
    // Rounds in turn, so that a busy moment of the machine falls on all three alike.
    for (int round = 0; round < Rounds; ++round) {
        bareTermios(path, PerRound, &floor);
        ourLink(name, PerRound, &ours);
#ifdef HAVE_QSERIALPORT
        qtSerialPort(path, PerRound, &qt);
#endif
    }

    std::printf("Round trip of one 12-byte request and its 12-byte reply on a pseudo-terminal, %d exchanges each\n\n",
        Rounds * PerRound);
    const double floorMedian = floor.percentileUs(50);
    printRow("bare termios write/poll/read", floor, floorMedian);
    printRow("D415Link, reply slot on main thread", ours.roundTrip, floorMedian);
#ifdef HAVE_QSERIALPORT
    printRow("QSerialPort, blocking", qt, floorMedian);
#else
    std::printf("QSerialPort: not installed (qt6-serialport-dev), not compared\n");
#endif
    std::printf("\nD415Link failures: %d of %d; exchange threads started: %d\n", ours.failures, ours.exchanges,
        ours.threadStarts);
    std::printf("Where D415Link's time goes:\n");
    std::printf(
        "  send to exchange thread running   median %7.1f us   p99 %7.1f us  (%zu exchanges started a thread)\n",
        ours.threadStart.percentileUs(50), ours.threadStart.percentileUs(99), ours.threadStart.samples.size());
    std::printf("  write, wait for the reply, read   median %7.1f us   p99 %7.1f us\n", ours.lineTime.percentileUs(50),
        ours.lineTime.percentileUs(99));
    std::printf("  queued delivery to the main slot  median %7.1f us   p99 %7.1f us\n", ours.delivery.percentileUs(50),
        ours.delivery.percentileUs(99));
    pieces();

    idleCpu(name);
    return 0;
}
