#pragma once

#include <QByteArray>
#include <QString>

/// The UUCP-style lock file by which serial programs on Linux (minicom, lockdev, Qt's serial port)
/// tell each other who owns a line: `LCK..<device>` in /run/lock holding the owner's process id. Unlike
/// the kernel's exclusive mark, which outlives a killed owner while another process keeps the terminal
/// open, a lock names its owner: a lock whose process is gone is stale and is taken over.
class PortLockFile
{
public:
    enum class Outcome {
        Taken, ///< the lock is ours
        TakenOverStale, ///< ours, after removing the lock of a process that no longer runs
        HeldElsewhere, ///< a running process holds the line
        Unavailable, ///< the lock folder cannot be written: the line is guarded without a lock file
    };

    /// Whom a device's lock names.
    enum class Owner {
        Nobody, ///< no lock (or no lock folder)
        Running, ///< a process that runs (this one included)
        Ended, ///< a process that no longer runs: the lock is stale
    };

    PortLockFile() = default;
    ~PortLockFile();
    PortLockFile(const PortLockFile &) = delete;
    PortLockFile &operator=(const PortLockFile &) = delete;

    /// Takes the lock of the device at @p devicePath (a `ports/` link or the device itself).
    Outcome acquire(const QString &devicePath);
    /// Removes the lock file, if it still names this process.
    void release();

    /// Whom the lock of the device at @p devicePath names, without touching it.
    static Owner ownerOf(const QString &devicePath);

    /// The lock's file name: the real device behind any symbolic links, its path below /dev with '/'
    /// turned into '_' (/dev/ttyUSB0 → LCK..ttyUSB0, /dev/pts/3 → LCK..pts_3), so that a `ports/` link
    /// and the device it points to, and other programs, agree on one lock.
    static QString fileNameFor(const QString &devicePath);

    /// The folder of the lock files (/run/lock unless set; /var/lock links there on Debian).
    static QString directory();
    static void setDirectory(const QString &path);

private:
    QByteArray m_path;
};
