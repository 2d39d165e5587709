#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

/// Keeps the station on its serial line without anybody's help: after a lost line the same port is tried
/// again once a second until it opens, and while no port could be opened at all the port list is looked
/// at once a second. A one-second timer on the GUI thread does it: no thread, nothing spinning, nothing
/// at all while the line is open.
class LineKeeper : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Open, ///< the chosen port is open
        Reopening, ///< the chosen port is lost or cannot be opened: it is tried again every second
        Searching, ///< no port was found: the port list is looked at every second
    };

    explicit LineKeeper(QObject *parent = nullptr);

    State state() const { return m_state; }
    /// The port kept open or tried again; empty while searching.
    QString portName() const { return m_portName; }

    /// The outcome of an attempt to open @p name; an empty name means there was no port to try.
    void opened(const QString &name, bool open);
    /// The open line @p name has dropped (its port is closed already): it is tried again every second.
    void lost(const QString &name);

signals:
    /// Time to try @p name again.
    void reopenDue(const QString &name);
    /// Time to look at the port list again.
    void searchDue();
    /// The line @p name was lost (once per loss) and is open again.
    void lossBegan(const QString &name);
    void lossEnded(const QString &name);

private:
    void enter(State state, const QString &name);
    void tick();

    static constexpr int RetryIntervalMs = 1000;

    State m_state = State::Open;
    QString m_portName;
    // The loss has been written to the log: its end is written too, once.
    bool m_lossLogged = false;
    QTimer m_timer;
};
