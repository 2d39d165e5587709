#pragma once

#include "keyboard.h"
#include "lineeditembedded.h"
#include "texteditembedded.h"

#include <QAbstractScrollArea>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

// The operator's way of typing into a recipe field: touch the field, which opens the on-screen keyboard
// with the field's text, replace the text in the keyboard's editing area and confirm with "Enter".
// Returns false (and the test fails) when the touch did not open the keyboard.
inline bool typeOnKeyboard(QWidget *field, Keyboard *keyboard, const QString &text)
{
    // A finger on a text edit lands on its viewport, which hands the press to the edit.
    auto *scrollArea = qobject_cast<QAbstractScrollArea *>(field);
    QTest::mouseClick(scrollArea ? scrollArea->viewport() : field, Qt::LeftButton);
    if (!keyboard || !keyboard->isVisible())
        return false;
    keyboard->findChild<QTextEdit *>(QStringLiteral("editingArea"))->setPlainText(text);
    QTest::mouseClick(keyboard->findChild<QPushButton *>(QStringLiteral("enterButton")), Qt::LeftButton);
    return !keyboard->isVisible();
}

inline bool typeOnKeyboard(LineEditEmbedded *field, const QString &text)
{
    return typeOnKeyboard(field, field->keyboard(), text);
}

inline bool typeOnKeyboard(TextEditEmbedded *field, const QString &text)
{
    return typeOnKeyboard(field, field->keyboard(), text);
}
