// Statistics over ten years of production: 50 batches a day with one task each, 40 products, all three
// weight units. Times the whole-range table and its CSV export in the real dialog, and runs the same
// statements through the sqlite3 shell on the same file as the floor.
//
// Usage: bench_stat [folder]   (a temporary folder when none is given; the shell must be on PATH).
// A folder that already holds the generated file from an earlier run is used as it is.

#include "sqlitequery.h"
#include "stat.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int Days = 3650;
constexpr int BatchesPerDay = 50;
constexpr int Products = 40;
constexpr int RowsPerInsert = 500;
constexpr int Repeats = 7;

struct Unit
{
    const char *name;
    const char *target;
    const char *done;
    const char *left;
};
// Targets and results as the doser formats them: its number of decimals differs with the unit.
const Unit Units[]
    = {{"г", "500.0", "499.6", "0.4"}, {"кг", "25.00", "24.98", "0.02"}, {"т", "1.250", "1.249", "0.001"}};

QStringList productNames()
{
    const QStringList kinds {"Мука", "Сахар", "Соль", "Крахмал", "Какао", "Сухое молоко", "Дрожжи", "Разрыхлитель"};
    const QStringList grades {"высший сорт", "первый сорт", "второй сорт", "\"Экстра\"", "O'Kelly"};
    QStringList names;
    for (const QString &kind : kinds) {
        for (const QString &grade : grades)
            names << kind + QLatin1Char(' ') + grade;
    }
    return names;
}

QString q(const QString &text)
{
    return SqliteQuery::literal(text);
}

// Multi-row inserts in one transaction: the file is written the way the main window leaves it,
// without waiting 365,000 times for the disk.
void generate()
{
    SqliteQuery db;
    db.open(QStringLiteral("data.db"));
    db.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS admin (password TEXT);"));
    db.runQuery(
        QStringLiteral("CREATE TABLE IF NOT EXISTS product (idProduct INTEGER PRIMARY KEY, productName TEXT);"));
    db.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS butch (idButch INTEGER PRIMARY KEY, date TEXT, startTime "
                               "TEXT, endTime TEXT, endDate TEXT);"));
    db.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS task (idButch INTEGER, deviceId INTEGER, startTime TEXT, "
                               "endTime TEXT, taskWeight TEXT, haveDoneWeight TEXT, mustToBeDoneWeight TEXT, "
                               "productName TEXT, weightScale TEXT, startDate TEXT, endDate TEXT);"));
    const QStringList names = productNames();
    db.runQuery(QStringLiteral("BEGIN;"));
    for (const QString &name : names)
        db.runQuery(QStringLiteral("INSERT INTO product (idProduct, productName) values (NULL, %1);").arg(q(name)));

    const QDate firstDay(2015, 1, 1);
    QStringList butchRows;
    QStringList taskRows;
    auto flush = [&] {
        db.runQuery(QStringLiteral("INSERT INTO butch (idButch, date, startTime, endTime, endDate) values %1;")
                        .arg(butchRows.join(QLatin1Char(','))));
        db.runQuery(QStringLiteral("INSERT INTO task (idButch, deviceId, startTime, endTime, taskWeight, "
                                   "haveDoneWeight, mustToBeDoneWeight, productName, weightScale, startDate, "
                                   "endDate) values %1;")
                        .arg(taskRows.join(QLatin1Char(','))));
        butchRows.clear();
        taskRows.clear();
    };
    int id = 0;
    for (int day = 0; day < Days; ++day) {
        const QString date = q(firstDay.addDays(day).toString(QStringLiteral("dd.MM.yyyy")));
        for (int batch = 0; batch < BatchesPerDay; ++batch) {
            ++id;
            const QTime start = QTime(6, 0).addSecs(batch * 15 * 60);
            const QString startTime = q(start.toString(QStringLiteral("hh:mm")));
            const QString endTime = q(start.addSecs(12 * 60).toString(QStringLiteral("hh:mm")));
            const Unit &unit = Units[(id / Products) % 3];
            butchRows << QStringLiteral("(%1, %2, %3, %4, %2)").arg(QString::number(id), date, startTime, endTime);
            taskRows << QStringLiteral("(%1, '30', %2, %3, %4, %5, %6, %7, %8, %9, %9)")
                            .arg(QString::number(id), startTime, endTime, q(unit.target), q(unit.done), q(unit.left),
                                q(names.at(id % Products)), q(QString::fromUtf8(unit.name)), date);
            if (butchRows.size() == RowsPerInsert)
                flush();
        }
    }
    if (!butchRows.isEmpty())
        flush();
    db.runQuery(QStringLiteral("COMMIT;"));
}

