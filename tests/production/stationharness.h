#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>

class D415_Fendrix;
class QLabel;
class QLineEdit;
class QPushButton;
class SimulatorProcess;
class TestWorkDir;

/// Standard error (where the station writes its log lines) redirected into a file that a test can read
/// at any moment while the station goes on writing.
class LogTail
{
public:
    LogTail();
    ~LogTail();
    LogTail(const LogTail &) = delete;
    LogTail &operator=(const LogTail &) = delete;

    QByteArray text();
    qsizetype mark() { return text().size(); }
    QByteArray since(qsizetype mark) { return text().mid(mark); }

private:
    int m_saved = -1;
    FILE *m_file = nullptr;
};

/// One station against one doser simulator, in a fresh working directory whose ports/ holds the
/// simulator's link: the real window, the real link over the pseudo-terminal, the real doser model.
class StationHarness
{
public:
    StationHarness();
    ~StationHarness();

    /// Starts the simulator (fast fills unless the arguments say otherwise) and waits for its link.
    bool startSimulator(const QStringList &arguments = {});
    /// One control command to the simulator, waiting for its "CTL ok" answer.
    bool simulator(const QString &command);
    /// "cmd/param" of every request the simulator received for its doser, in order ("0/0", "24/16" ...).
    QStringList requests();
    SimulatorProcess *sim() const { return m_sim.get(); }
    int requestCount(const QString &commandAndParameter);

    /// Builds the window and runs its start as the program does: shown, the records checked, the restore check.
    D415_Fendrix *startStation();
    /// The station as it ends when its process is killed: no close, no stop-work, no orderly shutdown.
    void killStation();
    /// The window closed as the window manager or a SIGTERM closes it (and as "Выход" does with no open batch).
    void closeStation();
    D415_Fendrix *window() const { return m_window; }

    QPushButton *button(const char *name) const;
    QLabel *label(const char *name) const;
    QLineEdit *edit(const char *name) const;
    /// Types a value into a panel field the operator's way: a touch opens the numeric keyboard, the keys
    /// are pressed, "Enter" hands the text back.
    bool typeInto(const char *editName, const QString &text);
    /// The operator's choice of product: "Параметры D415", the product list, "Закрыть меню".
    bool chooseProduct(const QString &name);
    /// Puts a product into the catalogue (before the station starts) so that the settings dialog offers it.
    static void addProduct(const QString &name);

    /// The first cell of @p statement's answer from data.db: what the records hold.
    static QString recordedCell(const QString &statement);
    /// "Продолжить задание" once it is on offer; the notice shown at the batch's end (empty when none came).
    QString continueToTheEnd();

    LogTail &log() { return *m_log; }

private:
    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<LogTail> m_log;
    std::unique_ptr<SimulatorProcess> m_sim;
    D415_Fendrix *m_window = nullptr;
};

/// The consecutive run of the eight requests of the connection test, as "cmd/param".
QStringList connectionTestRequests();
/// Index of @p run as a consecutive part of @p list at or after @p from, or -1.
qsizetype indexOfRun(const QStringList &list, const QStringList &run, qsizetype from = 0);
