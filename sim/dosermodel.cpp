#include "dosermodel.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 MaxMantissa = 0x7FFFFF;
constexpr qint64 MinMantissa = -0x800000;

enum Command : quint8 {
    WeightNetto = 0,
    Version = 3,
    ResetError = 4,
    SetDoseWeight = 8,
    GetPlus = 10,
    SetPlus = 11,
    GetMinus = 12,
    SetMinus = 13,
    FillWeight = 14,
    FillDose = 15,
    ContinueFill = 17,
    Discharge = 20,
    FullCycle = 22,
    Counters = 24,
    StopWork = 26,
    TestMode = 39,
    Service = 44,
};

QLatin1String unitName(DoserModel::Unit unit)
{
    static const char *const names[] = {"g", "kg", "t"};
    return QLatin1String(names[unit]);
}

qint64 powerOfTen(int exponent)
{
    qint64 result = 1;
    for (int i = 0; i < exponent; ++i)
        result *= 10;
    return result;
}

bool parseCount(const QString &text, quint32 *value, QString *error)
{
    bool ok = false;
    const qulonglong parsed = text.trimmed().toULongLong(&ok);
    if (!ok || parsed > 0xFFFFFFFFull) {
        *error = QStringLiteral("expected a whole number from 0 to 4294967295");
        return false;
    }
    *value = quint32(parsed);
    return true;
}

bool parseMilliseconds(const QString &text, int *value, QString *error)
{
    bool ok = false;
    const int parsed = text.trimmed().toInt(&ok);
    if (!ok || parsed < 0 || parsed > 600000) {
        *error = QStringLiteral("expected milliseconds from 0 to 600000");
        return false;
    }
    *value = parsed;
    return true;
}

} // namespace

DoserModel::DoserModel() = default;

D415DataPacket DoserModel::answer(const D415DataPacket &request, qint64 nowMs)
{
    advance(nowMs);
    D415DataPacket reply;
    reply.reset();
    reply.sourceAddress = m_address;
    reply.command = request.command;
    reply.parameter = request.parameter;
    replyValue(reply, request, nowMs);
    // The state after the command: a fill request is already answered as working.
    reply.stateFlags = stateFlags();
    reply.errorCode = m_fault ? m_errorCode : 0;
    return reply;
}

void DoserModel::replyValue(D415DataPacket &reply, const D415DataPacket &request, qint64 nowMs)
{
    switch (request.command) {
    case WeightNetto: setWeight(reply, hopperNow(nowMs)); break;
    case Version:
        setWeight(reply, m_firmware);
        reply.decimals = quint8(m_firmwareDecimals);
        break;
    case ResetError:
        resetError();
        m_events << QStringLiteral("error reset");
        break;
    case SetDoseWeight:
        m_doseWeight = requestUnits(request);
        setWeight(reply, m_doseWeight);
        break;
    case SetPlus: m_plusTolerance = requestUnits(request); [[fallthrough]];
    case GetPlus: setWeight(reply, m_plusTolerance); break;
    case SetMinus: m_minusTolerance = requestUnits(request); [[fallthrough]];
    case GetMinus: setWeight(reply, m_minusTolerance); break;
    case FillWeight:
        startFill(requestUnits(request), false, nowMs);
        setWeight(reply, requestUnits(request));
        break;
    case FillDose:
    case FullCycle:
        startFill(m_doseWeight, request.command == FullCycle, nowMs);
        setWeight(reply, m_doseWeight);
        break;
    case ContinueFill:
        continueFill(nowMs);
        setWeight(reply, m_fillTo);
        break;
    case Discharge: setWeight(reply, discharge(nowMs)); break;
    case Counters: counterValue(reply, request.parameter); break;
    case StopWork: stop(nowMs); break;
    case TestMode: {
        const bool allOnes = request.mantissa[0] == 0xFF && request.mantissa[1] == 0xFF && request.mantissa[2] == 0xFF;
        const bool zero = request.mantissa[0] == 0 && request.mantissa[1] == 0 && request.mantissa[2] == 0;
        if (allOnes || zero) {
            m_testMode = allOnes;
            m_events << (m_testMode ? QStringLiteral("test mode on") : QStringLiteral("working mode"));
        }
        // Answered in the request's own coding: all ones for simulation, zero for working mode.
        setRaw(reply, m_testMode ? 0xFFFFFFu : 0u);
        break;
    }
    case Service: serviceValue(reply, request.parameter); break;
    default: break;
    }
}

