#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

/// A fault at every step of a batch: a reference batch against the doser simulator, run clean to list
/// its requests, then once per request and fault, each run driven to its end the way an operator does
/// (the line waited for, "Продолжить задание" pressed, a start that did not go ahead started again) and
/// held against the doser: the batch closed, what the doser dispensed recorded to its last decimal, no
/// more than the target and its tolerance, every stop explained on the screen.
class FaultSweep
{
public:
    /// One kind of fault, as the simulator plays it ("mark": the station is killed as the request
    /// arrives and started again on the same data.db).
    struct Fault
    {
        QString name;
        QString simulatorFault;
        bool kill = false;
    };

    /// One run of the matrix: the @p nth request of @p kind ("20/0") of the batch meets @p fault.
    struct Cell
    {
        int nth = 0;
        QString kind;
        Fault fault;

        QString name() const;
    };

    /// What came of one run.
    struct Run
    {
        QString failure; ///< empty when the run ended as it must
        QStringList shown; ///< the boxes' texts in order, then the states shown while stopped
        QStringList batchRequests; ///< the batch's requests as "cmd/param", from its first counter read
        QString dispensed; ///< what the doser dispensed, with its decimals
        QString recorded; ///< what data.db records as done
        int discharges = 0;
        qint64 elapsedMs = 0;
        bool aimFired = true;

        bool ok() const { return failure.isEmpty(); }
    };

    static QList<Fault> faults();
    /// Every request of @p batchRequests with every fault.
    static QList<Cell> matrix(const QStringList &batchRequests);
    /// One request of each kind with each fault, the kinds' requests taken in turn.
    static QList<Cell> sample(const QStringList &batchRequests);

    /// Runs the reference batch, clean (@p cell nullptr) or with one aimed fault.
    static Run run(const Cell *cell);

    static constexpr int DeadlineMs = 60000;
};

Q_DECLARE_METATYPE(FaultSweep::Cell)
