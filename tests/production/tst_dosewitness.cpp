#include "databaselock.h"
#include "modalanswerer.h"
#include "simulatorprocess.h"
#include "sqlitequery.h"
#include "stationharness.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTime>

/// Every dose counted once: what the doser dispensed and what data.db records agree to the doser's
/// decimals through lost replies, a station killed at any step and records that cannot be written.
class tst_DoseWitness : public QObject
{
    Q_OBJECT
public:
    enum Trouble {
        LostLine, ///< the aimed fault costs the line: the doser comes back, the restore is accepted
        KillAtAim, ///< the station dies as the aimed request reaches the doser
        KillAfterFill, ///< ... and comes back once the doser has weighed its fill
        KillAfterRecord, ///< the station dies once the first dose is recorded
        LockAtAim, ///< another program locks data.db for longer than the station waits
        NoJournalAtAim, ///< data.db cannot be written: its journal cannot be created
        FullAtMiddle, ///< the disk is full when a dose is recorded in the middle of the batch
        FullAtEnd, ///< ... when the batch is closed
    };

private slots:
    void init();
    void cleanup();
    void everyDoseCountedOnce_data();
    void everyDoseCountedOnce();
    void continueWithoutLine();
    void openBatchUnderLock_data();
    void openBatchUnderLock();

private:
    bool startBatch();
    StationHarness *m_station = nullptr;
};

Q_DECLARE_METATYPE(tst_DoseWitness::Trouble)

namespace {
const QString Target = QStringLiteral("150.4");
constexpr double Plus = 0.5;
const QString TaskTable = QStringLiteral(
    "CREATE TABLE task (idButch INTEGER, deviceId INTEGER, startTime TEXT, endTime TEXT, taskWeight TEXT, "
    "haveDoneWeight TEXT, mustToBeDoneWeight TEXT, productName TEXT, weightScale TEXT, startDate TEXT, "
    "endDate TEXT);");
} // namespace

void tst_DoseWitness::init()
{
    m_station = new StationHarness;
}

void tst_DoseWitness::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

bool tst_DoseWitness::startBatch()
{
    StationHarness::addProduct(QStringLiteral("Мука"));
    m_station->startStation();
    if (!QTest::qWaitFor([&] { return m_station->label("weightlabel_7")->text() == QStringLiteral("кг"); }, 5000))
        return false;
    if (!m_station->chooseProduct(QStringLiteral("Мука")) || !m_station->typeInto("productWeightD415_11", Target))
        return false;
    ModalAnswerer start(QStringLiteral("Да"));
    QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
    return start.answered();
}

void tst_DoseWitness::everyDoseCountedOnce_data()
{
    QTest::addColumn<QString>("fillTime");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<Trouble>("trouble");
    // Counted from the simulator's start: the first discharge is the preparatory one, the first counter
    // read the connection test's.
    QTest::addRow("garbled reply to a fill") << "200" << 2 << "fill"
                                             << "badcrc" << LostLine;
    QTest::addRow("no reply to a fill") << "200" << 2 << "fill"
                                        << "silence" << LostLine;
    QTest::addRow("garbled reply to a discharge") << "200" << 3 << "discharge"
                                                  << "badcrc" << LostLine;
    QTest::addRow("no reply to a discharge") << "200" << 3 << "discharge"
                                             << "silence" << LostLine;
    QTest::addRow("garbled replies to the counter") << "200" << 6 << "lifetime-weight"
                                                    << "badcrc" << LostLine;
    QTest::addRow("killed before a fill") << "200" << 2 << "fill"
                                          << "silence" << KillAtAim;
    QTest::addRow("killed during a fill") << "1500" << 2 << "fill"
                                          << "mark" << KillAtAim;
    QTest::addRow("killed after a fill") << "300" << 2 << "fill"
                                         << "mark" << KillAfterFill;
    QTest::addRow("killed between the discharge and its reply") << "200" << 3 << "discharge"
                                                                << "hold 2000" << KillAtAim;
    QTest::addRow("killed after the record") << "200" << 0 << ""
                                             << "" << KillAfterRecord;
    QTest::addRow("data.db locked longer than the wait") << "200" << 3 << "discharge"
                                                         << "mark" << LockAtAim;
    QTest::addRow("data.db cannot be written") << "200" << 3 << "discharge"
                                               << "mark" << NoJournalAtAim;
    QTest::addRow("disk full in the middle") << "200" << 0 << ""
                                             << "" << FullAtMiddle;
    QTest::addRow("disk full at the end") << "200" << 0 << ""
                                          << "" << FullAtEnd;
}

