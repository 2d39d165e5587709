#include "d415_fendrix.h"
#include "databaselock.h"
#include "modalanswerer.h"
#include "sqlitequery.h"
#include "stationharness.h"

#include <QDate>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

/// The batch and task records in data.db: what a start writes, and how an unfinished batch is offered,
/// restored, closed or deleted when the station starts.
class tst_BatchRecords : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void restoresTaskOfServedDoser_data();
    void restoresTaskOfServedDoser();
    void batchOfNoTaskHereIsClosed_data();
    void batchOfNoTaskHereIsClosed();
    void decliningDeletesEmptyBatch();
    void decliningClosesCountedBatch();
    void decliningKeepsBatchThatCannotBeRead();
    void productNameIsStoredAsText_data();
    void productNameIsStoredAsText();
    void startThatCannotBeRecorded_data();
    void startThatCannotBeRecorded();

private:
    static void createTables();
    static void openBatch(const QString &doneWeight, const QList<int> &deviceIds, const QString &product);
    static QStringList row(const QString &statement);
    StationHarness *m_station = nullptr;
};

void tst_BatchRecords::init()
{
    m_station = new StationHarness;
}

void tst_BatchRecords::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

void tst_BatchRecords::createTables()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS butch (idButch INTEGER PRIMARY KEY, date TEXT, "
                                  "startTime TEXT, endTime TEXT, endDate TEXT);"));
    query.runQuery(QStringLiteral("CREATE TABLE IF NOT EXISTS task (idButch INTEGER, deviceId INTEGER, startTime TEXT, "
                                  "endTime TEXT, taskWeight TEXT, haveDoneWeight TEXT, mustToBeDoneWeight TEXT, "
                                  "productName TEXT, weightScale TEXT, startDate TEXT, endDate TEXT);"));
}

/// A closed batch 1 and an open batch 2 with one running task per doser number given.
void tst_BatchRecords::openBatch(const QString &doneWeight, const QList<int> &deviceIds, const QString &product)
{
    createTables();
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("INSERT INTO butch VALUES (1, '01.02.2025', '08:00', '09:00', '01.02.2025');"));
    query.runQuery(QStringLiteral("INSERT INTO task VALUES (1, 30, '08:00', '09:00', '50.0', '50.0', '0.0', 'Соль', "
                                  "'кг', '01.02.2025', '01.02.2025');"));
    query.runQuery(QStringLiteral("INSERT INTO butch VALUES (2, '02.02.2025', '10:00', '', '');"));
    for (int id : deviceIds) {
        // Each doser number gets figures of its own, so a wrong row would show.
        const double target = 100.0 + id;
        const double done = doneWeight.isEmpty() ? 0.0 : doneWeight.toDouble();
        query.runQuery(QStringLiteral("INSERT INTO task VALUES (2, %1, '10:00', ' ', '%2', %3, '%4', %5, 'кг', "
                                      "'02.02.2025', '');")
                           .arg(QString::number(id), QString::number(target, 'f', 1), SqliteQuery::literal(doneWeight),
                               QString::number(target - done, 'f', 1), SqliteQuery::literal(product)));
    }
}

QStringList tst_BatchRecords::row(const QString &statement)
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(statement);
    QStringList cells;
    for (const QByteArray &cell : query.values())
        cells << QString::fromUtf8(cell);
    return cells;
}

void tst_BatchRecords::restoresTaskOfServedDoser_data()
{
    QTest::addColumn<int>("address");
    QTest::addRow("default doser 30") << 30;
    QTest::addRow("doser 5 chosen in the settings") << 5;
}

void tst_BatchRecords::restoresTaskOfServedDoser()
{
    QFETCH(int, address);
    if (address != 30)
        QSettings(QStringLiteral("KESTU"), QStringLiteral("D415_Test")).setValue(QStringLiteral("d415Id"), address);
    // Rows of another doser on the line (number 1) belong to that doser, not to this station.
    openBatch(QStringLiteral("40.0"), {1, address}, QStringLiteral("Сахар"));
    QVERIFY(m_station->startSimulator({QStringLiteral("--address"), QString::number(address)}));

    ModalAnswerer answer(QStringLiteral("Да"));
    const qsizetype mark = m_station->log().mark();
    m_station->startStation();
    QVERIFY(answer.answered());
    QCOMPARE(answer.boxText(), QStringLiteral("Последнее задание не завершено.\nВосстановить данные?"));
    QVERIFY(m_station->log().since(mark).contains("\nCurrent idButch is 2"));

    const QString target = QString::number(100.0 + address, 'f', 1);
    QCOMPARE(m_station->edit("productWeightD415_11")->text(), target);
    QCOMPARE(m_station->label("progressBar_11")->text(), QStringLiteral("40.0"));
    auto *container = m_station->window()->findChild<QGroupBox *>(QStringLiteral("containerD415_11"));
    QCOMPARE(container->title(), QStringLiteral("Дозатор %1 - Сахар").arg(address));
    // Restored into the stopped state: the operator continues it.
    QVERIFY(m_station->button("startButton")->isEnabled());
    QVERIFY(!m_station->button("stopButton")->isEnabled());
    QVERIFY(m_station->button("continueButton")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 5000);
    // Nothing was written by the restore itself.
    QCOMPARE(row(QStringLiteral("SELECT endTime FROM butch WHERE idButch = 2")), QStringList {QString()});
}

