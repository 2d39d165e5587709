#include "terminationwatcher.h"
#include "terminationsignals.h"

#include <QApplication>
#include <QWidget>

TerminationWatcher::TerminationWatcher(QWidget *window)
    : QObject(window)
    , m_window(window)
    , m_signals(new TerminationSignals(this))
{
    connect(m_signals, &TerminationSignals::terminationRequested, this, &TerminationWatcher::closeWindow);
}

void TerminationWatcher::closeWindow()
{
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
