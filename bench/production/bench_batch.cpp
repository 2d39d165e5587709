// Time per dose of an automatic batch against a doser that fills at once, beside the floor the station's
// own ticks allow: a dose takes one 160 ms cycle tick to be sent and one to be found weighed (the lifetime
// counter changed), its discharge goes out on that second tick and the next fill on the third.
//
//     bench_batch [doses, 40 by default]
#include "benchstation.h"
#include "d415_fendrix.h"
#include "modalanswerer.h"
#include "simulatorprocess.h"
#include "testworkdir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include <cstdio>

using namespace BenchStation;

namespace {

int countOf(const SimulatorProcess &sim, int command, int parameter)
{
    int n = 0;
    for (const auto &request : sim.requestCommands())
        n += request.first == command && request.second == parameter ? 1 : 0;
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int doses = argc > 1 ? std::max(2, QString::fromLocal8Bit(argv[1]).toInt()) : 40;

    TestWorkDir dir;
    SimulatorProcess sim;
    // A maximum dose of 10: the target is split into doses a little below it.
    if (!startSimulator(sim, {"--fill-time", "0", "--discharge-time", "0", "--max-dose", "10", "--plus", "0.5"}))
        return 1;
    quietStationLog();

    D415_Fendrix window;
    if (!showUntilConnected(window))
        return 1;
    const double target = 9.5 * doses;
    window.changeD415Product(0, QStringLiteral("Сахар"));
    window.setWeight(QString::number(target, 'f', 1), QStringLiteral("11"));

    ModalAnswerer start(QStringLiteral("Да"));
    ModalAnswerer finished(QStringLiteral("Ok"), 600000);
    sim.clearRequests();
    QElapsedTimer clock;
    clock.start();
    window.startButton();
    if (!waitUntil([&] { return finished.answered(); }, 600000)) {
        std::printf("the batch did not finish\n");
        return 1;
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const int fills = countOf(sim, 14, 0);
    const int discharges = countOf(sim, 20, 0);
    const int counterReads = countOf(sim, 24, 20);
    const int requests = sim.requestCount();

    std::printf("automatic batch of %.1f kg with a doser that fills at once\n", target);
    std::printf("  doses filled            %d (discharges %d, including the preparatory one)\n", fills, discharges);
    std::printf("  batch time              %.2f s\n", seconds);
    std::printf("  time per dose           %.0f ms\n", seconds * 1000.0 / fills);
    std::printf("  cycle ticks per dose    %.2f (one tick = 160 ms, two lifetime-counter requests)\n",
        double(counterReads) / fills);
    std::printf("  requests per dose       %.2f (%d in all)\n", double(requests) / fills, requests);
    std::printf("  floor of the design     320 ms per dose: a fill on one tick, the changed counter and the\n"
                "                          discharge on the next, the next fill on the tick after it\n");
    return 0;
}
