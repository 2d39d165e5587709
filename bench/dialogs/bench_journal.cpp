// The event journal over ten years: a million events, about 270 a day. Times what the operator waits for
// in the real window (its opening with the newest page, the filter to one day) and the same statements
// in the sqlite3 shell on the same file (the statement alone, without the shell's start).
//
// Usage: bench_journal [folder]   (a temporary folder when none is given; the shell must be on PATH).
// A folder that already holds the generated file from an earlier run is used as it is.

#include "eventjournal.h"
#include "eventjournalwindow.h"
#include "sqlitequery.h"
#include "sqlitestatement.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

constexpr int Days = 3650;
constexpr int EventsPerDay = 274;
constexpr int Repeats = 9;
const QDate FirstDay(2016, 12, 8);
const QDate FilteredDay(2021, 6, 15);

const char *const Kinds[] = {"command", "start", "stop", "continue", "finish", "fault", "reset", "lost", "back"};

// One transaction, one bound statement: the file as years of the station leave it, in a few seconds.
void generate()
{
    SqliteQuery db;
    db.open(QStringLiteral("data.db"));
    for (const QString &statement : EventJournal::createStatements())
        db.runQuery(statement);
    db.runQuery(QStringLiteral("BEGIN"));
    SqliteStatement insert(db.connection(),
        QStringLiteral("INSERT INTO eventJournal (time, deviceId, kind, text, idButch) VALUES (?, ?, ?, ?, ?)"));
    const int stepMs = 24 * 3600 * 1000 / EventsPerDay;
    qint64 batch = 0;
    for (int day = 0; day < Days; ++day) {
        const QDateTime midnight(FirstDay.addDays(day), QTime(0, 0));
        for (int i = 0; i < EventsPerDay; ++i) {
            const int kind = (day * EventsPerDay + i) % int(std::size(Kinds));
            if (kind == 1)
                ++batch;
            insert.reset();
            insert.bindText(1, EventJournal::timeText(midnight.addMSecs(qint64(i) * stepMs + 137)));
            insert.bindInteger(2, 30);
            insert.bindText(3, QString::fromLatin1(Kinds[kind]));
            insert.bindText(4, QStringLiteral("продукт Мука высший сорт, выполнено 480.00 из 500.00 кг"));
            insert.bindInteger(5, batch);
            insert.execute();
        }
    }
    db.runQuery(QStringLiteral("COMMIT"));
}

class QuietStderr
{
public:
    QuietStderr()
    {
        std::fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        FILE *null = std::fopen("/dev/null", "w");
        dup2(fileno(null), STDERR_FILENO);
        std::fclose(null);
    }
    ~QuietStderr()
    {
        std::fflush(stderr);
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
    }

private:
    int m_saved = -1;
};

double medianOf(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

double medianMs(const std::function<void()> &step)
{
    QList<double> times;
    for (int i = 0; i < Repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        times << double(timer.nsecsElapsed()) / 1e6;
    }
    return medianOf(times);
}

// One shell session running @p statement @p runs times, its wall time from start to exit.
double shellSessionMs(const QString &statement, int runs)
{
    QString script = QStringLiteral(".output /dev/null\n");
    for (int i = 0; i < runs; ++i)
        script += statement + QStringLiteral(";\n");
    QProcess shell;
    QElapsedTimer timer;
    timer.start();
    shell.start(QStringLiteral("/usr/bin/sqlite3"), {QStringLiteral("data.db")});
    shell.write(script.toUtf8());
    shell.closeWriteChannel();
    if (!shell.waitForFinished(120000))
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

// The shell's ".timer on" rounds to whole milliseconds, too coarse for these statements: the time of
// one statement is the session with ShellRuns of them less the session with none, divided by ShellRuns.
double shellMs(const QString &statement)
{
    constexpr int ShellRuns = 200;
    QList<double> full, empty;
    for (int i = 0; i < 5; ++i) {
        full << shellSessionMs(statement, ShellRuns);
        empty << shellSessionMs(statement, 0);
    }
    return (medianOf(full) - medianOf(empty)) / ShellRuns;
}

QString queryPlan(SqliteQuery &db, const QString &statement)
{
    db.runQuery(QStringLiteral("EXPLAIN QUERY PLAN ") + statement);
    QStringList steps;
    for (int row = 0; row < db.rows(); ++row)
        steps << db.cell(row, db.columns() - 1);
    return steps.join(QStringLiteral("; "));
}

void line(const char *what, double ours, double shell)
{
    std::printf("  %-40s %9.2f ms   shell %7.2f ms   ratio %5.2f\n", what, ours, shell, shell > 0 ? ours / shell : 0);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    QDir().mkpath(folder);
    QDir::setCurrent(folder);

    SqliteQuery db;
    {
        QuietStderr quiet;
        db.open(QStringLiteral("data.db"));
        db.runQuery(QStringLiteral("SELECT count(*) FROM eventJournal"));
    }
    if (db.cell(0, 0).toLongLong() != qint64(Days) * EventsPerDay) {
        QElapsedTimer timer;
        timer.start();
        {
            QuietStderr quiet;
            generate();
        }
        std::printf("generated %d events in %.1f s\n", Days * EventsPerDay, double(timer.elapsed()) / 1000.0);
    }
    std::printf("journal of %d events (%d days, %d a day), file %.0f MB\n", Days * EventsPerDay, Days, EventsPerDay,
        double(QFileInfo(QStringLiteral("data.db")).size()) / 1e6);

    const QString columns = QStringLiteral("SELECT time, deviceId, kind, text, idButch FROM eventJournal ");
    const QString order
        = QStringLiteral(" ORDER BY time DESC, idEvent DESC LIMIT %1 OFFSET 0").arg(EventJournal::PageSize);
    const QString newest = columns + order;
    const QString oneDay = columns
        + QStringLiteral("WHERE time >= '%1' AND time < '%2'")
              .arg(FilteredDay.toString(QStringLiteral("yyyy-MM-dd")),
                  FilteredDay.addDays(1).toString(QStringLiteral("yyyy-MM-dd")))
        + order;
    QString plans;
    {
        QuietStderr quiet;
        plans = queryPlan(db, newest) + QStringLiteral(" | ") + queryPlan(db, oneDay);
    }
    std::printf("query plans: %s\n", qPrintable(plans));

    EventJournal journal(db);
    const double readNewest = medianMs([&] { journal.read(QDate(), 0, EventJournal::PageSize); });
    const double readDay = medianMs([&] { journal.read(FilteredDay, 0, EventJournal::PageSize); });
    double openWindow = 0;
    double filterDay = 0;
    {
        QuietStderr quiet;
        openWindow = medianMs([&] {
            EventJournalWindow window;
            window.showNewest();
            window.show();
            QApplication::processEvents();
        });
        EventJournalWindow window;
        window.show();
        filterDay = medianMs([&] {
            window.showDay(FilteredDay);
            QApplication::processEvents();
        });
    }
    const double shellNewest = shellMs(newest);
    const double shellDay = shellMs(oneDay);
    std::printf("medians of %d runs (wall time)\n", Repeats);
    line("newest page, statement (EventJournal)", readNewest, shellNewest);
    line("one day, statement (EventJournal)", readDay, shellDay);
    line("window opened, newest page shown", openWindow, shellNewest);
    line("window filtered to one day", filterDay, shellDay);
    return 0;
}
