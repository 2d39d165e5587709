#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

/// One prepared statement whose values are bound, never spliced into its text, so that a name with
/// quotes, a NUL or SQL words is stored as it stands. Failures leave SQLite's error text for the log;
/// after a failure every later call is a no-op that keeps the first error. Runs on its connection's thread.
class SqliteStatement
{
public:
    /// Prepares `text` (one statement) on `connection`; a null connection fails with "no database connection".
    SqliteStatement(sqlite3 *connection, const QString &text);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    /// Parameters count from 1, as in SQLite ("?1", or the order of the "?").
    void bindText(int index, const QString &text);
    void bindInteger(int index, qint64 value);
    void bindReal(int index, double value);
    void bindNull(int index);

    /// One step: true while a result row is ready to be read; false when the statement is done or failed.
    bool step();
    /// Steps to the end (for statements without result rows); true when it ran to completion.
    bool execute();
    /// Makes the statement ready to run again and clears its bound values; a failure stays reported.
    void reset();

    int columnCount() const;
    bool columnIsNull(int column) const;
    QString columnText(int column) const;
    qint64 columnInteger(int column) const;
    double columnReal(int column) const;

    bool failed() const { return !m_errorText.isEmpty(); }
    /// SQLite's text for the first failure, empty while none happened.
    const QString &errorText() const { return m_errorText; }

private:
    bool check(int returnCode);

    sqlite3 *m_connection = nullptr;
    sqlite3_stmt *m_statement = nullptr;
    QString m_errorText;
};
