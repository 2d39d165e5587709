#include "keyboard.h"
#include "keyboardbutton.h"
#include "keyboardswitchwidget.h"
#include "lineeditembedded.h"
#include "stderrcapture.h"
#include "texteditembedded.h"
#include "touchtesting.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using namespace TouchTesting;

class tst_Keyboard : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void fullsizeLabelsFollowTheModeKeys_data();
    void fullsizeLabelsFollowTheModeKeys();
    void shiftAppliesToOneCharacter();
    void shiftedKeysType_data();
    void shiftedKeysType();
    void secondDecimalPointIsRefused_data();
    void secondDecimalPointIsRefused();
    void namesAndDescriptionsType_data();
    void namesAndDescriptionsType();
    void backspace_data();
    void backspace();
    void keyTypesOncePerPress_data();
    void keyTypesOncePerPress();
    void cursorKeyTapMovesOnceOnRelease_data();
    void cursorKeyTapMovesOnceOnRelease();
    void cursorKeyHoldRepeats();
    void escapeLeavesTheReceiverUntouched();
    void enterWithEmptyAreaHandsBackEmptyText();
    void enterSetsTheTextOfATargetWidget_data();
    void enterSetsTheTextOfATargetWidget();
    void numericKeyboardShowsOnlyItsKeys();
    void layoutIsToThePixel_data();
    void layoutIsToThePixel();
    void switchWidgetOpensTheKeyboardForTheFocusedWidget();
    void destructorLogs();

private:
    Keyboard *fullsize();
    Keyboard *numeric();
    void open(Keyboard *keyboard, const QString &text);

    std::unique_ptr<Keyboard> m_fullsize;
    std::unique_ptr<Keyboard> m_numeric;
    std::unique_ptr<LineEditEmbedded> m_receiver;
};

void tst_Keyboard::init()
{
    m_receiver = std::make_unique<LineEditEmbedded>();
    m_receiver->setAccessibleName(QStringLiteral("receiver"));
}

void tst_Keyboard::cleanup()
{
    m_fullsize.reset();
    m_numeric.reset();
    m_receiver.reset();
}

Keyboard *tst_Keyboard::fullsize()
{
    if (!m_fullsize)
        m_fullsize.reset(Keyboard::createKeyboard(Keyboard::FullsizeKeyboard));
    return m_fullsize.get();
}

Keyboard *tst_Keyboard::numeric()
{
    if (!m_numeric)
        m_numeric.reset(Keyboard::createKeyboard(Keyboard::NumericKeyboard));
    return m_numeric.get();
}

void tst_Keyboard::open(Keyboard *keyboard, const QString &text)
{
    keyboard->showFor(m_receiver.get(), QStringLiteral("Ввод"), text);
    QVERIFY(QTest::qWaitForWindowExposed(keyboard));
}

void tst_Keyboard::fullsizeLabelsFollowTheModeKeys_data()
{
    QTest::addColumn<QStringList>("touches");
    QTest::addColumn<QString>("firstLetter");
    QTest::addColumn<QString>("firstKey");
    QTest::addColumn<bool>("shiftChecked");
    QTest::addColumn<bool>("capsChecked");

    QTest::addRow("new keyboard: Russian lower case") << QStringList {} << "й"
                                                      << "ё" << false << false;
    QTest::addRow("En-Ru: Latin lower case") << QStringList {"languageButton"} << "q"
                                             << "`" << false << false;
    QTest::addRow("En-Ru, Caps Lock: Latin capitals") << QStringList {"languageButton", "capsLockButton"} << "Q"
                                                      << "`" << false << true;
    QTest::addRow("En-Ru twice: back to Russian") << QStringList {"languageButton", "languageButton"} << "й"
                                                  << "ё" << false << false;
    QTest::addRow("Caps Lock: Russian capitals") << QStringList {"capsLockButton"} << "Й"
                                                 << "Ё" << false << true;
    QTest::addRow("Shift: Russian capitals") << QStringList {"leftShiftButton"} << "Й"
                                             << "Ё" << true << false;
    QTest::addRow("right Shift like left") << QStringList {"rightShiftButton"} << "Й"
                                           << "Ё" << true << false;
    QTest::addRow("Caps Lock and Shift: lower case") << QStringList {"capsLockButton", "leftShiftButton"} << "й"
                                                     << "ё" << true << true;
    QTest::addRow("Latin Caps Lock and Shift: lower case")
        << QStringList {"languageButton", "capsLockButton", "rightShiftButton"} << "q"
        << "~" << true << true;
    QTest::addRow("Shift twice: off again") << QStringList {"leftShiftButton", "rightShiftButton"} << "й"
                                            << "ё" << false << false;
    QTest::addRow("language keeps Caps Lock") << QStringList {"capsLockButton", "languageButton"} << "Q"
                                              << "`" << false << true;
}

