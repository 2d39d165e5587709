#include "doseledger.h"

#include <QTest>

/// The settlement of a batch's figures against the doser's counter and hopper, in the doser's units.
class tst_DoseLedger : public QObject
{
    Q_OBJECT
private slots:
    void settle_data();
    void settle();
    void dischargesKeepTheAccount();
};

void tst_DoseLedger::settle_data()
{
    QTest::addColumn<quint32>("recordCounter");
    QTest::addColumn<qint64>("recordHopper");
    QTest::addColumn<quint32>("counter");
    QTest::addColumn<qint64>("hopper");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<qint64>("unreported");
    const int settled = int(DoseLedger::Outcome::Settled);
    QTest::addRow("nothing happened") << 1000u << qint64(0) << 1000u << qint64(0) << settled << qint64(0);
    QTest::addRow("dose weighed, still in the hopper")
        << 1000u << qint64(0) << 1345u << qint64(345) << settled << qint64(0);
    QTest::addRow("dose weighed and discharged, report lost")
        << 1000u << qint64(0) << 1345u << qint64(0) << settled << qint64(345);
    QTest::addRow("residue recorded, then discharged")
        << 1000u << qint64(12) << 1000u << qint64(0) << settled << qint64(12);
    QTest::addRow("counted discharges taken off the account")
        << 1000u << qint64(-690) << 1690u << qint64(0) << settled << qint64(0);
    QTest::addRow("two doses, the second report lost")
        << 1000u << qint64(-345) << 1690u << qint64(0) << settled << qint64(345);
    QTest::addRow("a fill cut short and discharged")
        << 1000u << qint64(-120) << 1000u << qint64(0) << int(DoseLedger::Outcome::LessThanCounted) << qint64(0);
    QTest::addRow("counter reset") << 5000000u << qint64(0) << 345u << qint64(0)
                                   << int(DoseLedger::Outcome::CounterWentBack) << qint64(0);
    QTest::addRow("counter set far ahead")
        << 1000u << qint64(0) << 4000000000u << qint64(0) << int(DoseLedger::Outcome::MoreThanPossible) << qint64(0);
    QTest::addRow("the top of the counter")
        << 4294967000u << qint64(0) << 4294967295u << qint64(0) << settled << qint64(295);
}

void tst_DoseLedger::settle()
{
    QFETCH(quint32, recordCounter);
    QFETCH(qint64, recordHopper);
    QFETCH(quint32, counter);
    QFETCH(qint64, hopper);
    QFETCH(int, outcome);
    QFETCH(qint64, unreported);
    const DoseLedger::Settlement settlement = DoseLedger::settle({recordCounter, recordHopper}, counter, hopper, 10000);
    QCOMPARE(int(settlement.outcome), outcome);
    QCOMPARE(settlement.unreported, unreported);
}

/// A batch of 3 doses of 0.1 kg steps with 2 decimals: the figures summed in units land on the doser's total
/// where doubles would drift, and the account settles to nothing after every counted discharge.
void tst_DoseLedger::dischargesKeepTheAccount()
{
    DoseLedger::Witness record {700, 0};
    qint64 done = 0;
    quint32 counter = 700;
    for (const double weight : {33.33, 28.57, 38.10}) {
        const qint64 units = DoseLedger::toUnits(weight, 2);
        counter += quint32(units);
        done += units;
        record = DoseLedger::afterDischarge(record, units);
        QCOMPARE(DoseLedger::settle(record, counter, 0, 10000).unreported, qint64(0));
    }
    QCOMPARE(done, qint64(10000));
    QCOMPARE(QString::number(DoseLedger::toWeight(done, 2), 'f', 2), QStringLiteral("100.00"));
}

QTEST_GUILESS_MAIN(tst_DoseLedger)
#include "tst_doseledger.moc"
