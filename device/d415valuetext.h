#pragma once

#include "d415datapacket.h"

#include <QString>

/// The texts in which the doser's reply values travel to the main window.
namespace D415ValueText {

/// The value as fixed-point text with exactly `decimals` digits after a point: mantissa 12345 with
/// 1 decimal gives 1234.5, with 0 decimals 12345; mantissa -1 with 2 decimals gives -0.01.
QString decimal(const D415DataPacket &packet);

/// Bytes 6 to 9 as an unsigned 32-bit number in decimal digits (the raw counters).
QString unsignedInteger(const D415DataPacket &packet);

/// "г", "кг" or "т" for the unit code in the value (truncated toward zero; its low 8 bits count);
/// an empty text for any other code.
QString unitWord(const D415DataPacket &packet);

} // namespace D415ValueText
