#include "serialport.h"

SerialPort::SerialPort() = default;
SerialPort::~SerialPort() = default;
bool SerialPort::open(const QString &)
{
    return false;
}
bool SerialPort::close()
{
    return false;
}
int SerialPort::read(quint8 *, quint16)
{
    return -1;
}
int SerialPort::write(const quint8 *, quint16)
{
    return -1;
}
bool SerialPort::setBaudRate(int)
{
    return false;
}
bool SerialPort::setReadTimeout(int)
{
    return false;
}
bool SerialPort::setWriteTimeout(int)
{
    return false;
}
bool SerialPort::clearInput()
{
    return false;
}
bool SerialPort::clearOutput()
{
    return false;
}
bool SerialPort::abortInput()
{
    return false;
}
bool SerialPort::abortOutput()
{
    return false;
}
QStringList SerialPort::availablePorts()
{
    return {};
}
void SerialPort::setSystemPortsListed(bool) { }
QStringList availablePorts()
{
    return SerialPort::availablePorts();
}
