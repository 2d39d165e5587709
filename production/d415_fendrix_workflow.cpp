// The automatic dosing workflow: start, stop and continue of a batch, the 160 ms dose cycle, filling and
// discharging dose by dose, counting the discharged weight and finishing the batch.
#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "panelcodes.h"

#include "d415device.h"
#include "d415settings.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>

#include <cmath>
#include <cstdio>

using namespace PanelCodes;

qreal D415_Fendrix::calculateDoseWeight(int number, qreal remaining)
{
    const int position = positionOf(number);
    const double npv = position < 0 ? 1.0 : doserState[position].npv;
    return remaining / (remaining / npv + 1.0);
}

double D415_Fendrix::nextDoseWeight(int position, double remaining)
{
    if (remaining < doserState[position].npv)
        return remaining;
    return calculateDoseWeight(d415[position]->getDeviceID(), remaining);
}

void D415_Fendrix::connectStopOnFault(int position)
{
    connect(
        d415[position], &D415Device::needToStopTheWork, this, &D415_Fendrix::stopButtonActions, Qt::UniqueConnection);
}

void D415_Fendrix::disconnectStopOnFault(int position)
{
    disconnect(d415[position], &D415Device::needToStopTheWork, this, &D415_Fendrix::stopButtonActions);
}

bool D415_Fendrix::canDoReceipt()
{
    int online = 0;
    int needCheck = 0;
    for (int position = 0; position < DoserCount; ++position) {
        if (!d415[position]->isDeviceActive())
            continue;
        if (d415[position]->isDeviceNeedToBeChecked())
            ++needCheck;
        else
            ++online;
    }
    if (online == 0 || needCheck > 0) {
        journalRefusal(QStringLiteral("Отсутствует связь."));
        inform(QStringLiteral("Отсутствует связь."));
        return false;
    }
    return true;
}

void D415_Fendrix::startButton()
{
    if (!recordsUsable())
        return;
    // An open batch that could not be read at start-up is offered first, before a new one may close it.
    if (m_openButchUnknown) {
        restoreLastSession();
        return;
    }
    if (!canDoReceipt())
        return;
    for (int position = 0; position < DoserCount; ++position) {
        if (!isOnline(position))
            continue;
        if (doserState[position].taskWeight <= 0 || d415[position]->productName().isEmpty()) {
            journalRefusal(QStringLiteral("Вид продукта и вес должны быть заданы"));
            inform(QStringLiteral("Вид продукта и вес должны быть заданы"));
            return;
        }
    }
    if (!doserFormatKnown(0))
        return;
    // An open batch that could not be looked for, or not be closed, would be taken for the new one.
    const int failuresBefore = failedStatements;
    if (!findCurrentButch()) {
        refuseUnrecordedStart();
        return;
    }
    const bool open = idButch != 0;
    if (open)
        std::fputs("\nThere is present butch what can be finished", stderr);
    if (!ask(QStringLiteral("Начать новую работу?")))
        return;
    if (open)
        newButch();
    if (failedStatements != failuresBefore) {
        refuseUnrecordedStart();
        return;
    }
    partsLeft = 0;
    startButtonActions();
}

void D415_Fendrix::refuseUnrecordedStart()
{
    std::fputs("\nThe butch can not be recorded in the database, the work is not started\n", stderr);
    journalRefusal(QStringLiteral("Не удалось записать задание в базу данных. Задание не начато."));
    inform(QStringLiteral("Не удалось записать задание в базу данных. Задание не начато."));
}

