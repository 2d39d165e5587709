#pragma once

#include "d415datapacket.h"

#include <QString>
#include <QStringList>

#include <random>

/// A plausible D415 doser controller without its line: it answers request packets and runs its jobs
/// (filling, discharging, full cycles) against a millisecond clock that the caller passes in. Weights
/// are held as integers in units of the last decimal place, as the controller itself counts them.
class DoserModel
{
public:
    /// Weight unit codes as the controller reports them (44/2, 44/3).
    enum Unit { Gram = 0, Kilogram = 1, Tonne = 2 };

    DoserModel();

    /// The reply to @p request at time @p nowMs (the model first catches up with that time): address,
    /// echo of command and parameter, state bits, error number, value. The request's own destination
    /// is not checked here.
    D415DataPacket answer(const D415DataPacket &request, qint64 nowMs);

    /// Completes whatever job phase ends by @p nowMs.
    void advance(qint64 nowMs);
    /// When the running job next changes phase, or -1 when nothing runs.
    qint64 nextEventMs() const;
    /// Lines describing what happened since the last call (dose weighed, discharged, error...).
    QStringList takeEvents();

    /// Sets the fault bit with @p code until a reset-error request or resetError(); stops the work.
    void injectError(quint8 code, qint64 nowMs);
    void resetError();

    /// Sets one of the values listed by settableKeys() from its text; false with @p error explaining.
    bool setValue(const QString &key, const QString &text, qint64 nowMs, QString *error);
    static QStringList settableKeys();

    quint8 address() const { return m_address; }
    quint8 stateFlags() const;
    quint8 errorCode() const { return m_errorCode; }
    /// One line with every value, for the "status" control command.
    QString describe(qint64 nowMs);
    /// What left the hopper since start, for the "totals" control command: the number of discharges
    /// that emptied a loaded hopper and their weight with the doser's decimals and unit.
    QString describeTotals() const;
    /// Weight discharged since start, in units of the last decimal place.
    qint64 dischargedUnits() const { return m_dischargedUnits; }
    /// A weight in units as text with the doser's decimals.
    QString weightText(qint64 units) const;

private:
    enum class Phase { Idle, Filling, Discharging };

    void replyValue(D415DataPacket &reply, const D415DataPacket &request, qint64 nowMs);
    void counterValue(D415DataPacket &reply, quint8 parameter) const;
    void serviceValue(D415DataPacket &reply, quint8 parameter) const;
    qint64 requestUnits(const D415DataPacket &request) const;
    void setWeight(D415DataPacket &reply, qint64 units) const;
    static void setCount(D415DataPacket &reply, qint64 count);
    static void setRaw(D415DataPacket &reply, quint32 raw);

    void startFill(qint64 targetUnits, bool cycle, qint64 nowMs);
    void continueFill(qint64 nowMs);
    qint64 discharge(qint64 nowMs);
    void stop(qint64 nowMs);
    void finishFill();
    void finishDischarge();
    void countDischarge(qint64 units);
    qint64 hopperNow(qint64 nowMs) const;
    qint64 withNoise(qint64 units);

    bool setWeightValue(qint64 &target, const QString &text, QString *error) const;
    bool setDecimals(const QString &text, QString *error);
    void rescale(int fromDecimals, int toDecimals);

    quint8 m_address = 30;
    int m_decimals = 1;
    Unit m_unit = Kilogram;
    qint64 m_maxDose = 5000;
    qint64 m_firmware = 415; // software version 4.15
    int m_firmwareDecimals = 2;
    qint64 m_plusTolerance = 5;
    qint64 m_minusTolerance = 5;
    qint64 m_doseWeight = 100;
    qint64 m_noise = 0;
    int m_fillTimeMs = 2000;
    int m_dischargeTimeMs = 500;
    bool m_testMode = false;

    quint8 m_errorCode = 0;
    bool m_fault = false;

    Phase m_phase = Phase::Idle;
    bool m_cycle = false;
    qint64 m_hopper = 0; // weight in the hopper while no job runs
    qint64 m_phaseStartMs = 0;
    qint64 m_phaseEndMs = 0;
    qint64 m_fillFrom = 0;
    qint64 m_fillTo = 0; // what the running or interrupted fill lands on
    qint64 m_fillTarget = 0; // what was asked for
    bool m_fillInterrupted = false;
    qint64 m_lastFill = 0;

    qint64 m_shiftDoses = 0;
    quint32 m_shiftWeight = 0;
    quint32 m_lifetimeDoses = 0;
    quint32 m_lifetimeWeight = 0;
    // Since start, apart from the counters a test may set: what a harness compares with the
    // workstation's records.
    qint64 m_discharges = 0;
    qint64 m_dischargedUnits = 0;

    std::mt19937 m_random {1};
    QStringList m_events;
};
