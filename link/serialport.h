#pragma once

#include "refusedport.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

/// Status codes of port operations, recorded by the exchange worker after every operation.
enum PortStatus : qint8 {
    PortOk = 1,
    PortOpened = -2,
    PortClosed = -3,
    PortInvalidBaudRate = -4,
    PortWriteFailed = -5,
    PortReadFailed = -6,
    PortReplyTimeout = -7,
    PortWriteTimeout = -8,
    PortWriteDelayError = -9,
    PortReadDelayError = -10,
    PortNotOpened = -11,
    PortNotClosed = -12,
};

/// One serial line over POSIX termios: raw 8N1 without handshake, DTR held inactive, RTS raised only
/// while sending (by the kernel's RS-485 mode where the driver has it, else around each write), reads
/// and writes bounded by a byte gap and a total time-out, exclusive use, and the port's own settings
/// put back at close.
///
/// Ownership follows the Linux serial lock convention: `LCK..<device>` in /run/lock names the owning
/// process, so a line a crashed station left behind is taken over while a running holder's is not.
///
/// A port is named as a Linux user knows it: `ports/NAME` in the working directory when that entry
/// exists (a plant links `ports/line1` to its adapter), else `/dev/NAME`.
///
/// The main thread opens, closes and reconfigures the port; one other thread reads and writes while
/// no reconfiguration runs. abortInput() and abortOutput() may be called from any thread.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    /// Silence after received data that ends a read.
    static constexpr int ByteGapMs = 10;

    SerialPort();
    ~SerialPort() override;

    /// Opens the port called @p name (closing any port open before). False when the name is not a
    /// plain name, the device is missing, is not a terminal, or is held by another program or by
    /// this one.
    bool open(const QString &name);
    /// Puts back the settings found at open and releases the port; false when nothing was open.
    bool close();
    /// True while a port is open.
    bool isOpen() const;
    /// Whether the line has dropped since it was opened (the far end hung up, the adapter went away):
    /// every read and write fails at once until the port is opened again. For the thread that reads
    /// and writes, or once that thread has ended.
    bool lineDropped() const;

    /// Reads up to @p count bytes: returns when the count is complete, when the line stays silent
    /// ByteGapMs after data, or after 1 ms per byte plus readTimeout() in all (no total limit when
    /// the read time-out is 0). Returns the bytes read (0 on silence) or -1 on a line error, an
    /// aborted read, a dropped line or a closed port.
    int read(quint8 *buffer, quint16 count);
    /// As read(), but within @p totalMs in all, whatever the read time-out: what is left of a reply's
    /// time after a frame that answered another request.
    int readWithin(quint8 *buffer, quint16 count, int totalMs);
    /// Writes @p count bytes within 1 ms per byte plus writeTimeout(); returns the bytes written or -1
    /// on a line error, a dropped line or a closed port. Returns once the bytes have left the wire
    /// where RTS is switched around the write.
    int write(const quint8 *buffer, quint16 count);

    /// Changes the line speed of the open port; false when closed or when the driver refuses the speed
    /// (the previous speed stays).
    bool setBaudRate(int rate);
    /// Fixed part of a read's total time-out; 0 removes the total limit. False when closed.
    bool setReadTimeout(int ms);
    /// Fixed part of a write's total time-out; 0 removes the total limit. False when closed.
    bool setWriteTimeout(int ms);

    int baudRate() const;
    int readTimeout() const;
    int writeTimeout() const;

    /// Discards what has been received and not read.
    bool clearInput();
    /// Discards what has been written and not sent.
    bool clearOutput();
    /// Ends a read in progress at once (it returns -1).
    bool abortInput();
    /// Ends a write in progress at once (it returns -1).
    bool abortOutput();

    /// Whether the RTS line is switched around each write (true) or by the driver's RS-485 mode or
    /// not at all (false). Informative, for diagnostics.
    bool switchesRtsAroundWrites() const;
    /// Whether the driver itself switches RTS (the kernel's RS-485 mode).
    bool usesKernelRs485() const;

    /// The names of the ports that can be opened right now: entries of `ports/` (sorted), then the
    /// system's serial devices in natural order. Ports held by this program are never probed.
    static QStringList availablePorts();
    /// As availablePorts(); the devices there that this user may not open go to @p refused.
    static QStringList availablePorts(QList<RefusedPort> *refused);
    /// Whether availablePorts() looks at the system's serial devices (true by default). Tests and
    /// demos turn it off so that they never touch the machine's own devices.
    static void setSystemPortsListed(bool listed);
    /// The folder of the ports' lock files (`LCK..ttyUSB0`), /run/lock unless set. Tests set their own.
    static void setLockDirectory(const QString &path);

private:
    // The platform's state (descriptors, termios records, driver settings) lives behind this.
    class Private;
    std::unique_ptr<Private> m_d;
};

/// The ports that can be opened right now (see SerialPort::availablePorts()).
QStringList availablePorts();
