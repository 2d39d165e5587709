#pragma once

#include <QtGlobal>

#include <memory>

struct serial_rs485;

/// Switches the direction of a half-duplex RS-485 converter on one open terminal: RTS is active while
/// bytes are being sent and inactive once the last one has left, so that the doser's reply is not
/// talked over. The kernel's RS-485 mode does this in the driver where it exists; otherwise RTS is
/// raised around each write; a line without modem lines (a pseudo-terminal) needs and gets nothing.
class DirectionControl
{
public:
    enum class Mode {
        None, ///< no modem lines: nothing to switch
        KernelRs485, ///< the driver switches RTS itself (TIOCSRS485)
        RtsAroundWrite, ///< RTS raised before each write and dropped once the bytes have left
    };

    DirectionControl();
    ~DirectionControl();
    DirectionControl(const DirectionControl &) = delete;
    DirectionControl &operator=(const DirectionControl &) = delete;

    /// Chooses the mode for the terminal open on @p fd: the kernel's RS-485 mode when the driver takes
    /// it, else RTS around writes when the port has modem lines, else none. A driver that answers
    /// ENOTTY (a pseudo-terminal) has no modem lines; that is not a fault of the port.
    void setUp(int fd);
    /// Uses @p mode on @p fd without asking the driver (a converter known to need it).
    void use(int fd, Mode mode);
    /// Puts back the driver's RS-485 settings found by setUp() and forgets the terminal.
    void restore();

    Mode mode() const { return m_mode; }

    /// Raises RTS before a write (RtsAroundWrite only).
    void beginWrite();
    /// Ends a write that started at @p startNs: when @p sent bytes went out at @p baudRate, waits until
    /// they have left the wire, but not past @p deadlineNs (-1: no limit), then drops RTS.
    void endWrite(int sent, int baudRate, qint64 startNs, qint64 deadlineNs);

private:
    void setRts(bool active);
    bool kernelRs485Taken();
    void waitUntilSent(int count, int baudRate, qint64 startNs, qint64 deadlineNs);

    int m_fd = -1;
    Mode m_mode = Mode::None;
    bool m_transmitterStatusKnown = false;
    std::unique_ptr<serial_rs485> m_savedRs485;
    bool m_rs485Changed = false;
};
