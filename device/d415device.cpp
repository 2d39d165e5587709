#include "d415device.h"

#include "d415states.h"
#include "d415valuetext.h"

#include <QLoggingCategory>

#include <cstdio>

Q_LOGGING_CATEGORY(lcDevice, "doser.device", QtWarningMsg)

namespace {

enum Command : quint8 {
    CmdWeightNetto = 0,
    CmdPOVersion = 3,
    CmdResetError = 4,
    CmdSetDoseWeight = 8,
    CmdGetFaultPlus = 10,
    CmdSetFaultPlus = 11,
    CmdGetFaultMinus = 12,
    CmdSetFaultMinus = 13,
    CmdFillDose = 14,
    CmdFillSetDose = 15,
    CmdContinueFill = 17,
    CmdDischarge = 20,
    CmdFullCycle = 22,
    CmdCounters = 24,
    CmdStopWork = 26,
    CmdTestMode = 39,
    CmdService = 44,
};

enum CounterParameter : quint8 {
    LastFillWeight = 0,
    ShiftDoseCount = 16,
    ShiftWeight = 18,
    LifetimeDoseCount = 19,
    LifetimeWeight = 20,
};

enum ServiceParameter : quint8 { MaxDoseWeight = 0, Scale = 1, WeightUnit = 2, TotalWeightUnit = 3 };

// The refusal line quotes what the operator typed; keep it to one short printable line.
QByteArray printable(const QString &text)
{
    QString shown = text.left(32);
    for (QChar &c : shown) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    return shown.toUtf8();
}

} // namespace

D415Device::D415Device(QObject *link)
    : m_link(link)
{
    m_request.reset();
    if (m_link)
        connectToLink();
}

D415Device::~D415Device()
{
    std::fputs("~D415Device()\n", stderr);
}

void D415Device::connectToLink()
{
    // The link registers the type too; registering here keeps the connections independent of which
    // object was built first.
    qRegisterMetaType<D415DataPacket>("D415DataPacket");
    const bool requests
        = connect(this, SIGNAL(requestSignal(D415DataPacket)), m_link, SLOT(sendCommandPacket(D415DataPacket)));
    // Queued even when the link reports from this thread (an exchange that could not start): the reply
    // is handled after the request that caused it has returned.
    const bool replies = connect(m_link, SIGNAL(replyPacketReceived(D415DataPacket, quint32, quint32)), this,
        SLOT(replyPacketReceived(D415DataPacket, quint32, quint32)), Qt::QueuedConnection);
    m_connectedToLink = requests && replies;
    if (!m_connectedToLink)
        qCWarning(lcDevice) << "doser object not connected to the link" << m_link << "requests" << requests << "replies"
                            << replies;
}

void D415Device::prepareRequest(quint8 command, quint8 parameter)
{
    m_request.reset();
    m_request.destinationAddress = quint8(deviceID);
    m_request.command = command;
    m_request.parameter = parameter;
}

void D415Device::sendRequest(quint8 command, quint8 parameter)
{
    prepareRequest(command, parameter);
    qCDebug(lcDevice) << "request to doser" << deviceID << "command" << command << "parameter" << parameter;
    emit requestSignal(m_request);
}

void D415Device::sendValueRequest(
    const char *name, quint8 command, quint8 parameter, const QString &text, quint8 decimals)
{
    prepareRequest(command, parameter);
    m_request.setValue(text.toDouble(), decimals);
    // A value the frame cannot carry would otherwise go out as 0: a tolerance or a dose of nothing that
    // the doser would carry out as if the operator had asked for it.
    if (!m_request.valueFits) {
        std::fprintf(stderr, "Request not sent to doser %d: %s(%s, %u) cannot be coded\n", deviceID, name,
            printable(text).constData(), unsigned(decimals));
        return;
    }
    qCDebug(lcDevice) << "request to doser" << deviceID << "command" << command << "parameter" << parameter << "value"
                      << text << "decimals" << decimals;
    emit requestSignal(m_request);
}

