#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

/// A doser at the far end of a pseudo-terminal: a thread that reads 12-byte request frames from the
/// master side and answers each as told (a proper reply, nothing, a corrupted or cut reply). The
/// slave side is what the workstation opens, through a `ports/` entry made by linkAs().
class PtyDoser
{
public:
    enum class Answer {
        Reply, ///< the whole reply at once
        SplitReply, ///< six bytes, a pause of splitGapMs, the other six
        HalfReply, ///< six bytes and nothing more
        BadCheckByte, ///< a whole reply whose check byte is wrong
        Silence, ///< no answer
        LateReplyFirst, ///< a reply to another command, a pause of splitGapMs, then the reply
        LateReplyOnly, ///< a reply to another command and nothing more
    };

    PtyDoser();
    ~PtyDoser();
    PtyDoser(const PtyDoser &) = delete;
    PtyDoser &operator=(const PtyDoser &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    /// The slave side as the test sees it (to inspect its termios), kept open for the doser's life.
    int slaveFd() const { return m_slave; }
    /// Makes `ports/NAME` in the working directory a symbolic link to the slave (replacing an old one).
    bool linkAs(const QString &name) const;

    void setAnswer(Answer answer, int splitGapMs = 0);
    /// The state flags put into every reply.
    void setStateFlags(quint8 flags) { m_stateFlags = flags; }

    /// Writes raw bytes towards the workstation.
    void send(const QByteArray &bytes);
    /// Closes the master side, as a pulled USB adapter would drop the line.
    void hangUp();

    /// Request frames received so far.
    QList<QByteArray> received() const;
    int receivedCount() const;

    /// The reply a doser gives to @p request: addresses swapped, command and parameter echoed, the
    /// value @p value with no decimals.
    static QByteArray replyTo(const QByteArray &request, quint8 stateFlags, int value);

private:
    void serve();
    void answer(const QByteArray &request, int number);

    int m_master = -1;
    int m_slave = -1;
    int m_stopEvent = -1;
    QString m_slavePath;
    std::atomic<Answer> m_answer {Answer::Reply};
    std::atomic<int> m_splitGapMs {0};
    std::atomic<quint8> m_stateFlags {0x02};
    mutable std::mutex m_mutex;
    QList<QByteArray> m_received;
    std::thread m_thread;
};