void D415_Fendrix::startButtonActions()
{
    // The doser's counter and hopper before anything is sent: the witness the batch's figures start from.
    pollTimer.stop();
    for (int position = 0; position < DoserCount; ++position)
        disconnectStopOnFault(position);
    if (isOnline(0) && !readDoserWitness(0, &doserState[0].witness)) {
        connectStopOnFault(0);
        refuseWithoutWitness(false);
        return;
    }
    // The records are written before anything reaches the doser: a batch the station cannot record would
    // be dosed, announced as done and still be missing from the statistics.
    if (!addStartRecords()) {
        // Whatever batch was open has been closed by now: the station is back where a batch is done.
        partsLeft = 0;
        for (int position = 0; position < DoserCount; ++position)
            abandonDoserTask(position);
        enableControlElementsWhenButchIsDone();
        connectStopOnFault(0);
        if (!pollTimer.isActive())
            pollTimer.start(190);
        refuseUnrecordedStart();
        return;
    }
    enterDosing(false);
    journalEvent(QStringLiteral("start"), journalWeights(0));
    if (isOnline(0))
        prepareDoserForWork(d415[0]->getDeviceID());
    if (!doseCycleTimer.isActive())
        doseCycleTimer.start(160);
}

void D415_Fendrix::refuseWithoutWitness(bool continuing)
{
    std::fputs("\nThe doser has not told its counter and hopper weight, the work is not started\n", stderr);
    if (!pollTimer.isActive())
        pollTimer.start(190);
    journalRefusal(continuing ? QStringLiteral("Дозатор не сообщил счётчик и вес в ковше. Задание не продолжено.")
                              : QStringLiteral("Дозатор не сообщил счётчик и вес в ковше. Задание не начато."));
    inform(continuing ? QStringLiteral("Дозатор не сообщил счётчик и вес в ковше. Задание не продолжено.")
                      : QStringLiteral("Дозатор не сообщил счётчик и вес в ковше. Задание не начато."));
}

// What a started and a continued batch have in common before the doser is prepared.
void D415_Fendrix::enterDosing(bool continuing)
{
    pollTimer.stop();
    // Until the doser has been reset and has answered the dose count, an old fault must not stop the batch.
    for (int position = 0; position < DoserCount; ++position)
        disconnectStopOnFault(position);
    batchRunning = !continuing;
    continueMode = continuing;
    disableControlElementsWhenButchStars();
}

bool D415_Fendrix::addStartRecords()
{
    const int failuresBefore = failedStatements;
    addButch();
    if (idButch == 0 || failedStatements != failuresBefore)
        return false;
    if (!isOnline(0) || addDoserTask(0))
        return true;
    // A batch without its task would be closed empty at the end; it goes again, as a declined restore
    // would delete it.
    runQuery(QStringLiteral("DELETE FROM butch WHERE idButch = %1").arg(idButch));
    return false;
}

void D415_Fendrix::prepareDevicesForStart(int position)
{
    addDoserTask(position);
    prepareDoserForWork(d415[position]->getDeviceID());
}

bool D415_Fendrix::addDoserTask(int position)
{
    DoserState &doser = doserState[position];
    ++partsLeft;
    doser.haveDoneWeight = 0;
    doser.idle = false;
    doser.mustToBeDoneWeight = doser.taskWeight;
    doser.doseWeight = nextDoseWeight(position, doser.mustToBeDoneWeight);
    return recordBatchStep([this, position] { return addTask(position) && writeWitness(position); });
}

void D415_Fendrix::prepareDoserForWork(int number)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    std::fprintf(stderr, "Prepareing doser %d for work\n", number);
    // The hopper is emptied before the first dose; what it held is weighed by the discharge report. That
    // report is the preparatory one whenever the dose count's reply comes: one asked once more arrives
    // after the discharge's.
    d415[position]->resetErrorFlag();
    d415[position]->requestDoseCount();
    doserState[position].firstDischargeMarker = true;
    d415[position]->uploadDose();
    doserState[position].downloadPending = true;
}

void D415_Fendrix::continueButton()
{
    if (recordsUsable() && canDoReceipt() && doserFormatKnown(0))
        continueButtonActions();
}

void D415_Fendrix::continueButtonActions()
{
    enterDosing(true);
    partsLeft = 0;
    for (int position = 0; position < DoserCount; ++position) {
        if (!isOnline(position) || doserState[position].idle)
            continue;
        ++partsLeft;
        if (!settleWithDoser(position))
            return;
    }
    journalEvent(QStringLiteral("continue"), journalWeights(0));
    for (int position = 0; position < DoserCount; ++position) {
        if (isOnline(position) && !doserState[position].idle)
            prepareDoserForWork(d415[position]->getDeviceID());
    }
    if (!doseCycleTimer.isActive())
        doseCycleTimer.start(160);
}

