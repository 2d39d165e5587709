#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct sqlite3;

/// One SQLite connection and the result of its last statement. The main window, the catalogue, the
/// statistics and the recipe store each hold their own. Statements run on the owner's thread only.
class SqliteQuery
{
public:
    SqliteQuery() = default;
    ~SqliteQuery();
    SqliteQuery(const SqliteQuery &) = delete;
    SqliteQuery &operator=(const SqliteQuery &) = delete;

    /// Opens (creating if missing) the file, logging "Can open database" or "Can't open database" with
    /// SQLite's error text. A failed open leaves no connection: later statements log and yield nothing.
    bool open(const QString &fileName);
    /// The same without the log lines, for a second connection of the same program (the event journal's).
    bool openQuietly(const QString &fileName);
    /// Whether the file takes a write: a table made and dropped in a transaction that is rolled back, so
    /// the file stays as it was. False with returnCode() and errorText() saying why (a file that is no
    /// database, a read-only file, a folder where the journal cannot be made; without a connection only the
    /// code). A lock held by another program for longer than the busy wait counts as writable.
    bool takesWrites();
    /// Closes the connection; safe to call twice.
    void close();
    bool isOpen() const { return m_db != nullptr; }
    /// The connection for bound statements (`SqliteStatement`); null while none is open.
    sqlite3 *connection() const { return m_db; }

    /// Runs one statement and keeps its result (an empty result when it fails), then writes the line
    /// "\n<columns> columns, <rows> rows, <SQLite text>" to standard error without a line end.
    void runQuery(const QString &statement);

    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    /// Cells row by row: cell (r, c) is element r * columns() + c, UTF-8; an SQL NULL is the empty text.
    const QList<QByteArray> &values() const { return m_values; }
    const QList<QByteArray> &names() const { return m_names; }
    QString cell(int row, int column) const;
    int returnCode() const { return m_returnCode; }
    bool opened() const { return m_opened; }
    /// Rows the last statement inserted, changed or deleted.
    int changes() const { return m_changes; }
    /// SQLite's text for the last statement's outcome (or the last failed open() or takesWrites()).
    QString errorText() const { return m_errorText; }

    /// A text as an SQL string literal ('...' with inner quotes doubled), so that a product called
    /// «Мука "Экстра"» or «productName» can neither break nor extend a statement and compares as text.
    static QString literal(const QString &text);

private:
    bool open(const QString &fileName, bool logged);

    sqlite3 *m_db = nullptr;
    int m_returnCode = 0;
    bool m_opened = false;
    int m_changes = 0;
    QString m_errorText;
    int m_columns = 0;
    int m_rows = 0;
    QList<QByteArray> m_names;
    QList<QByteArray> m_values;
};
