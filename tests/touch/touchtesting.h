#pragma once

#include "keyboard.h"
#include "keyboardbutton.h"

#include <QPushButton>
#include <QTest>
#include <QTextEdit>

// Finger actions on real keyboard widgets: every press and release goes through the widget's window.
namespace TouchTesting {

inline QTextEdit *editingArea(Keyboard *keyboard)
{
    return keyboard->findChild<QTextEdit *>(QStringLiteral("editingArea"));
}

inline QPushButton *functionKey(Keyboard *keyboard, const char *objectName)
{
    return keyboard->findChild<QPushButton *>(QLatin1String(objectName));
}

// The character key that shows this label in the keyboard's current mode.
inline KeyboardButton *key(Keyboard *keyboard, const QString &label)
{
    const auto keys = keyboard->findChildren<KeyboardButton *>();
    for (KeyboardButton *button : keys) {
        if (button->isVisible() && button->text() == label)
            return button;
    }
    return nullptr;
}

inline void tap(QWidget *widget)
{
    const QPoint centre = widget->rect().center();
    QTest::mousePress(widget, Qt::LeftButton, {}, centre);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, centre);
}

// Types by touching the key of each character; returns false when a character has no key in this mode.
inline bool typeKeys(Keyboard *keyboard, const QString &text)
{
    for (QChar c : text) {
        KeyboardButton *button = key(keyboard, c == QLatin1Char('&') ? QStringLiteral("&&") : QString(c));
        if (!button)
            return false;
        tap(button);
    }
    return true;
}

} // namespace TouchTesting
