#include "faultsweep.h"

#include <QTest>

/// A fault at every step of a batch, a sample of the matrix: each kind of request the batch sends meets
/// each kind of fault once (bench_faultsweep runs every request). Each run must close the batch with what
/// the doser dispensed recorded to its last decimal, within the target and its tolerance, every stop
/// explained on the screen.
class tst_FaultSweep : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyKindOfRequestEveryFault_data();
    void everyKindOfRequestEveryFault();

private:
    QStringList m_batchRequests;
};

void tst_FaultSweep::initTestCase()
{
    const FaultSweep::Run clean = FaultSweep::run(nullptr);
    QVERIFY2(clean.ok(), qPrintable(clean.failure));
    m_batchRequests = clean.batchRequests;
    // The batch's counter read, its weight read, the reset, the dose count, fills and discharges.
    for (const char *kind : {"24/20", "0/0", "4/0", "20/0", "14/0"})
        QVERIFY2(m_batchRequests.contains(QLatin1String(kind)), qPrintable(m_batchRequests.join(' ')));
}

void tst_FaultSweep::everyKindOfRequestEveryFault_data()
{
    QTest::addColumn<FaultSweep::Cell>("cell");
    const QList<FaultSweep::Cell> cells = FaultSweep::sample(m_batchRequests);
    for (const FaultSweep::Cell &cell : cells)
        QTest::addRow("%s", qPrintable(cell.name())) << cell;
}

void tst_FaultSweep::everyKindOfRequestEveryFault()
{
    QFETCH(FaultSweep::Cell, cell);
    const FaultSweep::Run run = FaultSweep::run(&cell);
    qInfo("shown: %s", qPrintable(run.shown.join(QStringLiteral(" | "))));
    QVERIFY2(run.ok(), qPrintable(run.failure + QStringLiteral("; shown: ") + run.shown.join(QStringLiteral(" | "))));
    QVERIFY(run.aimFired);
}

QTEST_MAIN(tst_FaultSweep)
#include "tst_faultsweep.moc"