void DoserModel::counterValue(D415DataPacket &reply, quint8 parameter) const
{
    switch (parameter) {
    case 0: setWeight(reply, m_lastFill); break;
    case 16: setCount(reply, m_shiftDoses); break;
    case 18: setRaw(reply, m_shiftWeight); break;
    case 19: setRaw(reply, m_lifetimeDoses); break;
    case 20: setRaw(reply, m_lifetimeWeight); break;
    default: break;
    }
}

void DoserModel::serviceValue(D415DataPacket &reply, quint8 parameter) const
{
    switch (parameter) {
    case 0: setWeight(reply, m_maxDose); break;
    case 1: setWeight(reply, 1); break; // the scale step: one unit of the last decimal place
    case 2:
    case 3: setCount(reply, m_unit); break;
    default: break;
    }
}

qint64 DoserModel::requestUnits(const D415DataPacket &request) const
{
    const double units = std::round(request.value() * double(powerOfTen(m_decimals)));
    return qint64(std::clamp(units, 0.0, double(MaxMantissa)));
}

void DoserModel::setWeight(D415DataPacket &reply, qint64 units) const
{
    setCount(reply, units);
    reply.decimals = quint8(m_decimals);
}

void DoserModel::setCount(D415DataPacket &reply, qint64 count)
{
    // Two's complement in 24 bits; the decimals byte above them stays 0.
    setRaw(reply, quint32(qint32(std::clamp(count, MinMantissa, MaxMantissa))) & 0xFFFFFF);
}

void DoserModel::setRaw(D415DataPacket &reply, quint32 raw)
{
    reply.mantissa[0] = quint8(raw & 0xFF);
    reply.mantissa[1] = quint8((raw >> 8) & 0xFF);
    reply.mantissa[2] = quint8((raw >> 16) & 0xFF);
    reply.decimals = quint8(raw >> 24);
}

quint8 DoserModel::stateFlags() const
{
    if (m_fault)
        return 0x80;
    if (m_phase != Phase::Idle)
        return 0x02;
    // Stopped: bit 4 tells the workstation that the next job is a fill.
    return m_hopper == 0 ? 0x10 : 0x00;
}

void DoserModel::startFill(qint64 targetUnits, bool cycle, qint64 nowMs)
{
    if (m_fault) {
        m_events << QStringLiteral("fill refused: in fault, waiting for reset-error");
        return;
    }
    if (m_phase != Phase::Idle) {
        m_events << QStringLiteral("fill refused: a job is running");
        return;
    }
    if (m_hopper != 0) {
        m_events << QStringLiteral("fill refused: the hopper holds %1").arg(weightText(m_hopper));
        injectError(9, nowMs);
        return;
    }
    m_fillTarget = targetUnits;
    m_fillFrom = 0;
    m_fillTo = withNoise(targetUnits);
    m_fillInterrupted = false;
    m_cycle = cycle;
    m_phase = Phase::Filling;
    m_phaseStartMs = nowMs;
    m_phaseEndMs = nowMs + m_fillTimeMs;
    m_events << QStringLiteral("%1 %2, lands on %3 in %4 ms")
                    .arg(cycle ? QStringLiteral("full cycle: filling") : QStringLiteral("filling"),
                        weightText(targetUnits), weightText(m_fillTo))
                    .arg(m_fillTimeMs);
}

void DoserModel::continueFill(qint64 nowMs)
{
    if (m_fault || m_phase != Phase::Idle || !m_fillInterrupted) {
        m_events << QStringLiteral("continue refused: no interrupted fill");
        return;
    }
    m_fillFrom = m_hopper;
    m_fillInterrupted = false;
    m_phase = Phase::Filling;
    m_phaseStartMs = nowMs;
    const double rest = m_fillTo > 0 ? double(m_fillTo - m_fillFrom) / double(m_fillTo) : 0.0;
    m_phaseEndMs = nowMs + qint64(m_fillTimeMs * std::clamp(rest, 0.0, 1.0));
    m_events << QStringLiteral("continuing the fill from %1 to %2").arg(weightText(m_fillFrom), weightText(m_fillTo));
}

