#include "device.h"

#include <cstdio>

Device::Device()
    : QObject(nullptr)
{ }

Device::~Device()
{
    std::fputs("~Device()\n", stderr);
}

int Device::getDeviceID()
{
    return deviceID;
}

void Device::setDeviceID(int arg_deviceID)
{
    deviceID = arg_deviceID;
}

bool Device::isDeviceActive()
{
    return active;
}

void Device::setDeviceActive(bool arg_bool)
{
    active = arg_bool;
}

bool Device::isDeviceNeedToBeChecked()
{
    return needToBeChecked && active;
}

void Device::setDeviceNeedToBeChecked(bool arg_bool)
{
    needToBeChecked = arg_bool;
}
