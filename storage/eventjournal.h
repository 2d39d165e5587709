#pragma once

#include <QStringList>

class SqliteQuery;

/// What happened at the station, kept in data.db so that a shift leader can answer "why did the line stop
/// at 02:10?": table eventJournal, one row an event (time, doser, kind, text, batch). A table of our own, so
/// that the designed tables keep their columns.
class EventJournal
{
public:
    explicit EventJournal(SqliteQuery &database)
        : m_database(database)
    { }

    /// The upgrade step's statements that add the table and the index its day filter reads.
    static QStringList createStatements();

private:
    SqliteQuery &m_database;
};
