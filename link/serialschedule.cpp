#include "serialschedule.h"

#include "linklogging.h"
#include "serialport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QtDebug>

#include <atomic>
#include <cstdio>
#include <cstring>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// The exchange-state semaphore releases its permits with release ordering, but available() reads them
// relaxed: the side that sees a hand-over that way needs an acquire fence before it touches the buffers
// (x86 orders that anyway, an ARM panel does not). ThreadSanitizer knows no fences and cannot see the
// semaphore's or QThread's futexes inside Qt: under it, a hand-over is announced to it instead.
#if defined(__SANITIZE_THREAD__)
void publishHandOver(const void *channel)
{
    __tsan_release(const_cast<void *>(channel));
}
void acquireHandOver(const void *channel)
{
    __tsan_acquire(const_cast<void *>(channel));
}
#else
void publishHandOver(const void *) { }
void acquireHandOver(const void *)
{
    std::atomic_thread_fence(std::memory_order_acquire);
}
#endif

// Buffers are allocated once at openPort and only grow, so that an exchange allocates nothing.
constexpr quint16 InitialBufferSize = 128;

void growBuffer(quint8 *&buffer, quint16 &capacity, quint32 needed)
{
    if (buffer != nullptr && capacity >= needed)
        return;
    delete[] buffer;
    buffer = new quint8[needed]();
    capacity = quint16(needed);
}

} // namespace

SerialSchedule::SerialSchedule(const QString &name, QObject *parent)
    : QThread(parent)
    , m_port(std::make_unique<SerialPort>())
{
    qDebug("SerialSchedule()");
    if (!name.isEmpty())
        openPort(name);
}

SerialSchedule::~SerialSchedule()
{
    std::fputs("~SerialSchedule()\n", stderr);
    closePort();
    endExchangeThread();
    freeBuffers();
}

void SerialSchedule::logLine(const QString &message)
{
    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy (hh:mm:ss:zzz) ")) + message
        + QLatin1Char('\n');
    qCDebug(lcLink).noquote() << line.trimmed();
    emit hasSysMes(line);
}

bool SerialSchedule::isPortOpen() const
{
    return m_port->isOpen();
}

int SerialSchedule::baudRate() const
{
    return m_port->baudRate();
}

int SerialSchedule::openPort(QString name)
{
    // A port whose exchange could not be stopped stays as it is, under its own name: it is never
    // reopened under a transfer, and the caller is told that nothing changed.
    if (closePort() == PortNotClosed) {
        logLine(QStringLiteral("Ошибка: невозможно открыть порт %1").arg(name));
        return PortNotClosed;
    }
    m_portName = name;
    m_lineLossReported.store(false, std::memory_order_release);
    growBuffer(m_requestBuffer, m_requestCapacity, InitialBufferSize);
    growBuffer(m_replyBuffer, m_replyCapacity, InitialBufferSize);
    if (m_port->open(name)) {
        logLine(QStringLiteral("Открыт порт %1").arg(name));
        setStatus(PortOk);
        return PortOk;
    }
    logLine(QStringLiteral("Ошибка: невозможно открыть порт %1").arg(name));
    m_portName.clear();
    setStatus(PortNotOpened);
    return PortNotOpened;
}

int SerialSchedule::closePort()
{
    if (!m_port->isOpen()) {
        setStatus(PortClosed);
        return PortClosed;
    }
    stopExchange();
    if (isRunning()) {
        // Only a read without a total limit (reply time-out 0) waiting for a silent doser keeps the
        // exchange this long: end it, so the buffers and the port are never taken from under it.
        m_port->abortInput();
        m_port->abortOutput();
        stopExchange();
    }
    if (isRunning()) {
        setStatus(PortNotClosed);
        return PortNotClosed;
    }
    freeBuffers();
    const int status = m_port->close() ? PortOk : PortNotClosed;
    setStatus(status);
    return status;
}

void SerialSchedule::stopExchange()
{
    m_stopLock.acquire();
    if (wait(ClaimLimitMs))
        acquireHandOver(&m_exchangeState);
    m_stopLock.release();
}