void tst_BatchRecords::batchOfNoTaskHereIsClosed_data()
{
    QTest::addColumn<QList<int>>("deviceIds");
    QTest::addRow("the task of doser 7") << QList<int> {7};
    QTest::addRow("a batch row without task") << QList<int> {};
}

/// An open batch that nothing of this station's doser belongs to cannot be continued here: it is closed with
/// its records, the operator is told, and the station polls its doser as when idle.
void tst_BatchRecords::batchOfNoTaskHereIsClosed()
{
    QFETCH(QList<int>, deviceIds);
    openBatch(QStringLiteral("40.0"), deviceIds, QStringLiteral("Сахар"));
    QVERIFY(m_station->startSimulator());

    ModalAnswerer restore(QStringLiteral("Да"));
    ModalAnswerer told(QStringLiteral("Ok"), 20000);
    m_station->startStation();
    QTRY_VERIFY_WITH_TIMEOUT(told.answered(), 10000);
    QCOMPARE(told.boxText(), QStringLiteral("Незавершённое задание не относится к дозатору 30 и закрыто."));
    // Nothing of it could be restored here: the operator is not asked to restore it.
    QVERIFY(!restore.answered());
    QVERIFY(QTime::fromString(
        row(QStringLiteral("SELECT endTime FROM butch WHERE idButch = 2")).value(0), QStringLiteral("hh:mm"))
                .isValid());
    QCOMPARE(row(QStringLiteral("SELECT count(*) FROM task WHERE idButch = 2 AND endDate != ''")),
        QStringList {QString::number(deviceIds.size())});
    QVERIFY(m_station->button("startButton")->isEnabled());
    QVERIFY(!m_station->button("continueButton")->isEnabled());
    QVERIFY(!m_station->button("stopButton")->isEnabled());
    // The polling goes on: a doser that is lost now is noticed.
    const int polls = m_station->requestCount(QStringLiteral("0/0"));
    QTRY_VERIFY_WITH_TIMEOUT(m_station->requestCount(QStringLiteral("0/0")) > polls + 3, 5000);
}

void tst_BatchRecords::decliningDeletesEmptyBatch()
{
    openBatch(QString(), {30}, QStringLiteral("Сахар"));
    QVERIFY(m_station->startSimulator());
    ModalAnswerer answer(QStringLiteral("Нет"));
    const qsizetype mark = m_station->log().mark();
    m_station->startStation();
    QVERIFY(answer.answered());
    QVERIFY(m_station->log().since(mark).contains("\nDeleteing empty butch"));
    QCOMPARE(row(QStringLiteral("SELECT idButch FROM butch")), QStringList {QStringLiteral("1")});
    QCOMPARE(row(QStringLiteral("SELECT DISTINCT idButch FROM task")), QStringList {QStringLiteral("1")});
    QVERIFY(!m_station->button("continueButton")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), connectionTestRequests()) >= 0, 5000);
}