void tst_Keyboard::fullsizeLabelsFollowTheModeKeys()
{
    QFETCH(QStringList, touches);
    QFETCH(QString, firstLetter);
    QFETCH(QString, firstKey);
    QFETCH(bool, shiftChecked);
    QFETCH(bool, capsChecked);

    Keyboard *keyboard = fullsize();
    open(keyboard, QString());
    for (const QString &name : touches)
        tap(functionKey(keyboard, qPrintable(name)));

    const auto keys = keyboard->findChildren<KeyboardButton *>();
    // Row 1 is laid out first, row 2 after its fourteen keys.
    QCOMPARE(keys.at(0)->text(), firstKey);
    QCOMPARE(keys.at(14)->text(), firstLetter);
    QCOMPARE(functionKey(keyboard, "leftShiftButton")->isChecked(), shiftChecked);
    QCOMPARE(functionKey(keyboard, "rightShiftButton")->isChecked(), shiftChecked);
    QCOMPARE(functionKey(keyboard, "capsLockButton")->isChecked(), capsChecked);
    QVERIFY(!functionKey(keyboard, "languageButton")->isCheckable());
}

void tst_Keyboard::shiftAppliesToOneCharacter()
{
    Keyboard *keyboard = fullsize();
    open(keyboard, QString());
    tap(functionKey(keyboard, "leftShiftButton"));
    QVERIFY(typeKeys(keyboard, QStringLiteral("П")));
    QVERIFY(!functionKey(keyboard, "leftShiftButton")->isChecked());
    QVERIFY(!functionKey(keyboard, "rightShiftButton")->isChecked());
    QVERIFY(typeKeys(keyboard, QStringLiteral("ар")));
    QCOMPARE(editingArea(keyboard)->toPlainText(), QStringLiteral("Пар"));
    QCOMPARE(keyboard->mode(), int(Keyboard::Ru));

    // Caps Lock stays on after a character; Shift on top of it gives one lower-case letter.
    tap(functionKey(keyboard, "capsLockButton"));
    tap(functionKey(keyboard, "rightShiftButton"));
    QVERIFY(typeKeys(keyboard, QStringLiteral("а")));
    QVERIFY(typeKeys(keyboard, QStringLiteral("Б")));
    QVERIFY(functionKey(keyboard, "capsLockButton")->isChecked());
    QCOMPARE(editingArea(keyboard)->toPlainText(), QStringLiteral("ПараБ"));
}

void tst_Keyboard::shiftedKeysType_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");

    // Rows of the full-size keyboard hold 14, 12, 11 and 10 keys, then the space bar; the digit d is key d + 1
    // of row 1.
    QTest::addRow("Russian Shift 2") << false << true << 1 << 3 << "\"";
    QTest::addRow("Russian Shift 3") << false << true << 1 << 4 << "№";
    QTest::addRow("Russian Shift 4") << false << true << 1 << 5 << ";";
    QTest::addRow("Russian Shift 6") << false << true << 1 << 7 << ":";
    QTest::addRow("Russian Shift 7") << false << true << 1 << 8 << "?";
    QTest::addRow("English Shift 2") << true << true << 1 << 3 << "@";
    QTest::addRow("English Shift 7") << true << true << 1 << 8 << "&";
    QTest::addRow("Russian backslash key") << false << true << 1 << 14 << "/";
    QTest::addRow("Russian last key of row 4") << false << false << 4 << 10 << ".";
    QTest::addRow("English last key of row 4") << true << false << 4 << 10 << "/";
    QTest::addRow("Russian Shift last key of row 4") << false << true << 4 << 10 << ",";
    QTest::addRow("Russian apostrophe key") << false << false << 3 << 11 << "э";
    QTest::addRow("English Shift apostrophe key") << true << true << 3 << 11 << "\"";
    QTest::addRow("Russian first key") << false << false << 1 << 1 << "ё";
    QTest::addRow("space bar") << false << false << 5 << 1 << " ";
}

