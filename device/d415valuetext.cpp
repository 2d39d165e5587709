#include "d415valuetext.h"

namespace D415ValueText {

QString decimal(const D415DataPacket &packet)
{
    // Built from the integer mantissa rather than from a double so that every digit is exact, whatever
    // the number of decimals.
    const qint32 mantissa = packet.mantissaValue();
    QString digits = QString::number(qAbs(qint64(mantissa)));
    const int decimals = packet.decimals;
    if (decimals > 0) {
        if (digits.size() <= decimals)
            digits.prepend(QString(decimals - digits.size() + 1, QLatin1Char('0')));
        digits.insert(digits.size() - decimals, QLatin1Char('.'));
    }
    if (mantissa < 0)
        digits.prepend(QLatin1Char('-'));
    return digits;
}

QString unsignedInteger(const D415DataPacket &packet)
{
    return QString::number(packet.rawValue());
}

QString unitWord(const D415DataPacket &packet)
{
    // value() lies within 24 bits, so the truncation cannot overflow; the low 8 bits are the same as
    // those of the controller's 16-bit code.
    const auto code = quint8(qint32(packet.value()) & 0xFF);
    switch (code) {
    case 0: return QStringLiteral("г");
    case 1: return QStringLiteral("кг");
    case 2: return QStringLiteral("т");
    default: return QString();
    }
}

} // namespace D415ValueText
