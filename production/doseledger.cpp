#include "doseledger.h"

#include <cmath>

namespace {
double scale(int decimals)
{
    return std::pow(10.0, decimals);
}
} // namespace

DoseLedger::Settlement DoseLedger::settle(const Witness &record, quint32 counter, qint64 hopper, qint64 limit)
{
    Settlement settlement;
    if (counter < record.counter) {
        settlement.outcome = Outcome::CounterWentBack;
        return settlement;
    }
    const qint64 left = qint64(counter - record.counter) + record.hopper - hopper;
    if (left < 0)
        settlement.outcome = Outcome::LessThanCounted;
    else if (left > limit)
        settlement.outcome = Outcome::MoreThanPossible;
    else
        settlement.unreported = left;
    return settlement;
}

DoseLedger::Witness DoseLedger::afterDischarge(const Witness &record, qint64 units)
{
    return {record.counter, record.hopper - units};
}

qint64 DoseLedger::toUnits(double weight, int decimals)
{
    return std::llround(weight * scale(decimals));
}

double DoseLedger::toWeight(qint64 units, int decimals)
{
    return double(units) / scale(decimals);
}
