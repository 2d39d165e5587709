#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

/// Control lines from the simulator's standard input, one command per line. Ends quietly at end of
/// input (a simulator started with no input, or in the background, simply has no control channel).
class ControlChannel : public QObject
{
    Q_OBJECT
public:
    explicit ControlChannel(QObject *parent = nullptr);

signals:
    void lineReceived(const QString &line);
    void finished();

private slots:
    void readAvailable();

private:
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_buffer;
};
