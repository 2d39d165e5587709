#pragma once

#include <QDialog>
#include <QPointer>
#include <QTextCursor>
#include <QTimer>

class EmbeddedEditInterface;
class QPushButton;
class QTextEdit;

// The on-screen keyboard: an editing area over a grid of large keys. It edits a copy of a value and hands
// it back only on "Enter"; "Esc" throws the copy away. Keyboards are long-lived: hidden between uses and
// shown again for every value, keeping their mode (language, Caps Lock) from one use to the next.
class Keyboard : public QDialog
{
    Q_OBJECT
public:
    enum Type { NumericKeyboard = 0, FullsizeKeyboard = 1 };
    Q_ENUM(Type)

    // Bit 0 is Shift, bit 1 Caps Lock, bit 2 Russian; the value is also the index of the character that
    // every key types in that mode.
    enum Mode { En = 0, EnShift = 1, EnCaps = 2, EnCapsShift = 3, Ru = 4, RuShift = 5, RuCaps = 6, RuCapsShift = 7 };
    Q_ENUM(Mode)

    explicit Keyboard(QWidget *parent = nullptr);
    ~Keyboard() override;

    // Builds a hidden keyboard of the given type: FullsizeKeyboard, or the numeric pad for any other value.
    static Keyboard *createKeyboard(Keyboard::Type type, QWidget *parent = nullptr);

    // Opens the keyboard for an embedded edit, with the given text in the editing area. Returns at once;
    // the keyboard is modal while it is shown.
    void showFor(EmbeddedEditInterface *receiver, const QString &title, const QString &text);
    // Opens the keyboard for a button, label or line edit whose text "Enter" replaces.
    void showForWidget(QWidget *target, const QString &title);

    int mode() const { return m_mode; }
    EmbeddedEditInterface *receiver() const { return m_receiver; }
    QWidget *target() const { return m_target; }
    // An edit that is being destroyed calls this so that a keyboard open for it never calls it back.
    void forgetReceiver(EmbeddedEditInterface *receiver);

    virtual void typeCharacter(QChar c);
    virtual void setMode(int mode);

signals:
    void textEntered(QString text);

public slots:
    void accept() override;
    void reject() override;
    void done(int result) override;
    virtual void shiftPressed();
    virtual void capsPressed();
    virtual void languagePressed();
    virtual void backspacePressed();
    virtual void upListButtonPressed();
    virtual void upListButtonReleased();
    virtual void downListButtonPressed();
    virtual void downListButtonReleased();
    virtual void leftListButtonPressed();
    virtual void leftListButtonReleased();
    virtual void rightListButtonPressed();
    virtual void rightListButtonReleased();

private:
    QPushButton *createFunctionButton(const QString &text, const char *objectName);
    QPushButton *createCursorButton(const QString &icon, const char *objectName);
    void placeRow(const QStringList &keys, int column, int row, int width, int height, int gap, int unit);
    void layOutFullsize();
    void layOutNumeric();
    void offerLineBreak(bool offered);
    void fitFunctionLabels();
    void startHold(QTextCursor::MoveOperation move);
    void stopHold();
    void repeatHeldMove();
    void forgetTargets();

    int m_mode = Ru;
    // Numbers take one decimal point; names and descriptions ("в.с.") take as many as they need.
    bool m_numeric = false;
    QPointer<QWidget> m_target;
    EmbeddedEditInterface *m_receiver = nullptr;
    QTextEdit *m_editingArea = nullptr;
    QPushButton *m_up = nullptr;
    QPushButton *m_down = nullptr;
    QPushButton *m_left = nullptr;
    QPushButton *m_right = nullptr;
    QPushButton *m_enter = nullptr;
    QPushButton *m_backspace = nullptr;
    QPushButton *m_escape = nullptr;
    QPushButton *m_leftShift = nullptr;
    QPushButton *m_rightShift = nullptr;
    QPushButton *m_capsLock = nullptr;
    QPushButton *m_language = nullptr;
    // Shown only while the keyboard types for a multi-line edit: a one-line value never gets a line break.
    QPushButton *m_lineBreak = nullptr;
    bool m_held = false;
    bool m_pending = false;
    quint16 m_repeatDelay = 300;
    quint16 m_repeatInterval = 100;
    QTimer m_repeatTimer;
    QTextCursor::MoveOperation m_heldMove = QTextCursor::NoMove;
};
