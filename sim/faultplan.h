#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

/// The line faults waiting to be played on the next replies. Each kind counts down the replies it
/// still spoils; silence can also last until it is switched off.
class FaultPlan
{
public:
    /// One fault played on one reply, as an aimed fault names it ("badcrc", "slow 300", ...).
    struct Fault
    {
        enum Kind { Silence, BadCheckByte, WrongAddress, Partial, Slow, Junk, Hangup, Mark };
        Kind kind = Mark;
        QString name = QStringLiteral("mark"); ///< the word it was given by: "late" and "hold" are "slow"
        int ms = 0; ///< lateness of Slow, time the line stays down after Hangup

        /// Reads "FAULT [MS]" from @p words; false with @p error explaining.
        static bool parse(const QStringList &words, Fault *fault, QString *error);
        /// "slow 300", "hangup 500", "badcrc": as parse() reads it back.
        QString text() const;
    };

    /// What to do with one reply.
    struct Decision
    {
        bool silent = false; ///< no reply, and the doser does not act on the request
        bool badCheckByte = false;
        bool wrongAddress = false;
        bool partial = false; ///< only the first half of the frame
        bool junk = false; ///< a few bytes without a frame start before the reply
        int delayMs = 0;
        int hangupMs = -1; ///< no reply: the doser acts, the line hangs up and comes back this late

        void add(const Fault &fault);
    };

    static constexpr int DefaultSlowMs = 300; // twice the workstation's 150 ms reply time-out
    static constexpr int MaxLineDownMs = 600000;

    /// The junk played before a reply: bit 7 clear, so no byte of it can start a frame.
    static QByteArray junkBytes();

    /// The decision for the next reply; counts it off the pending faults.
    Decision next();

    void setSilentAlways(bool silent) { m_silentAlways = silent; }
    void addSilent(int count) { m_silent += count; }
    void addBadCheckByte(int count) { m_badCheckByte += count; }
    void addWrongAddress(int count) { m_wrongAddress += count; }
    void addPartial(int count) { m_partial += count; }
    void addJunk(int count) { m_junk += count; }
    void addSlow(int count, int delayMs);
    /// The next reply hangs up the line for @p downMs instead.
    void addHangup(int downMs);
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
    int m_junk = 0;
    int m_slow = 0;
    int m_slowMs = DefaultSlowMs;
    int m_hangup = 0;
    int m_hangupMs = 0;
    int m_delayMs = 0;
};
