#include "plantoutboxreader.h"
#include "sqlitestatement.h"

#include <QDate>
#include <QHash>
#include <QRegularExpression>
#include <QTime>

#include <cmath>
#include <limits>
#include <memory>
#include <sqlite3.h>

namespace {

// A lock held by the station is waited for only this long: the sender tries again on its next round.
constexpr int BusyTimeoutMs = 50;

enum Kind { ButchKind, TaskKind, EventKind };

// COPY's text format: tab between fields, \N for NULL, backslash escapes; PostgreSQL text holds no NUL.
void appendField(QByteArray *line, const QString &value, bool isNull = false)
{
    if (!line->isEmpty() && !line->endsWith('\n'))
        line->append('\t');
    if (isNull) {
        line->append("\\N");
        return;
    }
    for (const char c : value.toUtf8()) {
        switch (c) {
        case '\\': line->append("\\\\"); break;
        case '\t': line->append("\\t"); break;
        case '\n': line->append("\\n"); break;
        case '\r': line->append("\\r"); break;
        case '\0': break;
        default: line->append(c);
        }
    }
}

void appendNumber(QByteArray *line, qint64 value)
{
    appendField(line, QString::number(value));
}

// A weight as the station wrote it; a text that is no number (empty before the first discharge) is NULL.
void appendWeight(QByteArray *line, const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    appendField(line, text.trimmed(), !ok || !std::isfinite(value));
}

// Two digits at @p at of @p text, or -1.
int twoDigits(const QString &text, int at)
{
    const QChar high = text.at(at);
    const QChar low = text.at(at + 1);
    if (!high.isDigit() || !low.isDigit())
        return -1;
    return high.digitValue() * 10 + low.digitValue();
}

// The batch records' local date "dd.MM.yyyy" and time "hh:mm"; anything else (a running task's blank) is NULL.
// Read by hand: QDateTime::fromString with a format costs more than all the rest of a row together.
void appendLocalTime(QByteArray *line, const QString &dateText, const QString &timeText)
{
    const QString date = dateText.trimmed();
    const QString time = timeText.trimmed();
    const bool shaped = date.size() == 10 && date.at(2) == QLatin1Char('.') && date.at(5) == QLatin1Char('.')
        && time.size() == 5 && time.at(2) == QLatin1Char(':');
    const int day = shaped ? twoDigits(date, 0) : -1;
    const int month = shaped ? twoDigits(date, 3) : -1;
    const int century = shaped ? twoDigits(date, 6) : -1;
    const int year = shaped ? twoDigits(date, 8) : -1;
    const int hour = shaped ? twoDigits(time, 0) : -1;
    const int minute = shaped ? twoDigits(time, 3) : -1;
    const bool valid = shaped && century >= 0 && year >= 0 && QDate::isValid(century * 100 + year, month, day)
        && QTime::isValid(hour, minute, 0);
    appendField(line,
        valid ? QString::asprintf("%02d%02d-%02d-%02d %02d:%02d:00", century, year, month, day, hour, minute)
              : QString(),
        !valid);
}

// The journal's "yyyy-MM-dd HH:mm:ss.zzz" is what PostgreSQL reads as it stands; only its shape is checked.
void appendJournalTime(QByteArray *line, const QString &text)
{
    static const QRegularExpression shape(
        QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}(\\.[0-9]{1,6})?$"));
    const QString trimmed = text.trimmed();
    const bool valid = shape.match(trimmed).hasMatch()
        && QDate::isValid(trimmed.left(4).toInt(), trimmed.mid(5, 2).toInt(), trimmed.mid(8, 2).toInt())
        && QTime::isValid(trimmed.mid(11, 2).toInt(), trimmed.mid(14, 2).toInt(), trimmed.mid(17, 2).toInt());
    appendField(line, trimmed, !valid);
}

// The server keeps a doser number as an integer: a task whose number does not fit is not sent, since the
// server would refuse the whole transaction for it and nothing after it would ever arrive.
bool fitsDoser(qint64 number)
{
    return number >= 0 && number <= std::numeric_limits<qint32>::max();
}

// A number the journal keeps; anything that is not one (or does not fit) goes as NULL, for the same reason.
void appendInteger(QByteArray *line, const QString &text, qint64 largest)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    appendField(line, QString::number(value), !ok || value < 0 || value > largest);
}

void endLine(QByteArray *line)
{
    line->append('\n');
}

} // namespace

PlantOutboxReader::~PlantOutboxReader()
{
    sqlite3_close(m_connection);
}

bool PlantOutboxReader::open(const QString &fileName)
{
    sqlite3_close(m_connection);
    m_connection = nullptr;
    // The file is the station's: the sender never creates it.
    const int code = sqlite3_open_v2(fileName.toUtf8().constData(), &m_connection, SQLITE_OPEN_READWRITE, nullptr);
    if (code != SQLITE_OK) {
        m_errorText = QString::fromUtf8(m_connection ? sqlite3_errmsg(m_connection) : sqlite3_errstr(code));
        sqlite3_close(m_connection);
        m_connection = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_connection, BusyTimeoutMs);
    return true;
}