// Continue requires what the connection test tells: without the doser's number format every weight would
// be written with no decimals (a target of 150.4 recorded as 150), without its maximum dose doses would be
// sized against 1. Right after the doser came back the test may still be under way.
bool D415_Fendrix::doserFormatKnown(int position)
{
    constexpr int WaitMs = 2000;
    QElapsedTimer waited;
    waited.start();
    const DoserState &doser = doserState[position];
    while (!(doser.scaleKnown && doser.npvKnown) && isOnline(position) && waited.elapsed() < WaitMs)
        pause(50);
    if (doser.scaleKnown && doser.npvKnown)
        return true;
    std::fputs("\nThe doser has not passed its connection test, the work is not started\n", stderr);
    journalRefusal(QStringLiteral("Дозатор не прошёл проверку связи: его формат веса и НПВ не известны."));
    inform(QStringLiteral("Дозатор не прошёл проверку связи: его формат веса и НПВ не известны. Задание не "
                          "запущено."));
    return false;
}

void D415_Fendrix::stopButton()
{
    if (!ask(QStringLiteral("ВНИМАНИЕ!!! При остановке работы ковши будут автоматически разгружены.\nОстановить "
                            "выполнение текущего задания?")))
        return;
    if (!ui->stopButton->isEnabled())
        return;
    stopButtonActions();
    for (int position = 0; position < DoserCount; ++position) {
        if (isOnline(position) && !doserState[position].idle) {
            d415[position]->stopWork();
            d415[position]->uploadDose();
        }
    }
}

void D415_Fendrix::stopButtonActions()
{
    // Only a batch that was dosing stops: a fault reported with every reply stops it once.
    if (doseCycleTimer.isActive()) {
        journalEvent(QStringLiteral("stop"), journalWeights(0));
        doseCycleTimer.stop();
    }
    enableControlElementsWhenStopAction();
    batchRunning = false;
    continueMode = false;
    for (int position = 0; position < DoserCount; ++position) {
        if (isOnline(position) && !doserState[position].idle) {
            doserState[position].downloadPending = false;
            doserState[position].uploadPending = false;
        }
    }
    pause(100);
    if (!pollTimer.isActive())
        pollTimer.start(190);
}

void D415_Fendrix::checkDoseDownload()
{
    const int position
        = nextInList(onDeviceArray, cycleCursor, [this](int p) { return isOnline(p) && !doserState[p].idle; });
    if (position < 0)
        return;
    d415[position]->requestTotalCommonWeight();
    d415[position]->requestTotalCommonDoseCount();
}

bool D415_Fendrix::checkTheEndOfTheParty(int number)
{
    const int position = positionOf(number);
    if (position < 0)
        return false;
    DoserState &doser = doserState[position];
    // Without a plus tolerance a target met exactly would leave a dose of 0 to fill, again and again: what
    // rounds to nothing at the doser's precision is done as well.
    const bool nothingLeft = formatWeight(position, doser.mustToBeDoneWeight).toDouble() <= 0;
    if (doser.doseFaultPlus > doser.mustToBeDoneWeight || nothingLeft) {
        doser.downloadPending = false;
        doser.uploadPending = false;
        doser.idle = true;
        return true;
    }
    return false;
}

void D415_Fendrix::doDownloadUploadCycle(int number)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    DoserState &doser = doserState[position];
    // Filling goes first, and one command per tick: the doser takes one job at a time.
    if (doser.downloadPending) {
        doser.downloadPending = false;
        // A discharge after a fill empties a dose, never the hopper before the first: a late dose count
        // reply must not mark it so.
        doser.firstDischargeMarker = false;
        downloadDose(position, doser.doseWeight, doser.decimals);
        std::fprintf(stderr, "device %d is working, dose is being downloaded\n", number);
    } else if (doser.uploadPending) {
        doser.uploadPending = false;
        uploadDose(position);
        std::fprintf(stderr, "device %d is working, dose is being uploaded\n", number);
    }
}

