// The doser as the witness of the batch: its lifetime weight counter and its hopper, read before a batch
// doses and whenever the station cannot be sure what the doser did (a lost reply, a restart, a lost
// line), settle what left the hopper since the last record, once.
#include "d415_fendrix.h"

#include "panelcodes.h"

#include "d415device.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <cstdio>

using namespace PanelCodes;

namespace {
constexpr int ReplyWaitMs = 1000;
// A fill under way is neither in the counter nor wholly in the hopper: the reading waits for its end.
constexpr int JobWaitMs = 30000;
} // namespace

// The doser's lifetime counter and hopper, read while it runs no job. False when it does not answer.
bool D415_Fendrix::readDoserWitness(int position, DoseLedger::Witness *now)
{
    D415Device *device = d415[position];
    QString state;
    QString counterState;
    QString counterText;
    QString hopperState;
    QString hopperText;
    bool lost = false;
    QEventLoop loop;
    const auto quitWhenRead = [&] {
        if (!counterText.isNull() && !hopperText.isNull())
            loop.quit();
    };
    const QList<QMetaObject::Connection> connections {
        connect(device, &D415Device::hasCurrentStateSignal, &loop, [&](int, const QString &word) { state = word; }),
        connect(device, &D415Device::hasGetTotalCommonWeightSignal, &loop,
            [&](int, const QString &value) {
                counterText = value;
                counterState = state;
                quitWhenRead();
            }),
        connect(device, &D415Device::hasGetWeightNETTOSignal, &loop,
            [&](int, const QString &value) {
                hopperText = value;
                hopperState = state;
                quitWhenRead();
            }),
        connect(device, &D415Device::hasConnectionErrorSignal, &loop,
            [&] {
                lost = true;
                loop.quit();
            }),
    };
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);

    m_readingWitness = true;
    bool read = false;
    QElapsedTimer waited;
    waited.start();
    while (!lost && isOnline(position) && waited.elapsed() < JobWaitMs) {
        counterText = QString();
        hopperText = QString();
        device->requestTotalCommonWeight();
        device->requestWeightNETTO();
        deadline.start(ReplyWaitMs);
        if (counterText.isNull() || hopperText.isNull())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (counterText.isNull() || hopperText.isNull())
            break;
        if (counterState != Working && hopperState != Working) {
            read = true;
            break;
        }
        pause(100);
    }
    m_readingWitness = false;
    for (const QMetaObject::Connection &connection : connections)
        disconnect(connection);
    if (!read)
        return false;
    now->counter = counterText.toUInt();
    now->hopper = DoseLedger::toUnits(hopperText.toDouble(), doserState[position].decimals);
    std::fprintf(stderr, "device %d counter %u, hopper %lld\n", device->getDeviceID(), now->counter,
        static_cast<long long>(now->hopper));
    return true;
}

// Before a stopped or restored batch doses again: what left the hopper since the last record (a discharge
// whose report was lost, or one the station did not live to count) goes into the figures, and the record
// moves to the doser's counter and hopper now, all in one step.
bool D415_Fendrix::settleWithDoser(int position)
{
    DoserState &doser = doserState[position];
    const int number = d415[position]->getDeviceID();
    DoseLedger::Witness now;
    if (!readDoserWitness(position, &now)) {
        stopButtonActions();
        refuseWithoutWitness(true);
        return false;
    }
    DoseWitnessRecords::Row row;
    bool found = false;
    if (!m_witnessRecords.read(idButch, number, &row, &found)) {
        ++failedStatements;
        m_recordFailure = m_witnessRecords.lastError();
        stopUnrecorded();
        return false;
    }
    const DoserState before = doser;
    const int decimals = doser.decimals;
    qint64 unreported = 0;
    if (!found) {
        std::fprintf(stderr, "device %d has no witness recorded with its task, the station's figures stand\n", number);
    } else {
        const qint64 limit = DoseLedger::toUnits(doser.taskWeight - doser.haveDoneWeight + doser.npv, decimals)
            + DoseLedger::toUnits(doser.doseFaultPlus, decimals);
        const DoseLedger::Settlement settlement
            = DoseLedger::settle({row.counter, row.hopper}, now.counter, now.hopper, limit);
        switch (settlement.outcome) {
        case DoseLedger::Outcome::Settled: unreported = settlement.unreported; break;
        case DoseLedger::Outcome::CounterWentBack:
            std::fprintf(stderr,
                "device %d counter went back from %u to %u (reset or replaced doser), the station's "
                "figures stand\n",
                number, row.counter, now.counter);
            break;
        case DoseLedger::Outcome::LessThanCounted:
            std::fprintf(stderr,
                "device %d shows less than was counted (a fill cut short), the station's figures "
                "stand\n",
                number);
            break;
        case DoseLedger::Outcome::MoreThanPossible:
            std::fprintf(stderr,
                "device %d counter moved on by more than the butch can have filled, the station's "
                "figures stand\n",
                number);
            break;
        }
    }
    if (unreported > 0) {
        const qint64 done = DoseLedger::toUnits(doser.haveDoneWeight, decimals) + unreported;
        doser.haveDoneWeight = DoseLedger::toWeight(done, decimals);
        std::fprintf(stderr,
            "device %d weight %g left the hopper unreported and has been added into result butch "
            "weight\n",
            number, DoseLedger::toWeight(unreported, decimals));
    }
    doser.mustToBeDoneWeight = DoseLedger::toWeight(
        DoseLedger::toUnits(doser.taskWeight, decimals) - DoseLedger::toUnits(doser.haveDoneWeight, decimals),
        decimals);
    doser.doseWeight = nextDoseWeight(position, doser.mustToBeDoneWeight);
    doser.witness = now;
    const bool recorded = recordBatchStep([&] {
        return continueTask(position) && (unreported == 0 || updateTaskProgress(position)) && writeWitness(position);
    });
    if (!recorded) {
        doser = before;
        stopUnrecorded();
        return false;
    }
    if (QLabel *done = getLabel(0, DoneWeightCode))
        done->setText(QString::number(doser.haveDoneWeight, 'f', 2));
    refreshBatchProgress();
    return true;
}
