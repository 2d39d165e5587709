#pragma once

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

#include "plantoutboxreader.h"

class PlantConnection;

/// Feeds the plant's PostgreSQL database from data.db's outbox, on its own thread with its own SQLite and
/// PostgreSQL connections, so that nothing the server does (down for days, slow, refusing) ever reaches
/// the dose cycle. The queue goes in order, a few hundred rows per server transaction, each row upserted
/// by its key; the outbox entries are removed only once the server has committed them, so a crash or a
/// lost link at any point sends a row again, never loses it. While the server is away the sender tries
/// again after 1 s, doubling to 60 s.
class PlantSender : public QThread
{
    Q_OBJECT
public:
    struct Settings
    {
        QString connection; ///< service name or connection string (no password in it)
        QString station; ///< this station's name on the server
        QString line; ///< the production line it belongs to (may be empty)
        QString databaseFile = QStringLiteral("data.db");
        int rowsPerTransaction = 2000;
    };

    explicit PlantSender(const Settings &settings, QObject *parent = nullptr);
    /// Stops the thread (within about 100 ms, whatever the server does) and waits for it.
    ~PlantSender() override;

    /// Asks the thread to end; wait() then returns within about 100 ms.
    void stop();
    /// The server objects, as shipped (storage/plantdb.sql).
    static QByteArray serverSchema();

signals:
    /// The server was reached (@p reached) or lost, with the reason; once per change.
    void linkChanged(bool reached, const QString &reason);
    /// Outbox entries waiting to be sent, after each change.
    void waitingChanged(qint64 waiting);
    /// A transaction of @p rows was committed by the server.
    void delivered(int rows);

protected:
    void run() override;

private:
    bool connectToServer(PlantConnection &server);
    void prepareServer(PlantConnection &server);
    bool startSending(PlantConnection &server, const PlantOutboxReader::Parcel &parcel);
    void reportLink(bool reached, const QString &reason);
    void reportWaiting(PlantOutboxReader &outbox, qint64 confirmed);
    void pause(int ms);

    const Settings m_settings;
    std::atomic_bool m_stopping {false};
    QMutex m_mutex;
    QWaitCondition m_wake;
    bool m_reached = false;
    bool m_linkReported = false;
    QString m_reason;
    qint64 m_waiting = -1;
};
