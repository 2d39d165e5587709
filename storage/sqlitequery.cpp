#include "sqlitequery.h"

#include <sqlite3.h>

#include <cstdio>

namespace {
// How long a statement waits for a lock held by another connection before it gives up with "database is
// locked". Without it a backup tool copying data.db, or a program reading the statistics out of it, makes
// the batch row of a start or a task update fail at once and the record is lost. Two seconds outlast
// a hold by far and stay short beside the link's own five-second wait for a free channel; the GUI thread
// waits meanwhile.
constexpr int BusyTimeoutMs = 2000;
} // namespace

SqliteQuery::~SqliteQuery()
{
    close();
}

bool SqliteQuery::open(const QString &fileName)
{
    return open(fileName, true);
}

bool SqliteQuery::openQuietly(const QString &fileName)
{
    return open(fileName, false);
}

bool SqliteQuery::open(const QString &fileName, bool logged)
{
    close();
    m_returnCode = sqlite3_open(fileName.toUtf8().constData(), &m_db);
    if (m_returnCode != SQLITE_OK) {
        // sqlite3_open can hand back a handle even on failure; it carries the error text.
        m_errorText = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "out of memory");
        if (logged)
            std::fprintf(stderr, "\nCan't open database: %s\n", qPrintable(m_errorText));
        sqlite3_close(m_db);
        m_db = nullptr;
    } else {
        if (logged)
            std::fprintf(stderr, "\nCan open database: %s\n", sqlite3_errmsg(m_db));
        sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    }
    m_opened = true;
    return m_db != nullptr;
}

bool SqliteQuery::takesWrites()
{
    if (!m_db) {
        m_returnCode = SQLITE_CANTOPEN;
        return false;
    }
    // Silent on purpose: the statements of the log are the station's own.
    m_returnCode = sqlite3_exec(
        m_db, "BEGIN IMMEDIATE; CREATE TABLE write_probe (x); DROP TABLE write_probe;", nullptr, nullptr, nullptr);
    const bool busy = m_returnCode == SQLITE_BUSY || m_returnCode == SQLITE_LOCKED;
    if (m_returnCode != SQLITE_OK && !busy)
        m_errorText = QString::fromUtf8(sqlite3_errmsg(m_db));
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
    return m_returnCode == SQLITE_OK || busy;
}

void SqliteQuery::close()
{
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

void SqliteQuery::runQuery(const QString &statement)
{
    m_columns = 0;
    m_rows = 0;
    m_names.clear();
    m_values.clear();
    m_changes = 0;

    if (!m_db) {
        m_returnCode = SQLITE_MISUSE;
        m_errorText = QStringLiteral("no database connection");
        std::fprintf(stderr, "\n0 columns, 0 rows, no database connection");
        return;
    }

    char **table = nullptr;
    int rows = 0;
    int columns = 0;
    const int changesBefore = sqlite3_total_changes(m_db);
    m_returnCode = sqlite3_get_table(m_db, statement.toUtf8().constData(), &table, &rows, &columns, nullptr);
    if (m_returnCode == SQLITE_OK) {
        m_names.reserve(columns);
        for (int c = 0; c < columns; ++c)
            m_names.append(QByteArray(table[c]));
        m_values.reserve(rows * columns);
        for (int i = columns; i < (rows + 1) * columns; ++i)
            m_values.append(table[i] ? QByteArray(table[i]) : QByteArray());
        m_columns = columns;
        m_rows = rows;
        m_changes = sqlite3_total_changes(m_db) - changesBefore;
    }
    m_errorText = QString::fromUtf8(sqlite3_errmsg(m_db));
    std::fprintf(stderr, "\n%d columns, %d rows, %s", m_columns, m_rows, sqlite3_errmsg(m_db));
    sqlite3_free_table(table);
}

QString SqliteQuery::cell(int row, int column) const
{
    const int index = row * m_columns + column;
    if (row < 0 || column < 0 || column >= m_columns || index >= m_values.size())
        return QString();
    return QString::fromUtf8(m_values.at(index));
}

QString SqliteQuery::literal(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}