void tst_DoseWitness::everyDoseCountedOnce()
{
    QFETCH(QString, fillTime);
    QFETCH(int, nth);
    QFETCH(QString, kind);
    QFETCH(QString, fault);
    QFETCH(Trouble, trouble);

    if (trouble == FullAtMiddle || trouble == FullAtEnd) {
        // What SQLite answers on a full disk, raised where the step is recorded.
        SqliteQuery query;
        query.open(QStringLiteral("data.db"));
        query.runQuery(TaskTable);
        query.runQuery(trouble == FullAtMiddle
                ? QStringLiteral("CREATE TRIGGER full BEFORE UPDATE OF haveDoneWeight ON task WHEN "
                                 "NEW.haveDoneWeight + 0 > 60 BEGIN SELECT RAISE(ABORT, 'database or disk is full'); "
                                 "END;")
                : QStringLiteral("CREATE TRIGGER full BEFORE UPDATE OF endTime ON task WHEN NEW.endTime != ' ' "
                                 "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END;"));
        QCOMPARE(query.returnCode(), 0);
    }
    QVERIFY(m_station->startSimulator({"--decimals", "1", "--max-dose", "50", "--plus", "0.5", "--noise", "0.3",
        "--seed", "7", "--fill-time", fillTime}));
    SimulatorProcess *sim = m_station->sim();
    if (nth > 0)
        QVERIFY(sim->aim(nth, kind, fault));
    if (kind == QLatin1String("lifetime-weight")) // the read is asked once more; that too is spoiled
        QVERIFY(sim->aim(nth + 1, kind, fault));

    ModalAnswerer restore(QStringLiteral("Да"), 60000);
    QVERIFY(startBatch());
    switch (trouble) {
    case LostLine:
        QTRY_VERIFY_WITH_TIMEOUT(restore.answered(), 20000);
        QCOMPARE(restore.boxText(), QStringLiteral("Последнее задание не завершено.\nВосстановить данные?"));
        break;
    case KillAtAim:
    case KillAfterFill:
    case KillAfterRecord: {
        if (trouble == KillAfterRecord)
            QTRY_VERIFY_WITH_TIMEOUT(
                !StationHarness::recordedCell(QStringLiteral("SELECT haveDoneWeight FROM task")).isEmpty(), 20000);
        else
            QVERIFY(sim->waitForAimed(nth, kind, fault, 20000));
        m_station->killStation();
        if (trouble == KillAfterFill)
            QTRY_VERIFY_WITH_TIMEOUT(
                sim->linesWithTag(QStringLiteral("EVT")).filter(QStringLiteral("dose weighed")).size() == nth, 5000);
        ModalAnswerer restoreAfterRestart(QStringLiteral("Да"), 20000);
        m_station->startStation();
        QVERIFY(restoreAfterRestart.answered());
        break;
    }
    case LockAtAim:
    case NoJournalAtAim:
    case FullAtMiddle:
    case FullAtEnd: {
        std::unique_ptr<DatabaseLock> lock;
        if (trouble != FullAtMiddle && trouble != FullAtEnd)
            QVERIFY(sim->waitForAimed(nth, kind, fault, 20000));
        ModalAnswerer stopped(QStringLiteral("Ok"), 60000);
        if (trouble == LockAtAim)
            lock = std::make_unique<DatabaseLock>(QStringLiteral("data.db"));
        if (trouble == NoJournalAtAim)
            QVERIFY(QDir().mkdir(QStringLiteral("data.db-journal")));
        QTRY_VERIFY_WITH_TIMEOUT(stopped.answered(), 60000);
        QVERIFY2(stopped.boxText().startsWith(QStringLiteral("Не удалось записать задание в базу данных: ")),
            qPrintable(stopped.boxText()));
        QVERIFY(stopped.boxText().endsWith(QStringLiteral(". Задание остановлено.")));
        QVERIFY(m_station->button("continueButton")->isEnabled());
        QVERIFY(!m_station->button("stopButton")->isEnabled());
        // Nothing goes to the doser but the stop until the records are written.
        const qsizetype requestsWhenStopped = m_station->requests().size();
        QTest::qWait(400);
        QVERIFY(!m_station->requests().mid(requestsWhenStopped).contains(QStringLiteral("14/0")));
        lock.reset();
        QDir().rmdir(QStringLiteral("data.db-journal"));
        SqliteQuery query;
        query.open(QStringLiteral("data.db"));
        query.runQuery(QStringLiteral("DROP TRIGGER IF EXISTS full"));
        break;
    }
    }
    QCOMPARE(m_station->continueToTheEnd(), QStringLiteral("Задание выполнено"));

    const SimulatorProcess::Totals totals = sim->totals();
    QVERIFY(totals.valid);
    QCOMPARE(StationHarness::recordedCell(QStringLiteral("SELECT haveDoneWeight FROM task")), totals.weightText);
    QVERIFY2(totals.weight <= Target.toDouble() + Plus + 1e-9, qPrintable(totals.weightText));
    QVERIFY(totals.weight >= Target.toDouble() - Plus - 1e-9);
    QCOMPARE(StationHarness::recordedCell(QStringLiteral("SELECT taskWeight FROM task")), Target);
    QVERIFY(QTime::fromString(
        StationHarness::recordedCell(QStringLiteral("SELECT endTime FROM butch")), QStringLiteral("hh:mm"))
                .isValid());
    QCOMPARE(StationHarness::recordedCell(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
}

/// An open batch restored with no line at all: nothing is known of the doser, so nothing is continued and
/// the records keep their figures.
void tst_DoseWitness::continueWithoutLine()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE butch (idButch INTEGER PRIMARY KEY, date TEXT, startTime TEXT, "
                                  "endTime TEXT, endDate TEXT);"));
    query.runQuery(TaskTable);
    query.runQuery(QStringLiteral("INSERT INTO butch (date, startTime, endTime, endDate) values (\"01.12.2026\", "
                                  "\"08:00\", \"\", \"\");"));
    query.runQuery(QStringLiteral("INSERT INTO task VALUES (1, \"30\", \"08:00\", \" \", \"150.4\", \"37.5\", "
                                  "\"112.9\", 'Мука', \"кг\", \"01.12.2026\", \"\");"));
    QCOMPARE(query.returnCode(), 0);
    query.close();

    ModalAnswerer restore(QStringLiteral("Да"));
    m_station->startStation();
    QVERIFY(restore.answered());
    QTRY_VERIFY(m_station->button("continueButton")->isEnabled());
    ModalAnswerer refused(QStringLiteral("Ok"), 10000);
    QTest::mouseClick(m_station->button("continueButton"), Qt::LeftButton);
    QVERIFY(refused.answered());
    QCOMPARE(refused.boxText(),
        QStringLiteral("Дозатор не прошёл проверку связи: его формат веса и НПВ не известны. Задание не запущено."));
    QVERIFY(m_station->button("continueButton")->isEnabled());
    QVERIFY(!m_station->button("stopButton")->isEnabled());
    QCOMPARE(StationHarness::recordedCell(
                 QStringLiteral("SELECT taskWeight || '/' || haveDoneWeight || '/' || mustToBeDoneWeight FROM task")),
        QStringLiteral("150.4/37.5/112.9"));
}

