#include "serialschedule.h"

#include "serialport.h"

SerialSchedule::SerialSchedule(const QString &, QObject *parent)
    : QThread(parent)
    , m_port(new SerialPort)
{ }
SerialSchedule::~SerialSchedule()
{
    delete m_port;
}
int SerialSchedule::openPort(QString)
{
    return PortNotOpened;
}
int SerialSchedule::closePort()
{
    return PortClosed;
}
int SerialSchedule::setBaudRate(int)
{
    return PortInvalidBaudRate;
}
int SerialSchedule::setReplyTimeout(int)
{
    return PortReadDelayError;
}
int SerialSchedule::setWriteTimeout(int)
{
    return PortWriteDelayError;
}
int SerialSchedule::sendRequest(quint16, const quint8 *, quint16, quint32)
{
    return PortClosed;
}
void SerialSchedule::setSlave(bool slave)
{
    m_slave = slave;
    emit linkMaster(!slave);
}
bool SerialSchedule::isPortOpen() const
{
    return m_port->isOpen();
}
int SerialSchedule::baudRate() const
{
    return m_port->baudRate();
}
QString SerialSchedule::statusText(qint8)
{
    return {};
}
qint8 SerialSchedule::lastStatus()
{
    return qint8(m_status.load());
}
void SerialSchedule::run() { }
void SerialSchedule::logLine(const QString &) { }
void SerialSchedule::stopExchange() { }