qint64 DoserModel::discharge(qint64 nowMs)
{
    if (m_fault) {
        m_events << QStringLiteral("discharge refused: in fault, waiting for reset-error");
        return 0;
    }
    // A fill or cycle in progress is cut short: what the hopper holds now goes out.
    const qint64 held = hopperNow(nowMs);
    m_phase = Phase::Idle;
    m_cycle = false;
    m_fillInterrupted = false;
    m_hopper = 0;
    m_events << QStringLiteral("discharged %1").arg(weightText(held));
    countDischarge(held);
    return held;
}

void DoserModel::stop(qint64 nowMs)
{
    if (m_phase == Phase::Idle) {
        m_events << QStringLiteral("stop: nothing was running");
        return;
    }
    m_hopper = hopperNow(nowMs);
    m_fillInterrupted = m_phase == Phase::Filling;
    m_phase = Phase::Idle;
    m_cycle = false;
    m_events << QStringLiteral("stopped; the hopper holds %1").arg(weightText(m_hopper));
}

void DoserModel::advance(qint64 nowMs)
{
    while (m_phase != Phase::Idle && nowMs >= m_phaseEndMs) {
        if (m_phase == Phase::Filling)
            finishFill();
        else
            finishDischarge();
    }
}

void DoserModel::finishFill()
{
    m_hopper = m_fillTo;
    m_lastFill = m_fillTo;
    ++m_shiftDoses;
    m_shiftWeight += quint32(m_fillTo);
    ++m_lifetimeDoses;
    m_lifetimeWeight += quint32(m_fillTo);
    m_events << QStringLiteral("dose weighed: %1; lifetime %2 doses, weight %3 (raw)")
                    .arg(weightText(m_fillTo))
                    .arg(m_lifetimeDoses)
                    .arg(m_lifetimeWeight);
    if (m_cycle) {
        m_phase = Phase::Discharging;
        m_phaseStartMs = m_phaseEndMs;
        m_phaseEndMs += m_dischargeTimeMs;
    } else {
        m_phase = Phase::Idle;
    }
}

void DoserModel::finishDischarge()
{
    m_events << QStringLiteral("full cycle: discharged %1").arg(weightText(m_hopper));
    countDischarge(m_hopper);
    m_hopper = 0;
    m_phase = Phase::Idle;
    m_cycle = false;
}

void DoserModel::countDischarge(qint64 units)
{
    if (units <= 0)
        return;
    ++m_discharges;
    m_dischargedUnits += units;
}

qint64 DoserModel::hopperNow(qint64 nowMs) const
{
    if (m_phase == Phase::Idle)
        return m_hopper;
    const qint64 span = std::max<qint64>(1, m_phaseEndMs - m_phaseStartMs);
    const double progress = std::clamp(double(nowMs - m_phaseStartMs) / double(span), 0.0, 1.0);
    if (m_phase == Phase::Filling)
        return m_fillFrom + qint64(std::llround(double(m_fillTo - m_fillFrom) * progress));
    return qint64(std::llround(double(m_hopper) * (1.0 - progress)));
}

qint64 DoserModel::nextEventMs() const
{
    return m_phase == Phase::Idle ? -1 : m_phaseEndMs;
}

QStringList DoserModel::takeEvents()
{
    QStringList events;
    events.swap(m_events);
    return events;
}

qint64 DoserModel::withNoise(qint64 units)
{
    if (m_noise <= 0)
        return units;
    std::uniform_int_distribution<qint64> spread(-m_noise, m_noise);
    // A dose that was asked for never lands on nothing: the workstation learns that a dose has been
    // weighed only from the change of the lifetime weight counter, and would wait for it for ever.
    const qint64 lowest = units > 0 ? 1 : 0;
    return std::clamp<qint64>(units + spread(m_random), lowest, MaxMantissa);
}

void DoserModel::injectError(quint8 code, qint64 nowMs)
{
    if (m_phase != Phase::Idle)
        stop(nowMs);
    m_fault = true;
    m_errorCode = code;
    m_events << QStringLiteral("fault: error %1 until reset-error").arg(code);
}

