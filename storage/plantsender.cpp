#include "plantsender.h"
#include "plantconnection.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>

#include <cstdio>

namespace {

constexpr int FirstRetryMs = 1000;
constexpr int LastRetryMs = 60000;
// How often an empty outbox is looked at again: a batch's rows reach the plant within this.
constexpr int IdleMs = 500;
constexpr int RemovalPeriodMs = 1000;
// Two stations that connect at once must not both make the tables.
constexpr const char *SchemaLock = "SELECT pg_advisory_xact_lock(415415)";
constexpr const char *SchemaWithoutRight = "42501";

const char *const StagingTables
    = "CREATE TEMP TABLE IF NOT EXISTS incoming_batch (batch_number bigint, started_at timestamp, ended_at "
      "timestamp) ON COMMIT DELETE ROWS;"
      "CREATE TEMP TABLE IF NOT EXISTS incoming_task (batch_number bigint, doser integer, product text, unit text, "
      "task_weight numeric, done_weight numeric, remaining_weight numeric, started_at timestamp, ended_at timestamp) "
      "ON COMMIT DELETE ROWS;"
      "CREATE TEMP TABLE IF NOT EXISTS incoming_event (id_event bigint, at timestamp, doser integer, kind text, text "
      "text, batch_number bigint) ON COMMIT DELETE ROWS;"
      "CREATE TEMP TABLE IF NOT EXISTS gone_batch (batch_number bigint) ON COMMIT DELETE ROWS;"
      "CREATE TEMP TABLE IF NOT EXISTS gone_task (batch_number bigint, doser integer) ON COMMIT DELETE ROWS;";

// %1 is the station's name as a literal.
const char *const UpsertBatches
    = "INSERT INTO batch (station, batch_number, started_at, ended_at) SELECT %1, batch_number, started_at, "
      "ended_at FROM incoming_batch ON CONFLICT (station, batch_number) DO UPDATE SET started_at = "
      "EXCLUDED.started_at, ended_at = EXCLUDED.ended_at, received_at = now();";
const char *const UpsertTasks
    = "INSERT INTO task (station, batch_number, doser, product, unit, task_weight, done_weight, remaining_weight, "
      "started_at, ended_at) SELECT %1, batch_number, doser, product, unit, task_weight, done_weight, "
      "remaining_weight, started_at, ended_at FROM incoming_task ON CONFLICT (station, batch_number, doser) DO "
      "UPDATE SET product = EXCLUDED.product, unit = EXCLUDED.unit, task_weight = EXCLUDED.task_weight, done_weight "
      "= EXCLUDED.done_weight, remaining_weight = EXCLUDED.remaining_weight, started_at = EXCLUDED.started_at, "
      "ended_at = EXCLUDED.ended_at, received_at = now();";
const char *const UpsertEvents
    = "INSERT INTO event (station, id_event, at, doser, kind, text, batch_number) SELECT %1, id_event, at, doser, "
      "kind, text, batch_number FROM incoming_event ON CONFLICT (station, id_event) DO UPDATE SET at = EXCLUDED.at, "
      "doser = EXCLUDED.doser, kind = EXCLUDED.kind, text = EXCLUDED.text, batch_number = EXCLUDED.batch_number, "
      "received_at = now();";
const char *const DeleteTasks = "DELETE FROM task t USING gone_task g WHERE t.station = %1 AND t.batch_number = "
                                "g.batch_number AND t.doser = g.doser;";
const char *const DeleteBatches
    = "DELETE FROM batch b USING gone_batch g WHERE b.station = %1 AND b.batch_number = g.batch_number;";

} // namespace

PlantSender::PlantSender(const Settings &settings, QObject *parent)
    : QThread(parent)
    , m_settings(settings)
{ }

PlantSender::~PlantSender()
{
    stop();
    wait();
}

void PlantSender::stop()
{
    m_stopping = true;
    QMutexLocker locker(&m_mutex);
    m_wake.wakeAll();
}

