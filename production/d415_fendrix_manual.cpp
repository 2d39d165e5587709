// Manual mode and the counters: the operator's fill, discharge, stop and full cycle by hand, and the shift
// and lifetime counters of the group "Информация".
#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "panelcodes.h"

#include "d415device.h"

#include <QLabel>

#include <cstdio>

using namespace PanelCodes;

void D415_Fendrix::downloadDoseButton()
{
    const int position = 0;
    const DoserState &doser = doserState[position];
    const double weight = ui->productWeightD415_11->text().toDouble();
    if (weight <= doser.npv) {
        journalEvent(QStringLiteral("command"),
            QStringLiteral("Набрать дозу %1 %2").arg(formatWeight(position, weight), doser.weightUnit));
        downloadDose(position, weight, doser.decimals);
        return;
    }
    inform(QStringLiteral("В ручном режиме набора вес дозы должен быть меньше НПВ. Текущее значение НПВ = %1 %2")
               .arg(formatWeight(position, doser.npv), ui->weightlabel_7->text()));
}

void D415_Fendrix::uploadDoseButton()
{
    journalEvent(QStringLiteral("command"), QStringLiteral("Разгрузить ГПУ"));
    uploadDose(0);
}

void D415_Fendrix::stopWorkButton()
{
    const int position = 0;
    journalEvent(QStringLiteral("command"), QStringLiteral("Останов / сброс ошибки"));
    stopWork(position);
    // Stop-work alone leaves a doser in its fault: the button's "сброс ошибки" resets it too, and the panel
    // leaves "АВАРИЯ" with the doser's next state report.
    if (isOnline(position) && doserState[position].inFault)
        d415[position]->resetErrorFlag();
}

void D415_Fendrix::doCycleButton()
{
    journalEvent(QStringLiteral("command"), QStringLiteral("Выполнить полный цикл"));
    doFullCycle(0);
}

void D415_Fendrix::stopWork(int position)
{
    if (isOnline(position))
        d415[position]->stopWork();
}

void D415_Fendrix::doFullCycle(int position)
{
    if (isOnline(position))
        d415[position]->doFullCycle();
}

void D415_Fendrix::stopAllWork()
{
    stopWork(0);
    std::fputs("APPLICATION IS CLOSED, ALL WORKS ARE STOPPED\n", stderr);
}

void D415_Fendrix::hasGetDoseCount(int number, const QString &value)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    if (QLabel *label = getLabel(0, DoseCountCode))
        label->setText(value);
    // A reply to the preparation: the next discharge report empties the hopper before the first dose, and
    // from now on a fault the doser reports stops the batch.
    if (value.toDouble() == 0 || !doserState[position].idle) {
        doserState[position].firstDischargeMarker = true;
        connectStopOnFault(position);
    }
}

void D415_Fendrix::hasGetTotalWeight(int number, const QString &value)
{
    const int position = positionOf(number);
    if (position < 0)
        return;
    if (QLabel *label = getLabel(0, TotalWeightCode))
        label->setText(formatWeight(position, scaledCounter(position, value)));
}

void D415_Fendrix::hasGetTotalCommonDoseCount(int number, const QString &value)
{
    if (positionOf(number) < 0)
        return;
    if (QLabel *label = getLabel(0, TotalCommonDoseCountCode))
        label->setText(value);
}
