// How soon the station talks again on a line that comes back: the doser simulator's line hangs up, stays
// away for a while and returns, round after round. The simulator's own log times both ends: the line's
// reappearance ("SIM ready ...") and the first request the station sends on it ("REQ ...").
//
//     bench_reconnect [rounds, 10 by default] [ms away, 2000 by default; each round adds up to 1 s more]
#include "benchstation.h"
#include "d415_fendrix.h"
#include "simulatorprocess.h"
#include "testworkdir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QRandomGenerator>
#include <QTest>
#include <QTime>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString ready = QStringLiteral(" SIM ready ");
const QString request = QStringLiteral(" REQ ");

// Milliseconds since midnight of a simulator log line ("hh:mm:ss.zzz TAG ..."), or -1.
int timeOf(const QString &line)
{
    const QTime time = QTime::fromString(line.left(12), QStringLiteral("hh:mm:ss.zzz"));
    return time.isValid() ? time.msecsSinceStartOfDay() : -1;
}

// From the last reappearance of the line to the first request after it, in ms; -1 while there is none.
int returnToFirstRequest(const QStringList &lines)
{
    qsizetype back = -1;
    for (qsizetype i = lines.size() - 1; i >= 0 && back < 0; --i) {
        if (lines.at(i).contains(ready))
            back = i;
    }
    if (back < 0)
        return -1;
    for (qsizetype i = back + 1; i < lines.size(); ++i) {
        if (lines.at(i).contains(request)) {
            int ms = timeOf(lines.at(i)) - timeOf(lines.at(back));
            if (ms < 0)
                ms += 24 * 3600 * 1000; // past midnight
            return ms;
        }
    }
    return -1;
}

bool waitFor(const QLabel *state, const QString &text, int timeoutMs)
{
    return QTest::qWaitFor([&] { return state->text() == text; }, timeoutMs);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 10;
    const int awayMs = argc > 2 ? std::max(0, QString::fromLocal8Bit(argv[2]).toInt()) : 2000;

    TestWorkDir dir;
    SimulatorProcess sim;
    if (!BenchStation::startSimulator(sim))
        return 1;
    BenchStation::quietStationLog();

    D415_Fendrix window;
    if (!BenchStation::showUntilConnected(window))
        return 1;
    auto *state = window.findChild<QLabel *>(QStringLiteral("stateD415_11"));

    std::printf("line away %d to %d ms, %d rounds: from the line's return to the station's first request\n", awayMs,
        awayMs + 1000, rounds);
    std::vector<int> delays;
    for (int round = 0; round < rounds; ++round) {
        if (!sim.dropLine() || !waitFor(state, QStringLiteral("НЕТ СВЯЗИ"), 5000)) {
            std::printf("round %d: the station did not notice the lost line\n", round + 1);
            return 1;
        }
        // A varying absence meets the station's once-a-second attempt at every phase.
        QTest::qWait(awayMs + int(QRandomGenerator::global()->bounded(1000)));
        if (!sim.reconnectLine()) {
            std::printf("round %d: %s\n", round + 1, qPrintable(sim.lastError()));
            return 1;
        }
        int ms = -1;
        const bool polled = QTest::qWaitFor([&] { return (ms = returnToFirstRequest(sim.logLines())) >= 0; }, 10000);
        if (!polled || !waitFor(state, QStringLiteral("ОСТАНОВ"), 5000)) {
            std::printf("round %d: the station did not come back\n", round + 1);
            return 1;
        }
        std::printf("round %2d: %5d ms\n", round + 1, ms);
        delays.push_back(ms);
    }
    std::sort(delays.begin(), delays.end());
    const int median = delays[delays.size() / 2];
    const int longest = delays.back();
    std::printf(
        "median %d ms, longest %d ms; goal below 2000 ms: %s\n", median, longest, longest < 2000 ? "met" : "NOT met");
    window.hide();
    return 0;
}
