#include "faultplan.h"

namespace {

bool takeOne(int &pending)
{
    if (pending <= 0)
        return false;
    --pending;
    return true;
}

struct FaultName
{
    const char *name;
    FaultPlan::Fault::Kind kind;
    int defaultMs; // -1: takes no MS; 0 with needsMs: MS must be given
    bool needsMs;
};

const FaultName faultNames[] = {
    {"silence", FaultPlan::Fault::Silence, -1, false},
    {"badcrc", FaultPlan::Fault::BadCheckByte, -1, false},
    {"wrongaddress", FaultPlan::Fault::WrongAddress, -1, false},
    {"partial", FaultPlan::Fault::Partial, -1, false},
    {"junk", FaultPlan::Fault::Junk, -1, false},
    {"slow", FaultPlan::Fault::Slow, FaultPlan::DefaultSlowMs, false},
    {"late", FaultPlan::Fault::Slow, FaultPlan::DefaultSlowMs, false},
    {"hold", FaultPlan::Fault::Slow, FaultPlan::DefaultSlowMs, false},
    {"hangup", FaultPlan::Fault::Hangup, 0, true},
    {"mark", FaultPlan::Fault::Mark, -1, false},
};

} // namespace

bool FaultPlan::Fault::parse(const QStringList &words, Fault *fault, QString *error)
{
    const QString name = words.value(0).toLower();
    for (const FaultName &known : faultNames) {
        if (name != QLatin1String(known.name))
            continue;
        if (known.defaultMs < 0 && words.size() > 1) {
            *error = QStringLiteral("%1 takes no value").arg(name);
            return false;
        }
        if (known.needsMs && words.size() < 2) {
            *error = QStringLiteral("%1 needs milliseconds").arg(name);
            return false;
        }
        if (words.size() > 2) {
            *error = QStringLiteral("unexpected \"%1\"").arg(words[2]);
            return false;
        }
        bool ok = true;
        const int ms = words.size() > 1 ? words[1].toInt(&ok) : known.defaultMs;
        if (!ok || (known.defaultMs >= 0 && (ms < 0 || ms > MaxLineDownMs))) {
            *error = QStringLiteral("expected milliseconds from 0 to %1, not \"%2\"").arg(MaxLineDownMs).arg(words[1]);
            return false;
        }
        *fault = Fault {known.kind, name, qMax(0, ms)};
        return true;
    }
    *error = QStringLiteral("unknown fault \"%1\" (see --help)").arg(name);
    return false;
}

QString FaultPlan::Fault::text() const
{
    return kind == Slow || kind == Hangup ? QStringLiteral("%1 %2").arg(name).arg(ms) : name;
}

void FaultPlan::Decision::add(const Fault &fault)
{
    switch (fault.kind) {
    case Fault::Silence: silent = true; break;
    case Fault::BadCheckByte: badCheckByte = true; break;
    case Fault::WrongAddress: wrongAddress = true; break;
    case Fault::Partial: partial = true; break;
    case Fault::Junk: junk = true; break;
    case Fault::Slow: delayMs = fault.ms; break;
    case Fault::Hangup: hangupMs = fault.ms; break;
    case Fault::Mark: break;
    }
}

QByteArray FaultPlan::junkBytes()
{
    return QByteArray::fromHex("05 2A 55");
}

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
    decision.junk = takeOne(m_junk);
    decision.delayMs = takeOne(m_slow) ? m_slowMs : m_delayMs;
    if (takeOne(m_hangup))
        decision.hangupMs = m_hangupMs;
    return decision;
}

void FaultPlan::addSlow(int count, int delayMs)
{
    m_slow += count;
    m_slowMs = delayMs;
}

void FaultPlan::addHangup(int downMs)
{
    ++m_hangup;
    m_hangupMs = downMs;
}

void FaultPlan::clear()
{
    *this = FaultPlan();
}

QString FaultPlan::describe() const
{
    return QStringLiteral("silence %1, next silent %2, bad check byte %3, wrong address %4, partial %5, slow %6 "
                          "(%7 ms), delay %8 ms, junk %9, hangup %10 (%11 ms)")
        .arg(m_silentAlways ? QStringLiteral("on") : QStringLiteral("off"))
        .arg(m_silent)
        .arg(m_badCheckByte)
        .arg(m_wrongAddress)
        .arg(m_partial)
        .arg(m_slow)
        .arg(m_slowMs)
        .arg(m_delayMs)
        .arg(m_junk)
        .arg(m_hangup)
        .arg(m_hangupMs);
}