void tst_Keyboard::shiftedKeysType()
{
    QFETCH(bool, english);
    QFETCH(bool, shift);
    QFETCH(int, row);
    QFETCH(int, index);
    QFETCH(QString, typed);

    Keyboard *keyboard = fullsize();
    open(keyboard, QString());
    if (english)
        tap(functionKey(keyboard, "languageButton"));
    if (shift)
        tap(functionKey(keyboard, "leftShiftButton"));
    const int rowStart[] = {0, 0, 14, 26, 37, 47};
    const auto keys = keyboard->findChildren<KeyboardButton *>();
    QCOMPARE(keys.size(), 51);
    tap(keys.at(rowStart[row] + index - 1));
    QCOMPARE(editingArea(keyboard)->toPlainText(), typed);
}

void tst_Keyboard::secondDecimalPointIsRefused_data()
{
    QTest::addColumn<bool>("numericType");
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");

    QTest::addRow("point into 12.5") << true << "12.5"
                                     << "."
                                     << "12.5";
    QTest::addRow("point into 125 at the end") << true << "125"
                                               << "."
                                               << "125.";
    QTest::addRow("two points typed") << true << ""
                                      << "1..5"
                                      << "1.5";
    QTest::addRow("digits after the point") << true << "0."
                                            << "25"
                                            << "0.25";
    // Text is no number: "в.с." (a grade of flour) needs its second point.
    QTest::addRow("full-size point into в.с") << false << "в.с"
                                              << "."
                                              << "в.с.";
}

void tst_Keyboard::secondDecimalPointIsRefused()
{
    QFETCH(bool, numericType);
    QFETCH(QString, initial);
    QFETCH(QString, typed);
    QFETCH(QString, result);

    Keyboard *keyboard = numericType ? numeric() : fullsize();
    open(keyboard, initial);
    QVERIFY(typeKeys(keyboard, typed));
    QCOMPARE(editingArea(keyboard)->toPlainText(), result);
}

void tst_Keyboard::namesAndDescriptionsType_data()
{
    QTest::addColumn<bool>("description");
    QTest::addColumn<bool>("english");
    // Keys touched in order; "\n" is the line-break key, "\r" a Return from a physical keyboard.
    QTest::addColumn<QString>("touched");
    QTest::addColumn<QString>("handedBack");

    QTest::addRow("quotes and number sign, Russian") << false << false << "«мука» №2"
                                                     << "«мука» №2";
    QTest::addRow("quotes and number sign, English") << false << true << "«flour» №2"
                                                     << "«flour» №2";
    QTest::addRow("line break in a description") << true << false << "в.с.\n№1"
                                                 << "в.с.\n№1";
    QTest::addRow("Return into a one-line value is a space") << false << false << "в.с.\r№1"
                                                             << "в.с. №1";
}

// What names ("«Экстра» в.с.", "№ 2") and multi-line recipe descriptions need; a one-line value never
// gets a line break, not even one typed on a physical keyboard.
void tst_Keyboard::namesAndDescriptionsType()
{
    QFETCH(bool, description);
    QFETCH(bool, english);
    QFETCH(QString, touched);
    QFETCH(QString, handedBack);

    TextEditEmbedded descriptionEdit(TextEditEmbedded::emptyDescriptionText());
    Keyboard *keyboard = fullsize();
    if (description)
        keyboard->showFor(&descriptionEdit, QStringLiteral("Описание"), QString());
    else
        open(keyboard, QString());
    QVERIFY(QTest::qWaitForWindowExposed(keyboard));
    QPushButton *lineBreak = functionKey(keyboard, "lineBreakButton");
    QCOMPARE(lineBreak->isVisible(), description);
    if (english)
        tap(functionKey(keyboard, "languageButton"));
    for (const QChar c : touched) {
        if (c == QLatin1Char('\n'))
            tap(lineBreak);
        else if (c == QLatin1Char('\r'))
            QTest::keyClick(editingArea(keyboard), Qt::Key_Return);
        else
            QVERIFY2(typeKeys(keyboard, QString(c)), qPrintable(QString(c)));
    }
    QSignalSpy entered(keyboard, &Keyboard::textEntered);
    tap(functionKey(keyboard, "enterButton"));
    QCOMPARE(entered.size(), 1);
    QCOMPARE(entered.at(0).at(0).toString(), handedBack);
    if (description)
        QCOMPARE(descriptionEdit.toPlainText(), handedBack);
}