// The system writes a log line per statement to standard error; they would drown the figures.
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

// Wall time, and the processor time spent on it: on a machine shared with other work the wall time
// varies with the load, the processor time much less.
struct Timing
{
    double wall = 0;
    double cpu = 0;
};

double cpuMs(const timespec &t)
{
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double processCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return cpuMs(now);
}

double childrenCpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)) * 1e3
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

Timing timeOnce(const std::function<void()> &step)
{
    QElapsedTimer timer;
    const double cpu = processCpuMs();
    timer.start();
    step();
    return {double(timer.nsecsElapsed()) / 1e6, processCpuMs() - cpu};
}

// One shell run from start to exit, its output thrown away.
Timing shellRun(const QString &file, const QString &statements)
{
    QProcess shell;
    shell.setStandardInputFile(statements);
    shell.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    const double cpu = childrenCpuMs();
    timer.start();
    shell.start(QStringLiteral("sqlite3"), {file});
    if (!shell.waitForFinished(120000) || shell.exitStatus() != QProcess::NormalExit || shell.exitCode() != 0)
        return {-1, -1};
    return {double(timer.nsecsElapsed()) / 1e6, childrenCpuMs() - cpu};
}

Timing median(const QList<Timing> &timings)
{
    QList<double> walls, cpus;
    for (const Timing &t : timings) {
        walls << t.wall;
        cpus << t.cpu;
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls.at(walls.size() / 2), cpus.at(cpus.size() / 2)};
}

Timing best(const QList<Timing> &timings)
{
    Timing least = timings.first();
    for (const Timing &t : timings) {
        least.wall = std::min(least.wall, t.wall);
        least.cpu = std::min(least.cpu, t.cpu);
    }
    return least;
}

Timing shellMedian(const QString &file, const QString &statements, int repeats = Repeats)
{
    QList<Timing> timings;
    for (int i = 0; i < repeats; ++i)
        timings << shellRun(file, statements);
    return median(timings);
}

void writeText(const QString &path, const QString &text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.toUtf8());
}

// The statements the dialog runs for a range, in its order.
QString rangeStatements(const QString &firstDay, const QString &lastDay, int first, int last)
{
    QString text = QStringLiteral("SELECT idButch FROM butch WHERE date = %1;\n").arg(q(firstDay));
    text += QStringLiteral("SELECT max(idButch) FROM butch WHERE date = %1 GROUP BY date;\n").arg(q(lastDay));
    text += QStringLiteral("SELECT productName FROM task WHERE idButch >= %1 AND idButch <= %2 GROUP BY productName;\n")
                .arg(first)
                .arg(last);
    QStringList names = productNames();
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.toUtf8() < b.toUtf8(); });
    for (const QString &name : names) {
        for (const Unit &unit : Units) {
            text += QStringLiteral("SELECT haveDoneWeight FROM task WHERE (idButch >= %1 AND idButch <= %2) AND "
                                   "(productName = %3) AND (weightScale = %4);\n")
                        .arg(QString::number(first), QString::number(last), q(name), q(QString::fromUtf8(unit.name)));
        }
    }
    return text;
}

