#include "texteditembedded.h"

#include "sharedkeyboards.h"

#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

#include <cstdio>

TextEditEmbedded::TextEditEmbedded(QWidget *parent)
    : QTextEdit(parent)
{
    initialise();
}

TextEditEmbedded::TextEditEmbedded(const QString &text, QWidget *parent)
    : QTextEdit(text, parent)
{
    initialise();
}

TextEditEmbedded::~TextEditEmbedded()
{
    if (m_keyboard)
        m_keyboard->forgetReceiver(this);
    std::fputs("~TextEditEmbedded()\n", stderr);
}

void TextEditEmbedded::initialise()
{
    m_description = QStringLiteral("Ввод");
    m_keyboard = SharedKeyboards::keyboard(SharedKeyboards::TextEdits, Keyboard::FullsizeKeyboard);
    connect(this, &TextEditEmbedded::textEntered, this, &TextEditEmbedded::applyText, Qt::DirectConnection);
}

QString TextEditEmbedded::emptyDescriptionText()
{
    return QStringLiteral("Описание рецепта отсутствует. Для добавления описания нажмите на это поле.");
}

Keyboard *TextEditEmbedded::sharedKeyboard()
{
    return SharedKeyboards::existing(SharedKeyboards::TextEdits, Keyboard::FullsizeKeyboard);
}

void TextEditEmbedded::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (QWidget *parent = parentWidget())
        parent->setFocus(Qt::OtherFocusReason);
    if (!m_keyboard)
        return;
    const QString current = toPlainText();
    const bool noDescription = current.compare(emptyDescriptionText(), Qt::CaseInsensitive) == 0;
    m_keyboard->showFor(this, m_description, noDescription ? QString() : current);
}

void TextEditEmbedded::acceptText(const QString &text)
{
    emit textEntered(text);
}

void TextEditEmbedded::applyText(const QString &text)
{
    const QString newText = text.isEmpty() ? emptyDescriptionText() : text;
    const QString current = toPlainText();
    if (newText.compare(current, Qt::CaseInsensitive) == 0)
        return;
    // With no description there is nothing to lose; otherwise the operator confirms the replacement.
    const bool noDescription = current.compare(emptyDescriptionText(), Qt::CaseInsensitive) == 0;
    if (!noDescription && !confirmReplacement())
        return;
    // Plain text: a description with "<" or "&" must read back exactly as it was typed.
    setPlainText(newText);
    emit descriptionChanged(newText);
}

bool TextEditEmbedded::confirmReplacement()
{
    QMessageBox box(this);
    box.setFont(font());
    box.setTextFormat(Qt::RichText);
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(QStringLiteral("Описание рецепта"));
    box.setText(QStringLiteral("Изменить описание рецепта"));
    QPushButton *no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    QPushButton *yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    box.exec();
    return box.clickedButton() == yes;
}
