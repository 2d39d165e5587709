#include "d415datapacket.h"

#include <cstdio>

void D415DataPacket::reset()
{
    for (int i = 0; i < FrameSize; ++i)
        setByteAt(i, 0);
}

quint8 D415DataPacket::byteAt(int index) const
{
    switch (index) {
    case 0: return destinationAddress;
    case 1: return sourceAddress;
    case 2: return command;
    case 3: return parameter;
    case 4: return stateFlags;
    case 5: return errorCode;
    case 6:
    case 7:
    case 8: return mantissa[index - 6];
    case 9: return decimals;
    case 10: return linkResult;
    case 11: return replyCount;
    default: return 0;
    }
}

void D415DataPacket::setByteAt(int index, quint8 byte)
{
    switch (index) {
    case 0: destinationAddress = byte; break;
    case 1: sourceAddress = byte; break;
    case 2: command = byte; break;
    case 3: parameter = byte; break;
    case 4: stateFlags = byte; break;
    case 5: errorCode = byte; break;
    case 6:
    case 7:
    case 8: mantissa[index - 6] = byte; break;
    case 9: decimals = byte; break;
    case 10: linkResult = byte; break;
    case 11: replyCount = byte; break;
    default: break;
    }
}

void D415DataPacket::copyBytes(const D415DataPacket &other)
{
    for (int i = 0; i < FrameSize; ++i)
        setByteAt(i, other.byteAt(i));
}

quint8 D415DataPacket::crc7(const quint8 *bytes, int count)
{
    quint8 reg = 0;
    for (int i = 0; i < count; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool top = reg & 0x40;
            reg = quint8(((reg << 1) | ((bytes[i] >> bit) & 1)) & 0x7F);
            if (top)
                reg ^= 0x09;
        }
    }
    return reg;
}

int D415DataPacket::toWire(quint8 *out)
{
    out[0] = destinationAddress | 0x80;
    for (int i = 1; i <= 9; ++i)
        out[i] = byteAt(i) & 0x7F;
    out[10] = 0;
    for (int i = 0; i <= 6; ++i) {
        if (byteAt(3 + i) & 0x80)
            out[10] |= quint8(1 << i);
    }
    out[11] = crc7(out, 11);
    replyCount = 1;
    return FrameSize;
}

int D415DataPacket::fromWire(const quint8 *bytes, int length)
{
    if (length != FrameSize || bytes == nullptr)
        return -1;
    if (!(bytes[0] & 0x80))
        return -1;
    for (int i = 1; i <= 10; ++i) {
        if (bytes[i] & 0x80)
            return -1;
    }
    if (bytes[11] != crc7(bytes, 11))
        return -1;
    for (int i = 0; i <= 9; ++i)
        setByteAt(i, bytes[i]);
    for (int i = 0; i <= 6; ++i) {
        if (bytes[10] & (1 << i))
            setByteAt(3 + i, byteAt(3 + i) | 0x80);
    }
    linkResult = ResultOk;
    return FrameSize;
}

void D415DataPacket::markFailed(quint8 code)
{
    const quint8 askedDoser = destinationAddress & 0x7F;
    destinationAddress = sourceAddress;
    sourceAddress = askedDoser;
    stateFlags = 0x80;
    errorCode = 0;
    linkResult = code;
}

qint32 D415DataPacket::mantissaValue() const
{
    qint32 m = mantissa[0] + 256 * mantissa[1] + 65536 * mantissa[2];
    if (mantissa[2] & 0x80)
        m -= 16777216;
    return m;
}

double D415DataPacket::value() const
{
    double scale = 1.0;
    for (int i = 0; i < decimals; ++i)
        scale *= 10.0;
    return mantissaValue() / scale;
}

void D415DataPacket::setValue(double x, quint8 newDecimals)
{
    for (int i = 0; i < newDecimals; ++i)
        x *= 10.0;
    // The whole scaled value must fit the signed 24-bit mantissa the doser and value() read: 0x800000
    // and above would come back negative (838860.8 as -838860.8), and looking at the low 32 bits only
    // would code 2^32 + 5 as 5. Out-of-range doubles and NaN are refused before the cast.
    const bool representable = x > -9.2e18 && x < 9.2e18;
    const qint64 n = representable ? qint64(x + 0.5) : qint64(-1);
    if (n < 0 || n > MaxMantissa) {
        valueFits = 0;
        std::fputs("INT\n", stderr);
        return;
    }
    mantissa[0] = quint8(n & 0xFF);
    mantissa[1] = quint8((n >> 8) & 0xFF);
    mantissa[2] = quint8((n >> 16) & 0xFF);
    decimals = newDecimals;
    valueFits = 1;
}

quint32 D415DataPacket::rawValue() const
{
    return quint32(mantissa[0]) | (quint32(mantissa[1]) << 8) | (quint32(mantissa[2]) << 16)
        | (quint32(decimals) << 24);
}
