#pragma once

#include <QMetaType>
#include <QtGlobal>

/// One request or reply of the doser line as the workstation holds it: twelve one-byte fields and a
/// value-fits flag. Copies carry the twelve bytes only; the flag belongs to the packet that coded the value.
class D415DataPacket
{
public:
    enum LinkResult : quint8 { ResultOk = 0, ResultBadData = 1, ResultNoReply = 2 };

    static constexpr int FrameSize = 12;
    /// The largest scaled value a request can carry: the mantissa is read back as signed 24 bits.
    static constexpr qint64 MaxMantissa = 0x7FFFFF;

    D415DataPacket() = default;
    D415DataPacket(const D415DataPacket &other) { copyBytes(other); }
    D415DataPacket &operator=(const D415DataPacket &other)
    {
        copyBytes(other);
        return *this;
    }

    quint8 destinationAddress = 0;
    quint8 sourceAddress = 0;
    quint8 command = 0;
    quint8 parameter = 0;
    quint8 stateFlags = 0;
    quint8 errorCode = 0;
    quint8 mantissa[3] = {0, 0, 0};
    quint8 decimals = 0;
    quint8 linkResult = 0;
    quint8 replyCount = 0;
    qint32 valueFits = 0;

    /// All twelve bytes zero. Every request is built on a reset packet.
    void reset();

    /// Builds the 12-byte wire frame into @p out and sets replyCount to 1; returns 12.
    int toWire(quint8 *out);

    /// Validates a received frame; on success overwrites this packet and returns 12, else returns -1
    /// and leaves the packet untouched.
    int fromWire(const quint8 *bytes, int length);

    /// 7-bit check value (x^7 + x^3 + 1, LSB first, initial 0, no final inversion).
    static quint8 crc7(const quint8 *bytes, int count);

    /// Turns a packet decoded from the request as sent into the failure reply for it (code 1 or 2).
    void markFailed(quint8 code);

    /// Bytes 6 to 8 read as one signed 24-bit little-endian integer.
    qint32 mantissaValue() const;

    /// The value coded in bytes 6 to 9: a signed 24-bit mantissa over 10^decimals.
    double value() const;

    /// Codes x with the given decimals into bytes 6 to 9; sets valueFits (0 leaves the bytes unchanged).
    /// Values whose scaled form exceeds MaxMantissa do not fit.
    void setValue(double x, quint8 decimals);

    /// Bytes 6 to 9 read as one unsigned 32-bit little-endian integer (raw counters).
    quint32 rawValue() const;

    quint8 byteAt(int index) const;
    void setByteAt(int index, quint8 byte);

private:
    void copyBytes(const D415DataPacket &other);
};

Q_DECLARE_METATYPE(D415DataPacket)
