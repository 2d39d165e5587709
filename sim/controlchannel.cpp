#include "controlchannel.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <unistd.h>

ControlChannel::ControlChannel(QObject *parent)
    : QObject(parent)
{
    // Started in the background of an interactive shell, a read from the terminal would stop the
    // whole simulator; ignoring SIGTTIN turns that read into an error that ends the control channel.
    std::signal(SIGTTIN, SIG_IGN);
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ControlChannel::readAvailable);
}

void ControlChannel::readAvailable()
{
    char buffer[1024];
    ssize_t n;
    do {
        n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        m_notifier->setEnabled(false);
        emit finished();
        return;
    }
    m_buffer.append(buffer, int(n));
    qsizetype end;
    while ((end = m_buffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_buffer.left(end)).trimmed();
        m_buffer.remove(0, end + 1);
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            emit lineReceived(line);
    }
}
