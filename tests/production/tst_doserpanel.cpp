#include "d415_fendrix.h"
#include "modalanswerer.h"
#include "sqlitequery.h"
#include "statestrip.h"
#include "stationharness.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

/// The doser panel against the doser simulator: start-up, polling, a line that falls silent and returns,
/// and the target weight.
class tst_DoserPanel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startupWithoutOpenBatch();
    void silentDoserIsProbedAndComesBack();
    void returningDoserOffersOpenBatchAgain();
    void targetWeight_data();
    void targetWeight();
    void toleranceGoesToTheDoser();
    void closingStopsTheDoser();
    void stateStripTellsCauseAndSince_data();
    void stateStripTellsCauseAndSince();

private:
    QColor stateColour() const;
    StationHarness *m_station = nullptr;
};

void tst_DoserPanel::init()
{
    m_station = new StationHarness;
}

void tst_DoserPanel::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

QColor tst_DoserPanel::stateColour() const
{
    return m_station->label("stateD415_11")->palette().color(QPalette::Active, QPalette::WindowText);
}

void tst_DoserPanel::startupWithoutOpenBatch()
{
    QVERIFY(m_station->startSimulator({QStringLiteral("--net"), QStringLiteral("12.5")}));
    ModalAnswerer unexpected(QStringLiteral("Нет"), 1500);
    const qsizetype mark = m_station->log().mark();
    m_station->startStation();
    QVERIFY(m_station->log().since(mark).contains("\nAll butches are finished"));

    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), connectionTestRequests()) >= 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_12")->text(), QStringLiteral("12.5"), 5000);
    QCOMPARE(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"));
    QCOMPARE(stateColour(), QColor(Qt::black));
    QVERIFY(m_station->label("stateD415_11")->font().bold());
    // The unit the doser reports is shown beside every weight.
    QCOMPARE(m_station->label("weightlabel_7")->text(), QStringLiteral("кг"));
    QCOMPARE(m_station->label("weightlabel_13")->text(), QStringLiteral("кг"));
    QCOMPARE(m_station->edit("doseFaultPlusD415_11")->text(), QStringLiteral("0.5"));
    // The polling reaches the doser too: weight, dose count, shift weight.
    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), {"0/0", "24/16", "24/18"}) >= 0, 3000);
    QVERIFY2(!unexpected.answered(), qPrintable(unexpected.boxText()));
}

void tst_DoserPanel::silentDoserIsProbedAndComesBack()
{
    QVERIFY(m_station->startSimulator());
    m_station->startStation();
    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), connectionTestRequests()) >= 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 3000);

    const qsizetype mark = m_station->log().mark();
    QVERIFY(m_station->simulator(QStringLiteral("silence on")));
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("НЕТ СВЯЗИ"), 3000);
    QCOMPARE(stateColour(), QColor(212, 54, 56));
    QTRY_VERIFY_WITH_TIMEOUT(m_station->log().since(mark).contains(
                                 "Has append Off Device Array Index = 0\nHas removed On Device Array Index = 0\n"),
        2000);

    // Lost: one weight request every 500 ms and nothing else, once the requests that were on their way
    // when the doser fell silent have had their one second try.
    QTRY_VERIFY_WITH_TIMEOUT(m_station->requests().size() >= 2
            && m_station->requests().mid(m_station->requests().size() - 2) == QStringList(2, QStringLiteral("0/0")),
        3000);
    const qsizetype before = m_station->requests().size();
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(m_station->requests().size() >= before + 5, 5000);
    const qint64 elapsed = clock.elapsed();
    const QStringList probes = m_station->requests().mid(before, 5);
    QCOMPARE(probes, QStringList(5, QStringLiteral("0/0")));
    QVERIFY2(elapsed >= 1800 && elapsed <= 3200, qPrintable(QString::number(elapsed)));

    const qsizetype back = m_station->log().mark();
    const qsizetype requestsBack = m_station->requests().size();
    QVERIFY(m_station->simulator(QStringLiteral("silence off")));
    QTRY_VERIFY_WITH_TIMEOUT(m_station->log().since(back).contains(
                                 "Has removed Off Device Array Index = 0\nHas appended On Device Array Index = 0\n"),
        3000);
    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), connectionTestRequests(), requestsBack) >= 0, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 3000);
    QVERIFY(m_station->log().since(back).contains("\nAll butches are finished"));
}

