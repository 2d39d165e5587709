#include "sqlitestatement.h"

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3 *connection, const QString &text)
    : m_connection(connection)
{
    if (!m_connection) {
        m_errorText = QStringLiteral("no database connection");
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    check(sqlite3_prepare_v2(m_connection, utf8.constData(), int(utf8.size()), &m_statement, nullptr));
    // Text that holds no statement (empty, or a comment) prepares to nothing without an error.
    if (!m_statement && !failed())
        m_errorText = QStringLiteral("no statement in \"%1\"").arg(text);
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

bool SqliteStatement::check(int returnCode)
{
    if (returnCode == SQLITE_OK || returnCode == SQLITE_ROW || returnCode == SQLITE_DONE)
        return true;
    if (m_errorText.isEmpty())
        m_errorText = QString::fromUtf8(sqlite3_errmsg(m_connection));
    return false;
}

void SqliteStatement::bindText(int index, const QString &text)
{
    if (failed())
        return;
    // The length is given, so an inner NUL is kept; SQLITE_TRANSIENT because the bytes are temporary.
    const QByteArray utf8 = text.toUtf8();
    check(sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
}

void SqliteStatement::bindInteger(int index, qint64 value)
{
    if (!failed())
        check(sqlite3_bind_int64(m_statement, index, value));
}

void SqliteStatement::bindReal(int index, double value)
{
    if (!failed())
        check(sqlite3_bind_double(m_statement, index, value));
}

void SqliteStatement::bindNull(int index)
{
    if (!failed())
        check(sqlite3_bind_null(m_statement, index));
}

bool SqliteStatement::step()
{
    if (failed())
        return false;
    const int returnCode = sqlite3_step(m_statement);
    check(returnCode);
    return returnCode == SQLITE_ROW;
}

bool SqliteStatement::execute()
{
    while (step()) { }
    return !failed();
}

void SqliteStatement::reset()
{
    if (!m_statement)
        return;
    // sqlite3_reset repeats the last step's error, which was taken already.
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    m_errorText.clear();
}

int SqliteStatement::columnCount() const
{
    return sqlite3_column_count(m_statement);
}

bool SqliteStatement::columnIsNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

QString SqliteStatement::columnText(int column) const
{
    // The pointer first, then the length: that order keeps the length that of the converted text.
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(m_statement, column));
}

qint64 SqliteStatement::columnInteger(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

double SqliteStatement::columnReal(int column) const
{
    return sqlite3_column_double(m_statement, column);
}