QByteArray PlantSender::serverSchema()
{
    QFile file(QStringLiteral(":/plant/plantdb.sql"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void PlantSender::pause(int ms)
{
    QMutexLocker locker(&m_mutex);
    if (!m_stopping)
        m_wake.wait(&m_mutex, ms);
}

void PlantSender::run()
{
    PlantOutboxReader outbox;
    PlantConnection server(m_stopping);
    int retryMs = FirstRetryMs;
    // Entries the server has committed; removed from data.db about once a second, since each removal is
    // a write of its own on the station's file. Entries a crash leaves there are sent once more.
    qint64 confirmed = 0;
    qint64 removed = 0;
    QElapsedTimer sinceRemoval;
    sinceRemoval.start();
    auto removeConfirmed = [&] {
        if (confirmed > removed && outbox.remove(confirmed))
            removed = confirmed;
        sinceRemoval.restart();
    };
    // The count of waiting rows stays current on the panel while the server is away.
    auto retryLater = [&] {
        for (int waited = 0; waited < retryMs && !m_stopping; waited += IdleMs * 4) {
            pause(qMin(IdleMs * 4, retryMs - waited));
            reportWaiting(outbox, confirmed);
        }
        retryMs = qMin(retryMs * 2, LastRetryMs);
    };
    while (!m_stopping && !outbox.open(m_settings.databaseFile)) {
        reportLink(false, QStringLiteral("data.db: %1").arg(outbox.errorText()));
        retryLater();
    }
    PlantOutboxReader::Parcel parcel;
    PlantOutboxReader::Parcel next;
    while (!m_stopping) {
        reportWaiting(outbox, confirmed);
        if (!server.isOpen()) {
            next = {};
            if (!connectToServer(server)) {
                retryLater();
                continue;
            }
            retryMs = FirstRetryMs;
        }
        if (next.entries > 0) {
            parcel = next;
        } else if (!outbox.read(m_settings.rowsPerTransaction, confirmed, &parcel) || parcel.entries == 0) {
            // A busy data.db or an empty outbox: the station's writes come first, the next look is soon.
            removeConfirmed();
            pause(IdleMs);
            continue;
        }
        // While the server applies one parcel the next is read, so that neither side waits for the other.
        next = {};
        const bool sent = startSending(server, parcel);
        if (sent && !outbox.read(m_settings.rowsPerTransaction, parcel.lastEntry, &next))
            next = {};
        if (!sent || !server.awaitResults()) {
            next = {};
            server.rollbackIfOpen();
            server.close();
            reportLink(false, server.errorText());
            retryLater();
            continue;
        }
        confirmed = parcel.lastEntry;
        emit delivered(parcel.rows);
        if (sinceRemoval.elapsed() >= RemovalPeriodMs)
            removeConfirmed();
    }
    removeConfirmed();
}

bool PlantSender::connectToServer(PlantConnection &server)
{
    if (!server.open(m_settings.connection)) {
        reportLink(false, server.errorText());
        return false;
    }
    prepareServer(server);
    const bool ready
        = server.execute("INSERT INTO station (station, line) VALUES ($1, coalesce($2, '')) ON CONFLICT (station) DO "
                         "UPDATE SET line = EXCLUDED.line, last_seen = now()",
              {m_settings.station.toUtf8(), m_settings.line.toUtf8()})
        && server.execute(StagingTables);
    if (!ready) {
        reportLink(false, server.errorText());
        server.close();
        return false;
    }
    reportLink(true, QString());
    return true;
}

// A role that may not make the tables goes on sending into the tables the DBA has made.
void PlantSender::prepareServer(PlantConnection &server)
{
    const QByteArray schema = serverSchema();
    if (server.execute(QByteArray("BEGIN;") + SchemaLock + ";\n" + schema + "\n;COMMIT;"))
        return;
    server.rollbackIfOpen();
    if (server.sqlState() != SchemaWithoutRight)
        std::fprintf(stderr, "\nThe plant database's tables could not be made: %s\n", qPrintable(server.errorText()));
}

// Stages the parcel's rows with COPY in a transaction, then sends the upserts and the commit without
// waiting for them.
bool PlantSender::startSending(PlantConnection &server, const PlantOutboxReader::Parcel &parcel)
{
    const QByteArray station = server.literal(m_settings.station);
    QByteArray apply;
    auto stage = [&](const QByteArray &rows, const char *table, const char *statement) {
        if (rows.isEmpty())
            return true;
        apply += QByteArray(statement).replace("%1", station);
        return server.copyIn(QByteArray("COPY ") + table + " FROM STDIN", rows);
    };
    const bool staged = server.execute("BEGIN") && stage(parcel.batches, "incoming_batch", UpsertBatches)
        && stage(parcel.tasks, "incoming_task", UpsertTasks) && stage(parcel.events, "incoming_event", UpsertEvents)
        && stage(parcel.goneTasks, "gone_task", DeleteTasks) && stage(parcel.goneBatches, "gone_batch", DeleteBatches);
    return staged
        && server.sendQuery(apply + "UPDATE station SET last_seen = now() WHERE station = " + station + ";COMMIT;");
}

void PlantSender::reportLink(bool reached, const QString &reason)
{
    if (m_linkReported && reached == m_reached && reason == m_reason)
        return;
    // Once per change of state, not once per retry, nor once per new reason while away.
    const bool news = !m_linkReported || reached != m_reached;
    m_linkReported = true;
    m_reached = reached;
    m_reason = reason;
    if (news)
        emit linkChanged(reached, reason);
}

void PlantSender::reportWaiting(PlantOutboxReader &outbox, qint64 confirmed)
{
    const qint64 waiting = outbox.waiting(confirmed);
    if (waiting == m_waiting)
        return;
    m_waiting = waiting;
    emit waitingChanged(waiting);
}
