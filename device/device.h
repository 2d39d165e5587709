#pragma once

#include <QObject>

/// Base of every device object on the doser line: its number (also its bus address), whether it is in
/// use, and whether its connection has to be checked before use.
class Device : public QObject
{
    Q_OBJECT
public:
    Device();
    ~Device() override;

public slots:
    int getDeviceID();
    void setDeviceID(int arg_deviceID);
    bool isDeviceActive();
    void setDeviceActive(bool arg_bool);
    /// True only while the device is active: an unused doser is never checked.
    bool isDeviceNeedToBeChecked();
    void setDeviceNeedToBeChecked(bool arg_bool);

protected:
    int deviceID = 0;
    bool active = false;
    bool needToBeChecked = false;
};
