// The doser panel: what the doser reports, the 190 ms polling and the 500 ms probing, connection loss and
// return, the switching of the doser, the target weight and tolerances.
#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "panelcodes.h"
#include "statestrip.h"

#include "d415device.h"
#include "d415settings.h"

#include <QApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

#include <cstdio>

using namespace PanelCodes;

namespace {
int accessibleCode(int code)
{
    return QStringLiteral("1%1").arg(code).toInt();
}

// The widgets of the window's own panel whose accessible name is the number wanted, found among all
// widgets of the program; a child window (a message box) and a second main window (a test, a restart in
// one process) keep codes of their own.
template<typename T> QList<T *> panelWidgets(const QWidget *window, int wanted)
{
    QList<T *> found;
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets) {
        auto *typed = qobject_cast<T *>(widget);
        if (typed && typed->window() == window && typed->accessibleName().toInt() == wanted)
            found.append(typed);
    }
    return found;
}
} // namespace

int D415_Fendrix::positionOf(int number) const
{
    for (int position = 0; position < DoserCount; ++position) {
        if (d415[position] && d415[position]->getDeviceID() == number)
            return position;
    }
    return -1;
}

bool D415_Fendrix::isOnline(int position) const
{
    if (position < 0 || position >= DoserCount)
        return false;
    return d415[position]->isDeviceActive() && !d415[position]->isDeviceNeedToBeChecked();
}

void D415_Fendrix::resetDoser(int position)
{
    DoserState &doser = doserState[position];
    const bool offline = doser.offline;
    const int lostCount = doser.lostCount;
    doser = DoserState();
    doser.offline = offline;
    doser.lostCount = lostCount;
}

QList<QLabel *> D415_Fendrix::findLabels(int code) const
{
    return panelWidgets<QLabel>(this, accessibleCode(code));
}

QLabel *D415_Fendrix::getLabel(int, int code)
{
    const QList<QLabel *> labels = findLabels(code);
    return labels.isEmpty() ? nullptr : labels.first();
}

QLineEdit *D415_Fendrix::findEdit(int code) const
{
    const QList<QLineEdit *> edits = panelWidgets<QLineEdit>(this, accessibleCode(code));
    return edits.isEmpty() ? nullptr : edits.first();
}

QGroupBox *D415_Fendrix::findContainer(int position) const
{
    const QList<QGroupBox *> boxes = panelWidgets<QGroupBox>(this, 10 * position + 10);
    return boxes.isEmpty() ? nullptr : boxes.first();
}

QString D415_Fendrix::formatWeight(int position, double weight) const
{
    return QString::number(weight, 'f', doserState[position].decimals);
}

void D415_Fendrix::showState(int position, const QString &state)
{
    QLabel *label = getLabel(0, StateCode);
    if (!label)
        return;
    QFont bold = label->font();
    bold.setWeight(QFont::Bold);
    label->setFont(bold);
    QColor colour;
    if (state == NoConnection || state == Fault)
        colour = QColor(212, 54, 56);
    else if (state == Working)
        colour = QColor(25, 140, 25);
    else if (state == Stopped)
        colour = Qt::black;
    if (colour.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::All, QPalette::WindowText, colour);
        label->setPalette(palette);
    }
    label->setText(state);
    showOnStrip(position, state);
}

void D415_Fendrix::refreshContainerTitle(int position)
{
    // A group box takes "&" as the mark of a shortcut letter: the product name is shown as it was typed.
    const QString product = QString(d415[position]->productName()).replace(u'&', QStringLiteral("&&"));
    if (QGroupBox *box = findContainer(position))
        box->setTitle(QStringLiteral("Дозатор %1 - %2").arg(d415[position]->getDeviceID()).arg(product));
}

