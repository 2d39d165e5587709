#pragma once

#include "receipttiming.h"

#include <QObject>
#include <QTimer>

class QAbstractButton;
class QAbstractScrollArea;

/// Scrolls a recipe description that has no scroll bars with a pair of up and down buttons: a step of
/// one pixel on press, then one step each descriptionrepeatspeed ms while the button is held, until the
/// button is released or the end is reached. Shared by the recipe manager and the save-recipe dialog; it
/// listens to its buttons and to the description's range itself.
class DescriptionScroller : public QObject
{
    Q_OBJECT
public:
    DescriptionScroller(QAbstractScrollArea *description, QAbstractButton *upButton, QAbstractButton *downButton,
        QObject *parent = nullptr);

    /// The description's vertical range changed: a new text starts at its top.
    void rangeChanged(int minimum, int maximum);
    void upPressed();
    void downPressed();
    void released();
    bool isScrolling() const { return m_scrolling; }

private slots:
    void step();

private:
    void start(bool up);
    void stop();
    void stepUp();
    void stepDown();

    QAbstractScrollArea *m_description = nullptr;
    QAbstractButton *m_upButton = nullptr;
    QAbstractButton *m_downButton = nullptr;
    QTimer m_stepTimer;
    bool m_scrolling = false;
    bool m_up = false;
    const unsigned &m_stepInterval = ReceiptTiming::descriptionrepeatspeed;
};
