#pragma once

#include "doseledger.h"
#include "dosewitnessrecords.h"
#include "linekeeper.h"
#include "product.h"
#include "sqlitequery.h"
#include "stat.h"
#include "stationjournal.h"

#include <QByteArray>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

class D415Device;
class D415Link;
class EventJournalWindow;
class PlantSender;
class QAbstractButton;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class StateStrip;
class ReceiptButton;
class ReceiptParameters;
class d415Settings;
class rs232Settings;

namespace Ui {
class D415_FendrixForm;
}

/// The operator's single screen: the doser panel with its connection polling, the batch and task records,
/// the automatic dosing workflow, the manual mode and the counters. It serves one doser, at position 0.
class D415_Fendrix : public QWidget
{
    Q_OBJECT
public:
    explicit D415_Fendrix(QWidget *parent = nullptr);
    ~D415_Fendrix() override;

    /// The window's share of one doser: what it read from the doser and how far the doser's task has got.
    struct DoserState
    {
        quint8 decimals = 0;
        QString weightUnit;
        double doseFaultPlus = 0;
        double doseFaultMinus = 0;
        double npv = 1.0;
        double taskWeight = 0;
        double haveDoneWeight = 0;
        double mustToBeDoneWeight = 0;
        double doseWeight = 0;
        double lastDischargeWeight = 0;
        quint32 lastTotalCommonWeight = 0;
        bool idle = true;
        bool offline = false;
        int lostCount = 0;
        bool downloadPending = false;
        bool uploadPending = false;
        bool firstDischargeMarker = false;
        bool firstDischargeCounted = false;
        // The connection test's replies with the number format (44/1) and the maximum dose (44/0) have
        // arrived since the doser was last (re)gained: weights can be formatted and doses sized.
        bool scaleKnown = false;
        bool npvKnown = false;
        // The doser's counter and hopper account that the recorded figures stand at.
        DoseLedger::Witness witness;
        bool inFault = false; // the last state the doser reported was its fault ("АВАРИЯ")
    };
    static constexpr int DoserCount = 1;

    /// Tells the operator, once at start-up, when data.db cannot be opened or written: nothing will be
    /// recorded, and why. Nothing is shown while the records work.
    void warnIfRecordsUnusable();

    /// Doser position of a doser number (bus address), or -1 when the window does not serve it.
    int positionOf(int number) const;

    /// The band at the window's foot with the doser's state; other concerns add small widgets at its right end.
    StateStrip *stateStrip() const;

public slots:
    // Panel and polling.
    void requestWeightNETTO();
    void checkDeviceActivity();
    void connectionErrorActions(int number);
    void hasCurrentStateActions(int number, const QString &state);
    void workErrorActions(int number, const QString &message);
    void hasGetWeightNETTO(int number, const QString &value);
    void hasGetScale(int number, const QString &value);
    void hasGetScale(int number, quint8 value);
    void hasGetNPD(int number, const QString &value);
    void hasGetWeightScale(int number, const QString &value);
    void hasGetPOVersion(int number, const QString &value);
    void hasGetDoseFaultPlus(int number, const QString &value);
    void hasGetDoseFaultMinus(int number, const QString &value);
    void setWeight(const QString &text, const QString &name);
    void setDoseFaultPlus(const QString &text, const QString &name);
    void setDoseFaultMinus(const QString &text, const QString &name);
    void deviceConnectionTest(int position);
    void setDeviceActive0(bool on);
    void changeD415Product(int position, const QString &name);
    void checkD415Connection(int number);
    void startTestMode();
    void stopTestMode();
    void getProductsNames();
    void showD415Settings();
    void showRs232Settings();
    void showStat();
    void showStat2();
    void openCOMPort(const QString &name);
    void setCOMPortRate(const QString &text);
    void disableD415Containers(bool disable);
    void stopTimers();
    void startTimers();
    QLabel *getLabel(int unused, int code);

    void requestScale(int position);
    void requestNPD(int position);
    void requestWeightScale(int position);
    void requestPOVersion(int position);
    void requestDoseFaultPlus(int position);
    void requestDoseFaultMinus(int position);
    void requestDoseCount(int position);
    void requestTotalWeight(int position);
    void requestTotalCommonWeight(int position);
    void requestTotalCommonDoseCount(int position);

    // Batch and task records.
    void newButch();
    void restoreLastSession();

