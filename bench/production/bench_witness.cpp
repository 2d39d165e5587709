// Batches on one data.db through random station kills and random reply faults, each batch's dispensed
// weight (the simulator's totals) held against what data.db records for it.
//
//     bench_witness [kills, 100 by default] [reply faults, 200 by default]
#include "benchstation.h"
#include "boxanswerer.h"
#include "d415_fendrix.h"
#include "simulatorprocess.h"
#include "sqlitequery.h"
#include "testworkdir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdio>
#include <memory>
#include <random>

using namespace BenchStation;

namespace {

constexpr double Plus = 0.5;

struct Figures
{
    int batches = 0;
    int stuck = 0;
    int kills = 0;
    int replyFaults = 0;
    int discharges = 0;
    qint64 dispensedUnits = 0;
    qint64 recordedUnits = 0;
    int batchesOverTarget = 0; // something dispensed twice
    int batchesShort = 0; // something dispensed and not recorded
    qint64 lostUnits = 0;
    qint64 twiceUnits = 0;
    int writeFailures = 0;
};

void pump(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QString firstCell(const QString &statement)
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(statement);
    return query.cell(0, 0);
}

qint64 units(const QString &text)
{
    return std::llround(text.toDouble() * 10);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int killsWanted = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100;
    const int faultsWanted = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 200;

    TestWorkDir dir;
    SimulatorProcess sim;
    if (!startSimulator(sim,
            {"--fill-time", "0", "--discharge-time", "0", "--decimals", "1", "--max-dose", "10", "--plus", "0.5",
                "--noise", "0.3"}))
        return 1;
    quietStationLog();

    std::mt19937 random(16);
    const QStringList replyKinds {"fill", "discharge", "lifetime-weight", "netweight", "reset"};
    const QStringList replyFaults {"badcrc", "silence", "partial", "junk", "hold 400", "hangup 300"};
    const QStringList killKinds {"fill", "discharge", "lifetime-weight"};
    auto pick = [&](const QStringList &list) { return list.at(int(random() % list.size())); };

    BoxAnswerer boxes;
    const QString done = QStringLiteral("Задание выполнено");
    auto window = std::make_unique<D415_Fendrix>();
    if (!showUntilConnected(*window))
        return 1;

    Figures figures;
    QElapsedTimer total;
    total.start();
    while (figures.kills < killsWanted || figures.replyFaults < faultsWanted) {
        const double target = double(200 + int(random() % 400)) / 10.0;
        sim.command(QStringLiteral("clear"));
        const int aimedBefore = int(sim.aimedLines().size());
        const bool kill = figures.kills < killsWanted;
        QString killAim;
        if (kill) {
            killAim = QStringLiteral("%1 %2 mark").arg(1 + int(random() % 4)).arg(pick(killKinds));
            sim.command(QStringLiteral("at ") + killAim);
        }
        for (int i = 0; i < 2 && figures.replyFaults + i < faultsWanted; ++i)
            sim.command(
                QStringLiteral("at %1 %2 %3").arg(1 + int(random() % 6)).arg(pick(replyKinds), pick(replyFaults)));

        const SimulatorProcess::Totals before = sim.totals();
        const qsizetype boxesBefore = boxes.count();
        auto finished = [&] { return boxes.shown(done, boxesBefore); };
        window->changeD415Product(0, QStringLiteral("Сахар"));
        window->setWeight(QString::number(target, 'f', 1), QStringLiteral("11"));
        window->startButton();
        bool killed = false;
        QElapsedTimer batchClock;
        batchClock.start();
        while (!finished() && batchClock.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (kill && !killed && sim.aimedLines().filter(QStringLiteral("aimed ") + killAim).size() > 0) {
                killed = true;
                window.reset();
                window = std::make_unique<D415_Fendrix>();
                window->show();
                window->restoreLastSession();
                continue;
            }
            auto *resume = window->findChild<QPushButton *>(QStringLiteral("continueButton"));
            auto *start = window->findChild<QPushButton *>(QStringLiteral("startButton"));
            // Killed before its records were written, the batch is started anew.
            if (!finished() && start->isEnabled() && !resume->isEnabled() && !QApplication::activeModalWidget()) {
                pump(300);
                if (start->isEnabled() && !resume->isEnabled() && !finished()) {
                    window->changeD415Product(0, QStringLiteral("Сахар"));
                    window->setWeight(QString::number(target, 'f', 1), QStringLiteral("11"));
                    window->startButton();
                }
            }
            if (!finished() && resume->isEnabled() && !QApplication::activeModalWidget()) {
                pump(300);
                if (resume->isEnabled() && !finished())
                    window->continueButton();
            }
        }
        pump(200);
        const qint64 idButch = firstCell(QStringLiteral("SELECT max(idButch) FROM butch")).toLongLong();
        const QStringList fired = sim.aimedLines().mid(aimedBefore);
        figures.kills += killed ? 1 : 0;
        figures.replyFaults += int(fired.size()) - (killed ? 1 : 0);
        if (!finished()) {
            ++figures.stuck;
            std::printf("batch %lld did not finish\n", static_cast<long long>(idButch));
            break;
        }
        ++figures.batches;
        const SimulatorProcess::Totals after = sim.totals();
        const qint64 dispensed = units(after.weightText) - units(before.weightText);
        const qint64 recorded
            = units(firstCell(QStringLiteral("SELECT haveDoneWeight FROM task WHERE idButch = %1").arg(idButch)));
        figures.discharges += after.discharges - before.discharges;
        figures.dispensedUnits += dispensed;
        figures.recordedUnits += recorded;
        if (dispensed > recorded) {
            ++figures.batchesShort;
            figures.lostUnits += dispensed - recorded;
        }
        if (dispensed > units(QString::number(target + Plus, 'f', 1))) {
            ++figures.batchesOverTarget;
            figures.twiceUnits += dispensed - units(QString::number(target, 'f', 1));
        }
    }
    const double seconds = double(total.elapsed()) / 1000.0;
    window.reset();
    figures.writeFailures
        = int(boxes.texts().filter(QRegularExpression(QStringLiteral("^Не удалось записать"))).size());

    std::printf("batches on one data.db through station kills and reply faults\n");
    std::printf("  batches finished        %d (stuck %d)\n", figures.batches, figures.stuck);
    std::printf("  kills / reply faults    %d / %d (fired)\n", figures.kills, figures.replyFaults);
    std::printf("  doses dispensed         %d discharges of a loaded hopper, %.1f kg\n", figures.discharges,
        figures.dispensedUnits / 10.0);
    std::printf("  recorded                %.1f kg\n", figures.recordedUnits / 10.0);
    std::printf("  dispensed twice         %d batches over target + tolerance, %.1f kg\n", figures.batchesOverTarget,
        figures.twiceUnits / 10.0);
    std::printf("  lost                    %d batches with dispensed > recorded, %.1f kg\n", figures.batchesShort,
        figures.lostUnits / 10.0);
    std::printf("  integrity_check         %s\n", qPrintable(firstCell(QStringLiteral("PRAGMA integrity_check"))));
    std::printf("  time                    %.1f s\n", seconds);
    return 0;
}
