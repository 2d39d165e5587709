// A long soak of the station's polling against a doser that misbehaves: every 2 to 5 s one random line
// fault (a garbled, cut, junk-prefixed, late or dropped reply), and every few minutes the line hung up
// for 3 s and given back. Counted: every value the panel paints that is not the doser's (goal 0), every
// alarm shown while the line was sound (goal 0), the time from each return of the line to the first
// request on it (goal under 2 s), CPU per minute and resident memory at start and end.
//
//     bench_soak [minutes, 30 by default] [seed]
#include "benchstation.h"
#include "d415_fendrix.h"
#include "simulatorprocess.h"
#include "testworkdir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QLabel>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKiB()
{
    long pages = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

/// Watches what the panel's labels paint: once the station has settled, each label may show only the
/// text it settled on; the state label may show "НЕТ СВЯЗИ" only while the line is down or coming back.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(QWidget *window)
    {
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (!label->accessibleName().isEmpty())
                m_labels.append(label);
        }
    }

    void settle()
    {
        for (QLabel *label : std::as_const(m_labels)) {
            m_settled.insert(label, label->text());
            label->installEventFilter(this);
        }
    }
    void setLineDown(bool down) { m_lineDown = down; }

    int paints = 0;
    int wrongValues = 0;
    int falseAlarms = 0;
    QStringList examples;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        ++paints;
        auto *label = static_cast<QLabel *>(watched);
        const QString shown = label->text();
        if (shown == m_settled.value(label) || shown == m_lastWrong.value(label))
            return false;
        if (label->objectName() == QLatin1String("stateD415_11")) {
            if (shown == QStringLiteral("НЕТ СВЯЗИ") && m_lineDown)
                return false;
            ++falseAlarms;
        } else {
            ++wrongValues;
        }
        m_lastWrong.insert(label, shown);
        if (examples.size() < 10)
            examples << label->objectName() + QStringLiteral(": ") + shown;
        return false;
    }

private:
    QList<QLabel *> m_labels;
    QHash<QLabel *, QString> m_settled;
    QHash<QLabel *, QString> m_lastWrong;
    bool m_lineDown = false;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int minutes = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 30;
    QRandomGenerator random(argc > 2 ? QString::fromLocal8Bit(argv[2]).toUInt() : 415u);

    TestWorkDir dir;
    SimulatorProcess sim;
    if (!BenchStation::startSimulator(sim, {QStringLiteral("--noise"), QStringLiteral("0")}))
        return 1;
    // Values with a decimal point and large counters show a misread at once.
    for (const char *command : {"set net 123.4", "set shift-weight 98765", "set lifetime-weight 1234567",
             "set shift-doses 321", "set lifetime-doses 54321"})
        sim.command(QString::fromLatin1(command));
    BenchStation::quietStationLog();

    D415_Fendrix window;
    if (!BenchStation::showUntilConnected(window))
        return 1;
    runFor(3000);
    QElapsedTimer clock;
    PaintWatch watch(&window);
    watch.settle();

    const QStringList faults = {QStringLiteral("badcrc"), QStringLiteral("partial"), QStringLiteral("slow 1 400"),
        QStringLiteral("silence 1"), QStringLiteral("wrongaddress"), QStringLiteral("junk")};
    QHash<QString, int> played;
    std::vector<double> returns;
    std::vector<double> cpuPerMinute;
    const long residentStart = residentKiB();
    double cpuMark = cpuSeconds();
    qint64 minuteMark = 0;
    qint64 nextHangUp = 60'000 + random.bounded(120'000);
    const qint64 end = qint64(minutes) * 60'000;
    clock.restart();
    while (clock.elapsed() < end) {
        runFor(2000 + int(random.bounded(3000)));
        if (clock.elapsed() >= nextHangUp) {
            watch.setLineDown(true);
            sim.command(QStringLiteral("drop"));
            runFor(3000);
            const int before = sim.requestCount();
            sim.command(QStringLiteral("reconnect"));
            QElapsedTimer back;
            back.start();
            while (sim.requestCount() == before && back.elapsed() < 30'000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            returns.push_back(double(back.elapsed()));
            // The connection test and the first polls after the return bring the panel back.
            runFor(1500);
            watch.setLineDown(false);
            ++played[QStringLiteral("hang-up")];
            nextHangUp = clock.elapsed() + 120'000 + random.bounded(120'000);
        } else {
            const QString fault = faults.at(int(random.bounded(qsizetype(faults.size()))));
            sim.command(fault);
            ++played[fault.section(QLatin1Char(' '), 0, 0)];
        }
        sim.clearLog();
        if (clock.elapsed() - minuteMark >= 60'000) {
            const double now = cpuSeconds();
            cpuPerMinute.push_back((now - cpuMark) * 60'000.0 / double(clock.elapsed() - minuteMark));
            cpuMark = now;
            minuteMark = clock.elapsed();
        }
    }
    const long residentEnd = residentKiB();

    std::sort(returns.begin(), returns.end());
    std::sort(cpuPerMinute.begin(), cpuPerMinute.end());
    int faultCount = 0;
    std::printf("soak of %d min, one fault every 2-5 s:", minutes);
    for (auto it = played.cbegin(); it != played.cend(); ++it) {
        std::printf(" %s %d", qPrintable(it.key()), it.value());
        faultCount += it.value();
    }
    std::printf(" (%d in all)\n", faultCount);
    std::printf("label paints watched: %d\nwrong values painted: %d (goal 0)\nfalse alarms painted: %d (goal 0)\n",
        watch.paints, watch.wrongValues, watch.falseAlarms);
    for (const QString &example : std::as_const(watch.examples))
        std::printf("  e.g. %s\n", qPrintable(example));
    if (!returns.empty())
        std::printf("line return to first request: median %.0f ms, longest %.0f ms over %zu returns (goal < 2000)\n",
            returns[returns.size() / 2], returns.back(), returns.size());
    if (!cpuPerMinute.empty())
        std::printf(
            "CPU per minute: median %.2f s, most %.2f s\n", cpuPerMinute[cpuPerMinute.size() / 2], cpuPerMinute.back());
    std::printf("resident memory: %ld KiB at start, %ld KiB at end\n", residentStart, residentEnd);
    window.hide();
    return watch.wrongValues == 0 && watch.falseAlarms == 0 ? 0 : 1;
}
