#pragma once

#include "keyboard.h"

#include <QWidget>

// Opens a keyboard for any widget that takes it as focus proxy: when the focus arrives here, the widget
// that was meant to get it is found and the keyboard opens for it; "Enter" then replaces that widget's text.
class KeyboardSwitchWidget : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(Keyboard::Type type READ type WRITE setType)
public:
    explicit KeyboardSwitchWidget(QWidget *parent = nullptr);

    Keyboard::Type type() const { return m_type; }
    void setType(Keyboard::Type type);
    Keyboard *keyboard() const { return m_keyboard; }

protected:
    void focusInEvent(QFocusEvent *event) override;

private:
    Keyboard::Type m_type = Keyboard::NumericKeyboard;
    Keyboard *m_keyboard = nullptr;
};
