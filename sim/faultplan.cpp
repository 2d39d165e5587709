#include "faultplan.h"

namespace {

bool takeOne(int &pending)
{
    if (pending <= 0)
        return false;
    --pending;
    return true;
}

} // namespace

FaultPlan::Decision FaultPlan::next()
{
    Decision decision;
    if (m_silentAlways || takeOne(m_silent)) {
        decision.silent = true;
        return decision;
    }
    decision.badCheckByte = takeOne(m_badCheckByte);
    decision.wrongAddress = takeOne(m_wrongAddress);
    decision.partial = takeOne(m_partial);
    decision.delayMs = takeOne(m_slow) ? m_slowMs : m_delayMs;
    return decision;
}

void FaultPlan::addSlow(int count, int delayMs)
{
    m_slow += count;
    m_slowMs = delayMs;
}

void FaultPlan::clear()
{
    *this = FaultPlan();
}

QString FaultPlan::describe() const
{
    return QStringLiteral("silence %1, next silent %2, bad check byte %3, wrong address %4, partial %5, slow %6 "
                          "(%7 ms), delay %8 ms")
        .arg(m_silentAlways ? QStringLiteral("on") : QStringLiteral("off"))
        .arg(m_silent)
        .arg(m_badCheckByte)
        .arg(m_wrongAddress)
        .arg(m_partial)
        .arg(m_slow)
        .arg(m_slowMs)
        .arg(m_delayMs);
}
