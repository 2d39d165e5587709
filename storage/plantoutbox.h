#pragma once

#include <QString>
#include <QStringList>

class SqliteQuery;

/// The rows of data.db that wait to reach the plant database: table plantOutbox, one entry per written,
/// changed or deleted batch, task or journal event, naming the row by its key only. The entries are made by
/// triggers, so an entry is always in the same transaction as its row: a crash can never keep the row and
/// lose the entry, and the statements of the batch records need no change. The sender reads the row as it
/// stands when it sends, so ten updates of one task send it once.
///
/// The triggers exist only while the plant database is configured, so that the outbox of a station that
/// feeds nothing never grows.
class PlantOutbox
{
public:
    explicit PlantOutbox(SqliteQuery &database)
        : m_database(database)
    { }

    /// The upgrade step's statement that adds the table (present on every station, empty without a plant).
    static QString createStatement();

    /// Creates the triggers when they are missing. Made for the first time, they also queue every row the
    /// file already holds, so that a station joining the plant sends its history. False with errorText()
    /// when they could not be made (then nothing changed).
    bool installTriggers();
    /// Drops the triggers; the entries already queued stay for a later configuration.
    bool removeTriggers();
    /// Whether the triggers are there.
    bool hasTriggers();
    /// Entries waiting, -1 when the table cannot be read.
    qint64 waiting();

    const QString &errorText() const { return m_errorText; }

private:
    bool runAll(const QStringList &statements);

    SqliteQuery &m_database;
    QString m_errorText;
};
