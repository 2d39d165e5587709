#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>

/// The doser simulator (d415-sim) running for one test. start() launches it in the current working
/// directory (a TestWorkDir), so that it links its pseudo-terminal as ports/NAME there, and returns
/// once the link exists: open portName() with the link or list the ports as the workstation does.
/// While it runs, the test injects faults and sets doser values through the simulator's control
/// channel (each call returns once the simulator has carried the command out), and reads back the
/// requests the simulator received, in order. stop() (or the destructor) ends it and removes the
/// link; should the test itself die, the simulator ends with it.
///
///     TestWorkDir dir;
///     SimulatorProcess sim;
///     QVERIFY(sim.start({"--fill-time", "200"}));
///     link.openPort(sim.portName());
///     ...
///     QVERIFY(sim.badCheckByte());                  // the next reply has a wrong check byte
///     QTRY_COMPARE(sim.requestCount(), 3);
///     QCOMPARE(sim.requestCommands().last(), qMakePair(24, 20));
class SimulatorProcess : public QObject
{
    Q_OBJECT
public:
    /// One request the simulator received for its doser.
    struct Request
    {
        int command = 0;
        int parameter = 0;
        double value = 0; ///< the value the request carries (mantissa / 10^decimals)
        int decimals = 0;
        QByteArray frame; ///< the 12 bytes as they arrived
    };

    /// What the doser dispensed since the simulator started, from its "totals" line.
    struct Totals
    {
        bool valid = false; ///< false when the simulator did not answer
        int discharges = 0; ///< discharges of a loaded hopper, full cycles included
        QString weightText; ///< their weight with the doser's decimals, for example "30.0"
        double weight = 0;
        QString unit; ///< g, kg or t
        qint64 lifetimeDoses = 0;
        qint64 lifetimeWeightRaw = 0; ///< the lifetime weight counter (24/20), units of the last decimal
    };

    explicit SimulatorProcess(QObject *parent = nullptr);
    ~SimulatorProcess() override;

    /// Path of the simulator program of this build.
    static QString program();

    /// Starts the simulator with @p arguments (d415-sim --help lists them: --address, --decimals,
    /// --fill-time, --noise, faults at start, ...) and waits until ports/NAME exists. NAME is "d415"
    /// unless the arguments give --name. False, with lastError(), when it did not come up.
    bool start(const QStringList &arguments = {}, int timeoutMs = 10000);
    /// Starts it and waits for the program to end on its own (for options it must refuse); the log is
    /// in logLines(). False when it did not end within @p timeoutMs.
    bool runToEnd(const QStringList &arguments, int timeoutMs = 10000);
    /// Ends the simulator (SIGTERM) and waits until it has gone; true when its link is gone too.
    bool stop(int timeoutMs = 10000);
    bool isRunning() const;
    /// Waits until the simulator has ended by itself (after "quit", a signal, or a failed start).
    bool waitForExit(int timeoutMs = 10000);
    /// Its exit status once ended: 0 normal end, 1 no line, 2 wrong options.
    int exitCode() const { return m_process.exitCode(); }
    qint64 processId() const { return m_process.processId(); }

    /// The port name the workstation opens: NAME, found as ports/NAME in the working directory.
    QString portName() const { return m_name; }
    /// Absolute path of the link.
    QString linkPath() const { return m_linkPath; }
    /// The pseudo-terminal the link points to (/dev/pts/N).
    QString devicePath() const { return m_devicePath; }

    /// Sends one control command (see d415-sim --help) and waits for its answer: true for "ok".
    bool command(const QString &line, int timeoutMs = 5000);

    // Faults, each through command().
    bool setSilent(bool silent); ///< no replies at all until setSilent(false)
    bool silenceNext(int count = 1); ///< the next @p count requests get no reply
    bool badCheckByte(int count = 1); ///< wrong check byte in the next @p count replies
    bool wrongAddress(int count = 1); ///< the next @p count replies come from the next address
    bool partialReply(int count = 1); ///< the next @p count replies stop after 6 bytes
    bool slowReply(int count = 1, int delayMs = 300); ///< the next @p count replies come @p delayMs late
    bool setDelay(int delayMs); ///< every reply @p delayMs late
    bool raiseError(int code); ///< fault bit with error @p code until reset-error (command 4)
    bool resetError(); ///< leave the fault state without a request
    bool clearFaults(); ///< forget pending line faults and the delay
    bool dropLine(); ///< close the line as a pulled cable would; the link goes
    bool reconnectLine(); ///< a new pseudo-terminal under the same link; waits for the link
    bool junkFirst(int count = 1); ///< 3 junk bytes before each of the next @p count replies
    /// The doser carries out the next request, then the line hangs up without a reply and comes back
    /// @p downMs later under the same link; waitForLineBack() waits for it.
    bool hangUpNext(int downMs);
    /// Waits until the line is linked again after the last hang-up or drop.
    bool waitForLineBack(int timeoutMs = 10000);

    /// Aims @p fault ("badcrc", "slow 400", "hangup 500", "mark", ...) at the @p nth request of
    /// @p kind ("any", "20", "24/20", "discharge", ...), counted from now ("at N KIND FAULT").
    bool aim(int nth, const QString &kind, const QString &fault);
    /// Waits for the FLT line of that aim: it fires as the request arrives (a mark before the doser
    /// acts, the others once it has acted).
    bool waitForAimed(int nth, const QString &kind, const QString &fault, int timeoutMs = 5000);
    /// The FLT lines of aims fired so far.
    QStringList aimedLines() const;

    /// Sets a doser value ("set NAME VALUE"): decimals, max-dose, unit, firmware, plus, minus, dose,
    /// net, fill-time, discharge-time, noise, seed, shift-doses, shift-weight, lifetime-doses,
    /// lifetime-weight, test-mode, address.
    bool setValue(const QString &name, const QString &value);

    /// The requests received so far for the simulator's doser, in order.
    QList<Request> requests() const { return m_requests; }
    /// The same as (command, parameter) pairs.
    QList<QPair<int, int>> requestCommands() const;
    int requestCount() const { return int(m_requests.size()); }
    /// Waits until at least @p count requests have arrived since start or clearRequests().
    bool waitForRequests(int count, int timeoutMs = 5000);
    void clearRequests() { m_requests.clear(); }
    /// Forgets the log lines and requests kept so far (a long benchmark keeps its memory flat).
    void clearLog()
    {
        m_lines.clear();
        m_requests.clear();
    }

    /// Every line the simulator has written to standard error so far.
    QStringList logLines() const { return m_lines; }
    /// The lines with one tag: "REQ", "REP", "IGN", "FLT", "EVT", "CTL" or "SIM", without time and tag.
    QStringList linesWithTag(const QString &tag) const;
    /// Waits for a line containing @p fragment (in lines arriving from now on when @p fromNow).
    bool waitForLine(const QString &fragment, int timeoutMs = 5000, bool fromNow = false);
    /// The simulator's one-line account of every value, pending fault and pending aim.
    QString status();
    /// What the doser has discharged since start ("totals").
    Totals totals();

    /// Why start(), stop() or command() failed.
    QString lastError() const { return m_lastError; }

private slots:
    void readLog();

private:
    void parseLine(const QString &line);
    bool waitForLink(int timeoutMs);
    QString simLineAfter(const QString &command);

    QProcess m_process;
    QString m_name = QStringLiteral("d415");
    QString m_linkPath;
    QString m_devicePath;
    QByteArray m_partialLine;
    QStringList m_lines;
    QStringList m_controlAnswers;
    QList<Request> m_requests;
    QString m_lastError;
};
