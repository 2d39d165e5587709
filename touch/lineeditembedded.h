#pragma once

#include "embeddededitinterface.h"
#include "keyboard.h"

#include <QLineEdit>

// A one-line field that opens the on-screen keyboard when touched. It does not edit itself: the confirmed
// text goes out through textEdited() and textHasEntered(), and the owner decides whether to show it.
// A numeric field opens with an empty editing area (a value is typed anew); a full-size one with its text.
class LineEditEmbedded : public QLineEdit, public EmbeddedEditInterface
{
    Q_OBJECT
    Q_PROPERTY(
        Keyboard::Type KeyboardType READ keyboardType WRITE setKeyboardType DESIGNABLE true SCRIPTABLE true STORED true)
    Q_PROPERTY(QString Description READ description WRITE setDescription DESIGNABLE true SCRIPTABLE true STORED true)
public:
    explicit LineEditEmbedded(QWidget *parent = nullptr);
    explicit LineEditEmbedded(const QString &text, QWidget *parent = nullptr);
    ~LineEditEmbedded() override;

    Keyboard::Type keyboardType() const { return m_keyboardType; }
    // Selects the shared keyboard of this type, creating it on first need; any other value leaves the
    // field without a keyboard. The int form takes the value as forms and scripts give it.
    void setKeyboardType(Keyboard::Type type);
    void setKeyboardType(int type) { setKeyboardType(static_cast<Keyboard::Type>(type)); }
    QString description() const { return m_description; }
    // The keyboard's window title at the next touch.
    void setDescription(const QString &description) { m_description = description; }
    Keyboard *keyboard() const { return m_keyboard; }

    // The keyboards all line edits share: one numeric, one full-size (null before the first is needed).
    static Keyboard *sharedKeyboard(Keyboard::Type type);

    void acceptText(const QString &text) override;

signals:
    void textEntered(QString text);
    // The confirmed text and this field's accessible name, by which an owner tells its fields apart.
    void textHasEntered(QString text, QString accessibleName);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    Keyboard::Type m_keyboardType = Keyboard::NumericKeyboard;
    Keyboard *m_keyboard = nullptr;
    QString m_description;
};
