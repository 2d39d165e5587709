// The whole matrix of the fault sweep: the reference batch once clean, then once for every request it
// sends and every fault (garbled, cut, dropped, late, hung up, killed). Prints the runs, the bad cells by
// name (the goal is none), the wall time and the time per dose of the clean batch.
//
//     bench_faultsweep [first cell] [cells]     (all of them by default)
#include "faultsweep.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMap>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // The stations' log lines would bury the figures: they go to a file.
    std::fflush(stderr);
    [[maybe_unused]] FILE *log = std::freopen("bench_faultsweep.log", "w", stderr);

    QElapsedTimer wall;
    wall.start();
    const FaultSweep::Run clean = FaultSweep::run(nullptr);
    if (!clean.ok()) {
        std::printf("the clean batch failed: %s\n", qPrintable(clean.failure));
        return 1;
    }
    std::printf("reference batch: %lld requests, %d doses in %lld ms, %.0f ms "
                "per dose\n  %s\n",
        static_cast<long long>(clean.batchRequests.size()), clean.discharges, static_cast<long long>(clean.elapsedMs),
        double(clean.elapsedMs) / std::max(clean.discharges, 1), qPrintable(clean.batchRequests.join(' ')));
    std::fflush(stdout);

    const QList<FaultSweep::Cell> all = FaultSweep::matrix(clean.batchRequests);
    const qsizetype first = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 0;
    const qsizetype count = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : all.size();
    const QList<FaultSweep::Cell> cells = all.mid(first, count);
    int bad = 0;
    int unfired = 0;
    // What the operator was shown, by fault: the texts of the boxes and the states that explained stops.
    QMap<QString, QMap<QString, int>> shown;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        const FaultSweep::Cell &cell = cells.at(i);
        const FaultSweep::Run run = FaultSweep::run(&cell);
        unfired += run.aimFired ? 0 : 1;
        for (const QString &text : run.shown)
            ++shown[cell.fault.name][QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))];
        if (run.ok())
            continue;
        ++bad;
        std::printf("BAD %lld %s: %s\n    shown: %s\n", static_cast<long long>(first + i), qPrintable(cell.name()),
            qPrintable(run.failure), qPrintable(run.shown.join(QStringLiteral(" | "))));
        std::fflush(stdout);
    }
    for (auto fault = shown.cbegin(); fault != shown.cend(); ++fault) {
        std::printf("shown with \"%s\":\n", qPrintable(fault.key()));
        for (auto text = fault->cbegin(); text != fault->cend(); ++text)
            std::printf("  %5d  %s\n", text.value(), qPrintable(text.key()));
    }
    std::printf("runs %lld (of %lld in the matrix), bad cells %d, aims that did not fire %d, wall time %.1f s\n",
        static_cast<long long>(cells.size()), static_cast<long long>(all.size()), bad, unfired,
        double(wall.elapsed()) / 1000.0);
    return 0;
}
