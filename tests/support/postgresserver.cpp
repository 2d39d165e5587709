#include "postgresserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QString BinDir = QStringLiteral("/usr/lib/postgresql/15/bin/");
const QString Role = QStringLiteral("plant");
} // namespace

PostgresServer::PostgresServer(bool durable)
    : m_asPostgresUser(geteuid() == 0)
    , m_durable(durable)
{ }

PostgresServer::~PostgresServer()
{
    if (m_running)
        stop();
    if (m_watchdog > 0)
        kill(pid_t(m_watchdog), SIGTERM);
}

// pg_ctl leaves the server running on its own: should the test die without its destructor, a watchdog
// stops the server and removes the folder once the test's process has gone.
void PostgresServer::startWatchdog()
{
    if (m_watchdog > 0)
        return;
    const QString runAs = m_asPostgresUser ? QStringLiteral("runuser -u postgres -- ") : QString();
    const QString script = QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 1; done; %2%3pg_ctl -D '%4' -m "
                                          "immediate stop >/dev/null 2>&1; rm -rf '%5'")
                               .arg(QCoreApplication::applicationPid())
                               .arg(runAs, BinDir, dataPath(), m_dir.path());
    QProcess::startDetached(QStringLiteral("sh"), {QStringLiteral("-c"), script}, QString(), &m_watchdog);
}

QString PostgresServer::dataPath() const
{
    return m_dir.filePath(QStringLiteral("cluster"));
}

int PostgresServer::freePort()
{
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr *>(&address), length) == 0
        && getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(probe);
    return port;
}

// Root runs the server's tools as "postgres"; anyone else runs them as themselves.
bool PostgresServer::runTool(const QString &tool, const QStringList &arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (m_asPostgresUser)
        process.start(QStringLiteral("runuser"),
            QStringList {QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), BinDir + tool}
                + arguments);
    else
        process.start(BinDir + tool, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        m_lastError = QStringLiteral("%1 failed: %2").arg(tool, QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

bool PostgresServer::initialise()
{
    if (!m_dir.isValid()) {
        m_lastError = QStringLiteral("no temporary folder");
        return false;
    }
    const QString passwordFile = m_dir.filePath(QStringLiteral("password"));
    QFile file(passwordFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(password().toUtf8() + '\n') < 0)
        return false;
    file.close();
    if (m_asPostgresUser) {
        const passwd *user = getpwnam("postgres");
        if (!user) {
            m_lastError = QStringLiteral("running as root needs the user postgres (Debian's postgresql package)");
            return false;
        }
        if (chown(qPrintable(m_dir.path()), user->pw_uid, user->pw_gid) != 0
            || chown(qPrintable(passwordFile), user->pw_uid, user->pw_gid) != 0) {
            m_lastError = QStringLiteral("the temporary folder can not be handed to postgres");
            return false;
        }
    }
    m_port = freePort();
    m_initialised = runTool(QStringLiteral("initdb"),
        {QStringLiteral("-D"), dataPath(), QStringLiteral("-U"), Role, QStringLiteral("--auth-local=trust"),
            QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("--pwfile=") + passwordFile,
            QStringLiteral("--no-sync"), QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C")});
    return m_initialised;
}

bool PostgresServer::start()
{
    if (m_running)
        return true;
    if (!m_initialised && !initialise())
        return false;
    // fsync off for tests: their cluster is thrown away, and its speed is not what they measure.
    const QString options = QStringLiteral("-k %1 -c listen_addresses=127.0.0.1 -p %2 -c fsync=%3")
                                .arg(dataPath())
                                .arg(m_port)
                                .arg(m_durable ? QStringLiteral("on") : QStringLiteral("off"));
    m_running = runTool(QStringLiteral("pg_ctl"),
        {QStringLiteral("-D"), dataPath(), QStringLiteral("-l"), m_dir.filePath(QStringLiteral("cluster/server.log")),
            QStringLiteral("-w"), QStringLiteral("-o"), options, QStringLiteral("start")});
    if (m_running)
        startWatchdog();
    return m_running;
}

bool PostgresServer::stop()
{
    const bool stopped = runTool(QStringLiteral("pg_ctl"),
        {QStringLiteral("-D"), dataPath(), QStringLiteral("-w"), QStringLiteral("-m"), QStringLiteral("fast"),
            QStringLiteral("stop")});
    m_running = m_running && !stopped;
    return stopped;
}

QString PostgresServer::socketConnection(const QString &database) const
{
    return QStringLiteral("host=%1 port=%2 user=%3 dbname=%4").arg(dataPath()).arg(m_port).arg(Role, database);
}

QString PostgresServer::tcpConnection() const
{
    return QStringLiteral("host=127.0.0.1 port=%1 user=%2 dbname=postgres").arg(m_port).arg(Role);
}

QStringList PostgresServer::psql(const QStringList &arguments, bool *ok) const
{
    QProcess process;
    process.start(QStringLiteral("psql"),
        QStringList {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
            QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), socketConnection()}
            + arguments);
    *ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!*ok) {
        m_lastError = QString::fromLocal8Bit(process.readAllStandardError());
        return {};
    }
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList PostgresServer::query(const QString &sql) const
{
    bool ok = false;
    return psql({QStringLiteral("-c"), sql}, &ok);
}

bool PostgresServer::run(const QString &sql) const
{
    bool ok = false;
    psql({QStringLiteral("-c"), sql}, &ok);
    return ok;
}

bool PostgresServer::runFile(const QString &fileName) const
{
    bool ok = false;
    psql({QStringLiteral("-1"), QStringLiteral("-f"), fileName}, &ok);
    return ok;
}
