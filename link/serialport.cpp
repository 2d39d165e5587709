#include "serialport.h"

#include "directioncontrol.h"
#include "linklogging.h"
#include "monotonicclock.h"
#include "portlockfile.h"
#include "portregistry.h"
#include "portscanner.h"

#include <QFile>
#include <QtDebug>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using MonotonicClock::NsPerMs;
using MonotonicClock::NsPerSecond;

namespace {

using FileStatus = struct stat;

constexpr qint64 NoDeadline = -1;

// Waits for @p events on @p fd or a signal on @p abortFd until @p deadlineNs (NoDeadline: no limit).
// Returns the revents of fd, 0 on time-out, -1 when aborted or on a poll failure.
int waitFor(int fd, short events, int abortFd, qint64 deadlineNs)
{
    pollfd fds[2] = {{fd, events, 0}, {abortFd, POLLIN, 0}};
    for (;;) {
        timespec timeout {};
        timespec *timeoutPtr = nullptr;
        if (deadlineNs != NoDeadline) {
            const qint64 left = qMax<qint64>(0, deadlineNs - MonotonicClock::nowNs());
            timeout = {time_t(left / NsPerSecond), long(left % NsPerSecond)};
            timeoutPtr = &timeout;
        }
        const int ready = ppoll(fds, 2, timeoutPtr, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || fds[1].revents != 0)
            return -1;
        return fds[0].revents;
    }
}

void drainEventFd(int fd)
{
    eventfd_t value = 0;
    while (eventfd_read(fd, &value) == 0) { }
}

speed_t speedConstant(int rate)
{
    switch (rate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

void setModemLines(int fd, int lines, bool raise)
{
    // A pseudo-terminal has no modem lines and answers ENOTTY; the port works without them.
    ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &lines);
}

} // namespace

class SerialPort::Private
{
public:
    bool openDevice(const QString &path);
    bool applyWorkingSettings();
    bool applySettings(termios t, speed_t speed);
    void setUpLowLatency();
    void restoreDriverSettings();
    bool createAbortEvents();
    void releaseHandle();
    bool lineErrorTotal(quint64 *total) const;
    bool lineErrorPending();
    bool readyForTransfer(std::atomic<bool> &abortPending, int abortFd);
    bool abort(std::atomic<bool> &abortPending, int abortFd);
    /// A total limit of @p totalMs in place of the configured one, unless it is -1.
    int read(quint8 *buffer, quint16 count, int totalMs);
    int write(const quint8 *buffer, quint16 count);
    bool isOpen() const { return m_open.load(std::memory_order_acquire); }

