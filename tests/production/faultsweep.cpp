#include "faultsweep.h"

#include "boxanswerer.h"
#include "d415_fendrix.h"
#include "simulatorprocess.h"
#include "sqlitequery.h"
#include "stationharness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cmath>

namespace {

const QString ProductName = QStringLiteral("Мука");
const QString Target = QStringLiteral("120.0");
constexpr double Plus = 0.5;
// Doses of at most 50 kg: the 120 kg batch takes four, so that every step of a dose comes more than once.
const QStringList SimulatorArguments {QStringLiteral("--decimals"), QStringLiteral("1"), QStringLiteral("--max-dose"),
    QStringLiteral("50"), QStringLiteral("--plus"), QStringLiteral("0.5"), QStringLiteral("--noise"),
    QStringLiteral("0.3"), QStringLiteral("--seed"), QStringLiteral("7")};
// Every batch begins with the doser's lifetime counter read; before it the station polls at its own pace.
const QString FirstBatchRequest = QStringLiteral("24/20");
const QString Done = QStringLiteral("Задание выполнено");
const QString NoConnection = QStringLiteral("НЕТ СВЯЗИ");
const QString Fault = QStringLiteral("АВАРИЯ");
// The operator looks at a stopped station this long before pressing anything.
constexpr int SteadyMs = 300;

QString firstCell(const QString &statement)
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(statement);
    return query.cell(0, 0);
}

QString ordinal(int n)
{
    static const char *const suffixes[] = {"th", "st", "nd", "rd"};
    const int last = n % 10;
    const bool teen = n % 100 / 10 == 1;
    return QString::number(n) + QLatin1String(!teen && last <= 3 ? suffixes[last] : "th");
}

/// One run: the station driven by an operator who answers every box with "Да" or "Ok", waits for the line,
/// continues a stopped batch and starts again a batch that did not start.
class Operator
{
public:
    Operator(StationHarness &station, FaultSweep::Run &run)
        : m_station(station)
        , m_run(run)
    {
        m_boxes.onBox([this](const QString &text) {
            if (text == Done && m_finishedAt < 0)
                m_finishedAt = m_station.sim()->requestCount();
        });
    }

    bool finished() const { return m_finishedAt >= 0; }
    qsizetype finishedAt() const { return m_finishedAt; }
    QStringList boxTexts() const { return m_boxes.texts(); }

    bool enterBatch()
    {
        QGroupBox *container = m_station.window()->findChild<QGroupBox *>(QStringLiteral("containerD415_11"));
        if (!container || !container->title().endsWith(ProductName)) {
            if (!m_station.chooseProduct(ProductName))
                return false;
        }
        if (m_station.edit("productWeightD415_11")->text() != Target)
            return m_station.typeInto("productWeightD415_11", Target);
        return true;
    }

    void press(const char *button)
    {
        m_boxesAtAction = m_boxes.count();
        m_labelSeen = false;
        QTest::mouseClick(m_station.button(button), Qt::LeftButton);
    }

    void restart()
    {
        m_station.killStation();
        m_boxesAtAction = m_boxes.count();
        m_labelSeen = false;
        m_station.startStation();
    }

    /// One look at the station; true when the operator acted.
    bool look(const QElapsedTimer &clock)
    {
        if (finished() || QApplication::activeModalWidget())
            return false;
        const QString state = m_station.label("stateD415_11")->text();
        if (m_station.button("stopButton")->isEnabled()) {
            m_steadySince = -1;
            return false;
        }
        if (state == NoConnection || state == Fault) {
            if (!m_labelSeen)
                m_run.shown << state;
            m_labelSeen = true;
            m_steadySince = -1;
            return false;
        }
        if (m_steadySince < 0)
            m_steadySince = clock.elapsed();
        if (clock.elapsed() - m_steadySince < SteadyMs)
            return false;
        m_steadySince = -1;
        if (m_boxes.count() == m_boxesAtAction && !m_labelSeen && m_run.failure.isEmpty())
            m_run.failure = QStringLiteral("a stop explained neither by a box nor by the state");
        if (m_station.button("continueButton")->isEnabled()) {
            press("continueButton");
        } else {
            if (!enterBatch() && m_run.failure.isEmpty())
                m_run.failure = QStringLiteral("product and weight could not be entered");
            press("startButton");
        }
        return true;
    }

private:
    StationHarness &m_station;
    FaultSweep::Run &m_run;
    BoxAnswerer m_boxes;
    qsizetype m_finishedAt = -1;
    qsizetype m_boxesAtAction = 0;
    bool m_labelSeen = false;
    qint64 m_steadySince = -1;
};

