#include "keyboardbutton.h"

#include "keyboard.h"

namespace {
// Whether the key under the finger has typed during the current press. One flag serves all keys: only
// one key is pressed at a time.
bool typedThisPress = false;
} // namespace

KeyboardButton::KeyboardButton(const QString &characters, Keyboard *keyboard)
    : QPushButton(keyboard)
    , m_keyboard(keyboard)
{
    for (int i = 0; i < ModeCount; ++i)
        m_characters[i] = i < characters.size() ? characters.at(i) : QChar();
    setFocusPolicy(Qt::NoFocus);
    setAutoDefault(false);
    setMinimumSize(1, 1);
}

QChar KeyboardButton::character(int mode) const
{
    return mode >= 0 && mode < ModeCount ? m_characters[mode] : QChar();
}

// The flag is cleared on the press only, not whenever the button is up: a finger that slides off a key and
// back onto it within one press must not type the character a second time.
void KeyboardButton::mousePressEvent(QMouseEvent *event)
{
    typedThisPress = false;
    QPushButton::mousePressEvent(event);
}

bool KeyboardButton::hitButton(const QPoint &pos) const
{
    const bool hit = QPushButton::hitButton(pos);
    if (isDown() && !typedThisPress && m_keyboard) {
        typedThisPress = true;
        m_keyboard->typeCharacter(character(m_keyboard->mode()));
    }
    return hit;
}
