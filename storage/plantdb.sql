-- The plant database: every station's batches, tasks and journal events in one PostgreSQL database.
-- Safe to run again (each object is made only when missing, views are replaced); a station runs it when it
-- connects with a role that may, the DBA runs it with: psql -v ON_ERROR_STOP=1 -1 -f plantdb.sql
-- Times are the station's local clock; weights are the texts the station recorded, in the doser's unit.

CREATE TABLE IF NOT EXISTS station (
    station text PRIMARY KEY,
    line text NOT NULL DEFAULT '',
    first_seen timestamptz NOT NULL DEFAULT now(),
    last_seen timestamptz NOT NULL DEFAULT now()
);

CREATE TABLE IF NOT EXISTS batch (
    station text NOT NULL REFERENCES station ON UPDATE CASCADE,
    batch_number bigint NOT NULL,
    started_at timestamp,
    ended_at timestamp, -- null while the batch is open
    received_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, batch_number)
);
CREATE INDEX IF NOT EXISTS batch_started_at ON batch (started_at);
CREATE INDEX IF NOT EXISTS batch_open ON batch (station) WHERE ended_at IS NULL;

CREATE TABLE IF NOT EXISTS task (
    station text NOT NULL REFERENCES station ON UPDATE CASCADE,
    batch_number bigint NOT NULL,
    doser integer NOT NULL,
    product text,
    unit text,
    task_weight numeric,
    done_weight numeric, -- null until the first discharge is counted
    remaining_weight numeric,
    started_at timestamp,
    ended_at timestamp, -- null while the task runs
    received_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, batch_number, doser)
);
CREATE INDEX IF NOT EXISTS task_started_at ON task (started_at);
CREATE INDEX IF NOT EXISTS task_product ON task (product, started_at);

CREATE TABLE IF NOT EXISTS event (
    station text NOT NULL REFERENCES station ON UPDATE CASCADE,
    id_event bigint NOT NULL,
    at timestamp,
    doser integer,
    kind text NOT NULL,
    text text NOT NULL,
    batch_number bigint,
    received_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, id_event)
);
CREATE INDEX IF NOT EXISTS event_at ON event (at);
CREATE INDEX IF NOT EXISTS event_station_at ON event (station, at);

-- Dispensed weight per day, line, station and product (per unit: a line may weigh in g and in kg).
CREATE OR REPLACE VIEW daily_totals AS
SELECT t.started_at::date AS day, s.line, t.station, t.product, t.unit,
       count(*) AS tasks, sum(t.done_weight) AS done_weight
FROM task t JOIN station s USING (station)
GROUP BY 1, 2, 3, 4, 5;

-- The same per line, over its stations.
CREATE OR REPLACE VIEW daily_line_totals AS
SELECT day, line, product, unit, sum(tasks) AS tasks, sum(done_weight) AS done_weight
FROM daily_totals
GROUP BY 1, 2, 3, 4;

-- Batches that are open now, with their tasks' figures.
CREATE OR REPLACE VIEW batches_in_progress AS
SELECT b.station, s.line, b.batch_number, b.started_at, t.doser, t.product, t.unit,
       t.task_weight, t.done_weight, t.remaining_weight, s.last_seen
FROM batch b
JOIN station s USING (station)
LEFT JOIN task t ON t.station = b.station AND t.batch_number = b.batch_number
WHERE b.ended_at IS NULL;

-- Faults per station and day, from the stations' journals: alarms, doser faults and lost links.
CREATE OR REPLACE VIEW faults_per_station AS
SELECT e.station, s.line, e.at::date AS day, e.kind, count(*) AS faults
FROM event e JOIN station s USING (station)
WHERE e.kind IN ('fault', 'lost', 'linelost')
GROUP BY 1, 2, 3, 4;
