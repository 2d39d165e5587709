// The plant database feed: ten years of one station's records (50 batches a day, a task each) sent to an
// empty PostgreSQL server, beside COPY of the same rows with psql as the floor; then the time per dose of
// an automatic batch while the sender catches up with that history, beside the same batch without a plant.
//
//     bench_plantfeed [days, 3650 by default] [doses, 40 by default]
#include "benchstation.h"
#include "d415_fendrix.h"
#include "modalanswerer.h"
#include "plantoutbox.h"
#include "plantsender.h"
#include "postgresserver.h"
#include "productionschema.h"
#include "simulatorprocess.h"
#include "sqlitequery.h"
#include "sqlitestatement.h"
#include "testworkdir.h"

#include <QApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include <cstdio>

using namespace BenchStation;

namespace {

constexpr int BatchesPerDay = 50;

double secondsOf(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e9;
}

// Closed batches with one finished task each, as the station writes them, ending yesterday.
void writeHistory(SqliteQuery &database, int days)
{
    sqlite3 *connection = database.connection();
    SqliteStatement(connection, QStringLiteral("BEGIN")).execute();
    SqliteStatement butch(
        connection, QStringLiteral("INSERT INTO butch (date, startTime, endTime, endDate) VALUES (?1, ?2, ?3, ?1)"));
    SqliteStatement task(connection,
        QStringLiteral("INSERT INTO task VALUES (last_insert_rowid(), 30, ?2, ?3, '500.0', '500.2', '0.0', ?4, 'кг', "
                       "?1, ?1)"));
    const QDate first = QDate::currentDate().addDays(-days);
    const QStringList products = {QStringLiteral("Сахар"), QStringLiteral("Мука \"Экстра\""), QStringLiteral("Соль")};
    for (int day = 0; day < days; ++day) {
        const QString date = first.addDays(day).toString(QStringLiteral("dd.MM.yyyy"));
        for (int n = 0; n < BatchesPerDay; ++n) {
            const QTime start = QTime(6, 0).addSecs(n * 15 * 60);
            const QString from = start.toString(QStringLiteral("hh:mm"));
            const QString to = start.addSecs(12 * 60).toString(QStringLiteral("hh:mm"));
            for (SqliteStatement *statement : {&butch, &task}) {
                statement->reset();
                statement->bindText(1, date);
                statement->bindText(2, from);
                statement->bindText(3, to);
            }
            butch.execute();
            task.bindText(4, products.at(n % products.size()));
            task.execute();
        }
    }
    SqliteStatement(connection, QStringLiteral("COMMIT")).execute();
}

bool psql(const PostgresServer &server, const QString &database, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("psql"),
        QStringList {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
            QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), server.socketConnection(database)}
            + arguments);
    return process.waitForFinished(-1) && process.exitCode() == 0;
}

bool sendHistory(const PostgresServer &server, int days)
{
    TestWorkDir dir;
    SqliteQuery database;
    database.open(QStringLiteral("data.db"));
    ProductionSchema(database).prepare();
    QElapsedTimer clock;
    clock.start();
    writeHistory(database, days);
    const double writeSeconds = secondsOf(clock);
    clock.restart();
    PlantOutbox outbox(database);
    outbox.installTriggers();
    const qint64 queued = outbox.waiting();
    const double queueSeconds = secondsOf(clock);

    if (!server.run(QStringLiteral("CREATE DATABASE feed")))
        return false;
    PlantSender::Settings settings;
    settings.connection = server.socketConnection(QStringLiteral("feed"));
    settings.station = QStringLiteral("bench");
    settings.databaseFile = dir.filePath(QStringLiteral("data.db"));
    PlantSender sender(settings);
    // An event loop that sleeps until the outbox is empty: the figures are the sender's and the server's,
    // not a waiting loop's.
    QEventLoop caughtUp;
    QObject::connect(&sender, &PlantSender::waitingChanged, &caughtUp, [&](qint64 count) {
        if (count == 0)
            caughtUp.quit();
    });
    clock.restart();
    sender.start();
    caughtUp.exec();
    const double sendSeconds = secondsOf(clock);
    QProcess size;
    size.start(QStringLiteral("psql"),
        {QStringLiteral("-X"), QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-d"),
            server.socketConnection(QStringLiteral("feed")), QStringLiteral("-c"),
            QStringLiteral("SELECT pg_total_relation_size('batch') + pg_total_relation_size('task')")});
    size.waitForFinished();
    const double megabytes = size.readAllStandardOutput().trimmed().toDouble() / 1e6;

    // The floor: the same rows, as the server now holds them, copied into an empty database by psql.
    const QString batches = dir.filePath(QStringLiteral("batch.copy"));
    const QString tasks = dir.filePath(QStringLiteral("task.copy"));
    QFile schema(dir.filePath(QStringLiteral("plantdb.sql")));
    if (!schema.open(QIODevice::WriteOnly) || schema.write(PlantSender::serverSchema()) < 0)
        return false;
    schema.close();
    const bool exported = psql(server, QStringLiteral("feed"),
        {QStringLiteral("-c"), QStringLiteral("\\copy batch TO '%1'").arg(batches), QStringLiteral("-c"),
            QStringLiteral("\\copy task TO '%1'").arg(tasks)});
    const bool prepared = exported && server.run(QStringLiteral("CREATE DATABASE floor"))
        && psql(server, QStringLiteral("floor"), {QStringLiteral("-f"), schema.fileName()})
        && psql(server, QStringLiteral("floor"), {QStringLiteral("-c"), "INSERT INTO station VALUES ('bench')"});
    if (!prepared)
        return false;
    clock.restart();
    if (!psql(server, QStringLiteral("floor"),
            {QStringLiteral("-1"), QStringLiteral("-c"), QStringLiteral("\\copy batch FROM '%1'").arg(batches),
                QStringLiteral("-c"), QStringLiteral("\\copy task FROM '%1'").arg(tasks)}))
        return false;
    const double copySeconds = secondsOf(clock);

    const qint64 rows = qint64(days) * BatchesPerDay * 2;
    std::printf(
        "ten years of one station: %d days, %lld batches and as many tasks\n", days, static_cast<long long>(rows / 2));
    std::printf("  written to data.db       %.2f s\n", writeSeconds);
    std::printf("  queued in the outbox     %.2f s (%lld entries, once, when the station joins the plant)\n",
        queueSeconds, static_cast<long long>(queued));
    std::printf("  sent by the sender       %.2f s, %.0f rows/s\n", sendSeconds, rows / sendSeconds);
    std::printf("  on the server            %.1f MB (tables and indexes)\n", megabytes);
    std::printf("  psql COPY of the same    %.2f s, %.0f rows/s (floor)\n", copySeconds, rows / copySeconds);
    std::printf("  sender against COPY      %.2f x\n", sendSeconds / copySeconds);
    std::fflush(stdout);
    return true;
}

