#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

/// One prepared statement whose values are bound, never spliced into its text, so that a name with
/// quotes, a NUL or SQL words is stored as it stands. A failure leaves SQLite's error text for the log and
/// makes later calls no-ops until reset(), so a run of binds and steps is checked once at its end. Runs on
/// its connection's thread.
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
    /// Makes the statement ready to run again, without bound values or a failure (a failed preparation stays).
    void reset();

    int columnCount() const;
    bool columnIsNull(int column) const;
    QString columnText(int column) const;
    qint64 columnInteger(int column) const;
    double columnReal(int column) const;

    bool failed() const { return !m_errorText.isEmpty(); }
    /// SQLite's text for the first failure since preparation or reset(), empty while none happened.
    const QString &errorText() const { return m_errorText; }

private:
    bool check(int returnCode);

    sqlite3 *m_connection = nullptr;
    sqlite3_stmt *m_statement = nullptr;
    QString m_errorText;
};