void D415_Fendrix::pause(int ms)
{
    // Replies and timer ticks go on during the pause; the operator's touches wait until it ends.
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

int D415_Fendrix::nextInList(const QList<int> &list, int &cursor, const std::function<bool(int)> &eligible)
{
    const int size = int(list.size());
    if (cursor >= size || cursor < 0)
        cursor = 0;
    for (int step = 0; step < size; ++step) {
        const int index = (cursor + step) % size;
        if (eligible(list.at(index))) {
            cursor = index + 1;
            return list.at(index);
        }
    }
    return -1;
}

void D415_Fendrix::requestWeightNETTO()
{
    const int position = nextInList(onDeviceArray, pollCursor, [this](int p) { return isOnline(p); });
    if (position < 0)
        return;
    // The pauses leave the line to the doser's reply before the next request claims it.
    d415[position]->requestWeightNETTO();
    pause(100);
    requestDoseCount(position);
    pause(100);
    requestTotalWeight(position);
}

void D415_Fendrix::checkDeviceActivity()
{
    const int position = nextInList(offDeviceArray, probeCursor,
        [this](int p) { return d415[p]->isDeviceActive() && d415[p]->isDeviceNeedToBeChecked(); });
    if (position >= 0)
        d415[position]->requestWeightNETTO();
}

void D415_Fendrix::connectionErrorActions(int number)
{
    const int position = positionOf(number);
    if (position < 0 || !d415[position]->isDeviceActive())
        return;
    DoserState &doser = doserState[position];
    if (!doser.offline)
        ++doser.lostCount;
    showState(position, NoConnection);
    d415SettingsDialog->clearFields();
    // What the connection test told may have changed by the time the doser answers again.
    doser.scaleKnown = false;
    doser.npvKnown = false;
    if (d415[position]->isDeviceNeedToBeChecked())
        return;
    d415[position]->setDeviceNeedToBeChecked(true);
    offDeviceArray.append(position);
    std::fprintf(stderr, "Has append Off Device Array Index = %d\n", position);
    onDeviceArray.removeAll(position);
    std::fprintf(stderr, "Has removed On Device Array Index = %d\n", position);
    doser.offline = true;
    d415SettingsDialog->clearInfo();
    if (questionBox->isVisible())
        questionBox->hide();
    stopButtonActions();
}

void D415_Fendrix::hasCurrentStateActions(int number, const QString &state)
{
    const int position = positionOf(number);
    if (position < 0 || !d415[position]->isDeviceActive())
        return;
    if (state != Fault)
        d415SettingsDialog->clearInfo();
    showState(position, state);
    DoserState &doser = doserState[position];
    doser.inFault = state == Fault;
    if (doser.lostCount == 0)
        return;
    if (!doser.idle)
        std::fprintf(stderr, "\ndevice %d is online\n\n", number);
    doser.offline = false;
    doser.lostCount = 0;
    if (d415[position]->isDeviceNeedToBeChecked()) {
        d415[position]->setDeviceNeedToBeChecked(false);
        offDeviceArray.removeAll(position);
        std::fprintf(stderr, "Has removed Off Device Array Index = %d\n", position);
        onDeviceArray.append(position);
        std::fprintf(stderr, "Has appended On Device Array Index = %d\n", position);
    }
    deviceConnectionTest(position);
    restoreLastSession();
}

void D415_Fendrix::workErrorActions(int number, const QString &message)
{
    if (positionOf(number) < 0)
        return;
    d415SettingsDialog->setErrorMessage(message);
    stateStrip()->showFault(errorCodeOf(message), message);
}

void D415_Fendrix::hasGetWeightNETTO(int number, const QString &value)
{
    if (positionOf(number) < 0)
        return;
    if (QLabel *label = getLabel(0, HopperWeightCode))
        label->setText(value);
}

void D415_Fendrix::hasGetScale(int number, const QString &value)
{
    if (positionOf(number) >= 0)
        d415SettingsDialog->setDigitScale(value);
}

void D415_Fendrix::hasGetScale(int number, quint8 value)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    doserState[position].decimals = value;
    doserState[position].scaleKnown = true;
    refreshBatchProgress();
}

void D415_Fendrix::hasGetNPD(int number, const QString &value)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    d415SettingsDialog->setWeightNPV(value);
    doserState[position].npv = value.toDouble();
    doserState[position].npvKnown = true;
}

void D415_Fendrix::hasGetWeightScale(int number, const QString &value)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    d415SettingsDialog->setWeightScale(value);
    doserState[position].weightUnit = value;
    // Every weight on the panel and in the counters is in this unit.
    const QList<QLabel *> units = findLabels(UnitCode);
    for (QLabel *label : units)
        label->setText(value);
    refreshBatchProgress();
}

void D415_Fendrix::hasGetPOVersion(int number, const QString &value)
{
    if (positionOf(number) >= 0)
        d415SettingsDialog->setPoVersion(value);
}

void D415_Fendrix::hasGetDoseFaultPlus(int number, const QString &value)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    doserState[position].doseFaultPlus = value.toDouble();
    if (QLineEdit *edit = findEdit(FaultPlusCode))
        edit->setText(value);
}

void D415_Fendrix::hasGetDoseFaultMinus(int number, const QString &value)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    doserState[position].doseFaultMinus = value.toDouble();
    if (QLineEdit *edit = findEdit(FaultMinusCode))
        edit->setText(value);
}

// An entry confirmed with nothing typed is no value: the field keeps the one it has and nothing is sent.
bool D415_Fendrix::isEmptyEntry(const QString &text)
{
    return text.trimmed().isEmpty();
}

void D415_Fendrix::setWeight(const QString &text, const QString &name)
{
    if (isEmptyEntry(text))
        return;
    const int position = name.toInt() / 10 - 1;
    if (position < 0 || position >= DoserCount)
        return;
    QLineEdit *edit = findEdit(TargetWeightCode);
    if (!edit)
        return;
    DoserState &doser = doserState[position];
    const QString formatted = formatWeight(position, text.toDouble());
    if (doser.idle) {
        edit->setText(formatted);
        doser.taskWeight = edit->text().toDouble();
        if (doser.taskWeight <= 0)
            edit->clear();
        if (QLabel *done = getLabel(0, DoneWeightCode))
            done->setText(QString::number(0.0, 'f', 2));
        return;
    }
    // During a batch the target may only grow beyond what has already been done.
    const double weight = formatted.toDouble();
    if (weight > doser.haveDoneWeight) {
        edit->setText(formatted);
        doser.taskWeight = weight;
        refreshBatchProgress();
    }
}

