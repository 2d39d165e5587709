#pragma once

#include <QString>

class SqliteQuery;

/// The doser's witness kept with each task in data.db: the lifetime weight counter and the hopper account
/// (both in the doser's units) that the task's recorded figures stand at; table doseWitness, one row per
/// batch and doser. A table of our own, so that the designed tables keep their columns.
class DoseWitnessRecords
{
public:
    struct Row
    {
        quint32 counter = 0;
        qint64 hopper = 0;
    };

    explicit DoseWitnessRecords(SqliteQuery &database)
        : m_database(database)
    { }

    /// The upgrade step's statement that adds the table.
    static QString createStatement();

    bool write(qint64 idButch, int deviceId, const Row &row);
    /// False when the statement failed; @p found tells whether the task has a witness row at all.
    bool read(qint64 idButch, int deviceId, Row *row, bool *found);
    /// SQLite's text for the last failure.
    const QString &lastError() const { return m_lastError; }

private:
    SqliteQuery &m_database;
    QString m_lastError;
};