void tst_DoserPanel::returningDoserOffersOpenBatchAgain()
{
    QVERIFY(m_station->startSimulator());
    {
        SqliteQuery query;
        query.open(QStringLiteral("data.db"));
        query.runQuery(QStringLiteral("CREATE TABLE butch (idButch INTEGER PRIMARY KEY, date TEXT, startTime TEXT, "
                                      "endTime TEXT, endDate TEXT);"));
        query.runQuery(QStringLiteral("INSERT INTO butch VALUES (NULL, '01.02.2025', '08:00', '', '');"));
        query.runQuery(QStringLiteral("CREATE TABLE task (idButch INTEGER, deviceId INTEGER, startTime TEXT, endTime "
                                      "TEXT, taskWeight TEXT, haveDoneWeight TEXT, mustToBeDoneWeight TEXT, "
                                      "productName TEXT, weightScale TEXT, startDate TEXT, endDate TEXT);"));
        query.runQuery(QStringLiteral("INSERT INTO task VALUES (1, 30, '08:00', ' ', '100.0', '', '100.0', 'Соль', "
                                      "'кг', '01.02.2025', '');"));
    }
    ModalAnswerer first(QStringLiteral("Да"));
    m_station->startStation();
    QVERIFY(first.answered());
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 3000);

    QVERIFY(m_station->simulator(QStringLiteral("silence on")));
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("НЕТ СВЯЗИ"), 3000);
    ModalAnswerer again(QStringLiteral("Да"), 10000);
    QVERIFY(m_station->simulator(QStringLiteral("silence off")));
    QTRY_VERIFY_WITH_TIMEOUT(again.answered(), 5000);
    QCOMPARE(again.boxText(), QStringLiteral("Последнее задание не завершено.\nВосстановить данные?"));
    QCOMPARE(again.boxTitle(), QStringLiteral("Сообщение"));
    QCOMPARE(again.defaultButtonText(), QStringLiteral("Нет"));
}

void tst_DoserPanel::targetWeight_data()
{
    QTest::addColumn<QString>("decimals");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addRow("two decimals") << "2"
                                  << "12.5"
                                  << "12.50";
    QTest::addRow("one decimal rounds") << "1"
                                        << "33.36"
                                        << "33.4";
    QTest::addRow("no decimals") << "0"
                                 << "100"
                                 << "100";
    QTest::addRow("zero empties the field") << "1"
                                            << "0"
                                            << "";
    QTest::addRow("zero with decimals empties the field") << "2"
                                                          << "0.00"
                                                          << "";
}

void tst_DoserPanel::targetWeight()
{
    QFETCH(QString, decimals);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QVERIFY(m_station->startSimulator({QStringLiteral("--decimals"), decimals}));
    m_station->startStation();
    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), connectionTestRequests()) >= 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("weightlabel_7")->text(), QStringLiteral("кг"), 3000);

    m_station->edit("productWeightD415_11")->setText(QStringLiteral("55"));
    QVERIFY(m_station->typeInto("productWeightD415_11", typed));
    QCOMPARE(m_station->edit("productWeightD415_11")->text(), shown);
    QCOMPARE(m_station->label("progressBar_11")->text(), QStringLiteral("0.00"));
}