void D415Device::replyPacketReceived(D415DataPacket packet, quint32 index, quint32 expected)
{
    Q_UNUSED(expected)
    if (int(packet.sourceAddress) != deviceID)
        return;
    qCDebug(lcDevice) << "reply from doser" << deviceID << "index" << index << "command" << packet.command
                      << "parameter" << packet.parameter << "state" << packet.stateFlags << "error" << packet.errorCode
                      << "link result" << packet.linkResult;
    const quint16 key = requestKey(packet);
    // A failed reply (none came, or it failed a check) says nothing about the doser: no state word, no
    // fault, no value; only the request's own fields come back in it.
    if (index == 0 || packet.linkResult != D415DataPacket::ResultOk) {
        // A doser already lost is probed, not asked twice: its probes keep their 500 ms rhythm.
        if (!isDeviceNeedToBeChecked() && !m_askedAgain.contains(key) && asksAgainSafely(packet.command)) {
            askAgain(packet);
            return;
        }
        m_askedAgain.removeAll(key);
        emit hasConnectionErrorSignal(deviceID);
        return;
    }
    m_askedAgain.removeAll(key);
    emit hasCurrentStateSignal(deviceID, D415States::stateWord(packet.stateFlags));
    handleStateFlags(packet);
    emitValue(packet);
}

quint16 D415Device::requestKey(const D415DataPacket &packet)
{
    return quint16((packet.command << 8) | packet.parameter);
}

bool D415Device::asksAgainSafely(quint8 command)
{
    // A fill or a discharge may have been carried out although its reply was lost: sent again it
    // would fill or discharge a second time. Everything else reads, or sets what it sets again.
    switch (command) {
    case CmdFillDose:
    case CmdFillSetDose:
    case CmdContinueFill:
    case CmdDischarge:
    case CmdFullCycle: return false;
    default: return true;
    }
}

void D415Device::askAgain(const D415DataPacket &failed)
{
    // One lost frame on a noisy line is not a lost doser: the request goes out once more before the
    // miss counts. The failure packet carries the request as it was sent.
    m_askedAgain.append(requestKey(failed));
    D415DataPacket request;
    request.reset();
    request.destinationAddress = quint8(deviceID);
    request.command = failed.command;
    request.parameter = failed.parameter;
    for (int i = 0; i < 3; ++i)
        request.mantissa[i] = failed.mantissa[i];
    request.decimals = failed.decimals;
    qCDebug(lcDevice) << "asking doser" << deviceID << "again: command" << request.command << "parameter"
                      << request.parameter;
    emit requestSignal(request);
}

void D415Device::handleStateFlags(const D415DataPacket &packet)
{
    using namespace D415States;
    if (packet.stateFlags & FaultBit) {
        switch (errorClass(packet.errorCode)) {
        case ErrorClass::StopWithMessage:
            emit hasErrorSignal(deviceID, errorMessage(packet.errorCode));
            emit needToStopTheWork(deviceID);
            break;
        case ErrorClass::StopOnly: emit needToStopTheWork(deviceID); break;
        case ErrorClass::Ignored: break;
        }
        return;
    }
    if (packet.stateFlags & WorkingBit)
        return;
    if (packet.stateFlags & EmptyHopperBit)
        emit workStoppedMustDownloadSignal(deviceID);
    else
        emit workStoppedMustUploadSignal(deviceID);
}

void D415Device::emitValue(const D415DataPacket &packet)
{
    const QString text = D415ValueText::decimal(packet);
    switch (packet.command) {
    case CmdWeightNetto: emit hasGetWeightNETTOSignal(deviceID, text); break;
    case CmdPOVersion: emit hasGetPOVersionSignal(deviceID, text); break;
    case CmdSetDoseWeight: emit hasSetDoseWeightSignal(deviceID, text); break;
    case CmdGetFaultPlus:
    case CmdSetFaultPlus: emit hasGetDoseFaultPlusSignal(deviceID, text); break;
    case CmdGetFaultMinus:
    case CmdSetFaultMinus: emit hasGetDoseFaultMinusSignal(deviceID, text); break;
    case CmdDischarge: emit hasGetDoseUploadSignal(deviceID, text); break;
    case CmdCounters: emitCounterValue(packet); break;
    case CmdService: emitServiceValue(packet); break;
    default: break;
    }
}

void D415Device::emitCounterValue(const D415DataPacket &packet)
{
    switch (packet.parameter) {
    case LastFillWeight: emit hasGetSumWeightOfLastDownloadSignal(deviceID, D415ValueText::decimal(packet)); break;
    case ShiftDoseCount: emit hasGetDoseCountSignal(deviceID, D415ValueText::decimal(packet)); break;
    case ShiftWeight: emit hasGetTotalWeightSignal(deviceID, D415ValueText::unsignedInteger(packet)); break;
    case LifetimeDoseCount:
        emit hasGetTotalCommonDoseCountSignal(deviceID, D415ValueText::unsignedInteger(packet));
        break;
    case LifetimeWeight: emit hasGetTotalCommonWeightSignal(deviceID, D415ValueText::unsignedInteger(packet)); break;
    default: break;
    }
}

