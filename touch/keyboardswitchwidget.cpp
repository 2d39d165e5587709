#include "keyboardswitchwidget.h"

#include "sharedkeyboards.h"

KeyboardSwitchWidget::KeyboardSwitchWidget(QWidget *parent)
    : QWidget(parent)
{
    setType(Keyboard::NumericKeyboard);
}

void KeyboardSwitchWidget::setType(Keyboard::Type type)
{
    m_type = type;
    SharedKeyboards::keyboard(SharedKeyboards::SwitchWidgets, Keyboard::NumericKeyboard);
    SharedKeyboards::keyboard(SharedKeyboards::SwitchWidgets, Keyboard::FullsizeKeyboard);
    m_keyboard = SharedKeyboards::existing(SharedKeyboards::SwitchWidgets, type);
}

// The focus arrives here through a widget that has this one as its focus proxy: that widget reports
// hasFocus(). It hands its focus to its parent and gets the keyboard.
void KeyboardSwitchWidget::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    QWidget *parent = parentWidget();
    if (!parent || !m_keyboard)
        return;
    const auto widgets = parent->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (widget == this || !widget->hasFocus())
            continue;
        if (QWidget *widgetParent = widget->parentWidget())
            widgetParent->setFocus(Qt::OtherFocusReason);
        m_keyboard->showForWidget(widget, QStringLiteral("Title"));
    }
}