void tst_BatchRecords::decliningClosesCountedBatch()
{
    openBatch(QStringLiteral("12.0"), {30}, QStringLiteral("Сахар"));
    QVERIFY(m_station->startSimulator());
    ModalAnswerer answer(QStringLiteral("Нет"));
    const qsizetype mark = m_station->log().mark();
    m_station->startStation();
    QVERIFY(answer.answered());
    QVERIFY(m_station->log().since(mark).contains("\nNeed to finish tasks in butch"));
    const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
    const QStringList batch = row(QStringLiteral("SELECT endTime, endDate FROM butch WHERE idButch = 2"));
    QCOMPARE(batch.size(), 2);
    QVERIFY2(QTime::fromString(batch.at(0), QStringLiteral("hh:mm")).isValid(), qPrintable(batch.at(0)));
    QCOMPARE(batch.at(1), today);
    const QStringList task = row(QStringLiteral("SELECT endTime, endDate, haveDoneWeight FROM task WHERE idButch = 2"));
    QCOMPARE(task.size(), 3);
    QVERIFY2(QTime::fromString(task.at(0), QStringLiteral("hh:mm")).isValid(), qPrintable(task.at(0)));
    QCOMPARE(task.at(1), today);
    QCOMPARE(task.at(2), QStringLiteral("12.0"));
    // The earlier batch keeps its own end.
    QCOMPARE(row(QStringLiteral("SELECT endTime FROM butch WHERE idButch = 1")), QStringList {QStringLiteral("09:00")});
}

/// The question whether anything was done fails on a lock; the lock ends before the deletion would run.
void tst_BatchRecords::decliningKeepsBatchThatCannotBeRead()
{
    openBatch(QStringLiteral("12.0"), {30}, QStringLiteral("Сахар"));
    QVERIFY(m_station->startSimulator());
    std::unique_ptr<DatabaseLock> lock;
    QString boxText;
    // The operator's "Нет", with another program taking data.db just then, for longer than one statement
    // waits and shorter than two.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        boxText = box->text();
        lock = std::make_unique<DatabaseLock>(QStringLiteral("data.db"), 3000);
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == QStringLiteral("Нет"))
                QTest::mouseClick(button, Qt::LeftButton);
        }
    });
    poll.start(10);
    const qsizetype mark = m_station->log().mark();
    m_station->startStation();
    QVERIFY(lock);
    QCOMPARE(boxText, QStringLiteral("Последнее задание не завершено.\nВосстановить данные?"));
    lock.reset();
    QCOMPARE(row(QStringLiteral("SELECT idButch, endTime FROM butch WHERE idButch = 2")),
        (QStringList {QStringLiteral("2"), QString()}));
    QCOMPARE(
        row(QStringLiteral("SELECT haveDoneWeight FROM task WHERE idButch = 2")), QStringList {QStringLiteral("12.0")});
    QVERIFY(m_station->log().since(mark).contains("\nCan't tell whether the butch has done tasks, it is left open"));
}

void tst_BatchRecords::productNameIsStoredAsText_data()
{
    QTest::addColumn<QString>("product");
    QTest::addRow("double quotes") << QStringLiteral("Мука \"Экстра\"");
    QTest::addRow("a column's name") << QStringLiteral("productName");
    QTest::addRow("apostrophe and statement end") << QStringLiteral("O'Neil\"); DELETE FROM butch; --");
    QTest::addRow("placeholder-like text") << QStringLiteral("Сахар %2 %11");
}

/// The product goes through the task row of a start and comes back through the restore unchanged.
void tst_BatchRecords::productNameIsStoredAsText()
{
    QFETCH(QString, product);
    createTables();
    StationHarness::addProduct(product);
    QVERIFY(m_station->startSimulator());
    m_station->startStation();
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("weightlabel_7")->text(), QStringLiteral("кг"), 5000);
    QVERIFY(m_station->chooseProduct(product));
    auto *container = m_station->window()->findChild<QGroupBox *>(QStringLiteral("containerD415_11"));
    QCOMPARE(container->title(), QStringLiteral("Дозатор 30 - %1").arg(product));

    QVERIFY(m_station->typeInto("productWeightD415_11", QStringLiteral("20")));
    ModalAnswerer start(QStringLiteral("Да"));
    QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
    QVERIFY(start.answered());
    QCOMPARE(start.boxText(), QStringLiteral("Начать новую работу?"));

    const QStringList task = row(QStringLiteral("SELECT idButch, deviceId, startTime, endTime, taskWeight, "
                                                "haveDoneWeight, mustToBeDoneWeight, productName, weightScale, "
                                                "startDate, endDate FROM task"));
    QCOMPARE(task.size(), 11);
    QCOMPARE(task.at(0), QStringLiteral("1"));
    QCOMPARE(task.at(1), QStringLiteral("30"));
    QVERIFY(QTime::fromString(task.at(2), QStringLiteral("hh:mm")).isValid());
    QCOMPARE(task.at(3), QStringLiteral(" "));
    QCOMPARE(task.at(4), QStringLiteral("20.0"));
    QCOMPARE(task.at(5), QString());
    QCOMPARE(task.at(6), QStringLiteral("20.0"));
    QCOMPARE(task.at(7), product);
    QCOMPARE(task.at(8), QStringLiteral("кг"));
    QCOMPARE(task.at(9), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
    QCOMPARE(task.at(10), QString());
    QCOMPARE(row(QStringLiteral("SELECT count(*) FROM butch")), QStringList {QStringLiteral("1")});

    // The station dies in the middle; the next start restores the product as it was.
    m_station->killStation();
    row(QStringLiteral("DELETE FROM product"));
    StationHarness::addProduct(QStringLiteral("Другой"));
    ModalAnswerer restore(QStringLiteral("Да"));
    m_station->startStation();
    QVERIFY(restore.answered());
    container = m_station->window()->findChild<QGroupBox *>(QStringLiteral("containerD415_11"));
    QCOMPARE(container->title(), QStringLiteral("Дозатор 30 - %1").arg(product));
}