    // Automatic workflow.
    void startButton();
    void startButtonActions();
    void prepareDevicesForStart(int position);
    void prepareDoserForWork(int number);
    qreal calculateDoseWeight(int number, qreal remaining);
    void continueButton();
    void continueButtonActions();
    void stopButton();
    void stopButtonActions();
    bool canDoReceipt();
    void checkDoseDownload();
    void doDownloadUploadCycle(int number);
    bool checkTheEndOfTheParty(int number);
    void downloadDose(int position, qreal weight, quint8 decimals);
    void uploadDose(int position);
    void hasGetDoseUploadSignal(int number, const QString &weight);
    void hasGetTotalCommonWeight(int number, const QString &value);
    void requestSumWeightOfLastDownload(int position);
    void hasGetSumWeightOfLastDownload(int number, const QString &value);
    void disableControlElementsWhenButchStars();
    void enableControlElementsWhenStopAction();
    void enableControlElementsWhenButchIsDone();

    // Manual mode and counters.
    void downloadDoseButton();
    void uploadDoseButton();
    void stopWorkButton();
    void doCycleButton();
    void stopWork(int position);
    void doFullCycle(int position);
    void stopAllWork();
    void exitButton();
    void hasGetDoseCount(int number, const QString &value);
    void hasGetTotalWeight(int number, const QString &value);
    void hasGetTotalCommonDoseCount(int number, const QString &value);

    // The plant database's link was reached or lost (the sender says so once per change).
    void plantLinkChanged(bool reached, const QString &reason);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Construction and the database.
    void buildMessageBoxes();
    void keepOnScreen();
    void connectDialogs();
    void connectPanel();
    void connectDoser(int position);
    void connectLine();
    void openDatabase();
    /// False, after telling the operator why, when data.db could not be opened or written at start-up.
    bool recordsUsable();
    void runQuery(const QString &statement);

    // Panel helpers.
    bool isOnline(int position) const;
    void resetDoser(int position);
    void showState(int position, const QString &state);
    QLineEdit *findEdit(int code) const;
    QGroupBox *findContainer(int position) const;
    QList<QLabel *> findLabels(int code) const;
    void refreshContainerTitle(int position);
    void centreOnWindow(QWidget *dialog) const;
    QString formatWeight(int position, double weight) const;
    static bool isEmptyEntry(const QString &text);

    // The serial line: opened as chosen, taken back after a loss, looked for while there is none.
    bool openLine(const QString &name);
    void lineLostActions(const QString &name);
    void reopenLine(const QString &name);
    void refreshPortList();
    void pause(int ms);
    static int nextInList(const QList<int> &list, int &cursor, const std::function<bool(int)> &eligible);

    // Message boxes: the question box confirms only with "Да"; the info box has one "Ok". A question box
    // hidden by a connection loss has not been answered at all.
    enum class Answer { Yes, No, Dismissed };
    Answer askAnswer(const QString &text);
    bool ask(const QString &text) { return askAnswer(text) == Answer::Yes; }
    void inform(const QString &text);

    // Records.
    bool findCurrentButch();
    bool lookForOpenButch();
    void addButch();
    bool addTask(int position);
    bool updateTaskProgress(int position);
    bool continueTask(int position);
    bool finishTask(int position);
    bool finishButch();
    bool finishButchTasks();
    bool openButchHasNoTaskHere();
    void closeForeignButch();
    bool writeWitness(int position);
    bool statementDone(bool mustChangeRows);
    bool recordBatchStep(const std::function<bool()> &statements);
    void abandonDoserTask(int position);
    bool addStartRecords();
    bool addDoserTask(int position);
    void refuseUnrecordedStart();
    static QString currentTime();
    static QString currentDate();

    // What the operator reads from across the room: the state strip, stale and readable values, progress.
    void buildScreen();
    void placeStateStrip();
    void showOnStrip(int position, const QString &state);
    void markLiveValuesStale(bool stale);
    void refreshBatchProgress();
    static int errorCodeOf(const QString &message);
    bool m_valuesStale = false;
    // The plant database feed (d415_fendrix_plant.cpp).
    void startPlantFeed();
    void addPlantLabel();
    void showPlantState();

