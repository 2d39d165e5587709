#include "plantoutbox.h"
#include "sqlitequery.h"
#include "sqlitestatement.h"

namespace {

// kind is "butch", "task" or "event"; rowKey is the row's rowid in its table (idButch, the task's rowid,
// idEvent), so that the sender finds it without a scan. A task carries its idButch and deviceId too: they
// name it on the server, and tell a deleted task's rowid taken by a later task.
const QStringList TriggerStatements = {
    QStringLiteral("CREATE TRIGGER plantOutboxButchInsert AFTER INSERT ON butch BEGIN "
                   "INSERT INTO plantOutbox (kind, rowKey) VALUES ('butch', NEW.idButch); END"),
    QStringLiteral("CREATE TRIGGER plantOutboxButchUpdate AFTER UPDATE ON butch BEGIN "
                   "INSERT INTO plantOutbox (kind, rowKey) VALUES ('butch', NEW.idButch); END"),
    QStringLiteral("CREATE TRIGGER plantOutboxButchDelete AFTER DELETE ON butch BEGIN "
                   "INSERT INTO plantOutbox (kind, rowKey) VALUES ('butch', OLD.idButch); END"),
    QStringLiteral("CREATE TRIGGER plantOutboxTaskInsert AFTER INSERT ON task BEGIN INSERT INTO plantOutbox (kind, "
                   "rowKey, idButch, deviceId) VALUES ('task', NEW.rowid, NEW.idButch, NEW.deviceId); END"),
    QStringLiteral("CREATE TRIGGER plantOutboxTaskUpdate AFTER UPDATE ON task BEGIN INSERT INTO plantOutbox (kind, "
                   "rowKey, idButch, deviceId) VALUES ('task', NEW.rowid, NEW.idButch, NEW.deviceId); END"),
    QStringLiteral("CREATE TRIGGER plantOutboxTaskDelete AFTER DELETE ON task BEGIN INSERT INTO plantOutbox (kind, "
                   "rowKey, idButch, deviceId) VALUES ('task', OLD.rowid, OLD.idButch, OLD.deviceId); END"),
    QStringLiteral("CREATE TRIGGER plantOutboxEventInsert AFTER INSERT ON eventJournal BEGIN "
                   "INSERT INTO plantOutbox (kind, rowKey) VALUES ('event', NEW.idEvent); END"),
};

const QStringList TriggerNames = {
    QStringLiteral("plantOutboxButchInsert"),
    QStringLiteral("plantOutboxButchUpdate"),
    QStringLiteral("plantOutboxButchDelete"),
    QStringLiteral("plantOutboxTaskInsert"),
    QStringLiteral("plantOutboxTaskUpdate"),
    QStringLiteral("plantOutboxTaskDelete"),
    QStringLiteral("plantOutboxEventInsert"),
};

// The history of a station that joins the plant, in the order it was written.
const QStringList HistoryStatements = {
    QStringLiteral("INSERT INTO plantOutbox (kind, rowKey) SELECT 'butch', idButch FROM butch ORDER BY idButch"),
    QStringLiteral("INSERT INTO plantOutbox (kind, rowKey, idButch, deviceId) SELECT 'task', rowid, idButch, deviceId "
                   "FROM task ORDER BY rowid"),
    QStringLiteral("INSERT INTO plantOutbox (kind, rowKey) SELECT 'event', idEvent FROM eventJournal ORDER BY idEvent"),
};

} // namespace

QString PlantOutbox::createStatement()
{
    // Entries are taken in idEntry order and removed some time after the server confirmed them, so an
    // entry's number must never be given again, even once the table has been emptied: AUTOINCREMENT.
    return QStringLiteral("CREATE TABLE IF NOT EXISTS plantOutbox (idEntry INTEGER PRIMARY KEY AUTOINCREMENT, kind "
                          "TEXT NOT NULL, rowKey INTEGER, idButch INTEGER, deviceId INTEGER)");
}

bool PlantOutbox::hasTriggers()
{
    SqliteStatement statement(m_database.connection(),
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name LIKE 'plantOutbox%'"));
    const bool read = statement.step();
    m_errorText = statement.errorText();
    return read && statement.columnInteger(0) == TriggerNames.size();
}

bool PlantOutbox::installTriggers()
{
    if (hasTriggers())
        return true;
    QStringList statements;
    for (const QString &name : TriggerNames)
        statements.append(QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(name));
    return runAll(statements + TriggerStatements + HistoryStatements);
}

bool PlantOutbox::removeTriggers()
{
    QStringList statements;
    for (const QString &name : TriggerNames)
        statements.append(QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(name));
    return runAll(statements);
}

qint64 PlantOutbox::waiting()
{
    SqliteStatement statement(m_database.connection(),
        QStringLiteral("SELECT coalesce((SELECT max(idEntry) FROM plantOutbox) - (SELECT min(idEntry) "
                       "FROM plantOutbox) + 1, 0)"));
    const bool read = statement.step();
    m_errorText = statement.errorText();
    return read ? statement.columnInteger(0) : -1;
}

// All of them or none: a station must never be left with some triggers, queueing some rows and not others.
bool PlantOutbox::runAll(const QStringList &statements)
{
    sqlite3 *connection = m_database.connection();
    SqliteStatement begin(connection, QStringLiteral("BEGIN IMMEDIATE"));
    bool done = begin.execute();
    m_errorText = begin.errorText();
    for (const QString &text : statements) {
        if (!done)
            break;
        SqliteStatement statement(connection, text);
        done = statement.execute();
        m_errorText = statement.errorText();
    }
    if (done) {
        SqliteStatement commit(connection, QStringLiteral("COMMIT"));
        done = commit.execute();
        m_errorText = commit.errorText();
    }
    if (!done)
        SqliteStatement(connection, QStringLiteral("ROLLBACK")).execute();
    return done;
}