void tst_Keyboard::backspace_data()
{
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("cursorAfter");

    QTest::addRow("selection is removed") << 1 << 3 << "145" << 1;
    QTest::addRow("selection made backwards") << 4 << 2 << "125" << 2;
    QTest::addRow("character before the cursor") << 3 << 3 << "1245" << 2;
    QTest::addRow("at the end") << 5 << 5 << "1234" << 4;
    QTest::addRow("at the start nothing") << 0 << 0 << "12345" << 0;
}

void tst_Keyboard::backspace()
{
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(QString, result);
    QFETCH(int, cursorAfter);

    Keyboard *keyboard = numeric();
    open(keyboard, QStringLiteral("12345"));
    QTextEdit *area = editingArea(keyboard);
    QTextCursor cursor = area->textCursor();
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    area->setTextCursor(cursor);

    tap(functionKey(keyboard, "backspaceButton"));
    QCOMPARE(area->toPlainText(), result);
    QCOMPARE(area->textCursor().position(), cursorAfter);
}

void tst_Keyboard::keyTypesOncePerPress_data()
{
    QTest::addColumn<QList<QPoint>>("moves");

    QTest::addRow("tap") << QList<QPoint> {};
    QTest::addRow("moves on the key") << QList<QPoint> {{20, 20}, {25, 30}, {30, 30}};
    QTest::addRow("slides off") << QList<QPoint> {{30, 30}, {120, 30}};
    QTest::addRow("slides off and back") << QList<QPoint> {{30, 30}, {120, 30}, {30, 30}, {31, 31}};
}

void tst_Keyboard::keyTypesOncePerPress()
{
    QFETCH(QList<QPoint>, moves);

    Keyboard *keyboard = numeric();
    open(keyboard, QString());
    KeyboardButton *seven = key(keyboard, QStringLiteral("7"));
    QVERIFY(seven);
    QTest::mousePress(seven, Qt::LeftButton, {}, QPoint(30, 30));
    QCOMPARE(editingArea(keyboard)->toPlainText(), QString());
    for (const QPoint &point : moves)
        QTest::mouseMove(seven, point);
    QTest::mouseRelease(seven, Qt::LeftButton, {}, moves.isEmpty() ? QPoint(30, 30) : moves.last());
    QCOMPARE(editingArea(keyboard)->toPlainText(), QStringLiteral("7"));

    // The next press types again.
    tap(seven);
    QCOMPARE(editingArea(keyboard)->toPlainText(), QStringLiteral("77"));
}

void tst_Keyboard::cursorKeyTapMovesOnceOnRelease_data()
{
    QTest::addColumn<QString>("keyName");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("expected");

    // Two lines of 40 characters (the editing area is 598 pixels wide), so up and down have somewhere to go.
    QTest::addRow("left") << "leftButton" << 5 << 4;
    QTest::addRow("right") << "rightButton" << 5 << 6;
    QTest::addRow("up") << "upButton" << 46 << 5;
    QTest::addRow("down") << "downButton" << 5 << 46;
    QTest::addRow("left at the start") << "leftButton" << 0 << 0;
}

void tst_Keyboard::cursorKeyTapMovesOnceOnRelease()
{
    QFETCH(QString, keyName);
    QFETCH(int, start);
    QFETCH(int, expected);

    Keyboard *keyboard = fullsize();
    open(keyboard, QString(40, QLatin1Char('a')) + QLatin1Char('\n') + QString(40, QLatin1Char('b')));
    QTextEdit *area = editingArea(keyboard);
    QTextCursor cursor = area->textCursor();
    cursor.setPosition(start);
    area->setTextCursor(cursor);

    QPushButton *button = functionKey(keyboard, qPrintable(keyName));
    QTest::mousePress(button, Qt::LeftButton);
    QCOMPARE(area->textCursor().position(), start);
    QTest::mouseRelease(button, Qt::LeftButton);
    QCOMPARE(area->textCursor().position(), expected);
    QVERIFY(!area->textCursor().hasSelection());
}