void row(const char *what, const Timing &dialog, const Timing &shell = {-1, -1})
{
    std::printf("%-44s %8.1f %8.1f", what, dialog.wall, dialog.cpu);
    if (shell.wall > 0)
        std::printf(
            " %8.1f %8.1f %6.2f %6.2f", shell.wall, shell.cpu, dialog.wall / shell.wall, dialog.cpu / shell.cpu);
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    QDir().mkpath(folder);
    QDir::setCurrent(folder);

    // plain.db keeps the file as the main window leaves it, before the dialog adds its indexes.
    if (!QFile::exists(QStringLiteral("plain.db"))) {
        QFile::remove(QStringLiteral("data.db"));
        Timing generating;
        {
            QuietStderr quiet;
            generating = timeOnce(generate);
        }
        QFile::copy(QStringLiteral("data.db"), QStringLiteral("plain.db"));
        std::printf("generated in %.0f ms\n", generating.wall);
    } else {
        QFile::remove(QStringLiteral("data.db"));
        QFile::copy(QStringLiteral("plain.db"), QStringLiteral("data.db"));
    }
    std::printf("ten years: %d days x %d batches, one task each, %d products, 3 units: %.1f MB\n", Days, BatchesPerDay,
        Products, double(QFile(QStringLiteral("plain.db")).size()) / 1e6);

    QString firstDay, lastDay;
    Timing building, reloading, firstChoice, csvFirst;
    QList<Timing> wholeRange, shellRange, csv;
    int rows = 0;
    {
        QuietStderr quiet;
        Stat *stat = nullptr;
        building = timeOnce([&] { stat = new Stat; });
        reloading = timeOnce([&] { stat->reloadDates(); });
        firstChoice = timeOnce([&] { stat->fromComboBox->setCurrentIndex(0); });
        firstDay = stat->fromComboBox->currentText();
        const int lastIndex = stat->toComboBox->count() - 1;
        lastDay = stat->toComboBox->itemText(lastIndex);
        writeText(QStringLiteral("range.sql"), rangeStatements(firstDay, lastDay, 1, Days * BatchesPerDay));
        // The shell runs in turn with the dialog, so that both meet the same load of the machine.
        for (int i = 0; i < Repeats; ++i) {
            stat->toComboBox->setCurrentIndex(0);
            wholeRange << timeOnce([&] { stat->toComboBox->setCurrentIndex(lastIndex); });
            shellRange << shellRun(QStringLiteral("data.db"), QStringLiteral("range.sql"));
        }
        rows = stat->statTable->rowCount();
        csvFirst = timeOnce([&] { stat->writeCsv(QStringLiteral("stat.csv")); });
        for (int i = 0; i < Repeats; ++i)
            csv << timeOnce([&] { stat->writeCsv(QStringLiteral("stat.csv")); });
        delete stat;
    }

    writeText(QStringLiteral("empty.sql"), QString());
    writeText(QStringLiteral("days.sql"), QStringLiteral("SELECT date FROM butch GROUP BY date ORDER BY idButch;\n"));
    writeText(QStringLiteral("first.sql"), rangeStatements(firstDay, firstDay, 1, BatchesPerDay));

    std::printf("range %s .. %s: %d products in the table, CSV %lld bytes\n\n", qPrintable(firstDay),
        qPrintable(lastDay), rows, QFile(QStringLiteral("stat.csv")).size());
    std::printf("%-44s %17s %17s %13s\n", "", "dialog, ms", "sqlite3, ms", "ratio");
    std::printf("%-44s %8s %8s %8s %8s %6s %6s\n", "step (median of 7 where repeated)", "wall", "cpu", "wall", "cpu",
        "wall", "cpu");
    row("first opening (building the indexes)", building);
    row("day list (reloadDates)", reloading, shellMedian(QStringLiteral("data.db"), QStringLiteral("days.sql")));
    row("choosing the first day (one-day table)", firstChoice,
        shellMedian(QStringLiteral("data.db"), QStringLiteral("first.sql")));
    row("choosing the last day (whole-range table)", median(wholeRange), median(shellRange));
    row("  the same, best of 7", best(wholeRange), best(shellRange));
    row("CSV export of the whole-range table, first", csvFirst);
    row("CSV export of the whole-range table", median(csv));
    row("sqlite3 start-up alone (empty input)", shellMedian(QStringLiteral("data.db"), QStringLiteral("empty.sql")));
    std::printf("\nthe same file without the indexes, sqlite3 alone:\n");
    row("  day list", shellMedian(QStringLiteral("plain.db"), QStringLiteral("days.sql"), 3));
    row("  whole-range statements", shellMedian(QStringLiteral("plain.db"), QStringLiteral("range.sql"), 1));
    return 0;
}
