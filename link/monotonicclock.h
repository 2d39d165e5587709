#pragma once

#include <QtGlobal>

/// The clock of the line's time-outs: CLOCK_MONOTONIC in nanoseconds, unaffected by setting the time.
namespace MonotonicClock {

constexpr qint64 NsPerMs = 1000000;
constexpr qint64 NsPerSecond = 1000000000;

qint64 nowNs();
/// Sleeps until the monotonic time @p whenNs (returns at once when it has passed).
void sleepUntil(qint64 whenNs);

} // namespace MonotonicClock
