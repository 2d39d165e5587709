#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

/// Cuts the byte stream of the line into 12-byte frames. A frame begins with the only byte that has
/// bit 7 set; a new start byte, or a pause longer than GapMs, ends a frame that is not complete.
/// Whatever cannot be a frame comes out as junk with the reason, so that the log shows it.
class FrameAssembler
{
public:
    struct Piece
    {
        bool isFrame = false;
        QByteArray bytes;
        QString reason; ///< why junk is junk
    };

    /// A controller drops a frame whose bytes stop for this long.
    static constexpr int GapMs = 20;

    QList<Piece> feed(const QByteArray &bytes, qint64 nowMs);
    /// Junk for a pending piece that has waited GapMs or longer.
    QList<Piece> flushStale(qint64 nowMs);
    bool hasPending() const { return !m_pending.isEmpty(); }

private:
    void emitPending(QList<Piece> &out);

    QByteArray m_pending;
    qint64 m_lastByteMs = 0;
};
