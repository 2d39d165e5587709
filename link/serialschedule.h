#pragma once

#include <QSemaphore>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

class SerialPort;

/// Carries out request/reply exchanges on one serial line, one at a time, on its own thread: a caller
/// hands over a request with sendRequest(), the exchange thread writes it, collects the expected reply
/// frames (stopping at the first silent read) and passes the result to handleReplies(). Opens, closes
/// and reconfigures the line on request and reports each step as a time-stamped line through
/// hasSysMes().
///
/// The exchange thread is started for a request and ends as soon as the channel is idle again, so an
/// idle link has no thread and uses no CPU. Sender and exchange thread hand the channel to each other
/// through the free permits of one semaphore (ExchangeState).
class SerialSchedule : public QThread
{
    Q_OBJECT
public:
    /// The channel's state: the number of free permits of the exchange-state semaphore.
    enum ExchangeState {
        Claimed = 0, ///< the sender copies its request
        WriteReady = 1, ///< the exchange thread writes the request
        AwaitReply = 2, ///< the exchange thread reads the replies
        Delivering = 3, ///< the exchange thread calls handleReplies()
        Idle = 4, ///< nobody; the exchange thread ends when it sees this
    };

    /// How long a sender waits for the channel, and a reconfiguration for the exchange thread to end.
    static constexpr int ClaimLimitMs = 5000;

    /// Opens @p name at once when it is not empty; the main window passes an empty name and opens
    /// the port later with openPort().
    explicit SerialSchedule(const QString &name = QString(), QObject *parent = nullptr);
    ~SerialSchedule() override;

    /// Closes any open port and opens @p name. Returns 1, -11 (the port name is then empty), or -12 when
    /// the exchange on the open port could not be stopped: that port then stays open under its name.
    int openPort(QString name);
    /// Waits for a running exchange to end and closes the port. Returns 1, -3 (nothing open) or -12.
    int closePort();
    /// Line speed in bit/s. Returns 1 or -4.
    int setBaudRate(int rate);
    /// Fixed part of the time allowed for a reply, in ms. Returns 1 or -10.
    int setReplyTimeout(int ms);
    /// Fixed part of the time allowed for sending a request, in ms. Returns 1 or -9.
    int setWriteTimeout(int ms);

    /// Hands one request to the exchange thread: @p requestLength bytes from @p request, expecting
    /// @p expectedReplies frames of @p replyLength bytes. Waits at most 5000 ms for a running exchange
    /// to end. Returns 1, -3 (port closed), -5 (slave mode) or -8 (channel still busy; dropped).
    int sendRequest(quint16 requestLength, const quint8 *request, quint16 replyLength, quint32 expectedReplies);

    /// Slave mode sends nothing; emits linkMaster() with the opposite value.
    void setSlave(bool slave);
    bool isSlave() const { return m_slave.load(std::memory_order_acquire); }

    /// Whether the port is open (the main window shows the dosers as unreachable when not).
    bool isPortOpen() const;
    /// Name of the open port, empty when none.
    QString portName() const { return m_portName; }
    /// Line speed in force (or used by the next open).
    int baudRate() const;

    /// Message of a port status code.
    virtual QString statusText(qint8 code);
    /// Status code of the last operation.
    virtual qint8 lastStatus();

signals:
    void linkMaster(bool master);
    /// One log line: "dd.MM.yyyy (hh:mm:ss:zzz) " + message + "\n". Emitted from the thread that
    /// produced it.
    void hasSysMes(QString line);
    /// The line of the open port @p name has dropped (the far end hung up, the adapter went away): every
    /// exchange fails at once until the port is opened again. Emitted once per opening, from the exchange
    /// thread.
    void lineLost(const QString &name);

protected:
    /// Called on the exchange thread once per exchange. @p reply holds @p framesReceived complete frames
    /// of @p replyLength bytes, or is nullptr with 0 frames received.
    virtual void handleReplies(const quint8 *request, quint16 requestLength, const quint8 *reply, quint16 replyLength,
        quint32 framesReceived, quint32 framesExpected)
        = 0;

    /// Called on the exchange thread for each complete frame read: false when the frame answers
    /// another request (a reply that came after its own time-out), which is then dropped and the
    /// wait for this request's reply goes on within its time-out. Every frame is taken by default.
    virtual bool answersRequest(const quint8 *request, quint16 requestLength, const quint8 *frame, quint16 frameLength)
    {
        Q_UNUSED(request)
        Q_UNUSED(requestLength)
        Q_UNUSED(frame)
        Q_UNUSED(frameLength)
        return true;
    }

    void run() override;

    /// Emits hasSysMes() with the time stamp and the line feed.
    void logLine(const QString &message);
    /// Waits at most 5000 ms for the exchange thread to end.
    void stopExchange();
    /// Ends the exchange thread whatever it waits for (destructors: handleReplies must not run after).
    void endExchangeThread();
    void setStatus(int status) { m_status.store(status, std::memory_order_release); }

private:
    ExchangeState exchangeState() const;
    void exchangeLoop();
    bool mayEnd();
    void handOver(int permits);
    void releaseChannel();
    void writeRequest();
    void readReplies();
    quint32 readFrames();
    bool dropStaleFrame(quint32 frameStart);
    void reportDroppedLine();
    void ensureExchangeThread();
    void failUnstartedExchange();
    int applySetting(bool (SerialPort::*setter)(int), int value, int errorStatus, const QString &successLine,
        const QString &errorLine);
    void freeBuffers();

    std::atomic<int> m_status {1};
    std::atomic<bool> m_slave {false};
    std::unique_ptr<SerialPort> m_port;
    QSemaphore m_stopLock {1};
    QSemaphore m_exchangeState {Idle};
    QString m_portName;
    quint8 *m_requestBuffer = nullptr;
    quint16 m_requestCapacity = 0;
    quint16 m_requestLength = 0;
    quint8 *m_replyBuffer = nullptr;
    quint16 m_replyCapacity = 0;
    quint16 m_replyLength = 0;
    quint32 m_expectedReplies = 0;
    // Set by the exchange thread while it will still look at the channel; a sender that finds it clear
    // starts a new thread.
    std::atomic<bool> m_threadActive {false};
    // A dropped line is reported once per opening, not once per failed exchange.
    std::atomic<bool> m_lineLossReported {false};
};
