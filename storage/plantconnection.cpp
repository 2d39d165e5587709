#include "plantconnection.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <cerrno>
#include <cstdlib>
#include <libpq-fe.h>
#include <poll.h>

namespace {

constexpr int SliceMs = 100;
// A statement of the sender moves a few hundred rows; a server that keeps it longer is taken as gone, and
// the batch is sent again on the next connection.
constexpr qint64 StatementTimeoutMs = 60000;
constexpr qint64 DefaultConnectTimeoutS = 10;

// A bare word is the name of a service in pg_service.conf; anything else is a connection string or URI.
QByteArray connectionString(const QString &setting)
{
    static const QRegularExpression bareName(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    const QString trimmed = setting.trimmed();
    if (bareName.match(trimmed).hasMatch())
        return QStringLiteral("service=%1").arg(trimmed).toUtf8();
    return trimmed.toUtf8();
}

} // namespace

PlantConnection::PlantConnection(const std::atomic_bool &stopping)
    : m_stopping(stopping)
{ }

PlantConnection::~PlantConnection()
{
    close();
}

QString PlantConnection::refusal(const QString &setting)
{
    if (setting.trimmed().isEmpty())
        return QStringLiteral("no plant database is configured");
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(connectionString(setting).constData(), &error);
    if (!options) {
        const QString text = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
        PQfreemem(error);
        return QStringLiteral("the connection setting can not be read: %1").arg(text);
    }
    QString why;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            why = QStringLiteral("the connection setting carries a password; keep it in ~/.pgpass or a service file");
    }
    PQconninfoFree(options);
    return why;
}

