#pragma once

#include <sys/types.h>

/// The serial devices this program holds open, by device number, shared by every SerialPort. Opening
/// or probing a terminal raises its DTR and RTS lines, so a port already in use here must be refused
/// before it is touched.
class PortRegistry
{
public:
    /// Records @p device as held; false when it already is.
    static bool claim(dev_t device);
    static void release(dev_t device);
    static bool isHeld(dev_t device);
};
