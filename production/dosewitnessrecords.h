#pragma once

#include "doseledger.h"

#include <QString>

class SqliteQuery;

/// The doser's witness kept with each task in data.db: the lifetime counter and the hopper account its
/// figures were counted at (table doseWitness, one row per batch and doser). A table of our own, so that
/// files written before it open unchanged and the designed tables keep their columns.
class DoseWitnessRecords
{
public:
    explicit DoseWitnessRecords(SqliteQuery &query)
        : m_query(query)
    { }

    /// The upgrade step that adds the table (if missing).
    bool createTable();
    bool write(qint64 idButch, int deviceId, const DoseLedger::Witness &witness);
    /// False when the statement failed; @p found tells whether the task has a witness row at all.
    bool read(qint64 idButch, int deviceId, DoseLedger::Witness *witness, bool *found);
    /// SQLite's text for the last failure.
    QString lastError() const { return m_lastError; }

private:
    bool fail();

    SqliteQuery &m_query;
    QString m_lastError;
};