void tst_DoserPanel::toleranceGoesToTheDoser()
{
    QVERIFY(m_station->startSimulator({QStringLiteral("--decimals"), QStringLiteral("2")}));
    m_station->startStation();
    QTRY_COMPARE_WITH_TIMEOUT(m_station->edit("doseFaultPlusD415_11")->text(), QStringLiteral("0.50"), 5000);
    QVERIFY(m_station->typeInto("doseFaultPlusD415_11", QStringLiteral("1.25")));
    // The doser answers with the tolerance now in force, and the panel shows that.
    QTRY_COMPARE_WITH_TIMEOUT(m_station->edit("doseFaultPlusD415_11")->text(), QStringLiteral("1.25"), 3000);
    QVERIFY(m_station->requests().contains(QStringLiteral("11/0")));
    QVERIFY(m_station->typeInto("doseFaultMinusD415_11", QStringLiteral("0.75")));
    QTRY_COMPARE_WITH_TIMEOUT(m_station->edit("doseFaultMinusD415_11")->text(), QStringLiteral("0.75"), 3000);
}

void tst_DoserPanel::closingStopsTheDoser()
{
    QVERIFY(m_station->startSimulator());
    m_station->startStation();
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 5000);
    const qsizetype mark = m_station->log().mark();
    m_station->closeStation();
    // The stop-work command reaches the doser although the window and its link are gone right after.
    QTRY_COMPARE_WITH_TIMEOUT(m_station->requests().last(), QStringLiteral("26/0"), 3000);
    const QByteArray log = m_station->log().since(mark);
    QVERIFY(log.contains("APPLICATION IS CLOSED, ALL WORKS ARE STOPPED\n"));
    QVERIFY(log.indexOf("APPLICATION IS CLOSED") < log.indexOf("~D415_Fendrix()\n"));
}

void tst_DoserPanel::stateStripTellsCauseAndSince_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("stale");
    QTest::addRow("doser fault 9") << "error 9"
                                   << "АВАРИЯ 9: Ошибка, ГПУ не пустое (при попытке набора вес отличен от нуля)"
                                   << false;
    QTest::addRow("doser fault 8") << "error 8"
                                   << "АВАРИЯ 8: Ошибка, нет подачи продукта" << false;
    QTest::addRow("lost line") << "silence on"
                               << "НЕТ СВЯЗИ с дозатором 30 (порт d415)" << true;
}

/// The strip at the window's foot says what is wrong, why and since when; while the doser is lost, its
/// last values are shown struck through, and its first reply brings them back.
void tst_DoserPanel::stateStripTellsCauseAndSince()
{
    QFETCH(QString, fault);
    QFETCH(QString, shown);
    QFETCH(bool, stale);
    QVERIFY(m_station->startSimulator({QStringLiteral("--net"), QStringLiteral("12.5")}));
    m_station->startStation();
    StateStrip *strip = m_station->window()->stateStrip();
    QTRY_VERIFY_WITH_TIMEOUT(strip->text().startsWith(QStringLiteral("ОСТАНОВ с ")), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_12")->text(), QStringLiteral("12.5"), 3000);
    const QRegularExpression since(QStringLiteral(" с \\d\\d:\\d\\d:\\d\\d$"));

    QVERIFY(m_station->simulator(fault));
    QTRY_VERIFY_WITH_TIMEOUT(strip->text().startsWith(shown), 3000);
    QVERIFY2(since.match(strip->text()).hasMatch(), qPrintable(strip->text()));
    QCOMPARE(strip->kind(), stale ? StateStrip::Kind::NoConnection : StateStrip::Kind::Fault);
    const char *liveValues[] = {"stateD415_12", "progressBar_11", "label_58", "label_65"};
    for (const char *name : liveValues) {
        m_station->label(name)->ensurePolished();
        QVERIFY2(m_station->label(name)->font().strikeOut() == stale, name);
    }
    if (!stale)
        return;
    QVERIFY(m_station->simulator(QStringLiteral("silence off")));
    QTRY_VERIFY_WITH_TIMEOUT(strip->text().startsWith(QStringLiteral("ОСТАНОВ с ")), 3000);
    for (const char *name : liveValues) {
        m_station->label(name)->ensurePolished();
        QVERIFY2(!m_station->label(name)->font().strikeOut(), name);
    }
}

QTEST_MAIN(tst_DoserPanel)
#include "tst_doserpanel.moc"