    int m_readTimeout = 100;
    int m_writeTimeout = 100;
    int m_baudRate = 115200;
    int m_readMultiplier = 1;
    int m_writeMultiplier = 1;
    std::atomic<bool> m_open {false};
    int m_fd = -1;
    dev_t m_deviceNumber = 0;
    bool m_exclusive = false;
    PortLockFile m_lock;
    // Written by the main thread while no transfer runs, signalled from any thread.
    int m_readAbortFd = -1;
    int m_writeAbortFd = -1;
    std::atomic<bool> m_readAbortPending {false};
    std::atomic<bool> m_writeAbortPending {false};
    bool m_lineDropped = false;
    termios m_working {};
    termios m_saved {};
    bool m_settingsSaved = false;
    DirectionControl m_direction;
    int m_savedSerialFlags = 0;
    bool m_serialFlagsChanged = false;
    bool m_lineErrorsCounted = false;
    quint64 m_lineErrorTotal = 0;
};

SerialPort::SerialPort()
    : m_d(std::make_unique<Private>())
{
    qDebug("SerialPort()");
}

SerialPort::~SerialPort()
{
    qDebug("~SerialPort()");
    close();
}

bool SerialPort::open(const QString &name)
{
    close();
    const QString path = PortScanner::devicePath(name);
    if (path.isEmpty() || !m_d->openDevice(path))
        return false;
    qCDebug(lcLink) << "opened" << path << "at" << m_d->m_baudRate << "bit/s, direction control"
                    << int(m_d->m_direction.mode()) << "line error counts" << m_d->m_lineErrorsCounted;
    m_d->m_open.store(true, std::memory_order_release);
    return true;
}

bool SerialPort::isOpen() const
{
    return m_d->isOpen();
}

bool SerialPort::lineDropped() const
{
    return m_d->m_lineDropped;
}

bool SerialPort::Private::openDevice(const QString &path)
{
    const QByteArray nativePath = QFile::encodeName(path);
    FileStatus st {};
    // Opening a terminal raises DTR and RTS: a port this program already holds is refused before that.
    if (stat(nativePath.constData(), &st) != 0 || !S_ISCHR(st.st_mode) || PortRegistry::isHeld(st.st_rdev))
        return false;
    const PortLockFile::Outcome lock = m_lock.acquire(path);
    if (lock == PortLockFile::Outcome::HeldElsewhere)
        return false;
    m_fd = ::open(nativePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        m_lock.release();
        return false;
    }
    // The lock file names the owner, flock stops a second instance of ours, and TIOCEXCL keeps out
    // programs that honour neither, though root passes it: another holder's TIOCEXCL is asked for. Only
    // the mark of a crashed owner, whose lock was stale, is cleared. A line held elsewhere is left
    // untouched.
    const bool staleOwner = lock == PortLockFile::Outcome::TakenOverStale;
    if (!isatty(m_fd) || (!staleOwner && PortScanner::isHeldExclusively(m_fd)) || flock(m_fd, LOCK_EX | LOCK_NB) != 0
        || !PortRegistry::claim(st.st_rdev)) {
        releaseHandle();
        return false;
    }
    if (staleOwner)
        ioctl(m_fd, TIOCNXCL);
    setModemLines(m_fd, TIOCM_DTR | TIOCM_RTS, false);
    m_deviceNumber = st.st_rdev;
    // The kernel keeps the mark after its owner dies while another process holds the terminal, and only
    // a privileged process can pass or clear it: a station without that privilege that holds the lock
    // file leaves the mark unset, so that a crash cannot lock it out of its own line.
    if (lock == PortLockFile::Outcome::Unavailable || geteuid() == 0)
        m_exclusive = ioctl(m_fd, TIOCEXCL) == 0;
    if (tcgetattr(m_fd, &m_saved) != 0) {
        releaseHandle();
        return false;
    }
    m_settingsSaved = true;
    m_working = m_saved;
    tcflush(m_fd, TCIOFLUSH);
    setUpLowLatency();
    m_direction.setUp(m_fd);
    if (!applyWorkingSettings() || !createAbortEvents()) {
        restoreDriverSettings();
        releaseHandle();
        return false;
    }
    tcflush(m_fd, TCIOFLUSH);
    setModemLines(m_fd, TIOCM_DTR | TIOCM_RTS, false);
    m_lineErrorsCounted = lineErrorTotal(&m_lineErrorTotal);
    m_lineDropped = false;
    return true;
}

bool SerialPort::Private::applyWorkingSettings()
{
    const speed_t speed = speedConstant(m_baudRate);
    if (speed == B0)
        return false;
    termios t = m_working;
    // Raw 8N1: no parity check, no handshake in either direction, no character processing. Bytes with
    // a framing or parity fault are passed on; the fault itself is counted by the driver and turns the
    // next read or write into -1.
    t.c_iflag &= ~(
        IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads wait in poll() with our own time-outs; the driver never blocks.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return applySettings(t, speed);
}

bool SerialPort::Private::applySettings(termios t, speed_t speed)
{
    if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0)
        return false;
    // tcsetattr succeeds when any part was taken: read back to know whether the speed was.
    termios applied {};
    if (tcsetattr(m_fd, TCSANOW, &t) != 0 || tcgetattr(m_fd, &applied) != 0 || cfgetospeed(&applied) != speed) {
        tcsetattr(m_fd, TCSANOW, &m_working);
        return false;
    }
    m_working = applied;
    return true;
}

void SerialPort::Private::setUpLowLatency()
{
    // A USB adapter holds received bytes up to its latency timer (16 ms on FTDI), longer than the
    // 10 ms byte gap that ends a read: a reply would arrive in two bursts and be cut.
    serial_struct serial {};
    if (ioctl(m_fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY))
        return;
    m_savedSerialFlags = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    m_serialFlagsChanged = ioctl(m_fd, TIOCSSERIAL, &serial) == 0;
}

void SerialPort::Private::restoreDriverSettings()
{
    if (m_settingsSaved)
        tcsetattr(m_fd, TCSANOW, &m_saved);
    m_settingsSaved = false;
    m_direction.restore();
    if (m_serialFlagsChanged) {
        serial_struct serial {};
        if (ioctl(m_fd, TIOCGSERIAL, &serial) == 0) {
            serial.flags = m_savedSerialFlags;
            ioctl(m_fd, TIOCSSERIAL, &serial);
        }
    }
    m_serialFlagsChanged = false;
}

bool SerialPort::Private::createAbortEvents()
{
    m_readAbortFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_writeAbortFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return m_readAbortFd >= 0 && m_writeAbortFd >= 0;
}

void SerialPort::Private::releaseHandle()
{
    for (int *fd : {&m_readAbortFd, &m_writeAbortFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (m_deviceNumber != 0)
        PortRegistry::release(m_deviceNumber);
    m_deviceNumber = 0;
    if (m_exclusive)
        ioctl(m_fd, TIOCNXCL);
    m_exclusive = false;
    m_direction.restore();
    // Linux releases the descriptor even when close() reports an error; closing again could hit a
    // descriptor another thread has just been given.
    ::close(m_fd);
    m_fd = -1;
    m_lock.release();
    m_lineErrorsCounted = false;
    m_lineDropped = false;
}

bool SerialPort::close()
{
    if (m_d->m_fd < 0)
        return false;
    m_d->m_open.store(false, std::memory_order_release);
    m_d->restoreDriverSettings();
    setModemLines(m_d->m_fd, TIOCM_RTS, false);
    abortInput();
    abortOutput();
    tcflush(m_d->m_fd, TCIOFLUSH);
    m_d->releaseHandle();
    qCDebug(lcLink) << "closed";
    return true;
}

bool SerialPort::setBaudRate(int rate)
{
    if (m_d->m_fd < 0)
        return false;
    const speed_t speed = speedConstant(rate);
    if (speed == B0 || !m_d->applySettings(m_d->m_working, speed))
        return false;
    m_d->m_baudRate = rate;
    return true;
}

bool SerialPort::setReadTimeout(int ms)
{
    if (m_d->m_fd < 0 || ms < 0)
        return false;
    m_d->m_readTimeout = ms;
    m_d->m_readMultiplier = ms != 0 ? 1 : 0;
    return true;
}

bool SerialPort::setWriteTimeout(int ms)
{
    if (m_d->m_fd < 0 || ms < 0)
        return false;
    m_d->m_writeTimeout = ms;
    m_d->m_writeMultiplier = ms != 0 ? 1 : 0;
    return true;
}

int SerialPort::baudRate() const
{
    return m_d->m_baudRate;
}

int SerialPort::readTimeout() const
{
    return m_d->m_readTimeout;
}

int SerialPort::writeTimeout() const
{
    return m_d->m_writeTimeout;
}

bool SerialPort::switchesRtsAroundWrites() const
{
    return m_d->m_direction.mode() == DirectionControl::Mode::RtsAroundWrite;
}

bool SerialPort::usesKernelRs485() const
{
    return m_d->m_direction.mode() == DirectionControl::Mode::KernelRs485;
}

bool SerialPort::clearInput()
{
    return m_d->m_fd >= 0 && tcflush(m_d->m_fd, TCIFLUSH) == 0;
}

bool SerialPort::clearOutput()
{
    return m_d->m_fd >= 0 && tcflush(m_d->m_fd, TCOFLUSH) == 0;
}

bool SerialPort::abortInput()
{
    return m_d->abort(m_d->m_readAbortPending, m_d->m_readAbortFd);
}

bool SerialPort::abortOutput()
{
    return m_d->abort(m_d->m_writeAbortPending, m_d->m_writeAbortFd);
}

bool SerialPort::Private::abort(std::atomic<bool> &abortPending, int abortFd)
{
    if (abortFd < 0)
        return false;
    abortPending.store(true, std::memory_order_release);
    return eventfd_write(abortFd, 1) == 0;
}

bool SerialPort::Private::lineErrorTotal(quint64 *total) const
{
    serial_icounter_struct counts {};
    if (ioctl(m_fd, TIOCGICOUNT, &counts) != 0)
        return false;
    *total = quint64(quint32(counts.frame)) + quint32(counts.overrun) + quint32(counts.parity) + quint32(counts.brk)
        + quint32(counts.buf_overrun);
    return true;
}

bool SerialPort::Private::lineErrorPending()
{
    quint64 total = 0;
    if (!m_lineErrorsCounted || !lineErrorTotal(&total) || total == m_lineErrorTotal)
        return false;
    m_lineErrorTotal = total;
    return true;
}

bool SerialPort::Private::readyForTransfer(std::atomic<bool> &abortPending, int abortFd)
{
    if (!isOpen() || m_lineDropped)
        return false;
    // An abort that came while no transfer ran is spent; it must not end the next one.
    if (abortPending.exchange(false, std::memory_order_acq_rel))
        drainEventFd(abortFd);
    return !lineErrorPending();
}

int SerialPort::read(quint8 *buffer, quint16 count)
{
    return m_d->read(buffer, count, -1);
}

int SerialPort::readWithin(quint8 *buffer, quint16 count, int totalMs)
{
    return m_d->read(buffer, count, qMax(0, totalMs));
}

int SerialPort::Private::read(quint8 *buffer, quint16 count, int totalMs)
{
    if (!readyForTransfer(m_readAbortPending, m_readAbortFd))
        return -1;
    if (count == 0)
        return 0;
    const bool totalLimited = totalMs >= 0 || m_readMultiplier != 0 || m_readTimeout != 0;
    const qint64 allowedMs = totalMs >= 0 ? qint64(totalMs) : qint64(m_readMultiplier) * count + m_readTimeout;
    const qint64 totalDeadline = totalLimited ? MonotonicClock::nowNs() + allowedMs * NsPerMs : NoDeadline;
    qint64 gapDeadline = NoDeadline;
    int got = 0;
    while (got < count) {
        qint64 deadline = totalDeadline;
        if (gapDeadline != NoDeadline && (deadline == NoDeadline || gapDeadline < deadline))
            deadline = gapDeadline;
        const int events = waitFor(m_fd, POLLIN, m_readAbortFd, deadline);
        if (events < 0) {
            drainEventFd(m_readAbortFd);
            m_readAbortPending.store(false, std::memory_order_release);
            return -1;
        }
        if (events == 0)
            break;
        const ssize_t n = ::read(m_fd, buffer + got, size_t(count - got));
        if (n > 0) {
            got += int(n);
            gapDeadline = MonotonicClock::nowNs() + ByteGapMs * NsPerMs;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR) && !(events & (POLLHUP | POLLERR | POLLNVAL)))
            continue;
        // End of file or a hard error on a terminal: the adapter is gone or the far end hung up.
        m_lineDropped = true;
        qCDebug(lcLink) << "line dropped while reading";
        if (got == 0)
            return -1;
        break;
    }
    return got;
}

int SerialPort::write(const quint8 *buffer, quint16 count)
{
    return m_d->write(buffer, count);
}

int SerialPort::Private::write(const quint8 *buffer, quint16 count)
{
    if (!readyForTransfer(m_writeAbortPending, m_writeAbortFd))
        return -1;
    if (count == 0)
        return 0;
    const qint64 start = MonotonicClock::nowNs();
    const bool totalLimited = m_writeMultiplier != 0 || m_writeTimeout != 0;
    const qint64 deadline
        = totalLimited ? start + (qint64(m_writeMultiplier) * count + m_writeTimeout) * NsPerMs : NoDeadline;
    m_direction.beginWrite();
    int sent = 0;
    bool failed = false;
    while (sent < count && !failed) {
        const ssize_t n = ::write(m_fd, buffer + sent, size_t(count - sent));
        if (n > 0) {
            sent += int(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            const int events = waitFor(m_fd, POLLOUT, m_writeAbortFd, deadline);
            if (events == 0)
                break;
            if (events < 0) {
                drainEventFd(m_writeAbortFd);
                m_writeAbortPending.store(false, std::memory_order_release);
                failed = true;
            }
        } else {
            m_lineDropped = true;
            failed = true;
        }
    }
    m_direction.endWrite(failed ? 0 : sent, m_baudRate, start, deadline);
    if (failed)
        return -1;
    return sent;
}

namespace {
std::atomic<bool> systemPortsListed {true};
}

QStringList SerialPort::availablePorts()
{
    return PortScanner::availablePorts(systemPortsListed.load());
}

QStringList SerialPort::availablePorts(QList<RefusedPort> *refused)
{
    return PortScanner::availablePorts(systemPortsListed.load(), refused);
}

void SerialPort::setSystemPortsListed(bool listed)
{
    systemPortsListed.store(listed);
}

void SerialPort::setLockDirectory(const QString &path)
{
    PortLockFile::setDirectory(path);
}

QStringList availablePorts()
{
    return SerialPort::availablePorts();
}
