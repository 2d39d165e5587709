#include "portscanner.h"

#include "portlockfile.h"
#include "portregistry.h"

#include <QDir>
#include <QFile>
#include <QMutex>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

using FileStatus = struct stat;

const QString sysClassTty = QStringLiteral("/sys/class/tty/");

QByteArray readSysFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().trimmed();
}

// The kernel's consoles: a doser frame written there would end up in the system log or a login prompt.
QStringList consoleNames()
{
    return QString::fromLatin1(readSysFile(sysClassTty + QStringLiteral("console/active")))
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The terminals that lead to a console: /dev/tty and /dev/console (5:0, 5:1), the virtual consoles
// /dev/tty0 to /dev/tty63 (4:0 to 4:63), and the devices the kernel's console is on.
bool isConsoleDevice(dev_t device)
{
    if ((major(device) == 5 && minor(device) <= 1) || (major(device) == 4 && minor(device) < 64))
        return true;
    for (const QString &name : consoleNames()) {
        const QList<QByteArray> numbers = readSysFile(sysClassTty + name + QStringLiteral("/dev")).split(':');
        if (numbers.size() == 2 && makedev(numbers[0].toUInt(), numbers[1].toUInt()) == device)
            return true;
    }
    return false;
}

bool leadsToConsole(const QString &path)
{
    FileStatus st {};
    return stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode) && isConsoleDevice(st.st_rdev);
}

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0))
        && !name.startsWith(QLatin1Char('.'));
}

} // namespace

bool PortScanner::naturalLess(const QString &a, const QString &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int endA = i;
            int endB = j;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            // Compare digit runs by value without converting: strip leading zeros, then length, then text.
            QStringView runA = QStringView(a).mid(i, endA - i);
            QStringView runB = QStringView(b).mid(j, endB - j);
            while (runA.size() > 1 && runA.front() == QLatin1Char('0'))
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.front() == QLatin1Char('0'))
                runB = runB.mid(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            if (const int order = runA.compare(runB))
                return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

QString PortScanner::devicePath(const QString &name)
{
    if (!isPlainName(name))
        return {};
    const QString entry = QStringLiteral("ports/") + name;
    FileStatus st {};
    const QString path = lstat(QFile::encodeName(entry).constData(), &st) == 0 ? entry : QStringLiteral("/dev/") + name;
    // A doser frame written to a console ends up in the system log or at a login prompt, whatever name
    // leads there.
    return leadsToConsole(path) ? QString() : path;
}

QStringList PortScanner::workingDirectoryPorts()
{
    QStringList names;
    const QFileInfoList entries
        = QDir(QStringLiteral("ports")).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            names << entry.fileName();
    }
    std::sort(names.begin(), names.end(), naturalLess);
    return names;
}

QStringList PortScanner::systemPorts()
{
    const QStringList consoles = consoleNames();
    QStringList names;
    const QStringList entries = QDir(sysClassTty).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : entries) {
        const QString dir = sysClassTty + name;
        // Virtual consoles and pseudo-terminals have no device behind them.
        if (!QFileInfo::exists(dir + QStringLiteral("/device")) || consoles.contains(name))
            continue;
        // Serial-core drivers (8250 and the SoC UARTs) register every possible port; type 0 means no
        // UART answered at that address.
        const QByteArray type = readSysFile(dir + QStringLiteral("/type"));
        if (type == "0")
            continue;
        names << name;
    }
    std::sort(names.begin(), names.end(), naturalLess);
    return names;
}

QSet<PortScanner::FileId> PortScanner::lockedFiles()
{
    // Lines such as "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the file is major:minor:inode,
    // the first two in hexadecimal.
    QSet<FileId> locked;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return locked;
    const QList<QByteArray> lines = locks.readAll().split('\n');
    for (const QByteArray &line : lines) {
        for (const QByteArray &field : line.simplified().split(' ')) {
            const QList<QByteArray> parts = field.split(':');
            if (parts.size() != 3 || parts[2].isEmpty())
                continue;
            bool okMajor = false;
            bool okMinor = false;
            bool okInode = false;
            const uint major = parts[0].toUInt(&okMajor, 16);
            const uint minor = parts[1].toUInt(&okMinor, 16);
            const qulonglong inode = parts[2].toULongLong(&okInode, 10);
            if (okMajor && okMinor && okInode)
                locked.insert({makedev(major, minor), ino_t(inode)});
        }
    }
    return locked;
}

PortScanner::Access PortScanner::accessNow(const QString &path, const QSet<FileId> &locked)
{
    const QByteArray nativePath = QFile::encodeName(path);
    FileStatus st {};
    if (stat(nativePath.constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return Access::Unusable;
    // Opening raises DTR and RTS: never on a line this program, another instance of it or a program
    // whose lock file names it is using.
    const PortLockFile::Owner owner = PortLockFile::ownerOf(path);
    if (PortRegistry::isHeld(st.st_rdev) || locked.contains({st.st_dev, st.st_ino})
        || owner == PortLockFile::Owner::Running)
        return Access::Unusable;
    const int fd = ::open(nativePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EPERM ? Access::NoPermission : Access::Unusable;
    // The lines of a port another program holds are left alone; a free one is lowered again at once.
    // The exclusive mark of a crashed station, whose lock names an ended process, holds nothing.
    const bool usable = isatty(fd) && (owner == PortLockFile::Owner::Ended || !isHeldExclusively(fd))
        && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (usable) {
        int lines = TIOCM_DTR | TIOCM_RTS;
        ioctl(fd, TIOCMBIC, &lines);
    }
    ::close(fd);
    return usable ? Access::Usable : Access::Unusable;
}

RefusedPort PortScanner::refusal(const QString &name, const QString &path)
{
    RefusedPort port {name, QString()};
    FileStatus st {};
    const bool groupMayOpen = stat(QFile::encodeName(path).constData(), &st) == 0
        && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupMayOpen) {
        if (const group *owner = getgrgid(st.st_gid))
            port.group = QString::fromLocal8Bit(owner->gr_name);
    }
    // Once per port and process: the list is looked at every second while there is no line.
    static QMutex loggedMutex;
    static QSet<QString> logged;
    const QMutexLocker lock(&loggedMutex);
    if (!logged.contains(name)) {
        logged.insert(name);
        if (port.group.isEmpty())
            std::fprintf(stderr, "Port %s (%s): no permission to open it\n", qPrintable(name), qPrintable(path));
        else
            std::fprintf(stderr, "Port %s (%s): no permission to open it, join the group %s and log in again\n",
                qPrintable(name), qPrintable(path), qPrintable(port.group));
    }
    return port;
}

bool PortScanner::isHeldExclusively(int fd)
{
    int exclusive = 0;
    return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

QStringList PortScanner::availablePorts(bool includeSystemPorts, QList<RefusedPort> *refused)
{
    const QSet<FileId> locked = lockedFiles();
    QStringList names;
    const auto consider = [&](const QString &name, const QString &path) {
        switch (accessNow(path, locked)) {
        case Access::Usable: names << name; break;
        case Access::NoPermission:
            if (refused)
                refused->append(refusal(name, path));
            break;
        case Access::Unusable: break;
        }
    };
    for (const QString &name : workingDirectoryPorts()) {
        const QString path = devicePath(name);
        if (path.startsWith(QLatin1String("ports/")))
            consider(name, path);
    }
    if (!includeSystemPorts)
        return names;
    for (const QString &name : systemPorts()) {
        // A ports/ entry of the same name is what open() would take; it has been looked at above.
        const QString path = devicePath(name);
        if (path.startsWith(QLatin1String("/dev/")))
            consider(name, path);
    }
    return names;
}