void tst_BatchRecords::startThatCannotBeRecorded_data()
{
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<bool>("asked"); // whether "Начать новую работу?" comes before the refusal
    QTest::addRow("data.db held by another program") << true << QString() << false;
    QTest::addRow("batch row refused") << false
                                       << QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON butch BEGIN "
                                                         "SELECT RAISE(ABORT, 'database or disk is full'); END;")
                                       << true;
    QTest::addRow("task row refused") << false
                                      << QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON task BEGIN "
                                                        "SELECT RAISE(ABORT, 'database or disk is full'); END;")
                                      << true;
}

/// A batch the station cannot record is not started: nothing reaches the doser, the operator is told, and
/// neither an open batch nor a task without its batch is left behind.
void tst_BatchRecords::startThatCannotBeRecorded()
{
    QFETCH(bool, locked);
    QFETCH(QString, trigger);
    QFETCH(bool, asked);
    createTables();
    row(QStringLiteral("INSERT INTO butch VALUES (1, '01.02.2025', '08:00', '09:00', '01.02.2025');"));
    row(QStringLiteral("INSERT INTO task VALUES (1, 30, '08:00', '09:00', '50.0', '50.0', '0.0', 'Соль', 'кг', "
                       "'01.02.2025', '01.02.2025');"));
    if (!trigger.isEmpty())
        row(trigger);
    StationHarness::addProduct(QStringLiteral("Сахар"));
    QVERIFY(m_station->startSimulator());
    m_station->startStation();
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("weightlabel_7")->text(), QStringLiteral("кг"), 5000);
    QVERIFY(m_station->chooseProduct(QStringLiteral("Сахар")));
    QVERIFY(m_station->typeInto("productWeightD415_11", QStringLiteral("20")));

    std::unique_ptr<DatabaseLock> lock;
    if (locked) {
        lock = std::make_unique<DatabaseLock>(QStringLiteral("data.db"));
        QVERIFY(lock->isHeld());
    }
    const int discharges = m_station->requestCount(QStringLiteral("20/0"));
    const int resets = m_station->requestCount(QStringLiteral("4/0"));
    const qsizetype mark = m_station->log().mark();
    ModalAnswerer start(QStringLiteral("Да"));
    ModalAnswerer refusal(QStringLiteral("Ok"), 30000);
    QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
    QVERIFY(refusal.answered());
    QCOMPARE(refusal.boxText(), QStringLiteral("Не удалось записать задание в базу данных. Задание не начато."));
    QCOMPARE(start.answered(), asked);
    QVERIFY(m_station->log().since(mark).contains(
        "\nThe butch can not be recorded in the database, the work is not started\n"));
    lock.reset();

    QVERIFY(m_station->button("startButton")->isEnabled());
    QVERIFY(!m_station->button("stopButton")->isEnabled());
    QVERIFY(!m_station->button("continueButton")->isEnabled());
    QCOMPARE(m_station->requestCount(QStringLiteral("20/0")), discharges);
    QCOMPARE(m_station->requestCount(QStringLiteral("4/0")), resets);
    // What was stored stays, and nothing half written is left.
    QCOMPARE(row(QStringLiteral("SELECT idButch, endTime FROM butch")),
        (QStringList {QStringLiteral("1"), QStringLiteral("09:00")}));
    QCOMPARE(row(QStringLiteral("SELECT idButch, haveDoneWeight FROM task")),
        (QStringList {QStringLiteral("1"), QStringLiteral("50.0")}));
}

QTEST_MAIN(tst_BatchRecords)
#include "tst_batchrecords.moc"
