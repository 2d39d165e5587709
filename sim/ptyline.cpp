#include "ptyline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyLine::PtyLine(const QString &linkPath, QObject *parent)
    : QObject(parent)
    , m_linkPath(linkPath)
{ }

PtyLine::~PtyLine()
{
    drop();
}

bool PtyLine::open(QString *error)
{
    drop();
    // Raw from the first byte: with the terminal's default echo the simulator would read its own
    // replies back as requests before the workstation had set the line up.
    termios settings {};
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, &settings, nullptr) != 0) {
        *error = systemError("openpty");
        m_master = m_slave = -1;
        return false;
    }
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_devicePath = QString::fromLocal8Bit(name);
    if (!placeLink(error)) {
        closeDescriptors();
        return false;
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyLine::readAvailable);
    return true;
}

bool PtyLine::placeLink(QString *error)
{
    const QFileInfo link(m_linkPath);
    if (!QDir().mkpath(link.path())) {
        *error = QStringLiteral("cannot create the folder %1").arg(link.path());
        return false;
    }
    struct stat existing
    { };
    const QByteArray linkName = QFile::encodeName(m_linkPath);
    if (lstat(linkName.constData(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a link; not replacing it").arg(m_linkPath);
        return false;
    }
    // A link left by a simulator that was killed is replaced in one step, so that the workstation
    // never finds the name missing or half made.
    const QByteArray temporary = linkName + ".new";
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(m_devicePath).constData(), temporary.constData()) != 0) {
        *error = systemError("symlink");
        return false;
    }
    if (::rename(temporary.constData(), linkName.constData()) != 0) {
        *error = systemError("rename");
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

void PtyLine::removeLink()
{
    // Only our own link: another program may have put something else under the name since.
    const QByteArray linkName = QFile::encodeName(m_linkPath);
    char target[256] = {};
    const ssize_t length = ::readlink(linkName.constData(), target, sizeof target - 1);
    if (length > 0 && QFile::decodeName(QByteArray(target, int(length))) == m_devicePath)
        ::unlink(linkName.constData());
}

void PtyLine::drop()
{
    if (!isOpen())
        return;
    // The line may drop from within its own notifier's signal (a hang-up played on a reply).
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    removeLink();
    closeDescriptors();
}

void PtyLine::closeDescriptors()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

bool PtyLine::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void PtyLine::readAvailable()
{
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            emit received(QByteArray(buffer, int(n)));
            if (!isOpen())
                return; // hung up while the bytes were handled
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: all read. Anything else would make the notifier fire for ever; the line is
        // unusable and the log says so through the failed() signal.
        if (n == 0 || errno != EAGAIN) {
            m_notifier->setEnabled(false);
            emit failed(n == 0 ? QStringLiteral("end of file") : systemError("read"));
        }
        return;
    }
}
