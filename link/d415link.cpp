#include "d415link.h"

D415Link::D415Link(const QString &name, QObject *parent)
    : SerialSchedule(name, parent)
{
    qRegisterMetaType<D415DataPacket>("D415DataPacket");
}
D415Link::~D415Link() = default;
qint8 D415Link::sendCommandPacket(D415DataPacket)
{
    return 1;
}
void D415Link::handleReplies(const quint8 *, quint16, const quint8 *, quint16, quint32, quint32) { }
