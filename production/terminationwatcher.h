#pragma once

#include <QObject>

class QSocketNotifier;
class QWidget;

/// Turns SIGTERM, SIGINT and SIGHUP into an ordinary close of the main window, so that a service
/// manager or Ctrl+C stops the station the same orderly way as its "Выход" button (the doser is sent
/// its stop-work command and the log says so); then it ends the application, whatever other window or
/// question is still open.
class TerminationWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TerminationWatcher(QWidget *window);
    ~TerminationWatcher() override;

private slots:
    void closeWindow();

private:
    static void onSignal(int signalNumber);
    static int s_pipe[2];
    QWidget *m_window;
    QSocketNotifier *m_notifier = nullptr;
};
