#pragma once

#include "eventjournal.h"
#include "sqlitequery.h"

#include <QHash>
#include <QString>

/// The station's side of the event journal: a connection of its own to data.db, so that an event is never
/// written inside a batch's transaction nor rolled back with it, and the doser's reports turned into events
/// once per occurrence: a connection loss is one row however many probes fail, a fault one row however
/// many replies carry it.
class StationJournal
{
public:
    StationJournal();

    EventJournal &journal() { return m_journal; }

    /// A kind and a text of the station's own (a batch, a command, a setting, an export).
    void record(int deviceId, const QString &kind, const QString &text, qint64 idButch);

    /// A request of doser @p number got no valid reply.
    void connectionError(int number, qint64 idButch);
    /// Doser @p number answered with its state word.
    void stateReported(int number, const QString &state, qint64 idButch);
    /// Doser @p number reports a fault with the operator's message.
    void faultReported(int number, const QString &message, qint64 idButch);
    /// Doser @p number is in fault and production must stop (a fault with a message was reported before).
    void stopDemanded(int number, qint64 idButch);
    void lineLost(const QString &portName);
    void lineBack(const QString &portName);

    /// The error number whose operator's message is @p message; 0 when none has it.
    static int errorCodeOf(const QString &message);

private:
    struct DoserMarks
    {
        bool lost = false;
        bool inFault = false;
        int faultCode = -1;
    };

    SqliteQuery m_database;
    EventJournal m_journal {m_database};
    QHash<int, DoserMarks> m_marks;
};
