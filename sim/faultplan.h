#pragma once

#include <QString>

/// The line faults waiting to be played on the next replies. Each kind counts down the replies it
/// still spoils; silence can also last until it is switched off.
class FaultPlan
{
public:
    /// What to do with one reply.
    struct Decision
    {
        bool silent = false; ///< no reply, and the doser does not act on the request
        bool badCheckByte = false;
        bool wrongAddress = false;
        bool partial = false; ///< only the first half of the frame
        int delayMs = 0;
    };

    static constexpr int DefaultSlowMs = 300; // twice the workstation's 150 ms reply time-out

    /// The decision for the next reply; counts it off the pending faults.
    Decision next();

    void setSilentAlways(bool silent) { m_silentAlways = silent; }
    void addSilent(int count) { m_silent += count; }
    void addBadCheckByte(int count) { m_badCheckByte += count; }
    void addWrongAddress(int count) { m_wrongAddress += count; }
    void addPartial(int count) { m_partial += count; }
    void addSlow(int count, int delayMs);
    /// Delay of every reply that is not slow on purpose (0: answer at once).
    void setDelay(int delayMs) { m_delayMs = delayMs; }
    /// Forgets every pending fault, the delay included.
    void clear();
    QString describe() const;

private:
    bool m_silentAlways = false;
    int m_silent = 0;
    int m_badCheckByte = 0;
    int m_wrongAddress = 0;
    int m_partial = 0;
    int m_slow = 0;
    int m_slowMs = DefaultSlowMs;
    int m_delayMs = 0;
};