void DoserModel::resetError()
{
    m_fault = false;
    m_errorCode = 0;
}

QString DoserModel::weightText(qint64 units) const
{
    const qint64 scale = powerOfTen(m_decimals);
    QString text = QString::number(std::abs(units) / scale);
    if (m_decimals > 0)
        text
            += QLatin1Char('.') + QString::number(std::abs(units) % scale).rightJustified(m_decimals, QLatin1Char('0'));
    return units < 0 ? QLatin1Char('-') + text : text;
}

QString DoserModel::describe(qint64 nowMs)
{
    advance(nowMs);
    return QStringLiteral("doser %1, state 0x%2, error %3, net %4, dose %5, max %6, plus %7, minus %8, decimals %9, "
                          "unit %10, shift %11 doses %12 raw, lifetime %13 doses %14 raw, test mode %15, "
                          "discharged %16 since start")
        .arg(m_address)
        .arg(stateFlags(), 2, 16, QLatin1Char('0'))
        .arg(m_fault ? int(m_errorCode) : 0)
        .arg(weightText(hopperNow(nowMs)), weightText(m_doseWeight), weightText(m_maxDose), weightText(m_plusTolerance),
            weightText(m_minusTolerance))
        .arg(m_decimals)
        .arg(unitName(m_unit))
        .arg(m_shiftDoses)
        .arg(m_shiftWeight)
        .arg(m_lifetimeDoses)
        .arg(m_lifetimeWeight)
        .arg(m_testMode ? QStringLiteral("on") : QStringLiteral("off"), weightText(m_dischargedUnits));
}

QString DoserModel::describeTotals() const
{
    return QStringLiteral("totals: discharged %1 times, %2 %3 since start; lifetime %4 doses %5 raw")
        .arg(m_discharges)
        .arg(weightText(m_dischargedUnits), unitName(m_unit))
        .arg(m_lifetimeDoses)
        .arg(m_lifetimeWeight);
}

QStringList DoserModel::settableKeys()
{
    return {QStringLiteral("address"), QStringLiteral("decimals"), QStringLiteral("max-dose"), QStringLiteral("unit"),
        QStringLiteral("firmware"), QStringLiteral("plus"), QStringLiteral("minus"), QStringLiteral("dose"),
        QStringLiteral("net"), QStringLiteral("fill-time"), QStringLiteral("discharge-time"), QStringLiteral("noise"),
        QStringLiteral("seed"), QStringLiteral("shift-doses"), QStringLiteral("shift-weight"),
        QStringLiteral("lifetime-doses"), QStringLiteral("lifetime-weight"), QStringLiteral("test-mode")};
}