void SerialSchedule::endExchangeThread()
{
    stopExchange();
    if (isRunning()) {
        m_port->abortInput();
        m_port->abortOutput();
        wait();
        acquireHandOver(&m_exchangeState);
    }
}

void SerialSchedule::freeBuffers()
{
    delete[] m_requestBuffer;
    m_requestBuffer = nullptr;
    m_requestCapacity = 0;
    delete[] m_replyBuffer;
    m_replyBuffer = nullptr;
    m_replyCapacity = 0;
}

int SerialSchedule::applySetting(
    bool (SerialPort::*setter)(int), int value, int errorStatus, const QString &successLine, const QString &errorLine)
{
    const bool wasRunning = isRunning();
    if (wasRunning)
        stopExchange();
    // The port is never reconfigured under a running transfer.
    if (!isRunning() && (m_port.get()->*setter)(value)) {
        if (wasRunning)
            ensureExchangeThread();
        logLine(successLine.arg(value));
        setStatus(PortOk);
        return PortOk;
    }
    logLine(errorLine.arg(value));
    setStatus(errorStatus);
    return errorStatus;
}

int SerialSchedule::setBaudRate(int rate)
{
    return applySetting(&SerialPort::setBaudRate, rate, PortInvalidBaudRate,
        QStringLiteral("Установлена скорость %1 бит/с"),
        QStringLiteral("Ошибка: невозможно установиьт скорость %1 бит/с"));
}

int SerialSchedule::setReplyTimeout(int ms)
{
    return applySetting(&SerialPort::setReadTimeout, ms, PortReadDelayError,
        QStringLiteral("Установлено предельное время ожидания ответного сообщения (чтение из COM порта) %1 мс"),
        QStringLiteral(
            "Ошибка: невозможно установиьт предельное время ожидания ответного сообщения (чтение из COM порта) %1 мс"));
}

int SerialSchedule::setWriteTimeout(int ms)
{
    return applySetting(&SerialPort::setWriteTimeout, ms, PortWriteDelayError,
        QStringLiteral("Установлено предельное время передачи сообщения (запись в COM порт) %1 мс"),
        QStringLiteral("Ошибка: невозможно установиьт предельное время передачи сообщения (запись в COM порт) %1 мс"));
}

void SerialSchedule::setSlave(bool slave)
{
    m_slave.store(slave, std::memory_order_release);
    emit linkMaster(!slave);
}

QString SerialSchedule::statusText(qint8 code)
{
    switch (code) {
    case PortOk: return QStringLiteral("COM port operation successful");
    case PortOpened: return QStringLiteral("COM port opened");
    case PortClosed: return QStringLiteral("COM port closed");
    case PortInvalidBaudRate: return QStringLiteral("COM port invalid baudrate");
    case PortWriteFailed: return QStringLiteral("COM port write operation failed");
    case PortReadFailed: return QStringLiteral("COM port read operation failed");
    case PortReplyTimeout: return QStringLiteral("COM port reply timeout hit");
    case PortWriteTimeout: return QStringLiteral("COM port write timeout hit");
    case PortWriteDelayError: return QStringLiteral("COM port write delay error");
    case PortReadDelayError: return QStringLiteral("COM port read delay error");
    case PortNotOpened: return QStringLiteral("COM port not opened");
    case PortNotClosed: return QStringLiteral("COM port not closed");
    default: return QStringLiteral("COM port undefined error");
    }
}

qint8 SerialSchedule::lastStatus()
{
    return qint8(m_status.load(std::memory_order_acquire));
}

