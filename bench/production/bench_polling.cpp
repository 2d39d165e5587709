// How responsive the station's GUI thread stays while it polls the doser: a 10 ms probe timer runs beside
// the window, and every tick records how late it came. First with the doser answering, then with it
// silent (each request then costs the 150 ms reply time-out while the 100 ms pauses run).
//
//     bench_polling [seconds per phase, 30 by default]
#include "benchstation.h"
#include "d415_fendrix.h"
#include "simulatorprocess.h"
#include "testworkdir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Lateness
{
    double maxMs = 0;
    double p99Ms = 0;
    double medianMs = 0;
    size_t ticks = 0;
};

/// Runs the event loop for @p seconds with a 10 ms timer and measures how late each tick is.
Lateness probe(int seconds)
{
    std::vector<double> late;
    QElapsedTimer clock;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    qint64 previous = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        late.push_back(std::max(0.0, double(now - previous) / 1e6 - 10.0));
        previous = now;
    });
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    clock.start();
    tick.start(10);
    loop.exec();
    tick.stop();
    Lateness result;
    if (late.empty())
        return result;
    std::sort(late.begin(), late.end());
    result.ticks = late.size();
    result.maxMs = late.back();
    result.p99Ms = late[std::min(late.size() - 1, size_t(double(late.size()) * 0.99))];
    result.medianMs = late[late.size() / 2];
    return result;
}

void report(const char *phase, const Lateness &l)
{
    std::printf("%-28s ticks %6zu   median late %6.2f ms   p99 late %7.2f ms   longest late %7.2f ms\n", phase, l.ticks,
        l.medianMs, l.p99Ms, l.maxMs);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 30;

    TestWorkDir dir;
    SimulatorProcess sim;
    if (!BenchStation::startSimulator(sim))
        return 1;
    BenchStation::quietStationLog();

    D415_Fendrix window;
    if (!BenchStation::showUntilConnected(window))
        return 1;

    std::printf("GUI thread lateness of a 10 ms timer, %d s per phase\n", seconds);
    const int answeringBefore = sim.requestCount();
    const Lateness answering = probe(seconds);
    report("doser answering", answering);
    std::printf("%-28s %d requests (%.1f per second)\n", "", sim.requestCount() - answeringBefore,
        double(sim.requestCount() - answeringBefore) / seconds);

    sim.setSilent(true);
    const int silentBefore = sim.requestCount();
    const Lateness silent = probe(seconds);
    report("doser silent", silent);
    std::printf("%-28s %d requests (%.1f per second)\n", "", sim.requestCount() - silentBefore,
        double(sim.requestCount() - silentBefore) / seconds);
    sim.setSilent(false);

    std::printf("goal: longest below 150 ms + one frame, p99 below 20 ms while the doser answers: %s\n",
        silent.maxMs < 160 && answering.maxMs < 160 && answering.p99Ms < 20 ? "met" : "NOT met");
    window.hide();
    return 0;
}
