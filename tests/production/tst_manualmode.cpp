#include "d415_fendrix.h"
#include "modalanswerer.h"
#include "simulatorprocess.h"
#include "stationharness.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

/// The manual buttons and the counters against the doser simulator.
class tst_ManualMode : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fillAboveMaximumIsRefused();
    void commandsGoOutOnlyWhileOnline();
    void counters_data();
    void counters();

private:
    void startOnline(const QStringList &arguments);
    int count(int command);
    StationHarness *m_station = nullptr;
};

void tst_ManualMode::init()
{
    m_station = new StationHarness;
}

void tst_ManualMode::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

void tst_ManualMode::startOnline(const QStringList &arguments)
{
    QVERIFY(m_station->startSimulator(arguments));
    m_station->startStation();
    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), connectionTestRequests()) >= 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("weightlabel_7")->text(), QStringLiteral("кг"), 3000);
}

int tst_ManualMode::count(int command)
{
    QCoreApplication::processEvents();
    int n = 0;
    for (const auto &request : m_station->sim()->requestCommands())
        n += request.first == command ? 1 : 0;
    return n;
}

void tst_ManualMode::fillAboveMaximumIsRefused()
{
    startOnline({"--max-dose", "50", "--decimals", "1"});
    QVERIFY(m_station->typeInto("productWeightD415_11", QStringLiteral("60")));
    {
        ModalAnswerer refusal(QStringLiteral("Ok"));
        QTest::mouseClick(m_station->button("downloadDoseButton"), Qt::LeftButton);
        QVERIFY(refusal.answered());
        QCOMPARE(refusal.boxText(),
            QStringLiteral("В ручном режиме набора вес дозы должен быть меньше НПВ. Текущее "
                           "значение НПВ = 50.0 кг"));
        QCOMPARE(refusal.boxTitle(), QStringLiteral("Сообщение"));
    }
    QCOMPARE(count(14), 0);

    QVERIFY(m_station->typeInto("productWeightD415_11", QStringLiteral("50")));
    QTest::mouseClick(m_station->button("downloadDoseButton"), Qt::LeftButton);
    QTRY_COMPARE(count(14), 1);
    QCOMPARE(m_station->sim()->requests().last().value, 50.0);
    QCOMPARE(m_station->label("label_57")->text(), QStringLiteral("50.0"));
    // The fill is preceded by a reset of any error, as every fill and discharge is.
    const QStringList sent = m_station->requests();
    QCOMPARE(sent.at(sent.lastIndexOf(QStringLiteral("14/0")) - 1), QStringLiteral("4/0"));
}

void tst_ManualMode::commandsGoOutOnlyWhileOnline()
{
    startOnline({});
    QTest::mouseClick(m_station->button("uploadDoseButton"), Qt::LeftButton);
    QTest::mouseClick(m_station->button("stopWorkButton"), Qt::LeftButton);
    QTest::mouseClick(m_station->button("doCycleButton"), Qt::LeftButton);
    QTRY_COMPARE(count(20), 1);
    QTRY_COMPARE(count(26), 1);
    QTRY_COMPARE(count(22), 1);

    QVERIFY(m_station->sim()->setSilent(true));
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("НЕТ СВЯЗИ"), 3000);
    const int probes = count(0);
    QTest::mouseClick(m_station->button("uploadDoseButton"), Qt::LeftButton);
    QTest::mouseClick(m_station->button("stopWorkButton"), Qt::LeftButton);
    QTest::mouseClick(m_station->button("doCycleButton"), Qt::LeftButton);
    QVERIFY(m_station->typeInto("productWeightD415_11", QStringLiteral("5")));
    QTest::mouseClick(m_station->button("downloadDoseButton"), Qt::LeftButton);
    // Let the probing go on a while: still nothing but weight requests reach the doser.
    QTRY_VERIFY_WITH_TIMEOUT(count(0) >= probes + 2, 3000);
    QCOMPARE(count(20), 1);
    QCOMPARE(count(26), 1);
    QCOMPARE(count(22), 1);
    QCOMPARE(count(14), 0);
}

void tst_ManualMode::counters_data()
{
    QTest::addColumn<QString>("decimals");
    QTest::addColumn<QString>("shiftWeight");
    QTest::addColumn<QString>("lifetimeWeight");
    // Raw counters are in units of the last decimal place: 123456 with 2 decimals is 1234.56, not 6172.80.
    QTest::addRow("0 decimals") << "0"
                                << "123456"
                                << "4294967295";
    QTest::addRow("1 decimal") << "1"
                               << "12345.6"
                               << "429496729.5";
    QTest::addRow("2 decimals") << "2"
                                << "1234.56"
                                << "42949672.95";
}

void tst_ManualMode::counters()
{
    QFETCH(QString, decimals);
    QFETCH(QString, shiftWeight);
    QFETCH(QString, lifetimeWeight);
    startOnline({"--decimals", decimals, "--shift-weight", "123456", "--lifetime-weight", "4294967295", "--shift-doses",
        "17", "--lifetime-doses", "90210"});
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("label_60")->text(), shiftWeight, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("label_65")->text(), lifetimeWeight, 3000);
    QTRY_COMPARE(m_station->label("label_58")->text(), QStringLiteral("17"));
    QTRY_COMPARE(m_station->label("label_63")->text(), QStringLiteral("90210"));
}

QTEST_MAIN(tst_ManualMode)
#include "tst_manualmode.moc"
