#include "frameassembler.h"

#include "d415datapacket.h"

namespace {

bool isStart(char byte)
{
    return quint8(byte) & 0x80;
}

} // namespace

QList<FrameAssembler::Piece> FrameAssembler::feed(const QByteArray &bytes, qint64 nowMs)
{
    QList<Piece> out = flushStale(nowMs);
    for (const char byte : bytes) {
        if (isStart(byte) && !m_pending.isEmpty())
            emitPending(out);
        m_pending.append(byte);
        if (isStart(m_pending.front()) && m_pending.size() == D415DataPacket::FrameSize) {
            out.append(Piece {true, m_pending, QString()});
            m_pending.clear();
        }
    }
    m_lastByteMs = nowMs;
    return out;
}

QList<FrameAssembler::Piece> FrameAssembler::flushStale(qint64 nowMs)
{
    QList<Piece> out;
    if (!m_pending.isEmpty() && nowMs - m_lastByteMs >= GapMs)
        emitPending(out);
    return out;
}

void FrameAssembler::emitPending(QList<Piece> &out)
{
    const QString reason = isStart(m_pending.front())
        ? QStringLiteral("incomplete frame (%1 of 12 bytes)").arg(m_pending.size())
        : QStringLiteral("bytes without a frame start");
    out.append(Piece {false, m_pending, reason});
    m_pending.clear();
}