bool PlantConnection::open(const QString &setting, const QString &applicationName)
{
    close();
    const QString refused = refusal(setting);
    if (!refused.isEmpty())
        return fail(refused);
    // Ours come first: a value the setting gives overrides them. Keepalives find a dead peer while a
    // statement waits; the time-out bounds a write the network swallows.
    const QByteArray connection = connectionString(setting);
    const QByteArray application = applicationName.toUtf8();
    const char *keys[] = {"connect_timeout", "application_name", "keepalives_idle", "keepalives_interval",
        "keepalives_count", "tcp_user_timeout", "dbname", nullptr};
    const char *values[] = {"10", application.constData(), "10", "5", "3", "30000", connection.constData(), nullptr};
    m_connection = PQconnectStartParams(keys, values, 1);
    if (!m_connection)
        return fail(QStringLiteral("out of memory"));
    if (PQstatus(m_connection) == CONNECTION_BAD)
        return fail(QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());

    qint64 timeoutS = DefaultConnectTimeoutS;
    // libpq leaves connect_timeout to the caller of PQconnectPoll.
    PQconninfoOption *options = PQconninfo(m_connection);
    for (PQconninfoOption *option = options; option && option->keyword; ++option) {
        if (qstrcmp(option->keyword, "connect_timeout") == 0 && option->val && std::atoi(option->val) > 0)
            timeoutS = std::atoi(option->val);
    }
    PQconninfoFree(options);
    const qint64 deadline = QDeadlineTimer(timeoutS * 1000).deadline();
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK) {
        if (status == PGRES_POLLING_FAILED)
            return fail(QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
        if (!waitForSocket(status == PGRES_POLLING_READING ? Wait::Read : Wait::Write, deadline))
            return fail(m_stopping ? QStringLiteral("stopped") : QStringLiteral("timeout expired"));
        status = PQconnectPoll(m_connection);
    }
    // The schema's "already exists, skipping" notices are no news for the station's log.
    PQsetNoticeProcessor(
        m_connection, [](void *, const char *) {}, nullptr);
    if (PQsetnonblocking(m_connection, 1) != 0)
        return fail(QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
    m_errorText.clear();
    return true;
}

void PlantConnection::close()
{
    if (m_connection)
        PQfinish(m_connection);
    m_connection = nullptr;
}

bool PlantConnection::isOpen() const
{
    return m_connection && PQstatus(m_connection) == CONNECTION_OK;
}

bool PlantConnection::fail(const QString &text)
{
    m_errorText = text;
    if (m_connection && PQstatus(m_connection) != CONNECTION_OK)
        close();
    return false;
}

// Waits in slices so that a stop is seen; false on a stop, at the deadline or when poll fails.
bool PlantConnection::waitForSocket(Wait wait, qint64 deadlineMs)
{
    const int socket = PQsocket(m_connection);
    if (socket < 0)
        return false;
    pollfd descriptor {socket, 0, 0};
    descriptor.events = wait == Wait::Read ? POLLIN : wait == Wait::Write ? POLLOUT : short(POLLIN | POLLOUT);
    while (!m_stopping) {
        const qint64 left = deadlineMs - QDeadlineTimer::current().deadline();
        if (left <= 0)
            return false;
        const int ready = poll(&descriptor, 1, int(qMin<qint64>(left, SliceMs)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return false;
}

bool PlantConnection::flush(qint64 deadlineMs)
{
    for (;;) {
        const int pending = PQflush(m_connection);
        if (pending == 0)
            return true;
        if (pending < 0 || !waitForSocket(Wait::ReadOrWrite, deadlineMs))
            return false;
        if (!PQconsumeInput(m_connection))
            return false;
    }
}

bool PlantConnection::execute(const QByteArray &sql, const QList<QByteArray> &parameters, QList<QStringList> *rows)
{
    if (!isOpen())
        return fail(QStringLiteral("not connected"));
    m_sqlState.clear();
    const qint64 deadline = QDeadlineTimer(StatementTimeoutMs).deadline();
    int sent = 0;
    if (parameters.isEmpty()) {
        sent = PQsendQuery(m_connection, sql.constData());
    } else {
        QList<const char *> values;
        for (const QByteArray &value : parameters)
            values.append(value.isNull() ? nullptr : value.constData());
        sent = PQsendQueryParams(
            m_connection, sql.constData(), int(values.size()), nullptr, values.constData(), nullptr, nullptr, 0);
    }
    if (!sent || !flush(deadline))
        return fail(QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
    return collectResults(rows, deadline);
}

bool PlantConnection::sendQuery(const QByteArray &sql)
{
    if (!isOpen())
        return fail(QStringLiteral("not connected"));
    m_sqlState.clear();
    m_deadline = QDeadlineTimer(StatementTimeoutMs).deadline();
    if (!PQsendQuery(m_connection, sql.constData()) || !flush(m_deadline))
        return fail(QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
    return true;
}

bool PlantConnection::awaitResults()
{
    if (!m_connection)
        return fail(QStringLiteral("not connected"));
    return collectResults(nullptr, m_deadline);
}

bool PlantConnection::copyIn(const QByteArray &copyStatement, const QByteArray &data)
{
    if (!isOpen())
        return fail(QStringLiteral("not connected"));
    m_sqlState.clear();
    const qint64 deadline = QDeadlineTimer(StatementTimeoutMs).deadline();
    if (!PQsendQuery(m_connection, copyStatement.constData()) || !flush(deadline))
        return fail(QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
    while (PQisBusy(m_connection)) {
        if (!waitForSocket(Wait::Read, deadline) || !PQconsumeInput(m_connection))
            return fail(QStringLiteral("no answer to COPY: %1").arg(QString::fromUtf8(PQerrorMessage(m_connection))));
    }
    PGresult *result = PQgetResult(m_connection);
    const bool copying = result && PQresultStatus(result) == PGRES_COPY_IN;
    if (!copying) {
        m_errorText = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(m_connection)).trimmed();
        PQclear(result);
        collectResults(nullptr, deadline);
        return false;
    }
    PQclear(result);
    int put = 0;
    while ((put = PQputCopyData(m_connection, data.constData(), int(data.size()))) == 0) {
        if (!waitForSocket(Wait::Write, deadline))
            return fail(QStringLiteral("COPY data not taken"));
    }
    int ended = put < 0 ? -1 : 0;
    while (ended == 0 && (ended = PQputCopyEnd(m_connection, nullptr)) == 0) {
        if (!waitForSocket(Wait::Write, deadline))
            return fail(QStringLiteral("COPY end not taken"));
    }
    if (ended < 0 || !flush(deadline))
        return fail(QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
    return collectResults(nullptr, deadline);
}

// Reads every result of the statements sent; the first failure is the one reported.
bool PlantConnection::collectResults(QList<QStringList> *rows, qint64 deadlineMs)
{
    bool succeeded = true;
    for (;;) {
        while (PQisBusy(m_connection)) {
            if (!waitForSocket(Wait::Read, deadlineMs) || !PQconsumeInput(m_connection)) {
                const QString why = m_stopping ? QStringLiteral("stopped")
                                               : QString::fromUtf8(PQerrorMessage(m_connection)).trimmed();
                close();
                return fail(why.isEmpty() ? QStringLiteral("no answer from the server") : why);
            }
        }
        PGresult *result = PQgetResult(m_connection);
        if (!result)
            break;
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            if (rows && status == PGRES_TUPLES_OK) {
                rows->clear();
                for (int row = 0; row < PQntuples(result); ++row) {
                    QStringList cells;
                    for (int column = 0; column < PQnfields(result); ++column)
                        cells.append(PQgetisnull(result, row, column)
                                ? QString()
                                : QString::fromUtf8(PQgetvalue(result, row, column)));
                    rows->append(cells);
                }
            }
        } else if (succeeded) {
            succeeded = false;
            m_errorText = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
            m_sqlState = PQresultErrorField(result, PG_DIAG_SQLSTATE);
        }
        PQclear(result);
    }
    if (!isOpen())
        return fail(QString::fromUtf8(PQerrorMessage(m_connection)).trimmed());
    return succeeded;
}

void PlantConnection::rollbackIfOpen()
{
    if (!isOpen())
        return;
    const PGTransactionStatusType status = PQtransactionStatus(m_connection);
    if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR) {
        const QString kept = m_errorText;
        const QByteArray keptState = m_sqlState;
        execute("ROLLBACK");
        m_errorText = kept;
        m_sqlState = keptState;
    }
}

QByteArray PlantConnection::literal(const QString &text) const
{
    const QByteArray utf8 = text.toUtf8();
    char *escaped = m_connection ? PQescapeLiteral(m_connection, utf8.constData(), size_t(utf8.size())) : nullptr;
    if (!escaped)
        return QByteArray("NULL");
    const QByteArray quoted(escaped);
    PQfreemem(escaped);
    return quoted;
}