bool PlantOutboxReader::run(const char *sql)
{
    if (sqlite3_exec(m_connection, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    m_errorText = QString::fromUtf8(sqlite3_errmsg(m_connection));
    return false;
}

// One read transaction, so that the entries and the rows they name are seen at one moment.
bool PlantOutboxReader::read(int limit, qint64 afterEntry, Parcel *parcel)
{
    *parcel = Parcel();
    if (!m_connection || !run("BEGIN"))
        return false;
    SqliteStatement entries(m_connection,
        QStringLiteral(
            "SELECT idEntry, kind, rowKey, idButch, deviceId FROM plantOutbox WHERE idEntry > ?2 ORDER BY idEntry "
            "LIMIT ?1"));
    entries.bindInteger(1, limit);
    entries.bindInteger(2, afterEntry);
    // Each key once, with the newest rowid seen for it: ten updates of one task are one row to send.
    QList<QList<qint64>> keys;
    QHash<QList<qint64>, qsizetype> seen;
    while (entries.step()) {
        parcel->lastEntry = entries.columnInteger(0);
        ++parcel->entries;
        const QString kind = entries.columnText(1);
        if (entries.columnIsNull(2))
            continue;
        const qint64 rowKey = entries.columnInteger(2);
        QList<qint64> key;
        if (kind == QLatin1String("butch"))
            key = {ButchKind, rowKey};
        else if (kind == QLatin1String("task") && !entries.columnIsNull(3) && !entries.columnIsNull(4)
            && fitsDoser(entries.columnInteger(4)))
            key = {TaskKind, entries.columnInteger(3), entries.columnInteger(4)};
        else if (kind == QLatin1String("event"))
            key = {EventKind, rowKey};
        if (key.isEmpty())
            continue;
        const auto found = seen.constFind(key);
        if (found != seen.constEnd()) {
            keys[*found].last() = rowKey;
            continue;
        }
        seen.insert(key, keys.size());
        keys.append(key + QList<qint64> {rowKey});
    }
    const bool done = !entries.failed() && readRows(keys, parcel);
    if (entries.failed())
        m_errorText = entries.errorText();
    run("COMMIT");
    return done;
}

bool PlantOutboxReader::readRows(const QList<QList<qint64>> &keys, Parcel *parcel)
{
    SqliteStatement butch(
        m_connection, QStringLiteral("SELECT date, startTime, endTime, endDate FROM butch WHERE idButch = ?1"));
    // By rowid: the task table has no index, and a look-up by batch and doser would read all of it.
    SqliteStatement task(m_connection,
        QStringLiteral("SELECT productName, weightScale, taskWeight, haveDoneWeight, mustToBeDoneWeight, startDate, "
                       "startTime, endDate, endTime FROM task WHERE rowid = ?1 AND idButch = ?2 AND deviceId = ?3"));
    std::unique_ptr<SqliteStatement> event;
    for (const QList<qint64> &key : keys) {
        if (key[0] == ButchKind) {
            butch.reset();
            butch.bindInteger(1, key[1]);
            QByteArray &out = butch.step() ? parcel->batches : parcel->goneBatches;
            appendNumber(&out, key[1]);
            if (&out == &parcel->batches) {
                appendLocalTime(&out, butch.columnText(0), butch.columnText(1));
                appendLocalTime(&out, butch.columnText(3), butch.columnText(2));
            }
            endLine(&out);
            if (butch.failed())
                return failed(butch);
        } else if (key[0] == TaskKind) {
            task.reset();
            task.bindInteger(1, key[3]);
            task.bindInteger(2, key[1]);
            task.bindInteger(3, key[2]);
            QByteArray &out = task.step() ? parcel->tasks : parcel->goneTasks;
            appendNumber(&out, key[1]);
            appendNumber(&out, key[2]);
            if (&out == &parcel->tasks) {
                appendField(&out, task.columnText(0), task.columnIsNull(0));
                appendField(&out, task.columnText(1), task.columnIsNull(1));
                appendWeight(&out, task.columnText(2));
                appendWeight(&out, task.columnText(3));
                appendWeight(&out, task.columnText(4));
                appendLocalTime(&out, task.columnText(5), task.columnText(6));
                appendLocalTime(&out, task.columnText(7), task.columnText(8));
            }
            endLine(&out);
            if (task.failed())
                return failed(task);
        } else {
            // Made on first use: a file without the journal's table still sends its batches.
            if (!event)
                event = std::make_unique<SqliteStatement>(m_connection,
                    QStringLiteral("SELECT time, deviceId, kind, text, idButch FROM eventJournal WHERE idEvent = ?1"));
            event->reset();
            event->bindInteger(1, key[1]);
            if (event->step()) {
                // Journal events are never changed or removed by the station: one that is gone is skipped.
                appendNumber(&parcel->events, key[1]);
                appendJournalTime(&parcel->events, event->columnText(0));
                appendInteger(&parcel->events, event->columnText(1), std::numeric_limits<qint32>::max());
                appendField(&parcel->events, event->columnText(2));
                appendField(&parcel->events, event->columnText(3));
                appendInteger(&parcel->events, event->columnText(4), std::numeric_limits<qint64>::max());
                endLine(&parcel->events);
            }
            if (event->failed())
                return failed(*event);
        }
        ++parcel->rows;
    }
    return true;
}

bool PlantOutboxReader::failed(const SqliteStatement &statement)
{
    m_errorText = statement.errorText();
    return false;
}

bool PlantOutboxReader::remove(qint64 lastEntry)
{
    SqliteStatement statement(m_connection, QStringLiteral("DELETE FROM plantOutbox WHERE idEntry <= ?1"));
    statement.bindInteger(1, lastEntry);
    return statement.execute() || failed(statement);
}

// Entries are numbered without gaps (each new one is the last number plus one, a rolled-back entry takes
// its number back with it, and only the oldest are removed), so the count is two index look-ups, not a
// scan of a long queue.
qint64 PlantOutboxReader::waiting(qint64 afterEntry)
{
    SqliteStatement statement(m_connection,
        QStringLiteral("SELECT coalesce((SELECT max(idEntry) FROM plantOutbox) - max((SELECT min(idEntry) FROM "
                       "plantOutbox) - 1, ?1), 0)"));
    statement.bindInteger(1, afterEntry);
    if (statement.step())
        return qMax<qint64>(0, statement.columnInteger(0));
    failed(statement);
    return -1;
}
