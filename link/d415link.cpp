#include "d415link.h"

#include <cstdio>

D415Link::D415Link(const QString &name, QObject *parent)
    : SerialSchedule(name, parent)
{
    // Replies travel to the dosers by queued signals, which carry the packet by its registered name.
    qRegisterMetaType<D415DataPacket>("D415DataPacket");
}

D415Link::~D415Link()
{
    std::fputs("~D415Link()\n", stderr);
    closePort();
    endExchangeThread();
}

qint8 D415Link::sendCommandPacket(D415DataPacket dataPacket)
{
    if (isSlave())
        return 0;
    // sendRequest() copies the frame for the exchange thread, so it can live on the stack.
    quint8 wire[D415DataPacket::FrameSize];
    dataPacket.toWire(wire);
    // Whatever the line did: a request that could not be sent is in the log, and one that was sent
    // always comes back as a reply or a failure packet.
    sendRequest(D415DataPacket::FrameSize, wire, D415DataPacket::FrameSize, dataPacket.replyCount);
    return 1;
}

bool D415Link::answersRequest(const quint8 *request, quint16 requestLength, const quint8 *frame, quint16 frameLength)
{
    D415DataPacket asked;
    D415DataPacket answer;
    if (asked.fromWire(request, requestLength) < 0 || answer.fromWire(frame, frameLength) < 0)
        return true;
    return (answer.sourceAddress & 0x7F) == (asked.destinationAddress & 0x7F) && answer.command == asked.command
        && answer.parameter == asked.parameter;
}

void D415Link::handleReplies(const quint8 *request, quint16 requestLength, const quint8 *reply, quint16 replyLength,
    quint32 framesReceived, quint32 framesExpected)
{
    D415DataPacket packet;
    if (framesReceived == 0 || reply == nullptr) {
        packet.fromWire(request, requestLength);
        packet.markFailed(D415DataPacket::ResultNoReply);
        logLine(QStringLiteral("Ошибка: неудалось принять ни одно сообщение"));
        emit replyPacketReceived(packet, 0, framesExpected);
        return;
    }
    for (quint32 i = 0; i < framesReceived; ++i) {
        // Decoded where the exchange thread put it: fromWire() refuses any length but a whole frame.
        if (packet.fromWire(reply + i * replyLength, replyLength) < 0) {
            packet.fromWire(request, requestLength);
            packet.markFailed(D415DataPacket::ResultBadData);
            logLine(QStringLiteral("Ошибка: получен пакет с ошибочными данными"));
        }
        emit replyPacketReceived(packet, i + 1, framesExpected);
    }
}
