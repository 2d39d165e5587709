#pragma once

#include <QObject>

class QSocketNotifier;

/// Turns SIGINT, SIGTERM and SIGHUP into an ordinary end of the event loop, so that the simulator
/// removes its link whichever way it is stopped short of SIGKILL.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private slots:
    void readSignal();

private:
    static void onSignal(int signalNumber);
    static int s_pipe[2];
    QSocketNotifier *m_notifier = nullptr;
};
