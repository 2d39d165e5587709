#include "d415_fendrix.h"
#include "eventjournal.h"
#include "modalanswerer.h"
#include "simulatorprocess.h"
#include "sqlitequery.h"
#include "stationharness.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

/// The event journal against the doser simulator: what happens at the station is written once per
/// occurrence, and the journal window lists it.
class tst_EventJournal : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void eachOccurrenceIsOneEvent_data();
    void eachOccurrenceIsOneEvent();

private:
    /// "kind: text" of every event written, oldest first.
    static QStringList events();
    bool startBatch(const QString &target);
    StationHarness *m_station = nullptr;
};

void tst_EventJournal::init()
{
    m_station = new StationHarness;
}

void tst_EventJournal::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

QStringList tst_EventJournal::events()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("SELECT kind || ': ' || text FROM eventJournal ORDER BY idEvent"));
    QStringList rows;
    for (int row = 0; row < query.rows(); ++row)
        rows.append(query.cell(row, 0));
    return rows;
}

bool tst_EventJournal::startBatch(const QString &target)
{
    StationHarness::addProduct(QStringLiteral("Мука"));
    if (!m_station->chooseProduct(QStringLiteral("Мука")) || !m_station->typeInto("productWeightD415_11", target))
        return false;
    ModalAnswerer start(QStringLiteral("Да"));
    QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
    return start.answered();
}

void tst_EventJournal::eachOccurrenceIsOneEvent_data()
{
    QTest::addColumn<QString>("occurrence");
    QTest::addColumn<QStringList>("expected");
    QTest::addRow("doser fault and its reset")
        << "fault"
        << QStringList {QStringLiteral("fault: Дозатор 30: ошибка 8: Ошибка, нет подачи продукта"),
               QStringLiteral("reset: Дозатор 30: авария (ошибка 8) сброшена, состояние ОСТАНОВ")};
    QTest::addRow("connection lost and back") << "silence"
                                              << QStringList {QStringLiteral("lost: Дозатор 30: НЕТ СВЯЗИ"),
                                                     QStringLiteral("back: Дозатор 30 отвечает, состояние ОСТАНОВ")};
    QTest::addRow("line lost and reopened")
        << "hangup"
        << QStringList {QStringLiteral("linelost: Линия d415 потеряна"), QStringLiteral("lost: Дозатор 30: НЕТ СВЯЗИ"),
               QStringLiteral("lineback: Линия d415 открыта снова"),
               QStringLiteral("back: Дозатор 30 отвечает, состояние ОСТАНОВ")};
    QTest::addRow("batch start and finish") << "batch"
                                            << QStringList {QStringLiteral("setting: Продукт: Мука"),
                                                   QStringLiteral("start: продукт Мука, выполнено 0.00 из 10.00 кг"),
                                                   QStringLiteral("finish: продукт Мука, выполнено 10.00 из 10.00 кг")};
    // A journal that takes no rows (here a trigger refuses them) neither stops nor delays the batch; the
    // failure is logged once, however many events wait.
    QTest::addRow("journal refusing writes, batch goes on") << "refused" << QStringList {};
}

void tst_EventJournal::eachOccurrenceIsOneEvent()
{
    QFETCH(QString, occurrence);
    QFETCH(QStringList, expected);
    QVERIFY(m_station->startSimulator({"--decimals", "2", "--max-dose", "5", "--plus", "0.5"}));
    if (occurrence == QLatin1String("refused")) {
        SqliteQuery query;
        query.open(QStringLiteral("data.db"));
        for (const QString &statement : EventJournal::createStatements())
            query.runQuery(statement);
        query.runQuery(QStringLiteral("CREATE TRIGGER refuseEvents BEFORE INSERT ON eventJournal BEGIN SELECT "
                                      "RAISE(FAIL, 'journal refused'); END"));
        QCOMPARE(query.returnCode(), 0);
    }
    const qsizetype logStart = m_station->log().mark();
    m_station->startStation();
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("weightlabel_7")->text(), QStringLiteral("кг"), 5000);
    const auto probes = [this] { return m_station->requestCount(QStringLiteral("0/0")); };

    if (occurrence == QLatin1String("fault")) {
        ModalAnswerer notice(QStringLiteral("Ok"), 3000);
        QVERIFY(m_station->simulator(QStringLiteral("error 8")));
        // Every reply carries the fault: it is still one event after several polls.
        const int polled = probes();
        QTRY_VERIFY_WITH_TIMEOUT(probes() >= polled + 5, 5000);
        QVERIFY(m_station->simulator(QStringLiteral("reset")));
        QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 5000);
    } else if (occurrence == QLatin1String("silence")) {
        QVERIFY(m_station->simulator(QStringLiteral("silence on")));
        QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("НЕТ СВЯЗИ"), 3000);
        // The lost doser is probed every 500 ms: several probes fail, one event.
        const int probed = probes();
        QTRY_VERIFY_WITH_TIMEOUT(probes() >= probed + 4, 5000);
        QVERIFY(m_station->simulator(QStringLiteral("silence off")));
        QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 5000);
    } else if (occurrence == QLatin1String("hangup")) {
        // The station tries the line again every second: three attempts fail, one event for the loss.
        QVERIFY(m_station->simulator(QStringLiteral("hangup 3500")));
        QTRY_VERIFY_WITH_TIMEOUT(m_station->log().text().contains("open again"), 8000);
        QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 5000);
    } else {
        ModalAnswerer done(QStringLiteral("Ok"), 30000);
        QVERIFY(startBatch(QStringLiteral("10")));
        QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 30000);
        QCOMPARE(done.boxText(), QStringLiteral("Задание выполнено"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(events(), expected, 3000);
    const int failures = int(m_station->log().since(logStart).count("The event journal can not be written"));
    QCOMPARE(failures, expected.isEmpty() ? 1 : 0);
    if (expected.isEmpty())
        return;

    // The window opened from the main window lists them, newest first.
    QTest::mouseClick(m_station->button("journalButton"), Qt::LeftButton);
    auto *table = m_station->window()->findChild<QTableWidget *>(QStringLiteral("eventTable"));
    QVERIFY(table && table->isVisible());
    QCOMPARE(table->rowCount(), expected.size());
    const QString newest = expected.last();
    QCOMPARE(table->item(0, 3)->text(), newest.mid(newest.indexOf(QStringLiteral(": ")) + 2));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("30"));
}

QTEST_MAIN(tst_EventJournal)
#include "tst_eventjournal.moc"
