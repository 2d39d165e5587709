#pragma once

#include "refusedport.h"

#include <QList>
#include <QSet>
#include <QStringList>

#include <sys/types.h>

/// Finds the serial ports that can be opened right now: the entries of `ports/` in the working
/// directory (symbolic links, by name), then the system's serial devices, in natural order
/// (ttyS2 before ttyS10).
class PortScanner
{
public:
    /// With @p refused given, the devices this user may not open are put there (each written to the log
    /// once, with the group to join); they are not in the returned list.
    static QStringList availablePorts(bool includeSystemPorts, QList<RefusedPort> *refused = nullptr);

    /// The device a port name stands for: `ports/NAME` when that entry exists, else `/dev/NAME`; empty
    /// for a name that is not a plain file name and for one that leads to a console (/dev/console,
    /// /dev/tty, a virtual console, the kernel's console device). Listing and opening go by this one rule.
    static QString devicePath(const QString &name);

    /// "ttyUSB2" before "ttyUSB10": digit runs compare by value.
    static bool naturalLess(const QString &a, const QString &b);

    /// Whether the terminal open on @p fd is held by another program with TIOCEXCL. Root passes that
    /// lock at open, so it has to be asked for before the line is touched.
    static bool isHeldExclusively(int fd);

private:
    struct FileId
    {
        dev_t device;
        ino_t inode;
        bool operator==(const FileId &other) const { return device == other.device && inode == other.inode; }
    };
    friend size_t qHash(const FileId &id, size_t seed)
    {
        return qHashMulti(seed, quint64(id.device), quint64(id.inode));
    }

    static QStringList workingDirectoryPorts();
    static QStringList systemPorts();
    static QSet<FileId> lockedFiles();
    enum class Access { Usable, Unusable, NoPermission };
    static Access accessNow(const QString &path, const QSet<FileId> &locked);
    static RefusedPort refusal(const QString &name, const QString &path);
};