void tst_Keyboard::cursorKeyHoldRepeats()
{
    Keyboard *keyboard = fullsize();
    open(keyboard, QString(60, QLatin1Char('x')));
    QTextEdit *area = editingArea(keyboard);
    area->moveCursor(QTextCursor::End);

    QElapsedTimer clock;
    QList<qint64> moveTimes;
    connect(area, &QTextEdit::cursorPositionChanged, this, [&] { moveTimes << clock.elapsed(); });
    QSignalSpy moves(area, &QTextEdit::cursorPositionChanged);

    QPushButton *left = functionKey(keyboard, "leftButton");
    clock.start();
    QTest::mousePress(left, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(moves.count(), 6, 3000);
    QTest::mouseRelease(left, Qt::LeftButton);
    const int positionAtRelease = area->textCursor().position();
    QCOMPARE(positionAtRelease, 60 - moves.count());

    // Move k is due 300 + 100 k ms after the press and never comes early; a busy machine may make it late,
    // hence the loose upper bounds.
    for (int k = 0; k < 6; ++k) {
        const qint64 due = 300 + 100 * k;
        QVERIFY2(
            moveTimes.at(k) >= due - 5, qPrintable(QStringLiteral("move %1 at %2 ms").arg(k).arg(moveTimes.at(k))));
    }
    QVERIFY2(moveTimes.at(0) < 1000, qPrintable(QString::number(moveTimes.at(0))));
    const qint64 meanInterval = (moveTimes.at(5) - moveTimes.at(0)) / 5;
    QVERIFY2(meanInterval < 300, qPrintable(QString::number(meanInterval)));

    // No extra move on release, and none later.
    QVERIFY(!moves.wait(400));
    QCOMPARE(area->textCursor().position(), positionAtRelease);
}

void tst_Keyboard::escapeLeavesTheReceiverUntouched()
{
    m_receiver->setText(QStringLiteral("10"));
    QSignalSpy entered(m_receiver.get(), &LineEditEmbedded::textHasEntered);
    QSignalSpy edited(m_receiver.get(), &QLineEdit::textEdited);
    Keyboard *keyboard = numeric();
    QSignalSpy keyboardEntered(keyboard, &Keyboard::textEntered);
    open(keyboard, QString());
    QVERIFY(typeKeys(keyboard, QStringLiteral("25")));

    tap(functionKey(keyboard, "escapeButton"));
    QVERIFY(!keyboard->isVisible());
    QCOMPARE(entered.count(), 0);
    QCOMPARE(edited.count(), 0);
    QCOMPARE(m_receiver->text(), QStringLiteral("10"));
    QCOMPARE(keyboardEntered.count(), 1);
    QCOMPARE(keyboardEntered.at(0).at(0).toString(), QString());
    QCOMPARE(keyboard->receiver(), nullptr);
    QCOMPARE(keyboard->result(), int(QDialog::Rejected));
}

void tst_Keyboard::enterWithEmptyAreaHandsBackEmptyText()
{
    QSignalSpy entered(m_receiver.get(), &LineEditEmbedded::textHasEntered);
    Keyboard *keyboard = numeric();
    QSignalSpy keyboardEntered(keyboard, &Keyboard::textEntered);
    open(keyboard, QString());

    tap(functionKey(keyboard, "enterButton"));
    QVERIFY(!keyboard->isVisible());
    QCOMPARE(entered.count(), 1);
    QCOMPARE(entered.at(0).at(0).toString(), QString());
    QCOMPARE(entered.at(0).at(1).toString(), QStringLiteral("receiver"));
    QCOMPARE(keyboardEntered.count(), 1);
    QCOMPARE(keyboardEntered.at(0).at(0).toString(), QString());
    QCOMPARE(keyboard->receiver(), nullptr);
    QCOMPARE(keyboard->result(), int(QDialog::Accepted));

    // Reopened, the keyboard hands back to the new receiver only what was typed this time.
    open(keyboard, QString());
    QVERIFY(typeKeys(keyboard, QStringLiteral("3.5")));
    tap(functionKey(keyboard, "enterButton"));
    QCOMPARE(entered.count(), 2);
    QCOMPARE(entered.at(1).at(0).toString(), QStringLiteral("3.5"));
}

void tst_Keyboard::enterSetsTheTextOfATargetWidget_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addRow("button") << "button";
    QTest::addRow("label") << "label";
    QTest::addRow("line edit") << "line edit";
}

