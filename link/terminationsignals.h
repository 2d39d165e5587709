#pragma once

#include <QObject>

class QSocketNotifier;

/// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the thread that made it, so that a program ends
/// the orderly way (the station closes its window, the simulator removes its link) whichever way it is
/// stopped short of SIGKILL. The handler only writes one byte into a pipe; the event loop reads it. One
/// instance at a time per process: the handlers and the pipe are the process's own. Destroyed, it puts
/// the default actions back.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    /// Once per wake of the event loop, however many signals arrived meanwhile; the first one's number.
    void terminationRequested(int signalNumber);

private slots:
    void readSignals();

private:
    static void onSignal(int signalNumber);
    static int s_pipe[2];
    QSocketNotifier *m_notifier = nullptr;
};
