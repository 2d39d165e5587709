#pragma once

#include "d415datapacket.h"
#include "serialschedule.h"

/// The doser line: encodes each request packet into its 12-byte frame, sends it through the exchange
/// thread and delivers the decoded reply, or a failure packet in its place, with replyPacketReceived().
/// Every doser object connects its requestSignal to sendCommandPacket() (direct) and replyPacketReceived()
/// to its own slot (queued: the signal comes from the exchange thread).
class D415Link : public SerialSchedule
{
    Q_OBJECT
public:
    /// Registers D415DataPacket as a meta type; opens @p name at once when it is not empty.
    explicit D415Link(const QString &name = QString(), QObject *parent = nullptr);
    ~D415Link() override;

public slots:
    /// Sends one request. Returns 0 in slave mode (nothing sent), else 1 whatever the line did: a request
    /// that could not be sent is reported in the log; one that was sent always gets a reply or a failure
    /// packet.
    qint8 sendCommandPacket(D415DataPacket dataPacket);

signals:
    /// A reply (or failure packet) for the last request. @p index is the 1-based number of the reply
    /// among those received, 0 when none came; @p expected is the number the request expected (1).
    void replyPacketReceived(D415DataPacket packet, quint32 index, quint32 expected);

protected:
    /// A valid frame answers the request only when it comes from the doser asked and echoes the
    /// request's command and parameter; anything else is a reply to an earlier request that came late.
    /// A frame that fails validation is taken, and delivered as a failure.
    bool answersRequest(
        const quint8 *request, quint16 requestLength, const quint8 *frame, quint16 frameLength) override;
    void handleReplies(const quint8 *request, quint16 requestLength, const quint8 *reply, quint16 replyLength,
        quint32 framesReceived, quint32 framesExpected) override;
};