void D415Device::emitServiceValue(const D415DataPacket &packet)
{
    switch (packet.parameter) {
    case MaxDoseWeight: emit hasGetNPDSignal(deviceID, D415ValueText::decimal(packet)); break;
    case Scale:
        emit hasGetScaleSignal(deviceID, D415ValueText::decimal(packet));
        emit hasGetScaleSignal(deviceID, quint8(packet.decimals));
        break;
    case WeightUnit:
    case TotalWeightUnit: {
        const QString unit = D415ValueText::unitWord(packet);
        if (unit.isEmpty())
            break;
        if (packet.parameter == WeightUnit)
            emit hasGetWeightScaleSignal(deviceID, unit);
        else
            emit hasGetTotalWeightScaleSignal(deviceID, unit);
        break;
    }
    default: break;
    }
}

void D415Device::setDoseWeight(QString weight, quint8 decimals)
{
    sendValueRequest("setDoseWeight", CmdSetDoseWeight, 1, weight, decimals);
}

void D415Device::setDoseFaultPlus(QString value, quint8 decimals)
{
    sendValueRequest("setDoseFaultPlus", CmdSetFaultPlus, 0, value, decimals);
}

void D415Device::setDoseFaultMinus(QString value, quint8 decimals)
{
    sendValueRequest("setDoseFaultMinus", CmdSetFaultMinus, 0, value, decimals);
}

void D415Device::startTestMode()
{
    // The controller reads an all-ones value as "simulation on".
    prepareRequest(CmdTestMode, 0);
    m_request.mantissa[0] = 0xFF;
    m_request.mantissa[1] = 0xFF;
    m_request.mantissa[2] = 0xFF;
    emit requestSignal(m_request);
}

void D415Device::stopTestMode()
{
    sendRequest(CmdTestMode, 0);
}

void D415Device::stopWork()
{
    sendRequest(CmdStopWork, 0);
}

void D415Device::uploadDose()
{
    sendRequest(CmdDischarge, 0);
}

void D415Device::downloadDose()
{
    sendRequest(CmdFillSetDose, 0);
}

void D415Device::downloadDose(QString weight, quint8 decimals)
{
    sendValueRequest("downloadDose", CmdFillDose, 0, weight, decimals);
}

void D415Device::doFullCycle()
{
    sendRequest(CmdFullCycle, 0);
}

void D415Device::continueDownload()
{
    sendRequest(CmdContinueFill, 0);
}

void D415Device::resetErrorFlag()
{
    sendRequest(CmdResetError, 0);
}

void D415Device::requestDoseFaultPlus()
{
    sendRequest(CmdGetFaultPlus, 0);
}

void D415Device::requestDoseFaultMinus()
{
    sendRequest(CmdGetFaultMinus, 0);
}

void D415Device::requestSumWeightOfLastDownload()
{
    sendRequest(CmdCounters, LastFillWeight);
}

void D415Device::requestTotalCommonDoseCount()
{
    sendRequest(CmdCounters, LifetimeDoseCount);
}

void D415Device::requestDoseCount()
{
    sendRequest(CmdCounters, ShiftDoseCount);
}

void D415Device::requestTotalCommonWeight()
{
    sendRequest(CmdCounters, LifetimeWeight);
}

void D415Device::requestTotalWeight()
{
    sendRequest(CmdCounters, ShiftWeight);
}

void D415Device::requestWeightNETTO()
{
    sendRequest(CmdWeightNetto, 0);
}

void D415Device::requestPOVersion()
{
    sendRequest(CmdPOVersion, 0);
}

void D415Device::requestScale()
{
    sendRequest(CmdService, Scale);
}

void D415Device::requestNPD()
{
    sendRequest(CmdService, MaxDoseWeight);
}

void D415Device::requestWeightScale()
{
    sendRequest(CmdService, WeightUnit);
}

void D415Device::requestTotalWeightScale()
{
    sendRequest(CmdService, TotalWeightUnit);
}
