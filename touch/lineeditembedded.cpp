#include "lineeditembedded.h"

#include "sharedkeyboards.h"

#include <QMouseEvent>

#include <cstdio>

LineEditEmbedded::LineEditEmbedded(QWidget *parent)
    : QLineEdit(parent)
    , m_description(QStringLiteral("Ввод"))
{
    setKeyboardType(Keyboard::NumericKeyboard);
}

LineEditEmbedded::LineEditEmbedded(const QString &text, QWidget *parent)
    : QLineEdit(text, parent)
    , m_description(QStringLiteral("Ввод"))
{
    setKeyboardType(Keyboard::NumericKeyboard);
}

LineEditEmbedded::~LineEditEmbedded()
{
    if (m_keyboard)
        m_keyboard->forgetReceiver(this);
    std::fputs("~LineEditEmbedded()\n", stderr);
}

void LineEditEmbedded::setKeyboardType(Keyboard::Type type)
{
    m_keyboardType = type;
    m_keyboard = SharedKeyboards::keyboard(SharedKeyboards::LineEdits, type);
}

Keyboard *LineEditEmbedded::sharedKeyboard(Keyboard::Type type)
{
    return SharedKeyboards::existing(SharedKeyboards::LineEdits, type);
}

// The base class's press handling is skipped: a touch places no cursor and starts no selection, and the
// field never keeps the focus from a touch.
void LineEditEmbedded::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (QWidget *parent = parentWidget())
        parent->setFocus(Qt::OtherFocusReason);
    if (!m_keyboard)
        return;
    // A number is always typed anew; a name is edited from its current value.
    const QString initial = m_keyboardType == Keyboard::FullsizeKeyboard ? text() : QString();
    m_keyboard->showFor(this, m_description, initial);
}

void LineEditEmbedded::acceptText(const QString &text)
{
    emit textEdited(text);
    emit textHasEntered(text, accessibleName());
}