// One automatic batch of @p doses on a station whose data.db holds @p days of history; fed to @p database
// of the server when it is not empty. Returns the time per dose in ms (0 when it failed).
double timePerDose(const PostgresServer &server, const QString &database, int days, int doses)
{
    TestWorkDir dir;
    {
        SqliteQuery records;
        records.open(QStringLiteral("data.db"));
        ProductionSchema(records).prepare();
        writeHistory(records, days);
    }
    if (!database.isEmpty()) {
        if (!server.run(QStringLiteral("CREATE DATABASE %1").arg(database)))
            return 0;
        QSettings settings(QStringLiteral("KESTU"), QStringLiteral("D415_Test"));
        settings.setValue(QStringLiteral("plantDatabase"), server.socketConnection(database));
        settings.setValue(QStringLiteral("stationName"), QStringLiteral("bench"));
    }
    SimulatorProcess sim;
    if (!startSimulator(sim, {"--fill-time", "0", "--discharge-time", "0", "--max-dose", "10", "--plus", "0.5"}))
        return 0;
    quietStationLog();
    D415_Fendrix window;
    if (!showUntilConnected(window))
        return 0;
    window.changeD415Product(0, QStringLiteral("Сахар"));
    window.setWeight(QString::number(9.5 * doses, 'f', 1), QStringLiteral("11"));
    ModalAnswerer start(QStringLiteral("Да"));
    ModalAnswerer finished(QStringLiteral("Ok"), 600000);
    sim.clearRequests();
    SqliteQuery records;
    records.open(QStringLiteral("data.db"));
    PlantOutbox outbox(records);
    const qint64 waitingBefore = outbox.waiting();
    QElapsedTimer clock;
    clock.start();
    window.startButton();
    if (!waitUntil([&] { return finished.answered(); }, 600000))
        return 0;
    const double seconds = secondsOf(clock);
    int fills = 0;
    for (const auto &request : sim.requestCommands())
        fills += request.first == 14 ? 1 : 0;
    const qint64 waitingAfter = outbox.waiting();
    std::printf("  %-22s %.1f ms per dose over %d doses; outbox %lld entries at the start, %lld at the end\n",
        database.isEmpty() ? "without a plant" : "while catching up", seconds * 1000.0 / fills, fills,
        static_cast<long long>(waitingBefore), static_cast<long long>(waitingAfter));
    std::fflush(stdout);
    return seconds * 1000.0 / fills;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int days = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 3650;
    const int doses = argc > 2 ? std::max(2, QString::fromLocal8Bit(argv[2]).toInt()) : 40;

    // fsync on: the figures are those of a server that keeps what it confirmed.
    PostgresServer server(true);
    if (!server.start()) {
        std::printf("no PostgreSQL server: %s\n", qPrintable(server.lastError()));
        return 1;
    }
    if (!sendHistory(server, days))
        return 1;
    std::printf("time per dose, data.db holding %d days of history:\n", days);
    const double alone = timePerDose(server, QString(), days, doses);
    const double feeding = timePerDose(server, QStringLiteral("busy"), days, doses);
    if (alone <= 0 || feeding <= 0)
        return 1;
    std::printf("  change                   %+.1f %%\n", (feeding / alone - 1.0) * 100.0);
    return 0;
}
