#include "eventjournal.h"

#include "sqlitequery.h"
#include "sqlitestatement.h"

#include <QDateTime>
#include <QHash>

#include <sqlite3.h>

#include <cstdio>

QStringList EventJournal::createStatements()
{
    // The time is local "yyyy-MM-dd HH:mm:ss.zzz": it sorts as text, so one day is a range on the index.
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS eventJournal (idEvent INTEGER PRIMARY KEY, time TEXT NOT NULL, "
                           "deviceId INTEGER, kind TEXT NOT NULL, text TEXT NOT NULL, idButch INTEGER)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS eventJournalTime ON eventJournal (time)")};
}

QString EventJournal::timeText(const QDateTime &moment)
{
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString EventJournal::kindTitle(const QString &kind)
{
    static const QHash<QString, QString> titles = {
        {QStringLiteral("fault"), QStringLiteral("Авария")},
        {QStringLiteral("reset"), QStringLiteral("Сброс аварии")},
        {QStringLiteral("lost"), QStringLiteral("Нет связи")},
        {QStringLiteral("back"), QStringLiteral("Связь есть")},
        {QStringLiteral("linelost"), QStringLiteral("Линия потеряна")},
        {QStringLiteral("lineback"), QStringLiteral("Линия открыта")},
        {QStringLiteral("start"), QStringLiteral("Начало задания")},
        {QStringLiteral("stop"), QStringLiteral("Останов задания")},
        {QStringLiteral("continue"), QStringLiteral("Продолжение задания")},
        {QStringLiteral("restore"), QStringLiteral("Восстановление задания")},
        {QStringLiteral("finish"), QStringLiteral("Задание выполнено")},
        {QStringLiteral("refused"), QStringLiteral("Запуск отклонён")},
        {QStringLiteral("command"), QStringLiteral("Команда")},
        {QStringLiteral("setting"), QStringLiteral("Настройка")},
        {QStringLiteral("export"), QStringLiteral("Экспорт")},
        {QStringLiteral("plantlost"), QStringLiteral("Заводская база: нет связи")},
        {QStringLiteral("plantback"), QStringLiteral("Заводская база: связь есть")},
    };
    return titles.value(kind, kind);
}

bool EventJournal::record(int deviceId, const QString &kind, const QString &text, qint64 idButch)
{
    return record(Event {timeText(QDateTime::currentDateTime()), deviceId, kind, text, idButch});
}

bool EventJournal::record(const Event &event)
{
    if (m_queue.size() >= QueueLimit) {
        m_queue.removeFirst();
        ++m_dropped;
    }
    m_queue.append(event);
    return writeQueue();
}

// The queue goes out in one transaction: one wait for the disk, whatever it holds. A transaction that
// fails leaves the events queued for the next one.
bool EventJournal::writeQueue()
{
    sqlite3 *connection = m_database.connection();
    QString failure = QStringLiteral("no database connection");
    if (connection) {
        sqlite3_busy_timeout(connection, BusyWaitMs);
        const bool several = m_queue.size() > 1;
        bool written = !several || sqlite3_exec(connection, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        for (int i = 0; written && i < m_queue.size(); ++i)
            written = insert(m_queue.at(i));
        if (written && several)
            written = sqlite3_exec(connection, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (written) {
            if (m_failing)
                std::fprintf(stderr, "\nThe event journal is written again (%d events dropped meanwhile)\n", m_dropped);
            m_failing = false;
            m_queue.clear();
            return true;
        }
        failure = QString::fromUtf8(sqlite3_errmsg(connection));
        if (!sqlite3_get_autocommit(connection))
            sqlite3_exec(connection, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    if (!m_failing)
        std::fprintf(
            stderr, "\nThe event journal can not be written, events are kept in memory: %s\n", qPrintable(failure));
    m_failing = true;
    return false;
}

bool EventJournal::insert(const Event &event)
{
    SqliteStatement statement(m_database.connection(),
        QStringLiteral("INSERT INTO eventJournal (time, deviceId, kind, text, idButch) VALUES (?, ?, ?, ?, ?)"));
    statement.bindText(1, event.time);
    if (event.deviceId > 0)
        statement.bindInteger(2, event.deviceId);
    else
        statement.bindNull(2);
    statement.bindText(3, event.kind);
    statement.bindText(4, event.text);
    if (event.idButch > 0)
        statement.bindInteger(5, event.idButch);
    else
        statement.bindNull(5);
    return statement.execute();
}

// Newest first along the time index: a day is a range on it, and the rowid the index carries orders events
// of the same millisecond, so that neither needs a sort.
QList<EventJournal::Event> EventJournal::read(const QDate &day, int offset, int limit, bool *ok) const
{
    const QString columns = QStringLiteral("SELECT time, deviceId, kind, text, idButch FROM eventJournal ");
    const QString order = QStringLiteral(" ORDER BY time DESC, idEvent DESC LIMIT ? OFFSET ?");
    const bool oneDay = day.isValid();
    SqliteStatement statement(m_database.connection(),
        columns + (oneDay ? QStringLiteral("WHERE time >= ? AND time < ?") : QString()) + order);
    int parameter = 1;
    if (oneDay) {
        statement.bindText(parameter++, day.toString(QStringLiteral("yyyy-MM-dd")));
        statement.bindText(parameter++, day.addDays(1).toString(QStringLiteral("yyyy-MM-dd")));
    }
    statement.bindInteger(parameter++, limit);
    statement.bindInteger(parameter, offset);
    QList<Event> events;
    while (statement.step()) {
        events.append(Event {statement.columnText(0), int(statement.columnInteger(1)), statement.columnText(2),
            statement.columnText(3), statement.columnInteger(4)});
    }
    if (ok)
        *ok = !statement.failed();
    return events;
}
