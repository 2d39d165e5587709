#include "dosewitnessrecords.h"

#include "sqlitequery.h"

#include <sqlite3.h>

#include <memory>

namespace {
struct FinalizeStatement
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

Statement prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    if (!db || sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return Statement(statement);
}
} // namespace

bool DoseWitnessRecords::fail()
{
    sqlite3 *db = m_query.handle();
    m_lastError = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("no database connection");
    return false;
}

bool DoseWitnessRecords::createTable()
{
    sqlite3 *db = m_query.handle();
    if (!db)
        return fail();
    const int result = sqlite3_exec(db,
        "CREATE TABLE IF NOT EXISTS doseWitness (idButch INTEGER NOT NULL, deviceId INTEGER NOT NULL, "
        "lifetimeCounter INTEGER NOT NULL, hopperAccount INTEGER NOT NULL, PRIMARY KEY (idButch, deviceId))",
        nullptr, nullptr, nullptr);
    return result == SQLITE_OK || fail();
}

bool DoseWitnessRecords::write(qint64 idButch, int deviceId, const DoseLedger::Witness &witness)
{
    Statement statement = prepare(m_query.handle(),
        "INSERT OR REPLACE INTO doseWitness (idButch, deviceId, lifetimeCounter, hopperAccount) VALUES (?, ?, ?, ?)");
    if (!statement)
        return fail();
    sqlite3_bind_int64(statement.get(), 1, idButch);
    sqlite3_bind_int(statement.get(), 2, deviceId);
    sqlite3_bind_int64(statement.get(), 3, qint64(witness.counter));
    sqlite3_bind_int64(statement.get(), 4, witness.hopper);
    return sqlite3_step(statement.get()) == SQLITE_DONE || fail();
}

bool DoseWitnessRecords::read(qint64 idButch, int deviceId, DoseLedger::Witness *witness, bool *found)
{
    *found = false;
    Statement statement = prepare(
        m_query.handle(), "SELECT lifetimeCounter, hopperAccount FROM doseWitness WHERE idButch = ? AND deviceId = ?");
    if (!statement)
        return fail();
    sqlite3_bind_int64(statement.get(), 1, idButch);
    sqlite3_bind_int(statement.get(), 2, deviceId);
    const int result = sqlite3_step(statement.get());
    if (result == SQLITE_ROW) {
        witness->counter = quint32(sqlite3_column_int64(statement.get(), 0));
        witness->hopper = sqlite3_column_int64(statement.get(), 1);
        *found = true;
        return true;
    }
    return result == SQLITE_DONE || fail();
}