int SerialSchedule::sendRequest(
    quint16 requestLength, const quint8 *request, quint16 replyLength, quint32 expectedReplies)
{
    if (isSlave()) {
        logLine(QStringLiteral("Ошибка: невозможно отослать команду, режим SLAVE"));
        setStatus(PortWriteFailed);
        return PortWriteFailed;
    }
    if (!m_port->isOpen()) {
        logLine(QStringLiteral("Ошибка: порт %1 закрыт").arg(m_portName));
        setStatus(PortClosed);
        return PortClosed;
    }
    // The reply buffer is counted in 16 bits; a request that could not be held is refused outright.
    const quint64 replyBytes = quint64(replyLength) * expectedReplies;
    if (request == nullptr || requestLength == 0 || replyBytes > 0xFFFF) {
        setStatus(PortWriteFailed);
        return PortWriteFailed;
    }
    if (!m_exchangeState.tryAcquire(Idle, ClaimLimitMs)) {
        logLine(QStringLiteral("Ошибка: таймаут записи в порт %1 мс").arg(ClaimLimitMs));
        std::fputs("Ошибка: таймаут записи в порт\n", stderr);
        setStatus(PortWriteTimeout);
        return PortWriteTimeout;
    }
    acquireHandOver(&m_exchangeState);
    growBuffer(m_requestBuffer, m_requestCapacity, requestLength);
    std::memcpy(m_requestBuffer, request, requestLength);
    m_requestLength = requestLength;
    m_replyLength = replyLength;
    m_expectedReplies = expectedReplies;
    growBuffer(m_replyBuffer, m_replyCapacity, quint32(replyBytes));
    setStatus(PortOk);
    handOver(1);
    ensureExchangeThread();
    return PortOk;
}

void SerialSchedule::ensureExchangeThread()
{
    if (m_threadActive.exchange(true, std::memory_order_acq_rel))
        return;
    // No exchange thread will look at the channel again; one that is just returning from run() is
    // let finish, since start() does nothing while it still counts as running.
    wait();
    start(QThread::NormalPriority);
    // QThread::start() reports a thread that could not be created (pthread_create failed) only as
    // neither running nor finished. The request then gets its failure packet and the channel comes
    // free, instead of waiting for a thread that never comes.
    if (!isRunning() && !isFinished())
        failUnstartedExchange();
}

void SerialSchedule::failUnstartedExchange()
{
    std::fputs("Exchange thread could not be started\n", stderr);
    m_threadActive.store(false, std::memory_order_release);
    setStatus(PortWriteFailed);
    if (exchangeState() == WriteReady)
        handleReplies(m_requestBuffer, m_requestLength, nullptr, 0, 0, m_expectedReplies);
    releaseChannel();
}

SerialSchedule::ExchangeState SerialSchedule::exchangeState() const
{
    const int state = m_exchangeState.available();
    acquireHandOver(&m_exchangeState);
    return ExchangeState(state);
}

void SerialSchedule::handOver(int permits)
{
    publishHandOver(&m_exchangeState);
    m_exchangeState.release(permits);
}

void SerialSchedule::run()
{
    if (!m_port->isOpen()) {
        logLine(QStringLiteral("Ошибка: порт не открыт"));
        setStatus(PortNotOpened);
        releaseChannel();
        m_threadActive.store(false, std::memory_order_release);
        publishHandOver(&m_exchangeState);
        return;
    }
    setStatus(PortOk);
    exchangeLoop();
    publishHandOver(&m_exchangeState);
}

void SerialSchedule::exchangeLoop()
{
    for (;;) {
        switch (exchangeState()) {
        case Idle:
            if (!mayEnd())
                continue;
            return;
        case Claimed:
            // The sender is copying its request: wait for the one permit it then hands over.
            if (m_exchangeState.tryAcquire(1, ClaimLimitMs))
                handOver(1);
            continue;
        case WriteReady:
            if (isSlave()) {
                releaseChannel();
            } else {
                writeRequest();
            }
            continue;
        case AwaitReply: readReplies(); continue;
        case Delivering: continue;
        }
    }
}

bool SerialSchedule::mayEnd()
{
    m_threadActive.store(false, std::memory_order_release);
    // A sender that claimed the channel after the check above either found the flag set and counts on
    // this thread, or cleared it and starts a new one after this one has ended.
    if (exchangeState() != Idle && !m_threadActive.exchange(true, std::memory_order_acq_rel))
        return false;
    return true;
}

