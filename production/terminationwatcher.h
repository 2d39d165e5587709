#pragma once

#include <QObject>

class QWidget;
class TerminationSignals;

/// Turns SIGTERM, SIGINT and SIGHUP into an ordinary close of the main window, so that a service
/// manager or Ctrl+C stops the station the same orderly way as its "Выход" button (the doser is sent
/// its stop-work command and the log says so); then it ends the application, whatever other window or
/// question is still open.
class TerminationWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TerminationWatcher(QWidget *window);

private slots:
    void closeWindow();

private:
    QWidget *m_window;
    TerminationSignals *m_signals = nullptr;
};
