// What journal writes cost a batch: the time per dose of an automatic batch against a doser that fills at
// once, first as the station runs it (its own events: the start and the finish), then with a journal event
// written on the GUI thread at every 160 ms cycle tick besides, about two per dose, more than any real run
// of events. Then the cost of one event on its own, on the same disk.
//
//     bench_journalwrites [doses, 40 by default]
#include "benchstation.h"
#include "d415_fendrix.h"
#include "eventjournal.h"
#include "modalanswerer.h"
#include "simulatorprocess.h"
#include "sqlitequery.h"
#include "testworkdir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
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

struct BatchFigures
{
    double msPerDose = -1;
    int fills = 0;
    int extraEvents = 0;
};

BatchFigures runBatch(int doses, bool extraWrites)
{
    TestWorkDir dir;
    quietStationLog();
    SimulatorProcess sim;
    if (!startSimulator(sim, {"--fill-time", "0", "--discharge-time", "0", "--max-dose", "10", "--plus", "0.5"}))
        return {};
    D415_Fendrix window;
    if (!showUntilConnected(window))
        return {};
    window.changeD415Product(0, QStringLiteral("Сахар"));
    window.setWeight(QString::number(9.5 * doses, 'f', 1), QStringLiteral("11"));

    SqliteQuery connection;
    connection.openQuietly(QStringLiteral("data.db"));
    EventJournal journal(connection);
    BatchFigures figures;
    QTimer writer;
    QObject::connect(&writer, &QTimer::timeout, [&] {
        journal.record(30, QStringLiteral("command"), QStringLiteral("событие при дозе"), 1);
        ++figures.extraEvents;
    });

    ModalAnswerer start(QStringLiteral("Да"));
    ModalAnswerer finished(QStringLiteral("Ok"), 600000);
    sim.clearRequests();
    QElapsedTimer clock;
    clock.start();
    if (extraWrites)
        writer.start(160);
    window.startButton();
    if (!waitUntil([&] { return finished.answered(); }, 600000))
        return {};
    writer.stop();
    figures.fills = countOf(sim, 14, 0);
    figures.msPerDose = double(clock.nsecsElapsed()) / 1e6 / std::max(1, figures.fills);
    return figures;
}

double medianRecordUs(int events)
{
    TestWorkDir dir;
    SqliteQuery connection;
    connection.openQuietly(QStringLiteral("data.db"));
    for (const QString &statement : EventJournal::createStatements())
        connection.runQuery(statement);
    EventJournal journal(connection);
    QList<double> times;
    for (int i = 0; i < events; ++i) {
        QElapsedTimer timer;
        timer.start();
        journal.record(30, QStringLiteral("command"), QStringLiteral("Разгрузить ГПУ"), 1);
        times << double(timer.nsecsElapsed()) / 1e3;
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

// Another program holds the write lock: the event waits the journal's short busy wait and is queued, then
// goes out with the next event once the lock is gone.
void lockedFile(double *waitedMs, int *queued, int *queuedAfter)
{
    TestWorkDir dir;
    SqliteQuery connection;
    connection.openQuietly(QStringLiteral("data.db"));
    for (const QString &statement : EventJournal::createStatements())
        connection.runQuery(statement);
    EventJournal journal(connection);
    SqliteQuery holder;
    holder.openQuietly(QStringLiteral("data.db"));
    holder.runQuery(QStringLiteral("BEGIN IMMEDIATE"));
    QElapsedTimer timer;
    timer.start();
    journal.record(30, QStringLiteral("lost"), QStringLiteral("Дозатор 30: НЕТ СВЯЗИ"), 1);
    *waitedMs = double(timer.nsecsElapsed()) / 1e6;
    *queued = journal.queued();
    holder.runQuery(QStringLiteral("COMMIT"));
    journal.record(30, QStringLiteral("back"), QStringLiteral("Дозатор 30 отвечает"), 1);
    *queuedAfter = journal.queued();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int doses = argc > 1 ? std::max(2, QString::fromLocal8Bit(argv[1]).toInt()) : 40;

    const BatchFigures plain = runBatch(doses, false);
    const BatchFigures written = runBatch(doses, true);
    const double recordUs = medianRecordUs(500);
    double lockedMs = 0;
    int queued = 0;
    int queuedAfter = 0;
    lockedFile(&lockedMs, &queued, &queuedAfter);
    if (plain.msPerDose < 0 || written.msPerDose < 0) {
        std::printf("a batch did not finish\n");
        return 1;
    }
    std::printf("automatic batch of %d doses with a doser that fills at once\n", doses);
    std::printf("  station's own events only        %6.0f ms per dose (%d fills)\n", plain.msPerDose, plain.fills);
    std::printf("  and an event every cycle tick    %6.0f ms per dose (%d fills, %d events, %.1f per dose)\n",
        written.msPerDose, written.fills, written.extraEvents, double(written.extraEvents) / written.fills);
    std::printf("  one event written (median)       %6.0f us\n", recordUs);
    std::printf("  one event, file locked elsewhere %6.1f ms, then %d queued; %d queued after the next event\n",
        lockedMs, queued, queuedAfter);
    return 0;
}
