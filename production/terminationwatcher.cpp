#include "terminationwatcher.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

int TerminationWatcher::s_pipe[2] = {-1, -1};

TerminationWatcher::TerminationWatcher(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    if (s_pipe[0] < 0 && pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatcher::closeWindow);
    struct sigaction action = {};
    action.sa_handler = &TerminationWatcher::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

TerminationWatcher::~TerminationWatcher()
{
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
}

void TerminationWatcher::onSignal(int signalNumber)
{
    // Only async-signal-safe work here: the GUI thread does the closing.
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = write(s_pipe[1], &byte, 1);
}

void TerminationWatcher::closeWindow()
{
    char buffer[16];
    while (read(s_pipe[0], buffer, sizeof buffer) > 0) { }
    m_window->close();
    // Dialogs and message boxes are windows of their own: an open one would keep the application, or a
    // question waiting in its own loop, running. Hidden, a question counts as unanswered.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window != m_window && window->isVisible())
            window->hide();
    }
    QCoreApplication::quit();
}