void SerialSchedule::releaseChannel()
{
    const int taken = Idle - m_exchangeState.available();
    if (taken > 0)
        handOver(taken);
}

void SerialSchedule::writeRequest()
{
    m_port->clearInput();
    const int written = m_port->write(m_requestBuffer, m_requestLength);
    qCDebug(lcLink) << "sent" << QByteArray(reinterpret_cast<const char *>(m_requestBuffer), m_requestLength).toHex(' ')
                    << "written" << written;
    if (written == m_requestLength) {
        setStatus(PortOk);
        handOver(1);
        return;
    }
    logLine(QStringLiteral("Ошибка: послано %1 байт (корректно %2 байт)").arg(written).arg(m_requestLength));
    setStatus(PortWriteFailed);
    handleReplies(m_requestBuffer, m_requestLength, nullptr, 0, 0, m_expectedReplies);
    // Looked at while the channel is still this thread's: once it is free, the port may be reopened.
    reportDroppedLine();
    releaseChannel();
}

void SerialSchedule::readReplies()
{
    std::memset(m_replyBuffer, 0, m_replyCapacity);
    const quint32 frames = readFrames();
    handOver(1);
    if (frames > 0)
        handleReplies(m_requestBuffer, m_requestLength, m_replyBuffer, m_replyLength, frames, m_expectedReplies);
    else
        handleReplies(m_requestBuffer, m_requestLength, nullptr, 0, 0, m_expectedReplies);
    reportDroppedLine();
    handOver(1);
}

quint32 SerialSchedule::readFrames()
{
    // Each read asks for one frame, but never beyond the frames expected: after a reply cut by the
    // byte gap the fill position is inside a frame.
    const quint32 total = quint32(m_replyLength) * m_expectedReplies;
    // A frame that answers an earlier request is dropped, and the wait for this one goes on only as
    // long as its own time-out allows: a late reply never buys the doser more time.
    QElapsedTimer waited;
    waited.start();
    const qint64 allowedMs = qint64(m_replyLength) + m_port->readTimeout();
    const bool limited = m_port->readTimeout() > 0;
    bool dropped = false;
    quint32 filled = 0;
    quint32 frames = 0;
    while (frames < m_expectedReplies && m_replyLength > 0) {
        const quint16 ask = quint16(qMin<quint32>(m_replyLength, total - filled));
        const qint64 leftMs = allowedMs - waited.elapsed();
        if (dropped && limited && leftMs <= 0)
            break;
        const int got = dropped && limited ? m_port->readWithin(m_replyBuffer + filled, ask, int(leftMs))
                                           : m_port->read(m_replyBuffer + filled, ask);
        if (got <= 0)
            break;
        filled += quint32(got);
        const quint32 complete = filled / m_replyLength;
        if (complete > frames && dropStaleFrame(frames * m_replyLength)) {
            filled -= m_replyLength;
            dropped = true;
            continue;
        }
        frames = complete;
    }
    qCDebug(lcLink) << "received" << QByteArray(reinterpret_cast<const char *>(m_replyBuffer), int(filled)).toHex(' ');
    return frames;
}

bool SerialSchedule::dropStaleFrame(quint32 frameStart)
{
    quint8 *frame = m_replyBuffer + frameStart;
    if (answersRequest(m_requestBuffer, m_requestLength, frame, m_replyLength))
        return false;
    qCDebug(lcLink) << "dropped a reply to another request"
                    << QByteArray(reinterpret_cast<const char *>(frame), m_replyLength).toHex(' ');
    std::memset(frame, 0, m_replyLength);
    return true;
}

void SerialSchedule::reportDroppedLine()
{
    // Only this thread reads and writes the port, and the main thread renames or reopens it only once
    // this thread has ended: both are read here without a lock.
    if (m_port->lineDropped() && !m_lineLossReported.exchange(true, std::memory_order_acq_rel))
        emit lineLost(m_portName);
}
