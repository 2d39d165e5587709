#include "conversationlog.h"

#include <QTime>

#include <cstdio>

namespace ConversationLog {

namespace {

QString valueText(const D415DataPacket &packet)
{
    return QString::number(packet.value(), 'f', qMin(int(packet.decimals), 9));
}

QString prefix(const D415DataPacket &packet, int doser)
{
    return QStringLiteral("doser %1, cmd %2/%3: ").arg(doser).arg(packet.command).arg(packet.parameter);
}

QString counterRequest(quint8 parameter)
{
    switch (parameter) {
    case 0: return QStringLiteral("last fill weight?");
    case 16: return QStringLiteral("shift doses?");
    case 18: return QStringLiteral("shift weight?");
    case 19: return QStringLiteral("lifetime doses?");
    case 20: return QStringLiteral("lifetime weight?");
    default: return QStringLiteral("unknown counter?");
    }
}

QString serviceRequest(quint8 parameter)
{
    switch (parameter) {
    case 0: return QStringLiteral("maximum dose?");
    case 1: return QStringLiteral("scale step and decimals?");
    case 2: return QStringLiteral("weight unit?");
    case 3: return QStringLiteral("counter unit?");
    default: return QStringLiteral("unknown service value?");
    }
}

QString stateText(const D415DataPacket &reply)
{
    if (reply.stateFlags & 0x80)
        return QStringLiteral("FAULT, error %1").arg(reply.errorCode);
    if (reply.stateFlags & 0x02)
        return QStringLiteral("working");
    return (reply.stateFlags & 0x10) ? QStringLiteral("stopped, hopper empty")
                                     : QStringLiteral("stopped, hopper loaded");
}

} // namespace

void line(const char *tag, const QString &text)
{
    // One write per line, so that lines of a fast conversation never interleave.
    const QByteArray bytes = (QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz ")) + QLatin1String(tag)
        + QLatin1Char(' ') + text + QLatin1Char('\n'))
                                 .toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString describeRequest(const D415DataPacket &request)
{
    const QString head = prefix(request, request.destinationAddress & 0x7F);
    const QString value = valueText(request);
    switch (request.command) {
    case 0: return head + QStringLiteral("net weight?");
    case 3: return head + QStringLiteral("software version?");
    case 4: return head + QStringLiteral("reset error");
    case 8: return head + QStringLiteral("set dose weight %1").arg(value);
    case 10: return head + QStringLiteral("plus tolerance?");
    case 11: return head + QStringLiteral("set plus tolerance %1").arg(value);
    case 12: return head + QStringLiteral("minus tolerance?");
    case 13: return head + QStringLiteral("set minus tolerance %1").arg(value);
    case 14: return head + QStringLiteral("fill %1").arg(value);
    case 15: return head + QStringLiteral("fill the set dose");
    case 17: return head + QStringLiteral("continue filling");
    case 20: return head + QStringLiteral("discharge");
    case 22: return head + QStringLiteral("full cycle");
    case 24: return head + counterRequest(request.parameter);
    case 26: return head + QStringLiteral("stop");
    case 39:
        return head + (request.mantissa[0] == 0xFF ? QStringLiteral("test mode on") : QStringLiteral("working mode"));
    case 44: return head + serviceRequest(request.parameter);
    default: return head + QStringLiteral("unknown command");
    }
}

QString describeReply(const D415DataPacket &reply)
{
    QString text = prefix(reply, reply.sourceAddress) + stateText(reply) + QStringLiteral("; ");
    const bool raw = reply.command == 24 && (reply.parameter == 18 || reply.parameter == 19 || reply.parameter == 20);
    text += raw ? QStringLiteral("raw %1").arg(reply.rawValue()) : valueText(reply);
    return text;
}

QString invalidReason(const QByteArray &frame)
{
    if (frame.size() != D415DataPacket::FrameSize)
        return QStringLiteral("%1 bytes instead of 12").arg(frame.size());
    const auto *bytes = reinterpret_cast<const quint8 *>(frame.constData());
    if (!(bytes[0] & 0x80))
        return QStringLiteral("no frame start");
    for (int i = 1; i <= 10; ++i) {
        if (bytes[i] & 0x80)
            return QStringLiteral("bit 7 set in byte %1").arg(i);
    }
    if (bytes[11] != D415DataPacket::crc7(bytes, 11))
        return QStringLiteral("wrong check byte (expected %1)")
            .arg(QString::number(D415DataPacket::crc7(bytes, 11), 16).rightJustified(2, QLatin1Char('0')).toUpper());
    return QString();
}

} // namespace ConversationLog
