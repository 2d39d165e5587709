#include "portlockfile.h"

#include "linklogging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QtDebug>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using FileStatus = struct stat;

QMutex directoryMutex;
QString lockDirectory = QStringLiteral("/run/lock");

// The owner's process id as minicom writes it: ten characters, right-aligned, and a line feed.
QByteArray lockContent(pid_t pid)
{
    return QByteArray::number(qint64(pid)).rightJustified(10, ' ') + '\n';
}

// The process id on the lock's first line (Qt's lock files add more lines); 0 when there is none.
pid_t lockOwner(const QByteArray &path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = file.readLine(64).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid_t(pid) : 0;
}

bool processRuns(pid_t pid)
{
    // EPERM: it runs under another user.
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// Writes the lock under a name of our own and links it into place: the lock appears whole or not at
// all, and link() fails when another program got there first.
bool createLock(const QByteArray &path, const QByteArray &tempPath, int *error)
{
    const int fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    const QByteArray content = lockContent(getpid());
    const bool written = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    *error = written ? 0 : errno;
    ::close(fd);
    const bool linked = written && link(tempPath.constData(), path.constData()) == 0;
    if (written && !linked)
        *error = errno;
    unlink(tempPath.constData());
    return linked;
}

QByteArray lockPathFor(const QString &devicePath)
{
    return QFile::encodeName(PortLockFile::directory() + QLatin1Char('/') + PortLockFile::fileNameFor(devicePath));
}

// Whom the lock at @p path names.
PortLockFile::Owner ownerAt(const QByteArray &path)
{
    FileStatus st {};
    if (stat(path.constData(), &st) != 0)
        return PortLockFile::Owner::Nobody;
    const pid_t owner = lockOwner(path);
    // A lock without a process id may be one another program has created and not yet written.
    if (owner == 0)
        return time(nullptr) - st.st_mtime < 2 ? PortLockFile::Owner::Running : PortLockFile::Owner::Ended;
    return owner == getpid() || processRuns(owner) ? PortLockFile::Owner::Running : PortLockFile::Owner::Ended;
}

} // namespace

PortLockFile::~PortLockFile()
{
    release();
}

QString PortLockFile::fileNameFor(const QString &devicePath)
{
    QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        device = devicePath;
    if (device.startsWith(QLatin1String("/dev/")))
        device = device.mid(5);
    else
        device = QFileInfo(device).fileName();
    return QStringLiteral("LCK..") + device.replace(QLatin1Char('/'), QLatin1Char('_'));
}

PortLockFile::Owner PortLockFile::ownerOf(const QString &devicePath)
{
    return ownerAt(lockPathFor(devicePath));
}

PortLockFile::Outcome PortLockFile::acquire(const QString &devicePath)
{
    release();
    const QByteArray path = lockPathFor(devicePath);
    const QByteArray tempPath = QFile::encodeName(directory() + QStringLiteral("/LTMP.%1").arg(getpid()));
    bool stale = false;
    int error = 0;
    // Twice at most: once more after removing a stale lock.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (createLock(path, tempPath, &error)) {
            m_path = path;
            return stale ? Outcome::TakenOverStale : Outcome::Taken;
        }
        if (error != EEXIST)
            break;
        if (ownerAt(path) == Owner::Running)
            return Outcome::HeldElsewhere;
        if (unlink(path.constData()) != 0 && errno != ENOENT) {
            error = errno;
            break;
        }
        stale = true;
    }
    if (error == EEXIST)
        return Outcome::HeldElsewhere;
    qCWarning(lcLink).noquote() << QStringLiteral(
        "cannot write the lock file %1 (%2): the line is guarded by flock and "
        "TIOCEXCL only")
                                       .arg(QFile::decodeName(path), QString::fromLocal8Bit(strerror(error)));
    return Outcome::Unavailable;
}

void PortLockFile::release()
{
    if (m_path.isEmpty())
        return;
    // A lock removed and taken by another program in the meantime is theirs.
    if (lockOwner(m_path) == getpid())
        unlink(m_path.constData());
    m_path.clear();
}

QString PortLockFile::directory()
{
    QMutexLocker locker(&directoryMutex);
    return lockDirectory;
}

void PortLockFile::setDirectory(const QString &path)
{
    QMutexLocker locker(&directoryMutex);
    lockDirectory = path;
}
