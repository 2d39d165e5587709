#include "serialport.h"

#include "linklogging.h"
#include "portregistry.h"
#include "portscanner.h"

#include <QFile>
#include <QtDebug>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

using FileStatus = struct stat;

constexpr qint64 NsPerMs = 1000000;
constexpr qint64 NoDeadline = -1;
// Start bit, eight data bits, stop bit.
constexpr int BitsPerCharacter = 10;

qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void sleepUntil(qint64 whenNs)
{
    const timespec when {time_t(whenNs / 1000000000), long(whenNs % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) { }
}

// Waits for @p events on @p fd or a signal on @p abortFd until @p deadlineNs (NoDeadline: no limit).
// Returns the revents of fd, 0 on time-out, -1 when aborted or on a poll failure.
int waitFor(int fd, short events, int abortFd, qint64 deadlineNs)
{
    pollfd fds[2] = {{fd, events, 0}, {abortFd, POLLIN, 0}};
    for (;;) {
        timespec timeout {};
        timespec *timeoutPtr = nullptr;
        if (deadlineNs != NoDeadline) {
            const qint64 left = qMax<qint64>(0, deadlineNs - monotonicNs());
            timeout = {time_t(left / 1000000000), long(left % 1000000000)};
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

SerialPort::SerialPort()
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
    if (path.isEmpty() || !openDevice(path))
        return false;
    qCDebug(lcLink) << "opened" << path << "at" << m_baudRate << "bit/s, direction control" << int(m_directionControl)
                    << "line error counts" << m_lineErrorsCounted;
    m_open.store(true, std::memory_order_release);
    return true;
}

bool SerialPort::openDevice(const QString &path)
{
    const QByteArray nativePath = QFile::encodeName(path);
    FileStatus st {};
    // Opening a terminal raises DTR and RTS: a port this program already holds is refused before that.
    if (stat(nativePath.constData(), &st) != 0 || !S_ISCHR(st.st_mode) || PortRegistry::isHeld(st.st_rdev))
        return false;
    m_fd = ::open(nativePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    // TIOCEXCL keeps other programs out, but root passes it: another holder's TIOCEXCL is asked for,
    // and flock stops a second instance of ours. A line held elsewhere is left untouched.
    if (!isatty(m_fd) || PortScanner::isHeldExclusively(m_fd) || flock(m_fd, LOCK_EX | LOCK_NB) != 0
        || !PortRegistry::claim(st.st_rdev)) {
        releaseHandle();
        return false;
    }
    setModemLines(m_fd, TIOCM_DTR | TIOCM_RTS, false);
    m_deviceNumber = st.st_rdev;
    m_exclusive = ioctl(m_fd, TIOCEXCL) == 0;
    if (tcgetattr(m_fd, &m_saved) != 0) {
        releaseHandle();
        return false;
    }
    m_settingsSaved = true;
    m_working = m_saved;
    tcflush(m_fd, TCIOFLUSH);
    setUpLowLatency();
    setUpDirectionControl();
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

bool SerialPort::applyWorkingSettings()
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

bool SerialPort::applySettings(termios t, speed_t speed)
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

void SerialPort::setUpDirectionControl()
{
    m_directionControl = DirectionControl::None;
    m_transmitterStatusKnown = false;
    serial_rs485 conf {};
    if (ioctl(m_fd, TIOCGRS485, &conf) == 0) {
        serial_rs485 wanted = conf;
        wanted.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        wanted.flags &= ~(SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX);
        wanted.delay_rts_before_send = 0;
        wanted.delay_rts_after_send = 0;
        serial_rs485 back {};
        const bool taken = ioctl(m_fd, TIOCSRS485, &wanted) == 0 && ioctl(m_fd, TIOCGRS485, &back) == 0;
        const quint32 needed = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        if (taken && (back.flags & needed) == needed && !(back.flags & SER_RS485_RTS_AFTER_SEND)) {
            m_savedRs485 = conf;
            m_rs485Changed = true;
            m_directionControl = DirectionControl::KernelRs485;
            return;
        }
        if (taken)
            ioctl(m_fd, TIOCSRS485, &conf);
    }
    int lines = 0;
    if (ioctl(m_fd, TIOCMGET, &lines) == 0)
        m_directionControl = DirectionControl::RtsAroundWrite;
    int lsr = 0;
    m_transmitterStatusKnown = ioctl(m_fd, TIOCSERGETLSR, &lsr) == 0;
}

void SerialPort::setUpLowLatency()
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

void SerialPort::restoreDriverSettings()
{
    if (m_settingsSaved)
        tcsetattr(m_fd, TCSANOW, &m_saved);
    m_settingsSaved = false;
    if (m_rs485Changed)
        ioctl(m_fd, TIOCSRS485, &m_savedRs485);
    m_rs485Changed = false;
    if (m_serialFlagsChanged) {
        serial_struct serial {};
        if (ioctl(m_fd, TIOCGSERIAL, &serial) == 0) {
            serial.flags = m_savedSerialFlags;
            ioctl(m_fd, TIOCSSERIAL, &serial);
        }
    }
    m_serialFlagsChanged = false;
}

bool SerialPort::createAbortEvents()
{
    m_readAbortFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_writeAbortFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return m_readAbortFd >= 0 && m_writeAbortFd >= 0;
}

void SerialPort::releaseHandle()
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
    // Linux releases the descriptor even when close() reports an error; closing again could hit a
    // descriptor another thread has just been given.
    ::close(m_fd);
    m_fd = -1;
    m_directionControl = DirectionControl::None;
    m_lineErrorsCounted = false;
    m_lineDropped = false;
}

bool SerialPort::close()
{
    if (m_fd < 0)
        return false;
    m_open.store(false, std::memory_order_release);
    restoreDriverSettings();
    setModemLines(m_fd, TIOCM_RTS, false);
    abortInput();
    abortOutput();
    tcflush(m_fd, TCIOFLUSH);
    releaseHandle();
    qCDebug(lcLink) << "closed";
    return true;
}

bool SerialPort::setBaudRate(int rate)
{
    if (m_fd < 0)
        return false;
    const speed_t speed = speedConstant(rate);
    if (speed == B0 || !applySettings(m_working, speed))
        return false;
    m_baudRate = rate;
    return true;
}

bool SerialPort::setReadTimeout(int ms)
{
    if (m_fd < 0 || ms < 0)
        return false;
    m_readTimeout = ms;
    m_readMultiplier = ms != 0 ? 1 : 0;
    return true;
}

bool SerialPort::setWriteTimeout(int ms)
{
    if (m_fd < 0 || ms < 0)
        return false;
    m_writeTimeout = ms;
    m_writeMultiplier = ms != 0 ? 1 : 0;
    return true;
}

bool SerialPort::clearInput()
{
    return m_fd >= 0 && tcflush(m_fd, TCIFLUSH) == 0;
}

bool SerialPort::clearOutput()
{
    return m_fd >= 0 && tcflush(m_fd, TCOFLUSH) == 0;
}

bool SerialPort::abortInput()
{
    if (m_readAbortFd < 0)
        return false;
    m_readAbortPending.store(true, std::memory_order_release);
    return eventfd_write(m_readAbortFd, 1) == 0;
}

bool SerialPort::abortOutput()
{
    if (m_writeAbortFd < 0)
        return false;
    m_writeAbortPending.store(true, std::memory_order_release);
    return eventfd_write(m_writeAbortFd, 1) == 0;
}

bool SerialPort::lineErrorTotal(quint64 *total) const
{
    serial_icounter_struct counts {};
    if (ioctl(m_fd, TIOCGICOUNT, &counts) != 0)
        return false;
    *total = quint64(quint32(counts.frame)) + quint32(counts.overrun) + quint32(counts.parity) + quint32(counts.brk)
        + quint32(counts.buf_overrun);
    return true;
}

bool SerialPort::lineErrorPending()
{
    quint64 total = 0;
    if (!m_lineErrorsCounted || !lineErrorTotal(&total) || total == m_lineErrorTotal)
        return false;
    m_lineErrorTotal = total;
    return true;
}

bool SerialPort::readyForTransfer(std::atomic<bool> &abortPending, int abortFd)
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
    if (!readyForTransfer(m_readAbortPending, m_readAbortFd))
        return -1;
    if (count == 0)
        return 0;
    const bool totalLimited = m_readMultiplier != 0 || m_readTimeout != 0;
    const qint64 totalDeadline
        = totalLimited ? monotonicNs() + (qint64(m_readMultiplier) * count + m_readTimeout) * NsPerMs : NoDeadline;
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
            gapDeadline = monotonicNs() + ByteGapMs * NsPerMs;
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
    if (!readyForTransfer(m_writeAbortPending, m_writeAbortFd))
        return -1;
    if (count == 0)
        return 0;
    const qint64 start = monotonicNs();
    const bool totalLimited = m_writeMultiplier != 0 || m_writeTimeout != 0;
    const qint64 deadline
        = totalLimited ? start + (qint64(m_writeMultiplier) * count + m_writeTimeout) * NsPerMs : NoDeadline;
    const bool switchRts = m_directionControl == DirectionControl::RtsAroundWrite;
    if (switchRts)
        setModemLines(m_fd, TIOCM_RTS, true);
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
    if (switchRts) {
        if (sent > 0 && !failed)
            waitUntilSent(sent, start, deadline);
        setModemLines(m_fd, TIOCM_RTS, false);
    }
    if (failed)
        return -1;
    return sent;
}

void SerialPort::waitUntilSent(int count, qint64 startNs, qint64 deadlineNs)
{
    // RTS must fall as soon as the stop bit of the last byte has left: the doser starts its reply
    // soon after, and a late drop keeps the converter sending over the reply's first bytes. Sleep for
    // the frame's time on the wire, then confirm with the transmitter-empty bit; tcdrain() alone can
    // return up to a kernel tick late.
    const qint64 characterNs = qint64(BitsPerCharacter) * 1000000000 / m_baudRate;
    sleepUntil(startNs + count * characterNs);
    if (!m_transmitterStatusKnown) {
        tcdrain(m_fd);
        return;
    }
    const qint64 limit = deadlineNs != NoDeadline ? deadlineNs : startNs + (count * characterNs) * 2 + 100 * NsPerMs;
    for (;;) {
        int lsr = 0;
        if (ioctl(m_fd, TIOCSERGETLSR, &lsr) != 0 || (lsr & TIOCSER_TEMT) || monotonicNs() >= limit)
            return;
        sleepUntil(monotonicNs() + characterNs);
    }
}

namespace {
std::atomic<bool> systemPortsListed {true};
}

QStringList SerialPort::availablePorts()
{
    return PortScanner::availablePorts(systemPortsListed.load());
}

void SerialPort::setSystemPortsListed(bool listed)
{
    systemPortsListed.store(listed);
}

QStringList availablePorts()
{
    return SerialPort::availablePorts();
}
