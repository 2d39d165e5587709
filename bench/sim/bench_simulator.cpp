// How fast the doser simulator answers: round trips of one request on its pseudo-terminal, from a
// bare termios write/poll/read loop, against its promise of a reply within 1 ms; then what an idle
// simulator costs (CPU over 5 s, resident memory). Prints its figures; not a test.

#include "d415datapacket.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Requests = 5000;
constexpr int WarmUp = 200;

qint64 nowNs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

QByteArray request(int command, int parameter)
{
    D415DataPacket packet;
    packet.reset();
    packet.destinationAddress = 30;
    packet.command = quint8(command);
    packet.parameter = quint8(parameter);
    quint8 wire[D415DataPacket::FrameSize];
    packet.toWire(wire);
    return QByteArray(reinterpret_cast<const char *>(wire), D415DataPacket::FrameSize);
}

// One request, the whole reply; -1 when it did not come within 150 ms.
qint64 roundTripNs(int fd, const QByteArray &frame)
{
    const qint64 start = nowNs();
    if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
        return -1;
    int got = 0;
    char buffer[D415DataPacket::FrameSize];
    while (got < D415DataPacket::FrameSize) {
        pollfd descriptor {fd, POLLIN, 0};
        if (::poll(&descriptor, 1, 150) <= 0)
            return -1;
        const ssize_t n = ::read(fd, buffer + got, size_t(D415DataPacket::FrameSize - got));
        if (n <= 0)
            return -1;
        got += int(n);
    }
    return nowNs() - start;
}

// utime + stime of a process, in clock ticks, and its resident set in kB.
void processCost(qint64 pid, long *ticks, long *residentKb)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = stat.readAll().split(' ');
        *ticks = fields.value(13).toLong() + fields.value(14).toLong();
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                *residentKb = line.simplified().split(' ').value(1).toLong();
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir work;
    QProcess simulator;
    simulator.setWorkingDirectory(work.path());
    // The log goes to a file, as on a commissioning station.
    simulator.setStandardErrorFile(work.filePath(QStringLiteral("sim.log")));
    simulator.start(QStringLiteral(D415_SIM_PROGRAM), {QStringLiteral("--exit-on-eof")});
    const QString link = work.filePath(QStringLiteral("ports/d415"));
    for (int i = 0; i < 500 && !QFileInfo(link).isSymLink(); ++i)
        QThread::msleep(10);
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::fprintf(stderr, "no simulator line at %s\n", qPrintable(link));
        return 1;
    }
    termios settings {};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);

    const QByteArray frames[] = {request(0, 0), request(24, 20), request(24, 19), request(44, 1)};
    std::vector<qint64> samples;
    int lost = 0;
    for (int i = 0; i < WarmUp + Requests; ++i) {
        const qint64 ns = roundTripNs(fd, frames[i % 4]);
        if (ns < 0)
            ++lost;
        else if (i >= WarmUp)
            samples.push_back(ns);
    }
    std::sort(samples.begin(), samples.end());
    const auto percentile = [&](double p) {
        return samples.empty() ? 0.0
                               : double(samples[std::min(samples.size() - 1, size_t(p / 100 * samples.size()))]) / 1000;
    };
    const auto late = std::count_if(samples.begin(), samples.end(), [](qint64 ns) { return ns > 1000000; });
    std::printf("d415-sim round trip over its pseudo-terminal, %d requests (net weight, counters, scale):\n", Requests);
    std::printf("  median %.0f us, p90 %.0f us, p99 %.0f us, max %.0f us; over 1 ms: %ld; lost: %d\n", percentile(50),
        percentile(90), percentile(99), percentile(100), long(late), lost);

    long ticksBefore = 0, ticksAfter = 0, resident = 0;
    processCost(simulator.processId(), &ticksBefore, &resident);
    QThread::sleep(5);
    processCost(simulator.processId(), &ticksAfter, &resident);
    std::printf("idle simulator: %.0f ms of CPU in 5 s, %ld kB resident\n",
        double(ticksAfter - ticksBefore) * 1000.0 / double(sysconf(_SC_CLK_TCK)), resident);

    ::close(fd);
    simulator.terminate();
    simulator.waitForFinished(5000);
    return 0;
}
