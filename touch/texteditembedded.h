#pragma once

#include "embeddededitinterface.h"
#include "keyboard.h"

#include <QTextEdit>

// The recipe description field: opens the full-size keyboard when touched and, before it replaces a
// description the operator already wrote, asks for confirmation. An empty description is shown as
// emptyDescriptionText().
class TextEditEmbedded : public QTextEdit, public EmbeddedEditInterface
{
    Q_OBJECT
    Q_PROPERTY(QString Description READ description WRITE setDescription DESIGNABLE true SCRIPTABLE true STORED true)
public:
    explicit TextEditEmbedded(QWidget *parent = nullptr);
    explicit TextEditEmbedded(const QString &text, QWidget *parent = nullptr);
    ~TextEditEmbedded() override;

    // Shown in place of an empty description and treated as no description at all.
    static QString emptyDescriptionText();

    QString description() const { return m_description; }
    // The keyboard's window title at the next touch.
    void setDescription(const QString &description) { m_description = description; }
    Keyboard *keyboard() const { return m_keyboard; }

    // The full-size keyboard all text edits share, apart from the line edits' one (null before first use).
    static Keyboard *sharedKeyboard();

    void acceptText(const QString &text) override;
    bool acceptsLineBreaks() const override { return true; }

signals:
    void textEntered(QString text);
    void descriptionChanged(QString text);

public slots:
    void applyText(const QString &text);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void initialise();
    bool confirmReplacement();

    Keyboard *m_keyboard = nullptr;
    QString m_description;
};
