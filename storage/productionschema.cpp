#include "productionschema.h"
#include "dosewitnessrecords.h"
#include "eventjournal.h"
#include "plantoutbox.h"
#include "sqlitequery.h"
#include "sqlitestatement.h"

#include <cstdio>

const QList<ProductionSchema::Step> &ProductionSchema::upgradeSteps()
{
    // A released step is never edited: files out there carry its version. A new table is a new line here.
    static const QList<Step> steps = {
        // 1: the doser's witness kept with each task (DoseWitnessRecords).
        {DoseWitnessRecords::createStatement()},
        // 2: the event journal (EventJournal).
        EventJournal::createStatements(),
        // 3: the rows that wait for the plant database (PlantOutbox).
        {PlantOutbox::createStatement()},
    };
    return steps;
}

ProductionSchema::ProductionSchema(SqliteQuery &database, QList<Step> steps)
    : m_database(database)
    , m_steps(std::move(steps))
{ }

ProductionSchema::Outcome ProductionSchema::prepare()
{
    createDesignedTables();
    m_fileVersion = -1;
    m_errorText.clear();
    if (!readFileVersion())
        return Outcome::Failed;
    if (m_fileVersion > targetVersion()) {
        std::fprintf(stderr,
            "\ndata.db has schema version %d, this program knows %d: its tables are left as they are\n", m_fileVersion,
            targetVersion());
        return Outcome::Newer;
    }
    return m_fileVersion == targetVersion() ? Outcome::Current : upgrade();
}

void ProductionSchema::createDesignedTables()
{
    m_database.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS admin (password TEXT);"));
    m_database.runQuery(
        QStringLiteral("CREATE TABLE IF NOT EXISTS product (idProduct INTEGER PRIMARY KEY, productName TEXT);"));
    m_database.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS butch (idButch INTEGER PRIMARY KEY, date TEXT, "
                                       "startTime TEXT, endTime TEXT, endDate TEXT);"));
    m_database.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS task (idButch INTEGER, deviceId INTEGER, startTime "
                                       "TEXT, endTime TEXT, taskWeight TEXT, haveDoneWeight TEXT, mustToBeDoneWeight "
                                       "TEXT, productName TEXT, weightScale TEXT, startDate TEXT, endDate TEXT);"));
}

bool ProductionSchema::readFileVersion()
{
    SqliteStatement statement(m_database.connection(), QStringLiteral("PRAGMA user_version"));
    if (statement.step())
        m_fileVersion = int(statement.columnInteger(0));
    m_errorText = statement.errorText();
    return m_fileVersion >= 0;
}

ProductionSchema::Outcome ProductionSchema::upgrade()
{
    for (int version = m_fileVersion; version < targetVersion(); ++version) {
        if (!runStep(version)) {
            std::fprintf(stderr, "\ndata.db upgrade to schema version %d failed: %s\n", version + 1,
                m_errorText.toUtf8().constData());
            return Outcome::Failed;
        }
        m_fileVersion = version + 1;
    }
    return Outcome::Upgraded;
}

// The step and its version mark commit together or not at all, so an interrupted upgrade is repeated whole.
bool ProductionSchema::runStep(int version)
{
    if (!run(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    bool done = true;
    for (const QString &statement : m_steps.at(version))
        done = done && run(statement);
    // A pragma takes no bound value; the number is our own.
    done = done && run(QStringLiteral("PRAGMA user_version = %1").arg(version + 1)) && run(QStringLiteral("COMMIT"));
    if (!done)
        SqliteStatement(m_database.connection(), QStringLiteral("ROLLBACK")).execute();
    return done;
}

bool ProductionSchema::run(const QString &statement)
{
    SqliteStatement prepared(m_database.connection(), statement);
    if (prepared.execute())
        return true;
    m_errorText = prepared.errorText();
    return false;
}
