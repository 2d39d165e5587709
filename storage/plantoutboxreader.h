#pragma once

#include <QByteArray>
#include <QString>

class SqliteStatement;
struct sqlite3;

/// The sender's own connection to data.db: takes the oldest outbox entries with the rows they name as the
/// rows stand now, in COPY's text format, and removes the entries the server has confirmed. Every
/// transaction is short and the busy wait brief, so that the station's own writes of a running batch
/// always come first; a read or a removal that meets a lock is simply tried again later.
class PlantOutboxReader
{
public:
    /// One transaction's worth of rows for the server. A row gone from data.db (a deleted empty batch)
    /// is listed among the gone ones, so that the server forgets it too.
    struct Parcel
    {
        qint64 lastEntry = 0; ///< the newest entry taken; 0 when the outbox was empty
        int entries = 0;
        int rows = 0; ///< rows to write or delete on the server
        QByteArray batches; ///< batch_number, started_at, ended_at
        QByteArray tasks; ///< batch_number, doser, product, unit, task/done/remaining weight, started_at, ended_at
        QByteArray events; ///< id_event, at, doser, kind, text, batch_number
        QByteArray goneBatches; ///< batch_number
        QByteArray goneTasks; ///< batch_number, doser
    };

    PlantOutboxReader() = default;
    ~PlantOutboxReader();
    PlantOutboxReader(const PlantOutboxReader &) = delete;
    PlantOutboxReader &operator=(const PlantOutboxReader &) = delete;

    bool open(const QString &fileName);
    /// The oldest @p limit entries after @p afterEntry and their rows; false with errorText() when data.db
    /// could not be read.
    bool read(int limit, qint64 afterEntry, Parcel *parcel);
    /// Removes the entries up to @p lastEntry; false (and nothing lost) when data.db is busy.
    bool remove(qint64 lastEntry);
    /// Entries after @p afterEntry waiting, -1 when unknown.
    qint64 waiting(qint64 afterEntry = 0);

    const QString &errorText() const { return m_errorText; }

private:
    bool readRows(const QList<QList<qint64>> &keys, Parcel *parcel);
    bool run(const char *sql);
    bool failed(const SqliteStatement &statement);

    sqlite3 *m_connection = nullptr;
    QString m_errorText;
};
