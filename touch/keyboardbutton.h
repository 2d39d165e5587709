#pragma once

#include <QPushButton>

class Keyboard;

// One character key of the on-screen keyboard: eight characters, one for each keyboard mode. It types
// through hitButton(), which the button asks on press, on every move while pressed and on release, so
// that a key types once per press: at the first move or at the release, even if the finger slides off.
class KeyboardButton : public QPushButton
{
    Q_OBJECT
public:
    // characters: the eight characters in mode order (En, EnShift, ... RuCapsShift).
    KeyboardButton(const QString &characters, Keyboard *keyboard);

    QChar character(int mode) const;

protected:
    bool hitButton(const QPoint &pos) const override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    static constexpr int ModeCount = 8;
    QChar m_characters[ModeCount];
    Keyboard *m_keyboard = nullptr;
};
