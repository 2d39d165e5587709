#include "instancelock.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

InstanceLock::~InstanceLock()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

bool InstanceLock::acquire(const QString &linkPath)
{
    // The path may be longer than a socket name; its hash is not.
    const QByteArray key = "d415-sim:"
        + QCryptographicHash::hash(QFileInfo(linkPath).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex();
    m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0)
        return false;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, key.constData(), size_t(key.size())); // leading zero byte: abstract
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + key.size());
    if (::bind(m_socket, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        ::close(m_socket);
        m_socket = -1;
        return false;
    }
    return true;
}
