#include "terminationsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int TerminationSignalNumbers[] = {SIGINT, SIGTERM, SIGHUP};
} // namespace

int TerminationSignals::s_pipe[2] = {-1, -1};

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignals);
    struct sigaction action = {};
    action.sa_handler = &TerminationSignals::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : TerminationSignalNumbers)
        sigaction(signalNumber, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    for (int signalNumber : TerminationSignalNumbers)
        std::signal(signalNumber, SIG_DFL);
    for (int &fd : s_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TerminationSignals::onSignal(int signalNumber)
{
    // Only async-signal-safe work here: one byte into the pipe. The interrupted code may be about to read
    // errno of its own call, and write() would overwrite it.
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = savedErrno;
}

void TerminationSignals::readSignals()
{
    char buffer[16];
    int firstSignal = 0;
    ssize_t count = 0;
    while ((count = ::read(s_pipe[0], buffer, sizeof buffer)) > 0) {
        if (firstSignal == 0)
            firstSignal = int(buffer[0]);
    }
    if (firstSignal != 0)
        emit terminationRequested(firstSignal);
}
