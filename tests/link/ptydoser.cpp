#include "ptydoser.h"

#include "d415datapacket.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

PtyDoser::PtyDoser()
{
    char name[128] = {};
    termios raw {};
    cfmakeraw(&raw);
    if (openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    m_stopEvent = eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { serve(); });
}

PtyDoser::~PtyDoser()
{
    if (m_thread.joinable()) {
        eventfd_write(m_stopEvent, 1);
        m_thread.join();
    }
    for (int fd : {m_master, m_slave, m_stopEvent}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool PtyDoser::linkAs(const QString &name) const
{
    QDir().mkpath(QStringLiteral("ports"));
    const QString entry = QStringLiteral("ports/") + name;
    QFile::remove(entry);
    return QFile::link(m_slavePath, entry);
}

void PtyDoser::setAnswer(Answer answer, int splitGapMs)
{
    m_splitGapMs = splitGapMs;
    m_answer = answer;
}

void PtyDoser::send(const QByteArray &bytes)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_master >= 0 && ::write(m_master, bytes.constData(), size_t(bytes.size())) < 0)
        qWarning("doser: write failed");
}

void PtyDoser::hangUp()
{
    // The serving thread must not touch the descriptor after this: it is stopped first.
    if (m_thread.joinable()) {
        eventfd_write(m_stopEvent, 1);
        m_thread.join();
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    ::close(m_master);
    m_master = -1;
}

QList<QByteArray> PtyDoser::received() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

int PtyDoser::receivedCount() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_received.size());
}

QByteArray PtyDoser::replyTo(const QByteArray &request, quint8 stateFlags, int value)
{
    D415DataPacket asked;
    asked.fromWire(reinterpret_cast<const quint8 *>(request.constData()), int(request.size()));
    D415DataPacket reply;
    reply.reset();
    reply.destinationAddress = 0;
    reply.sourceAddress = asked.destinationAddress & 0x7F;
    reply.command = asked.command;
    reply.parameter = asked.parameter;
    reply.stateFlags = stateFlags;
    reply.setValue(value, 0);
    quint8 wire[D415DataPacket::FrameSize];
    reply.toWire(wire);
    return QByteArray(reinterpret_cast<const char *>(wire), D415DataPacket::FrameSize);
}

void PtyDoser::serve()
{
    QByteArray pending;
    int number = 0;
    for (;;) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_stopEvent, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || fds[1].revents != 0)
            return;
        char buffer[256];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        pending.append(buffer, n);
        while (pending.size() >= D415DataPacket::FrameSize) {
            const QByteArray request = pending.left(D415DataPacket::FrameSize);
            pending.remove(0, D415DataPacket::FrameSize);
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_received.append(request);
            }
            answer(request, ++number);
        }
    }
}

void PtyDoser::answer(const QByteArray &request, int number)
{
    QByteArray reply = replyTo(request, m_stateFlags, number);
    switch (m_answer.load()) {
    case Answer::Reply: send(reply); break;
    case Answer::SplitReply:
        send(reply.left(6));
        std::this_thread::sleep_for(std::chrono::milliseconds(m_splitGapMs.load()));
        send(reply.mid(6));
        break;
    case Answer::HalfReply: send(reply.left(6)); break;
    case Answer::BadCheckByte:
        reply[11] = char(reply[11] ^ 0x01);
        send(reply);
        break;
    case Answer::Silence: break;
    case Answer::LateReplyFirst:
    case Answer::LateReplyOnly: {
        // What a doser's late reply to an earlier request looks like: another command echoed.
        D415DataPacket earlier;
        earlier.fromWire(reinterpret_cast<const quint8 *>(request.constData()), int(request.size()));
        earlier.command = quint8((earlier.command + 1) & 0x7F);
        quint8 wire[D415DataPacket::FrameSize];
        earlier.toWire(wire);
        send(replyTo(
            QByteArray(reinterpret_cast<const char *>(wire), D415DataPacket::FrameSize), m_stateFlags, number + 100));
        if (m_answer.load() == Answer::LateReplyFirst) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_splitGapMs.load()));
            send(reply);
        }
        break;
    }
    }
}
