#include "dosewitnessrecords.h"

#include "sqlitequery.h"
#include "sqlitestatement.h"

QString DoseWitnessRecords::createStatement()
{
    return QStringLiteral("CREATE TABLE IF NOT EXISTS doseWitness (idButch INTEGER NOT NULL, deviceId INTEGER NOT "
                          "NULL, lifetimeCounter INTEGER NOT NULL, hopperAccount INTEGER NOT NULL, PRIMARY KEY "
                          "(idButch, deviceId))");
}

bool DoseWitnessRecords::write(qint64 idButch, int deviceId, const Row &row)
{
    SqliteStatement statement(m_database.connection(),
        QStringLiteral("INSERT OR REPLACE INTO doseWitness (idButch, deviceId, lifetimeCounter, hopperAccount) "
                       "VALUES (?, ?, ?, ?)"));
    statement.bindInteger(1, idButch);
    statement.bindInteger(2, deviceId);
    statement.bindInteger(3, qint64(row.counter));
    statement.bindInteger(4, row.hopper);
    if (statement.execute())
        return true;
    m_lastError = statement.errorText();
    return false;
}

bool DoseWitnessRecords::read(qint64 idButch, int deviceId, Row *row, bool *found)
{
    SqliteStatement statement(m_database.connection(),
        QStringLiteral("SELECT lifetimeCounter, hopperAccount FROM doseWitness WHERE idButch = ? AND deviceId = ?"));
    statement.bindInteger(1, idButch);
    statement.bindInteger(2, deviceId);
    *found = statement.step();
    if (*found) {
        row->counter = quint32(statement.columnInteger(0));
        row->hopper = statement.columnInteger(1);
    }
    if (!statement.failed())
        return true;
    m_lastError = statement.errorText();
    return false;
}
