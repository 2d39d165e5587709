#include "directioncontrol.h"

#include "monotonicclock.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

using MonotonicClock::NsPerMs;
using MonotonicClock::NsPerSecond;

namespace {

// Start bit, eight data bits, stop bit.
constexpr int BitsPerCharacter = 10;

} // namespace

DirectionControl::DirectionControl() = default;
DirectionControl::~DirectionControl() = default;

void DirectionControl::setUp(int fd)
{
    m_fd = fd;
    m_mode = Mode::None;
    m_transmitterStatusKnown = false;
    if (kernelRs485Taken()) {
        m_mode = Mode::KernelRs485;
        return;
    }
    int lines = 0;
    if (ioctl(m_fd, TIOCMGET, &lines) == 0)
        m_mode = Mode::RtsAroundWrite;
    int lsr = 0;
    m_transmitterStatusKnown = ioctl(m_fd, TIOCSERGETLSR, &lsr) == 0;
}

void DirectionControl::use(int fd, Mode mode)
{
    m_fd = fd;
    m_mode = mode;
    int lsr = 0;
    m_transmitterStatusKnown = ioctl(m_fd, TIOCSERGETLSR, &lsr) == 0;
}

bool DirectionControl::kernelRs485Taken()
{
    serial_rs485 found {};
    if (ioctl(m_fd, TIOCGRS485, &found) != 0)
        return false;
    serial_rs485 wanted = found;
    wanted.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    wanted.flags &= ~(SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX);
    wanted.delay_rts_before_send = 0;
    wanted.delay_rts_after_send = 0;
    serial_rs485 back {};
    const bool taken = ioctl(m_fd, TIOCSRS485, &wanted) == 0 && ioctl(m_fd, TIOCGRS485, &back) == 0;
    const quint32 needed = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    if (taken && (back.flags & needed) == needed && !(back.flags & SER_RS485_RTS_AFTER_SEND)) {
        m_savedRs485 = std::make_unique<serial_rs485>(found);
        m_rs485Changed = true;
        return true;
    }
    // Some drivers take only part of it: a half-set mode is worse than none.
    if (taken)
        ioctl(m_fd, TIOCSRS485, &found);
    return false;
}

void DirectionControl::restore()
{
    if (m_rs485Changed && m_fd >= 0)
        ioctl(m_fd, TIOCSRS485, m_savedRs485.get());
    m_rs485Changed = false;
    m_savedRs485.reset();
    if (m_mode == Mode::RtsAroundWrite)
        setRts(false);
    m_fd = -1;
    m_mode = Mode::None;
    m_transmitterStatusKnown = false;
}

void DirectionControl::setRts(bool active)
{
    int lines = TIOCM_RTS;
    ioctl(m_fd, active ? TIOCMBIS : TIOCMBIC, &lines);
}

void DirectionControl::beginWrite()
{
    if (m_mode == Mode::RtsAroundWrite)
        setRts(true);
}

void DirectionControl::endWrite(int sent, int baudRate, qint64 startNs, qint64 deadlineNs)
{
    if (m_mode != Mode::RtsAroundWrite)
        return;
    if (sent > 0 && baudRate > 0)
        waitUntilSent(sent, baudRate, startNs, deadlineNs);
    setRts(false);
}

void DirectionControl::waitUntilSent(int count, int baudRate, qint64 startNs, qint64 deadlineNs)
{
    // RTS must fall as soon as the stop bit of the last byte has left: the doser starts its reply
    // soon after, and a late drop keeps the converter sending over the reply's first bytes. Sleep for
    // the frame's time on the wire, then confirm with the transmitter-empty bit; tcdrain() alone can
    // return up to a kernel tick late. The write's total time-out bounds the whole wait.
    const qint64 characterNs = qint64(BitsPerCharacter) * NsPerSecond / baudRate;
    const qint64 onWireNs = startNs + count * characterNs;
    const bool limited = deadlineNs >= 0;
    MonotonicClock::sleepUntil(limited ? qMin(onWireNs, deadlineNs) : onWireNs);
    if (limited && MonotonicClock::nowNs() >= deadlineNs)
        return;
    if (!m_transmitterStatusKnown) {
        tcdrain(m_fd);
        return;
    }
    const qint64 limit = limited ? deadlineNs : onWireNs + count * characterNs + 100 * NsPerMs;
    for (;;) {
        int lsr = 0;
        if (ioctl(m_fd, TIOCSERGETLSR, &lsr) != 0 || (lsr & TIOCSER_TEMT) || MonotonicClock::nowNs() >= limit)
            return;
        MonotonicClock::sleepUntil(MonotonicClock::nowNs() + characterNs);
    }
}
