// What the operator reads on the main window: the state strip along its foot, live values that turn stale
// while the doser is lost, values that stay readable while the panel is locked, and the batch's progress.
#include "d415_fendrix.h"
#include "ui_d415_fendrix.h"

#include "d415device.h"
#include "d415link.h"
#include "d415states.h"
#include "panelcodes.h"
#include "statestrip.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

using namespace PanelCodes;

namespace {

// What the doser last reported or the station counted; while the line is lost none of it is current.
constexpr int LiveValueCodes[] = {HopperWeightCode, DoneWeightCode, DoseWeightCode, DoseCountCode, TotalWeightCode,
    TotalCommonDoseCountCode, TotalCommonWeightCode};

// Stale values stay legible (contrast 4.9 : 1 on the window) but are struck through: never taken as current.
const QString StaleLook = QStringLiteral("color: #666666; text-decoration: line-through;");

} // namespace

StateStrip *D415_Fendrix::stateStrip() const
{
    return ui->stateStrip;
}

// A locked panel (during a batch) keeps its values as legible as an unlocked one: the disabled colours are
// those of the active panel, so only the touch is refused, not the reading.
void D415_Fendrix::buildScreen()
{
    placeStateStrip();
    const QPalette active = QApplication::palette();
    QList<QWidget *> panel = ui->containerD415_11->findChildren<QWidget *>();
    panel.prepend(ui->containerD415_11);
    // Each widget gets the colours itself: a palette merely handed down from the container is lost when
    // the application's style sheet polishes the widget.
    for (QWidget *widget : panel) {
        QPalette palette = widget->palette();
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                 QPalette::Highlight, QPalette::HighlightedText})
            palette.setColor(QPalette::Disabled, role, active.color(QPalette::Active, role));
        widget->setPalette(palette);
    }
    // The progress text lies over the bar's blue once half is done: black reads there (6 : 1), white not.
    QPalette bar = ui->batchProgress->palette();
    bar.setColor(QPalette::All, QPalette::HighlightedText, Qt::black);
    ui->batchProgress->setPalette(bar);
    refreshBatchProgress();
}

// The strip is the window's foot, under whatever the window holds above it (the designed panel, the recipe
// button): the window grows by the strip's height.
void D415_Fendrix::placeStateStrip()
{
    constexpr int Gap = 4;
    StateStrip *strip = stateStrip();
    int top = 0;
    const QList<QWidget *> children = findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (const QWidget *child : children) {
        if (child != strip && !child->isWindow())
            top = std::max(top, child->geometry().bottom() + 1);
    }
    strip->setGeometry(0, top + Gap, width(), strip->height());
    setFixedSize(width(), strip->geometry().bottom() + 1);
    keepOnScreen();
}

void D415_Fendrix::showOnStrip(int position, const QString &state)
{
    if (state == NoConnection) {
        stateStrip()->showNoConnection(d415[position]->getDeviceID(), link->portName());
        markLiveValuesStale(true);
        return;
    }
    // Any report from the doser is fresh news: its values come back with it.
    markLiveValuesStale(false);
    stateStrip()->showState(state);
}

void D415_Fendrix::markLiveValuesStale(bool stale)
{
    if (stale == m_valuesStale)
        return;
    m_valuesStale = stale;
    for (int code : LiveValueCodes) {
        for (QLabel *label : findLabels(code))
            label->setStyleSheet(stale ? StaleLook : QString());
    }
}

// "120.0 из 500.0 кг": how far the open batch has got, in the doser's unit and number format.
void D415_Fendrix::refreshBatchProgress()
{
    QProgressBar *bar = ui->batchProgress;
    const DoserState &doser = doserState[0];
    if (!isBatchOpen() || doser.taskWeight <= 0) {
        bar->setValue(0);
        bar->setFormat(QStringLiteral("нет задания"));
        return;
    }
    const double share = std::clamp(doser.haveDoneWeight / doser.taskWeight, 0.0, 1.0);
    bar->setValue(int(share * bar->maximum() + 0.5));
    bar->setFormat(QStringLiteral("%1 из %2 %3")
                       .arg(formatWeight(0, doser.haveDoneWeight), formatWeight(0, doser.taskWeight), doser.weightUnit)
                       .trimmed());
}

// The doser reports its error as the table's text; the strip names its number too, for the service manual.
int D415_Fendrix::errorCodeOf(const QString &message)
{
    for (int code = 1; code <= 255; ++code) {
        if (D415States::errorMessage(quint8(code)) == message)
            return code;
    }
    return -1;
}