void checkRecords(const SimulatorProcess::Totals &totals, FaultSweep::Run &run)
{
    run.dispensed = totals.weightText;
    run.discharges = totals.discharges;
    const double recorded = firstCell(QStringLiteral("SELECT total(haveDoneWeight) FROM task")).toDouble();
    run.recorded = QString::number(recorded, 'f', 1);
    const int open = firstCell(QStringLiteral("SELECT count(*) FROM butch WHERE endTime = \"\"")).toInt();
    const int batches = firstCell(QStringLiteral("SELECT count(*) FROM butch")).toInt();
    if (!run.failure.isEmpty())
        return;
    if (!totals.valid)
        run.failure = QStringLiteral("the simulator told no totals");
    else if (open != 0 || batches == 0)
        run.failure = QStringLiteral("%1 batch(es) recorded, %2 left open").arg(batches).arg(open);
    else if (run.dispensed != run.recorded)
        run.failure = QStringLiteral("dispensed %1, recorded %2").arg(run.dispensed, run.recorded);
    else if (totals.weight > Target.toDouble() + Plus + 1e-9)
        run.failure = QStringLiteral("dispensed %1, above the target and its tolerance").arg(run.dispensed);
    else if (totals.weight < Target.toDouble() - Plus - 1e-9)
        run.failure = QStringLiteral("dispensed %1, short of the target").arg(run.dispensed);
}

} // namespace

QString FaultSweep::Cell::name() const
{
    return QStringLiteral("%1 %2: %3").arg(ordinal(nth), kind, fault.name);
}

QList<FaultSweep::Fault> FaultSweep::faults()
{
    // Late beyond the station's 150 ms reply time-out; the line away for longer than a reopening takes;
    // the station killed as the request arrives, or once the doser has acted on it and before its reply.
    return {{QStringLiteral("garbled"), QStringLiteral("badcrc")}, {QStringLiteral("cut"), QStringLiteral("partial")},
        {QStringLiteral("dropped"), QStringLiteral("silence")}, {QStringLiteral("late"), QStringLiteral("slow 400")},
        {QStringLiteral("hung up"), QStringLiteral("hangup 1500")},
        {QStringLiteral("killed at the request"), QStringLiteral("mark"), true},
        {QStringLiteral("killed awaiting the reply"), QStringLiteral("hold 1000"), true}};
}

QList<FaultSweep::Cell> FaultSweep::matrix(const QStringList &batchRequests)
{
    QList<Cell> cells;
    for (qsizetype i = 0; i < batchRequests.size(); ++i) {
        const int nth = int(batchRequests.mid(0, i + 1).count(batchRequests.at(i)));
        for (const Fault &fault : faults())
            cells.append({nth, batchRequests.at(i), fault});
    }
    return cells;
}

QList<FaultSweep::Cell> FaultSweep::sample(const QStringList &batchRequests)
{
    QStringList kinds = batchRequests;
    kinds.removeDuplicates();
    QList<Cell> cells;
    const QList<Fault> all = faults();
    for (const QString &kind : std::as_const(kinds)) {
        const int occurrences = int(batchRequests.count(kind));
        for (qsizetype f = 0; f < all.size(); ++f)
            cells.append({1 + int((f + 1) % occurrences), kind, all.at(f)});
    }
    return cells;
}

FaultSweep::Run FaultSweep::run(const Cell *cell)
{
    Run run;
    StationHarness station;
    StationHarness::addProduct(ProductName);
    if (!station.startSimulator(SimulatorArguments)) {
        run.failure = QStringLiteral("the simulator did not start");
        return run;
    }
    SimulatorProcess *sim = station.sim();
    Operator op(station, run);
    station.startStation();
    // The connection test over: the doser's weight format and maximum dose are known.
    if (!QTest::qWaitFor([&] { return indexOfRun(station.requests(), connectionTestRequests()) >= 0; }, 5000)
        || !QTest::qWaitFor([&] { return station.label("weightlabel_7")->text() == QStringLiteral("кг"); }, 5000)
        || !op.enterBatch()) {
        run.failure = QStringLiteral("the station did not get ready");
        return run;
    }
    const qsizetype before = sim->requestCount();
    if (cell
        && !sim->aim(
            cell->nth, cell->kind, cell->fault.simulatorFault + QStringLiteral(" from ") + FirstBatchRequest)) {
        run.failure = QStringLiteral("the fault could not be aimed");
        return run;
    }
    QElapsedTimer clock;
    clock.start();
    op.press("startButton");
    bool killed = false;
    while (!op.finished() && clock.elapsed() < DeadlineMs) {
        QTest::qWait(20);
        if (cell && cell->fault.kill && !killed && !sim->aimedLines().isEmpty()) {
            killed = true;
            op.restart();
            continue;
        }
        op.look(clock);
    }
    run.elapsedMs = clock.elapsed();
    const QStringList requests = station.requests();
    const qsizetype first = requests.indexOf(FirstBatchRequest, before);
    if (op.finished() && first >= 0)
        run.batchRequests = requests.mid(first, op.finishedAt() - first);
    run.aimFired = !cell || !sim->aimedLines().isEmpty();
    if (!op.finished() && run.failure.isEmpty())
        run.failure = QStringLiteral("the batch was not closed within %1 s").arg(DeadlineMs / 1000);
    // What the station does right after the notice (the batch is closed before it shows) is over.
    QTest::qWait(200);
    checkRecords(sim->totals(), run);
    run.shown = op.boxTexts() + run.shown;
    return run;
}