void tst_DoseWitness::openBatchUnderLock_data()
{
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<QString>("firstBox");
    QTest::addRow("lock shorter than the wait") << 4000 << "Последнее задание не завершено.\nВосстановить данные?";
    QTest::addRow("lock longer than the wait") << -1
                                               << "Не удалось прочитать записи заданий в базе данных: database "
                                                  "is locked.\nНезавершённое задание может ожидать "
                                                  "восстановления: оно будет предложено снова при начале "
                                                  "задания.";
}

/// The look for an open batch at start-up under another program's lock: waited for, and when it cannot be
/// read, said so and offered again, never taken for "no open batch".
void tst_DoseWitness::openBatchUnderLock()
{
    QFETCH(int, holdMs);
    QFETCH(QString, firstBox);
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE butch (idButch INTEGER PRIMARY KEY, date TEXT, startTime TEXT, "
                                  "endTime TEXT, endDate TEXT);"));
    query.runQuery(QStringLiteral("INSERT INTO butch (date, startTime, endTime, endDate) values (\"01.12.2026\", "
                                  "\"08:00\", \"\", \"\");"));
    query.runQuery(QStringLiteral("CREATE TABLE task (idButch INTEGER, deviceId INTEGER, startTime TEXT, endTime TEXT, "
                                  "taskWeight TEXT, haveDoneWeight TEXT, mustToBeDoneWeight TEXT, productName TEXT, "
                                  "weightScale TEXT, startDate TEXT, endDate TEXT);"));
    query.runQuery(QStringLiteral("INSERT INTO task VALUES (1, 30, '08:00', '', '100.0', '0.0', '100.0', 'Соль', "
                                  "'кг', '01.12.2026', '');"));
    query.close();

    DatabaseLock lock(QStringLiteral("data.db"), holdMs);
    QVERIFY(lock.isHeld());
    ModalAnswerer first(holdMs < 0 ? QStringLiteral("Ok") : QStringLiteral("Нет"), 30000);
    m_station->startStation();
    QVERIFY(first.answered());
    QCOMPARE(first.boxText(), firstBox);
    if (holdMs >= 0)
        return;
    lock.release();
    ModalAnswerer offered(QStringLiteral("Нет"));
    QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
    QVERIFY(offered.answered());
    QCOMPARE(offered.boxText(), QStringLiteral("Последнее задание не завершено.\nВосстановить данные?"));
}

QTEST_MAIN(tst_DoseWitness)
#include "tst_dosewitness.moc"