bool DoserModel::setValue(const QString &key, const QString &text, qint64 nowMs, QString *error)
{
    advance(nowMs);
    quint32 count = 0;
    if (key == QLatin1String("address")) {
        if (!parseCount(text, &count, error) || count > 127) {
            *error = QStringLiteral("expected an address from 0 to 127");
            return false;
        }
        m_address = quint8(count);
        return true;
    }
    if (key == QLatin1String("decimals"))
        return setDecimals(text, error);
    if (key == QLatin1String("max-dose"))
        return setWeightValue(m_maxDose, text, error);
    if (key == QLatin1String("plus"))
        return setWeightValue(m_plusTolerance, text, error);
    if (key == QLatin1String("minus"))
        return setWeightValue(m_minusTolerance, text, error);
    if (key == QLatin1String("dose"))
        return setWeightValue(m_doseWeight, text, error);
    if (key == QLatin1String("noise"))
        return setWeightValue(m_noise, text, error);
    if (key == QLatin1String("net")) {
        if (m_phase != Phase::Idle) {
            *error = QStringLiteral("a job is running");
            return false;
        }
        return setWeightValue(m_hopper, text, error);
    }
    if (key == QLatin1String("unit")) {
        static const QHash<QString, Unit> names
            = {{"g", Gram}, {"kg", Kilogram}, {"t", Tonne}, {"0", Gram}, {"1", Kilogram}, {"2", Tonne}};
        if (!names.contains(text.trimmed())) {
            *error = QStringLiteral("expected g, kg or t");
            return false;
        }
        m_unit = names.value(text.trimmed());
        return true;
    }
    if (key == QLatin1String("firmware")) {
        const QString version = text.trimmed();
        bool ok = false;
        const double number = version.toDouble(&ok);
        const int point = version.indexOf(QLatin1Char('.'));
        const int decimals = point < 0 ? 0 : int(version.size() - point - 1);
        if (!ok || number < 0 || decimals > 6 || number * double(powerOfTen(decimals)) > double(MaxMantissa)) {
            *error = QStringLiteral("expected a version such as 4.15");
            return false;
        }
        m_firmware = std::llround(number * double(powerOfTen(decimals)));
        m_firmwareDecimals = decimals;
        return true;
    }
    if (key == QLatin1String("fill-time"))
        return parseMilliseconds(text, &m_fillTimeMs, error);
    if (key == QLatin1String("discharge-time"))
        return parseMilliseconds(text, &m_dischargeTimeMs, error);
    if (key == QLatin1String("seed")) {
        if (!parseCount(text, &count, error))
            return false;
        m_random.seed(count);
        return true;
    }
    if (key == QLatin1String("shift-doses")) {
        if (!parseCount(text, &count, error))
            return false;
        m_shiftDoses = count;
        return true;
    }
    if (key == QLatin1String("shift-weight"))
        return parseCount(text, &m_shiftWeight, error);
    if (key == QLatin1String("lifetime-doses"))
        return parseCount(text, &m_lifetimeDoses, error);
    if (key == QLatin1String("lifetime-weight"))
        return parseCount(text, &m_lifetimeWeight, error);
    if (key == QLatin1String("test-mode")) {
        if (text.trimmed() != QLatin1String("on") && text.trimmed() != QLatin1String("off")) {
            *error = QStringLiteral("expected on or off");
            return false;
        }
        m_testMode = text.trimmed() == QLatin1String("on");
        return true;
    }
    *error = QStringLiteral("unknown value; known: %1").arg(settableKeys().join(QLatin1String(", ")));
    return false;
}

bool DoserModel::setWeightValue(qint64 &target, const QString &text, QString *error) const
{
    bool ok = false;
    const double weight = text.trimmed().toDouble(&ok);
    const double units = std::round(weight * double(powerOfTen(m_decimals)));
    if (!ok || !std::isfinite(weight) || units < 0 || units > double(MaxMantissa)) {
        *error = QStringLiteral("expected a weight from 0 to %1").arg(weightText(MaxMantissa));
        return false;
    }
    target = qint64(units);
    return true;
}

bool DoserModel::setDecimals(const QString &text, QString *error)
{
    bool ok = false;
    const int decimals = text.trimmed().toInt(&ok);
    if (!ok || decimals < 0 || decimals > 6) {
        *error = QStringLiteral("expected 0 to 6 decimals");
        return false;
    }
    if (m_phase != Phase::Idle) {
        *error = QStringLiteral("a job is running");
        return false;
    }
    rescale(m_decimals, decimals);
    m_decimals = decimals;
    return true;
}

void DoserModel::rescale(int fromDecimals, int toDecimals)
{
    // Every weight keeps its meaning in the new unit of the last decimal place.
    const auto convert = [&](qint64 units, qint64 limit) {
        const qint64 scaled = toDecimals >= fromDecimals ? units * powerOfTen(toDecimals - fromDecimals)
                                                         : units / powerOfTen(fromDecimals - toDecimals);
        return std::clamp<qint64>(scaled, 0, limit);
    };
    for (qint64 *weight : {&m_maxDose, &m_plusTolerance, &m_minusTolerance, &m_doseWeight, &m_noise, &m_hopper,
             &m_fillFrom, &m_fillTo, &m_fillTarget, &m_lastFill})
        *weight = convert(*weight, MaxMantissa);
    m_dischargedUnits = convert(m_dischargedUnits, std::numeric_limits<qint64>::max());
    m_shiftWeight = quint32(convert(m_shiftWeight, 0xFFFFFFFF));
    m_lifetimeWeight = quint32(convert(m_lifetimeWeight, 0xFFFFFFFF));
}