    // Workflow helpers.
    void enterDosing(bool continuing);
    void lockSettings(bool locked);
    // The lock of an open batch, running or stopped: decided from the window's state alone, so that
    // every transition of the workflow can apply it again.
    bool isBatchOpen() const;
    void applyBatchLock();
    void connectStopOnFault(int position);
    void disconnectStopOnFault(int position);
    double nextDoseWeight(int position, double remaining);
    bool recordDischarge(int position, double weight, bool counted);
    void stopUnrecorded();
    bool doserFormatKnown(int position);
    bool readDoserWitness(int position, DoseLedger::Witness *now);
    bool settleWithDoser(int position);
    void refuseWithoutWitness(bool continuing);
    double scaledCounter(int position, const QString &raw) const;

    // The event journal (d415_fendrix_journal.cpp).
    void setUpJournal();
    void placeJournalButton();
    void connectDoserJournal(D415Device *device);
    void connectSettingsJournal();
    void journalEvent(const QString &kind, const QString &text);
    void journalRefusal(const QString &why);
    void journalExport(const QString &fileName);
    QString journalWeights(int position) const;
    void showJournal();
    StationJournal m_journal;
    EventJournalWindow *journalWindow = nullptr;
    QPushButton *journalButton = nullptr;
    // Recipes: the recipe button's requests, each answered exactly once on its slots.
    void placeReceiptButton();
    void applyReceiptLock(bool batchOpen);
    void saveReceiptParameters(const QString &path);
    void rewriteReceiptParameters(const QString &path);
    void loadReceiptParameters(const QString &path);
    bool batchBlocksReceipt(QString *why) const;
    bool currentReceiptParameters(ReceiptParameters *parameters, QString *why);
    bool receiptFormatKnown();
    bool receiptFitsDoser(const ReceiptParameters &parameters, QString *why);
    bool applyReceiptParameters(const ReceiptParameters &parameters, QString *notice, QString *why);
    bool ensureCatalogueProduct(const QString &name, bool *added, QString *why);
    bool sendReceiptTolerance(bool plus, const QString &value, QString *why);
    bool awaitTolerance(bool plus, QString *answer, const std::function<void()> &request);

    // The catalogue and the statistics come first: each opens its own connection to data.db.
    Product product;
    Stat stat;

    Ui::D415_FendrixForm *ui = nullptr;

    D415Link *link = nullptr;
    std::array<D415Device *, DoserCount> d415 {};
    std::array<DoserState, DoserCount> doserState {};
    rs232Settings *rs232SettingsDialog = nullptr;
    d415Settings *d415SettingsDialog = nullptr;
    QMessageBox *questionBox = nullptr;
    QAbstractButton *questionYesButton = nullptr;
    QAbstractButton *questionAnswer = nullptr;
    QMessageBox *infoBox = nullptr;
    ReceiptButton *m_receiptButton = nullptr; // a child of the window, placed under the batch controls

    SqliteQuery m_query;
    DoseWitnessRecords m_witnessRecords {m_query};
    // Why data.db takes no records (empty while it does): found at start-up, shown to the operator.
    QString m_recordsProblem;
    // Statements that failed since the start; a step compares it before and after its statements.
    int failedStatements = 0;
    // Why the last step of a batch could not be recorded (SQLite's text), for the operator.
    QString m_recordFailure;
    // The witness is being read: counter replies then only show on the panel.
    bool m_readingWitness = false;
    // The look for an open batch failed at start-up: one may wait to be restored.
    bool m_openButchUnknown = false;

    QTimer pollTimer; // 190 ms: weight, dose count and shift weight of the online doser
    QTimer probeTimer; // 500 ms: one weight request to a lost doser
    QTimer doseCycleTimer; // 160 ms: the lifetime counters while a batch runs
    LineKeeper lineKeeper; // 1 s: the lost line tried again, or the port list looked at while there is none

    QList<int> onDeviceArray;
    QList<int> offDeviceArray;
    int pollCursor = 0;
    int probeCursor = 0;
    int cycleCursor = 0;

    // The plant database feed: null while no plant database is configured.
    PlantSender *m_plantSender = nullptr;
    QLabel *m_plantLabel = nullptr;
    qint64 m_plantWaiting = -1;
    bool m_plantReached = false;
    bool m_plantLossJournaled = false;
    QString m_plantReason;

    qint64 idButch = 0;
    int partsLeft = 0;
    bool batchRunning = false;
    bool continueMode = false;
};