void D415_Fendrix::downloadDose(int position, qreal weight, quint8 decimals)
{
    if (!isOnline(position))
        return;
    const QString text = QString::number(weight, 'f', decimals);
    d415[position]->resetErrorFlag();
    d415[position]->downloadDose(text, decimals);
    if (QLabel *label = getLabel(0, DoseWeightCode))
        label->setText(text);
}

void D415_Fendrix::uploadDose(int position)
{
    if (!isOnline(position))
        return;
    d415[position]->resetErrorFlag();
    d415[position]->uploadDose();
}

// A reported discharge, counted into the figures or not, moves the witness on by its weight; both are
// recorded together. When they cannot be, the station's figures stay as recorded and the doser's counter
// tells at the next continue what left the hopper.
bool D415_Fendrix::recordDischarge(int position, double weight, bool counted)
{
    DoserState &doser = doserState[position];
    const DoserState before = doser;
    const int decimals = doser.decimals;
    const qint64 units = DoseLedger::toUnits(weight, decimals);
    doser.witness = DoseLedger::afterDischarge(doser.witness, units);
    if (counted) {
        const qint64 done = DoseLedger::toUnits(doser.haveDoneWeight, decimals) + units;
        doser.haveDoneWeight = DoseLedger::toWeight(done, decimals);
        doser.mustToBeDoneWeight
            = DoseLedger::toWeight(DoseLedger::toUnits(doser.taskWeight, decimals) - done, decimals);
    }
    if (!recordBatchStep([&] { return (!counted || updateTaskProgress(position)) && writeWitness(position); })) {
        doser = before;
        return false;
    }
    if (counted) {
        if (QLabel *done = getLabel(0, DoneWeightCode))
            done->setText(QString::number(doser.haveDoneWeight, 'f', 2));
        doser.doseWeight = nextDoseWeight(position, doser.mustToBeDoneWeight);
        refreshBatchProgress();
    }
    return true;
}

// No dosing without records: the batch stops as on a doser fault, and nothing more goes to the doser
// until the operator continues and the records are written.
void D415_Fendrix::stopUnrecorded()
{
    std::fputs("\nThe butch can not be recorded in the database, the work is stopped\n", stderr);
    const QString cause = m_recordFailure;
    stopButtonActions();
    for (int position = 0; position < DoserCount; ++position)
        stopWork(position);
    if (questionBox->isVisible())
        questionBox->hide();
    inform(QStringLiteral("Не удалось записать задание в базу данных: %1. Задание остановлено.").arg(cause));
}

void D415_Fendrix::hasGetDoseUploadSignal(int number, const QString &weight)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    DoserState &doser = doserState[position];
    if (doser.idle)
        return;
    const double w = weight.toDouble();
    doser.lastDischargeWeight = w;
    // The marker is the preparation's, while the batch doses. In a stopped batch every dose-count reply of
    // the polling arms it, yet a discharge there (the stop's own, the operator's "Разгрузить ГПУ") empties
    // product of the batch: it is counted in full, and with the doser's witness moved by it the settlement
    // at continue does not count it again.
    const bool dosing = batchRunning || continueMode;
    if (doser.firstDischargeMarker && dosing) {
        // The preparatory discharge: less than a quarter of the tolerance is an empty hopper's noise.
        doser.firstDischargeMarker = false;
        const bool counted = w >= doser.doseFaultPlus * 0.25;
        if (!counted)
            std::fprintf(stderr, "device %d has %g in hopper < (doseFaultPlus/4) - can not be counted\n", number, w);
        else
            std::fprintf(stderr, "device %d weight %g in hopper has been uploaded and added into result butch weight\n",
                number, w);
        if (!recordDischarge(position, std::max(w, 0.0), counted)) {
            stopUnrecorded();
            return;
        }
        doser.firstDischargeCounted = true;
        return;
    }
    if (w < 0) {
        std::fprintf(stderr, "device %d has %g in hopper < 0, is antigravitation discovered?\n", number, w);
    } else {
        std::fprintf(
            stderr, "device %d weight %g in hopper has been uploaded and added into result butch weight\n", number, w);
        if (!recordDischarge(position, w, true)) {
            stopUnrecorded();
            return;
        }
    }
    if (dosing)
        doser.downloadPending = true;
}

