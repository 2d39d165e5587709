#pragma once

#include <QString>

/// A serial device that is there but that this user may not open: listed with the reason, so that an
/// operator outside the device's group sees why the line stays silent.
struct RefusedPort
{
    QString name; ///< the port's name as it is opened (`ttyUSB0`, `line1`)
    QString group; ///< the group the device is open to (`dialout`); empty when no group may open it
};
