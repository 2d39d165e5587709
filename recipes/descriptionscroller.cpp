#include "descriptionscroller.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QScrollBar>

DescriptionScroller::DescriptionScroller(
    QAbstractScrollArea *description, QAbstractButton *upButton, QAbstractButton *downButton, QObject *parent)
    : QObject(parent)
    , m_description(description)
    , m_upButton(upButton)
    , m_downButton(downButton)
{
    // Steps of a few milliseconds: a coarse timer could stretch them by a fifth.
    m_stepTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_stepTimer, &QTimer::timeout, this, &DescriptionScroller::step);
    connect(description->verticalScrollBar(), &QScrollBar::rangeChanged, this, &DescriptionScroller::rangeChanged);
    connect(upButton, &QAbstractButton::pressed, this, &DescriptionScroller::upPressed);
    connect(upButton, &QAbstractButton::released, this, &DescriptionScroller::released);
    connect(downButton, &QAbstractButton::pressed, this, &DescriptionScroller::downPressed);
    connect(downButton, &QAbstractButton::released, this, &DescriptionScroller::released);
}

void DescriptionScroller::rangeChanged(int /*minimum*/, int maximum)
{
    m_upButton->setEnabled(false);
    m_downButton->setEnabled(maximum > 0);
}

void DescriptionScroller::upPressed()
{
    start(true);
}

void DescriptionScroller::downPressed()
{
    start(false);
}

void DescriptionScroller::released()
{
    stop();
}

void DescriptionScroller::start(bool up)
{
    m_up = up;
    m_scrolling = true;
    step();
    if (m_scrolling)
        m_stepTimer.start(int(m_stepInterval));
}

void DescriptionScroller::stop()
{
    m_scrolling = false;
    m_stepTimer.stop();
}

void DescriptionScroller::step()
{
    if (m_up)
        stepUp();
    else
        stepDown();
}

void DescriptionScroller::stepUp()
{
    QScrollBar *bar = m_description->verticalScrollBar();
    bar->setValue(bar->value() - 1);
    if (bar->value() <= bar->minimum()) {
        stop();
        m_upButton->setEnabled(false);
    }
    if (!m_downButton->isEnabled())
        m_downButton->setEnabled(true);
}

void DescriptionScroller::stepDown()
{
    QScrollBar *bar = m_description->verticalScrollBar();
    bar->setValue(bar->value() + 1);
    if (bar->value() >= bar->maximum()) {
        stop();
        m_downButton->setEnabled(false);
    }
    if (!m_upButton->isEnabled())
        m_upButton->setEnabled(true);
}