void tst_Keyboard::enterSetsTheTextOfATargetWidget()
{
    QFETCH(QString, kind);
    std::unique_ptr<QWidget> target;
    if (kind == QLatin1String("button"))
        target = std::make_unique<QPushButton>(QStringLiteral("old"));
    else if (kind == QLatin1String("label"))
        target = std::make_unique<QLabel>(QStringLiteral("old"));
    else
        target = std::make_unique<QLineEdit>(QStringLiteral("old"));

    Keyboard *keyboard = fullsize();
    keyboard->showForWidget(target.get(), QStringLiteral("Title"));
    QVERIFY(QTest::qWaitForWindowExposed(keyboard));
    QCOMPARE(editingArea(keyboard)->toPlainText(), QString());
    QCOMPARE(keyboard->windowTitle(), QStringLiteral("Title"));
    QVERIFY(typeKeys(keyboard, QStringLiteral("нов")));
    tap(functionKey(keyboard, "enterButton"));
    QCOMPARE(target->property("text").toString(), QStringLiteral("нов"));
    QCOMPARE(keyboard->target(), nullptr);
}

void tst_Keyboard::numericKeyboardShowsOnlyItsKeys()
{
    Keyboard *keyboard = numeric();
    open(keyboard, QString());
    QStringList shown;
    const auto buttons = keyboard->findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->isVisible())
            shown << button->text();
    }
    shown.sort();
    QCOMPARE(shown, QStringList({".", "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "<-", "Enter", "Esc"}));
    QVERIFY(editingArea(keyboard)->isVisible());
}

void tst_Keyboard::layoutIsToThePixel_data()
{
    QTest::addColumn<bool>("numericType");
    QTest::addColumn<QString>("element");
    QTest::addColumn<QRect>("geometry");

    QTest::addRow("full-size window") << false << "window" << QRect(0, 0, 962, 416);
    QTest::addRow("full-size Esc") << false << "escapeButton" << QRect(0, 13, 52, 52);
    QTest::addRow("full-size editing area") << false << "editingArea" << QRect(104, 13, 598, 52);
    QTest::addRow("full-size left") << false << "leftButton" << QRect(715, 13, 52, 52);
    QTest::addRow("full-size right") << false << "rightButton" << QRect(780, 13, 52, 52);
    QTest::addRow("full-size up") << false << "upButton" << QRect(845, 13, 52, 52);
    QTest::addRow("full-size down") << false << "downButton" << QRect(910, 13, 52, 52);
    QTest::addRow("full-size backspace") << false << "backspaceButton" << QRect(910, 104, 52, 52);
    QTest::addRow("full-size Enter") << false << "enterButton" << QRect(884, 169, 78, 117);
    QTest::addRow("full-size En-Ru") << false << "languageButton" << QRect(0, 169, 91, 52);
    QTest::addRow("full-size Caps Lock") << false << "capsLockButton" << QRect(0, 234, 104, 52);
    QTest::addRow("full-size left Shift") << false << "leftShiftButton" << QRect(0, 299, 143, 52);
    QTest::addRow("full-size right Shift") << false << "rightShiftButton" << QRect(806, 299, 156, 52);
    QTest::addRow("full-size key ё") << false << "key 0" << QRect(0, 104, 52, 52);
    QTest::addRow("full-size last key of row 1") << false << "key 13" << QRect(845, 104, 52, 52);
    QTest::addRow("full-size key й") << false << "key 14" << QRect(104, 169, 52, 52);
    QTest::addRow("full-size key ф") << false << "key 26" << QRect(117, 234, 52, 52);
    QTest::addRow("full-size key я") << false << "key 37" << QRect(156, 299, 52, 52);
    QTest::addRow("full-size last key of row 4") << false << "key 46" << QRect(741, 299, 52, 52);
    QTest::addRow("full-size space bar") << false << "key 47" << QRect(273, 364, 351, 52);
    QTest::addRow("full-size «") << false << "key 48" << QRect(637, 364, 52, 52);
    QTest::addRow("full-size №") << false << "key 50" << QRect(767, 364, 52, 52);
    QTest::addRow("full-size line break") << false << "lineBreakButton" << QRect(832, 364, 130, 52);

    QTest::addRow("numeric window") << true << "window" << QRect(0, 0, 285, 375);
    QTest::addRow("numeric Esc") << true << "escapeButton" << QRect(0, 15, 60, 60);
    QTest::addRow("numeric editing area") << true << "editingArea" << QRect(75, 15, 210, 60);
    QTest::addRow("numeric backspace") << true << "backspaceButton" << QRect(225, 90, 60, 60);
    QTest::addRow("numeric Enter") << true << "enterButton" << QRect(225, 240, 60, 135);
    QTest::addRow("numeric key 7") << true << "key 0" << QRect(0, 90, 60, 60);
    QTest::addRow("numeric key 9") << true << "key 2" << QRect(150, 90, 60, 60);
    QTest::addRow("numeric key 1") << true << "key 6" << QRect(0, 240, 60, 60);
    QTest::addRow("numeric key 0") << true << "key 9" << QRect(0, 315, 135, 60);
    QTest::addRow("numeric point") << true << "key 10" << QRect(150, 315, 60, 60);
}

void tst_Keyboard::layoutIsToThePixel()
{
    QFETCH(bool, numericType);
    QFETCH(QString, element);
    QFETCH(QRect, geometry);

    Keyboard *keyboard = numericType ? numeric() : fullsize();
    QWidget *widget = nullptr;
    if (element == QLatin1String("window")) {
        QCOMPARE(keyboard->size(), geometry.size());
        QCOMPARE(keyboard->minimumSize(), keyboard->maximumSize());
        return;
    }
    if (element.startsWith(QLatin1String("key ")))
        widget = keyboard->findChildren<KeyboardButton *>().value(element.mid(4).toInt());
    else
        widget = keyboard->findChild<QWidget *>(element);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
}

void tst_Keyboard::switchWidgetOpensTheKeyboardForTheFocusedWidget()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *switcher = new KeyboardSwitchWidget(&window);
    switcher->setProperty("type", QVariant::fromValue(Keyboard::FullsizeKeyboard));
    auto *field = new QLineEdit(QStringLiteral("old"), &window);
    field->setFocusPolicy(Qt::ClickFocus);
    field->setFocusProxy(switcher);
    layout->addWidget(switcher);
    layout->addWidget(field);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    Keyboard *keyboard = switcher->keyboard();
    QVERIFY(keyboard);
    QCOMPARE(keyboard->windowTitle(), QStringLiteral("Keyboard"));
    QTest::mouseClick(field, Qt::LeftButton);
    QTRY_VERIFY(keyboard->isVisible());
    QCOMPARE(keyboard->windowTitle(), QStringLiteral("Title"));
    QCOMPARE(keyboard->target(), field);
    QVERIFY(!field->hasFocus());

    tap(functionKey(keyboard, "languageButton"));
    QVERIFY(typeKeys(keyboard, QStringLiteral("new")));
    tap(functionKey(keyboard, "enterButton"));
    QCOMPARE(field->text(), QStringLiteral("new"));
    QVERIFY(!keyboard->isVisible());
    // Left in Latin for the next opening: the mode outlives the opening.
    QCOMPARE(keyboard->mode(), int(Keyboard::En));
    tap(functionKey(keyboard, "languageButton"));
}

void tst_Keyboard::destructorLogs()
{
    StderrCapture capture;
    delete Keyboard::createKeyboard(Keyboard::NumericKeyboard);
    QCOMPARE(capture.text(), QByteArray("~Keyboard()\n"));
}

QTEST_MAIN(tst_Keyboard)
#include "tst_keyboard.moc"