double D415_Fendrix::scaledCounter(int position, const QString &raw) const
{
    // The doser counts in units of its last decimal place.
    return raw.toDouble() / std::pow(10.0, doserState[position].decimals);
}

void D415_Fendrix::hasGetTotalCommonWeight(int number, const QString &value)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    DoserState &doser = doserState[position];
    if (QLabel *label = getLabel(0, TotalCommonWeightCode))
        label->setText(formatWeight(position, scaledCounter(position, value)));
    const quint32 counter = value.toUInt();
    if (m_readingWitness)
        return;
    if (!batchRunning && !continueMode) {
        doser.lastTotalCommonWeight = counter;
        std::fprintf(stderr, "device %d is stopped\n", number);
        return;
    }
    if (!doser.idle && checkTheEndOfTheParty(number)) {
        const int partsBefore = partsLeft;
        if (partsLeft >= 1)
            --partsLeft;
        // The task and, with the last part, the batch are closed together: "done" only once recorded.
        const bool last = partsLeft == 0;
        if (!recordBatchStep([&] { return finishTask(position) && (!last || finishButch()); })) {
            partsLeft = partsBefore;
            doser.idle = false;
            stopUnrecorded();
            return;
        }
        std::fprintf(
            stderr, "\ndevice %d has finisheded his part the work, must to do %d part(s)\n", number, partsLeft);
        if (!last)
            return;
        std::fputs("\nhas finisheded all parts\n", stderr);
        journalEvent(QStringLiteral("finish"), journalWeights(position));
        doseCycleTimer.stop();
        if (!pollTimer.isActive())
            pollTimer.start(190);
        // The batch is closed in the database; nothing may count into it while the notice is open.
        batchRunning = false;
        continueMode = false;
        if (questionBox->isVisible())
            questionBox->hide();
        inform(QStringLiteral("Задание выполнено"));
        enableControlElementsWhenButchIsDone();
        return;
    }
    if (doser.firstDischargeCounted) {
        doser.firstDischargeCounted = false;
        doser.lastTotalCommonWeight = counter;
        std::fprintf(stderr, "device %d dose has already been uploaded\n", number);
    }
    if (counter != doser.lastTotalCommonWeight) {
        doser.lastTotalCommonWeight = counter;
        doser.uploadPending = true;
        std::fprintf(stderr, "device %d is working, dose can be uploaded\n", number);
    }
    doDownloadUploadCycle(number);
}

void D415_Fendrix::requestSumWeightOfLastDownload(int) { }

void D415_Fendrix::hasGetSumWeightOfLastDownload(int, const QString &) { }

void D415_Fendrix::disableControlElementsWhenButchStars()
{
    ui->startButton->setEnabled(false);
    ui->stopButton->setEnabled(true);
    ui->continueButton->setEnabled(false);
    lockSettings(true);
}

void D415_Fendrix::enableControlElementsWhenStopAction()
{
    ui->startButton->setEnabled(true);
    ui->stopButton->setEnabled(false);
    // A doser in fault asks to stop with every reply, and a lost line asks once more: a batch that is
    // already stopped stays resumable.
    ui->continueButton->setEnabled(batchRunning || continueMode || ui->continueButton->isEnabled());
    lockSettings(false);
}

void D415_Fendrix::enableControlElementsWhenButchIsDone()
{
    batchRunning = false;
    continueMode = false;
    ui->startButton->setEnabled(true);
    ui->stopButton->setEnabled(false);
    ui->continueButton->setEnabled(false);
    lockSettings(false);
}

// While a batch runs, neither the doser's switch nor its product may change; what an open batch locks,
// running or stopped, follows from the window's state.
void D415_Fendrix::lockSettings(bool locked)
{
    disableD415Containers(locked);
    d415SettingsDialog->disableProductType(locked);
    applyBatchLock();
}