void D415_Fendrix::setDoseFaultPlus(const QString &text, const QString &name)
{
    if (isEmptyEntry(text))
        return;
    const int position = name.toInt() / 10 - 1;
    if (!isOnline(position))
        return;
    journalEvent(QStringLiteral("setting"), QStringLiteral("Погрешность +: %1").arg(text));
    d415[position]->setDoseFaultPlus(text, doserState[position].decimals);
}

void D415_Fendrix::setDoseFaultMinus(const QString &text, const QString &name)
{
    if (isEmptyEntry(text))
        return;
    const int position = name.toInt() / 10 - 1;
    if (!isOnline(position))
        return;
    journalEvent(QStringLiteral("setting"), QStringLiteral("Погрешность -: %1").arg(text));
    d415[position]->setDoseFaultMinus(text, doserState[position].decimals);
}

void D415_Fendrix::deviceConnectionTest(int position)
{
    if (position < 0)
        return;
    requestScale(position);
    requestTotalCommonWeight(position);
    requestTotalCommonDoseCount(position);
    requestWeightScale(position);
    requestNPD(position);
    requestDoseFaultPlus(position);
    requestDoseFaultMinus(position);
    requestPOVersion(position);
}

void D415_Fendrix::setDeviceActive0(bool on)
{
    const int position = 0;
    QGroupBox *container = findContainer(position);
    QLabel *done = getLabel(0, DoneWeightCode);
    if (!on && !doserState[position].idle) {
        if (!ask(QStringLiteral("ВНИМАНИЕ!!! При отключении дозатора текущая работа будет остановлена. Продолжить?"))) {
            if (container)
                container->setChecked(true);
            ui->productWeightD415_11->setEnabled(true);
            ui->doseFaultPlusD415_11->setEnabled(true);
            ui->doseFaultMinusD415_11->setEnabled(true);
            if (done)
                done->setEnabled(true);
            return;
        }
        ui->startButton->setEnabled(true);
        ui->stopButton->setEnabled(false);
        newButch();
        if (done)
            done->setText(QStringLiteral("0"));
    }
    d415[position]->setDeviceActive(on);
    if (on) {
        deviceConnectionTest(position);
        return;
    }
    resetDoser(position);
    ui->productWeightD415_11->clear();
    ui->doseFaultPlusD415_11->clear();
    ui->doseFaultMinusD415_11->clear();
    if (done)
        done->setText(QStringLiteral("0"));
    if (QLabel *state = getLabel(0, StateCode))
        state->clear();
    stateStrip()->clear();
}

void D415_Fendrix::disableD415Containers(bool disable)
{
    for (int position = 0; position < DoserCount; ++position) {
        if (QGroupBox *box = findContainer(position))
            box->setDisabled(disable);
    }
}

void D415_Fendrix::stopTimers()
{
    if (probeTimer.isActive())
        probeTimer.stop();
    if (pollTimer.isActive())
        pollTimer.stop();
}

void D415_Fendrix::startTimers()
{
    if (!probeTimer.isActive())
        probeTimer.start(500);
    if (!pollTimer.isActive())
        pollTimer.start(190);
}

void D415_Fendrix::requestScale(int position)
{
    if (isOnline(position))
        d415[position]->requestScale();
}

void D415_Fendrix::requestNPD(int position)
{
    if (isOnline(position))
        d415[position]->requestNPD();
}

void D415_Fendrix::requestWeightScale(int position)
{
    if (isOnline(position))
        d415[position]->requestWeightScale();
}

void D415_Fendrix::requestPOVersion(int position)
{
    if (isOnline(position))
        d415[position]->requestPOVersion();
}

void D415_Fendrix::requestDoseFaultPlus(int position)
{
    if (isOnline(position))
        d415[position]->requestDoseFaultPlus();
}

void D415_Fendrix::requestDoseFaultMinus(int position)
{
    if (isOnline(position))
        d415[position]->requestDoseFaultMinus();
}

void D415_Fendrix::requestDoseCount(int position)
{
    if (isOnline(position))
        d415[position]->requestDoseCount();
}

void D415_Fendrix::requestTotalWeight(int position)
{
    if (isOnline(position))
        d415[position]->requestTotalWeight();
}

void D415_Fendrix::requestTotalCommonWeight(int position)
{
    if (isOnline(position))
        d415[position]->requestTotalCommonWeight();
}

void D415_Fendrix::requestTotalCommonDoseCount(int position)
{
    if (isOnline(position))
        d415[position]->requestTotalCommonDoseCount();
}
