#include "monotonicclock.h"

#include <cerrno>
#include <time.h>

namespace MonotonicClock {

qint64 nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * NsPerSecond + now.tv_nsec;
}

void sleepUntil(qint64 whenNs)
{
    const timespec when {time_t(whenNs / NsPerSecond), long(whenNs % NsPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) { }
}

} // namespace MonotonicClock
