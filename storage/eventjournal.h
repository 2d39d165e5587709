#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

class SqliteQuery;

/// What happened at the station, kept in data.db so that a shift leader can answer "why did the line stop
/// at 02:10?": table eventJournal, one row an event (time, doser, kind, text, batch). A table of our own, so
/// that the designed tables keep their columns.
///
/// The journal never holds production up: it is meant for a connection of its own (never inside a batch's
/// transaction; record() sets that connection's busy wait to BusyWaitMs), waits only briefly for a lock, and
/// keeps what it could not write in a small queue that goes out with the next event. A failure is logged
/// once, until writing works again.
class EventJournal
{
public:
    struct Event
    {
        QString time; ///< local "yyyy-MM-dd HH:mm:ss.zzz"
        int deviceId = 0; ///< the doser's number; 0 for the station itself
        QString kind; ///< a short stable word, see kindTitle()
        QString text;
        qint64 idButch = 0; ///< the batch it belongs to; 0 for none
    };

    /// Events kept in memory while the file takes none; beyond it the oldest are dropped (and counted).
    static constexpr int QueueLimit = 64;
    /// How long a write waits for a lock held by someone else before the event is queued.
    static constexpr int BusyWaitMs = 20;
    /// Rows a window asks for at once.
    static constexpr int PageSize = 200;

    explicit EventJournal(SqliteQuery &database)
        : m_database(database)
    { }

    /// The upgrade step's statements that add the table and the index its day filter reads.
    static QStringList createStatements();
    /// The time as the table keeps it.
    static QString timeText(const QDateTime &moment);
    /// The Russian title of a kind for the window and the export; an unknown kind is shown as it is.
    static QString kindTitle(const QString &kind);

    /// Writes one event stamped now, with any queued before it. False when it is only queued.
    bool record(int deviceId, const QString &kind, const QString &text, qint64 idButch = 0);
    bool record(const Event &event);

    /// Newest first: the events of @p day, or of all days when it is not valid; @p limit rows (all when
    /// negative) from @p offset. @p ok (when given) tells whether the read worked.
    QList<Event> read(const QDate &day, int offset, int limit, bool *ok = nullptr) const;

    int queued() const { return int(m_queue.size()); }
    int dropped() const { return m_dropped; }

private:
    bool writeQueue();
    bool insert(const Event &event);

    SqliteQuery &m_database;
    QList<Event> m_queue;
    int m_dropped = 0;
    bool m_failing = false;
};
