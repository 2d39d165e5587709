#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

struct pg_conn;

/// One connection to the plant's PostgreSQL server. Every wait is on the socket in slices of 100 ms, so
/// that a server that does not answer, or a network that swallows packets, never holds the caller longer
/// than its time-out and a stop is seen within a slice. Used on one thread; the stop flag is the caller's.
class PlantConnection
{
public:
    explicit PlantConnection(const std::atomic_bool &stopping);
    ~PlantConnection();
    PlantConnection(const PlantConnection &) = delete;
    PlantConnection &operator=(const PlantConnection &) = delete;

    /// Why @p setting (a service name or a connection string) is not used, empty when it is fine: a
    /// password written into the station's settings is refused, since that file is readable by others.
    static QString refusal(const QString &setting);

    /// Connects; false with errorText(). connect_timeout (10 s unless the setting gives one) bounds it.
    bool open(const QString &setting, const QString &applicationName = QStringLiteral("d415-station"));
    void close();
    /// False once the connection is closed or broken.
    bool isOpen() const;

    /// Runs @p sql (several statements when @p parameters is empty, one otherwise). The rows of the last
    /// result go to @p rows when given (SQL NULL as a null QString). False with errorText() and sqlState().
    bool execute(const QByteArray &sql, const QList<QByteArray> &parameters = {}, QList<QStringList> *rows = nullptr);
    /// Sends @p sql (several statements) without waiting: the caller does other work, then awaitResults().
    bool sendQuery(const QByteArray &sql);
    /// The results of what sendQuery() sent; false with errorText() when any statement failed.
    bool awaitResults();
    /// "COPY ... FROM STDIN" with @p data in COPY's text format.
    bool copyIn(const QByteArray &copyStatement, const QByteArray &data);
    /// Rolls back a transaction left open by a failure; nothing when none is open.
    void rollbackIfOpen();
    /// @p text as an SQL string literal for this server.
    QByteArray literal(const QString &text) const;

    const QString &errorText() const { return m_errorText; }
    /// The server's SQLSTATE of the last failure ("42501" insufficient privilege), empty when none came.
    const QByteArray &sqlState() const { return m_sqlState; }

private:
    enum class Wait { Read, Write, ReadOrWrite };
    bool waitForSocket(Wait wait, qint64 deadlineMs);
    bool flush(qint64 deadlineMs);
    bool collectResults(QList<QStringList> *rows, qint64 deadlineMs);
    bool fail(const QString &text);

    const std::atomic_bool &m_stopping;
    pg_conn *m_connection = nullptr;
    qint64 m_deadline = 0;
    QString m_errorText;
    QByteArray m_sqlState;
};
