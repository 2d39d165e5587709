#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/// A throw-away PostgreSQL 15 server for one test: its cluster in a temporary folder, a Unix socket in the
/// same folder and a free TCP port on 127.0.0.1. Local (socket) connections are trusted; TCP connections
/// need the password of the role "plant". initdb and postgres refuse root, so under root (as CI runs) the
/// server runs as the "postgres" user the Debian package makes, the folder handed to it.
///
///     PostgresServer server;
///     QVERIFY2(server.start(), qPrintable(server.lastError()));
///     settings.setValue("plantDatabase", server.socketConnection());
///     QCOMPARE(server.query("SELECT count(*) FROM batch"), QStringList {"1"});
class PostgresServer
{
public:
    /// @p durable keeps fsync on (a benchmark's figures); tests run without it.
    explicit PostgresServer(bool durable = false);
    /// Stops the server; the folder goes with the object.
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    /// Makes the cluster on first use and starts the server; returns once it takes connections.
    bool start();
    /// Stops it (fast: open sessions are ended); start() brings the same cluster back.
    bool stop();
    bool isRunning() const { return m_running; }

    /// A connection string over the Unix socket (trusted).
    QString socketConnection(const QString &database = QStringLiteral("postgres")) const;
    /// A connection string over TCP that needs a password (from a passfile, not in the string).
    QString tcpConnection() const;
    static QString password() { return QStringLiteral("plant-secret"); }
    int port() const { return m_port; }

    /// Runs @p sql with psql; each result row is one text, fields joined by "|". Empty on failure.
    QStringList query(const QString &sql) const;
    /// Runs @p sql with psql; false (with lastError()) when it fails.
    bool run(const QString &sql) const;
    /// Runs a file of SQL with psql -f in one transaction.
    bool runFile(const QString &fileName) const;

    QString lastError() const { return m_lastError; }
    QString dataPath() const;

    /// A TCP port on 127.0.0.1 nobody listens on right now.
    static int freePort();

private:
    bool initialise();
    void startWatchdog();
    bool runTool(const QString &tool, const QStringList &arguments, int timeoutMs = 60000) const;
    QStringList psql(const QStringList &arguments, bool *ok) const;

    QTemporaryDir m_dir;
    int m_port = 0;
    bool m_initialised = false;
    bool m_running = false;
    bool m_asPostgresUser = false;
    bool m_durable = false;
    qint64 m_watchdog = 0;
    mutable QString m_lastError;
};
