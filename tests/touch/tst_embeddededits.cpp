#include "keyboard.h"
#include "lineeditembedded.h"
#include "modalanswerer.h"
#include "stderrcapture.h"
#include "texteditembedded.h"
#include "touchtesting.h"

#include <QApplication>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using namespace TouchTesting;

// The edit fields in a window as the forms build them: a parent that takes the focus back from a touch.
class tst_EmbeddedEdits : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void lineEditHandsTheTextOutThroughItsSignals();
    void lineEditOpensItsKeyboard_data();
    void lineEditOpensItsKeyboard();
    void keyboardTypeIsSetByName_data();
    void keyboardTypeIsSetByName();
    void editWithoutKeyboardIgnoresTouches();
    void keyboardsAreSharedPerKind();
    void cancellingEmitsNothing();
    void textEditWithoutDescriptionTakesTextWithoutQuestion();
    void textEditConfirmsReplacement_data();
    void textEditConfirmsReplacement();
    void textEditKeepsTypedMarkupAsPlainText();
    void destroyedReceiverIsNeverCalled();
    void destructorsLog();

private:
    template<typename Edit> Edit *addEdit(const QString &text);
    Keyboard *openKeyboard();
    void touch(QWidget *edit);

    std::unique_ptr<QWidget> m_window;
};

void tst_EmbeddedEdits::init()
{
    m_window = std::make_unique<QWidget>();
    m_window->setFocusPolicy(Qt::StrongFocus);
    new QVBoxLayout(m_window.get());
}

void tst_EmbeddedEdits::cleanup()
{
    // A keyboard left open would block the next test's window.
    while (auto *keyboard = qobject_cast<Keyboard *>(QApplication::activeModalWidget()))
        keyboard->reject();
    m_window.reset();
}

template<typename Edit> Edit *tst_EmbeddedEdits::addEdit(const QString &text)
{
    auto *edit = new Edit(text, m_window.get());
    edit->setFocusPolicy(Qt::ClickFocus);
    m_window->layout()->addWidget(edit);
    return edit;
}

void tst_EmbeddedEdits::touch(QWidget *edit)
{
    if (!m_window->isVisible()) {
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    // A text edit takes its mouse events through its viewport.
    auto *textEdit = qobject_cast<QTextEdit *>(edit);
    QTest::mouseClick(textEdit ? textEdit->viewport() : edit, Qt::LeftButton);
}

Keyboard *tst_EmbeddedEdits::openKeyboard()
{
    return qobject_cast<Keyboard *>(QApplication::activeModalWidget());
}

void tst_EmbeddedEdits::lineEditHandsTheTextOutThroughItsSignals()
{
    auto *edit = addEdit<LineEditEmbedded>(QStringLiteral("10"));
    edit->setAccessibleName(QStringLiteral("weight"));
    edit->setDescription(QStringLiteral("Вес дозы"));
    QSignalSpy hasEntered(edit, &LineEditEmbedded::textHasEntered);
    QSignalSpy edited(edit, &QLineEdit::textEdited);
    QSignalSpy entered(edit, &LineEditEmbedded::textEntered);

    touch(edit);
    Keyboard *keyboard = openKeyboard();
    QVERIFY(keyboard);
    QCOMPARE(keyboard->windowTitle(), QStringLiteral("Вес дозы"));
    QVERIFY(typeKeys(keyboard, QStringLiteral("25.5")));
    tap(functionKey(keyboard, "enterButton"));

    QCOMPARE(edited.count(), 1);
    QCOMPARE(edited.at(0).at(0).toString(), QStringLiteral("25.5"));
    QCOMPARE(hasEntered.count(), 1);
    QCOMPARE(hasEntered.at(0).at(0).toString(), QStringLiteral("25.5"));
    QCOMPARE(hasEntered.at(0).at(1).toString(), QStringLiteral("weight"));
    QCOMPARE(entered.count(), 0);
    // The owner decides what the field shows.
    QCOMPARE(edit->text(), QStringLiteral("10"));
    QVERIFY(!keyboard->isVisible());

    // Signal-string connects of the owners find the signal under its plain name.
    QVERIFY(QObject::connect(edit, SIGNAL(textHasEntered(QString, QString)), edit, SLOT(clear())));
}

void tst_EmbeddedEdits::lineEditOpensItsKeyboard_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("initialText");

    QTest::addRow("numeric opens empty") << int(Keyboard::NumericKeyboard) << QString();
    QTest::addRow("full-size opens with the text") << int(Keyboard::FullsizeKeyboard) << "Сахар";
}

void tst_EmbeddedEdits::lineEditOpensItsKeyboard()
{
    QFETCH(int, type);
    QFETCH(QString, initialText);

    auto *edit = addEdit<LineEditEmbedded>(QStringLiteral("Сахар"));
    edit->setKeyboardType(type);
    QCOMPARE(edit->description(), QStringLiteral("Ввод"));
    touch(edit);
    Keyboard *keyboard = openKeyboard();
    QVERIFY(keyboard);
    QCOMPARE(keyboard, edit->keyboard());
    QCOMPARE(keyboard->windowTitle(), QStringLiteral("Ввод"));
    QCOMPARE(editingArea(keyboard)->toPlainText(), initialText);
    QCOMPARE(keyboard->receiver(), static_cast<EmbeddedEditInterface *>(edit));
    // The field never keeps the focus from a touch, and a touch places no cursor.
    QVERIFY(!edit->hasFocus());
    QVERIFY(!edit->hasSelectedText());
}

void tst_EmbeddedEdits::keyboardTypeIsSetByName_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("expected");

    QTest::addRow("enumeration") << QVariant::fromValue(Keyboard::FullsizeKeyboard) << 1;
    QTest::addRow("integer") << QVariant(1) << 1;
    QTest::addRow("name") << QVariant(QStringLiteral("FullsizeKeyboard")) << 1;
    QTest::addRow("integer 0") << QVariant(0) << 0;
}

void tst_EmbeddedEdits::keyboardTypeIsSetByName()
{
    QFETCH(QVariant, value);
    QFETCH(int, expected);

    // Forms set the two properties by name.
    auto *edit = addEdit<LineEditEmbedded>(QString());
    QVERIFY(edit->setProperty("KeyboardType", value));
    QVERIFY(edit->setProperty("Description", QStringLiteral("Название рецепта")));
    QCOMPARE(edit->property("KeyboardType").toInt(), expected);
    QCOMPARE(edit->keyboardType(), Keyboard::Type(expected));
    QCOMPARE(edit->keyboard(), LineEditEmbedded::sharedKeyboard(Keyboard::Type(expected)));
    QCOMPARE(edit->property("Description").toString(), QStringLiteral("Название рецепта"));

    auto *text = addEdit<TextEditEmbedded>(QString());
    QVERIFY(text->setProperty("Description", QStringLiteral("Описание рецепта")));
    QCOMPARE(text->description(), QStringLiteral("Описание рецепта"));
}

void tst_EmbeddedEdits::editWithoutKeyboardIgnoresTouches()
{
    auto *edit = addEdit<LineEditEmbedded>(QStringLiteral("7"));
    edit->setKeyboardType(5);
    QCOMPARE(edit->keyboard(), nullptr);
    touch(edit);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(!edit->hasFocus());
}

void tst_EmbeddedEdits::keyboardsAreSharedPerKind()
{
    auto *firstName = addEdit<LineEditEmbedded>(QStringLiteral("a"));
    auto *secondName = addEdit<LineEditEmbedded>(QStringLiteral("b"));
    auto *number = addEdit<LineEditEmbedded>(QStringLiteral("1"));
    auto *description = addEdit<TextEditEmbedded>(QStringLiteral("c"));
    firstName->setKeyboardType(Keyboard::FullsizeKeyboard);
    secondName->setKeyboardType(Keyboard::FullsizeKeyboard);

    QList<Keyboard *> opened;
    for (QWidget *edit : {static_cast<QWidget *>(firstName), static_cast<QWidget *>(secondName),
             static_cast<QWidget *>(number), static_cast<QWidget *>(description)}) {
        touch(edit);
        Keyboard *keyboard = openKeyboard();
        QVERIFY(keyboard);
        opened << keyboard;
        tap(functionKey(keyboard, "escapeButton"));
    }
    QCOMPARE(opened.at(0), opened.at(1));
    QVERIFY(opened.at(2) != opened.at(0));
    QVERIFY(opened.at(3) != opened.at(0));
    QVERIFY(opened.at(3) != opened.at(2));
    QCOMPARE(opened.at(3), TextEditEmbedded::sharedKeyboard());
    QCOMPARE(opened.at(0), LineEditEmbedded::sharedKeyboard(Keyboard::FullsizeKeyboard));
    QCOMPARE(opened.at(2), LineEditEmbedded::sharedKeyboard(Keyboard::NumericKeyboard));
    for (Keyboard *keyboard : opened)
        QCOMPARE(keyboard->parent(), nullptr);
}

void tst_EmbeddedEdits::cancellingEmitsNothing()
{
    auto *line = addEdit<LineEditEmbedded>(QStringLiteral("5"));
    auto *text = addEdit<TextEditEmbedded>(QStringLiteral("Старое"));
    QSignalSpy lineEntered(line, &LineEditEmbedded::textHasEntered);
    QSignalSpy lineEdited(line, &QLineEdit::textEdited);
    QSignalSpy textEntered(text, &TextEditEmbedded::textEntered);
    QSignalSpy textChanged(text, &TextEditEmbedded::descriptionChanged);

    for (QWidget *edit : {static_cast<QWidget *>(line), static_cast<QWidget *>(text)}) {
        touch(edit);
        Keyboard *keyboard = openKeyboard();
        QVERIFY(keyboard);
        QVERIFY(typeKeys(keyboard, QStringLiteral("1")));
        tap(functionKey(keyboard, "escapeButton"));
        QVERIFY(!keyboard->isVisible());
    }
    QCOMPARE(lineEntered.count() + lineEdited.count() + textEntered.count() + textChanged.count(), 0);
    QCOMPARE(line->text(), QStringLiteral("5"));
    QCOMPARE(text->toPlainText(), QStringLiteral("Старое"));
}

void tst_EmbeddedEdits::textEditWithoutDescriptionTakesTextWithoutQuestion()
{
    auto *text = addEdit<TextEditEmbedded>(TextEditEmbedded::emptyDescriptionText().toUpper());
    QSignalSpy changed(text, &TextEditEmbedded::descriptionChanged);
    touch(text);
    Keyboard *keyboard = openKeyboard();
    QVERIFY(keyboard);
    QCOMPARE(editingArea(keyboard)->toPlainText(), QString());
    QVERIFY(typeKeys(keyboard, QStringLiteral("мука")));
    // Any box would stay open and fail the test through its time-out; none may appear.
    tap(functionKey(keyboard, "enterButton"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), QStringLiteral("мука"));
    QCOMPARE(text->toPlainText(), QStringLiteral("мука"));
}

void tst_EmbeddedEdits::textEditConfirmsReplacement_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("result");

    const QString none = TextEditEmbedded::emptyDescriptionText();
    QTest::addRow("other text, Да replaces") << "соль"
                                             << "Да" << true << "соль";
    QTest::addRow("other text, Нет keeps") << "соль"
                                           << "Нет" << true << "сахар";
    QTest::addRow("same text in capitals: nothing") << "САХАР"
                                                    << "" << false << "сахар";
    QTest::addRow("cleared, Да sets no description") << ""
                                                     << "Да" << true << none;
    QTest::addRow("cleared, Нет keeps") << ""
                                        << "Нет" << true << "сахар";
}

void tst_EmbeddedEdits::textEditConfirmsReplacement()
{
    QFETCH(QString, typed);
    QFETCH(QString, answer);
    QFETCH(bool, asked);
    QFETCH(QString, result);

    auto *text = addEdit<TextEditEmbedded>(QStringLiteral("сахар"));
    QSignalSpy changed(text, &TextEditEmbedded::descriptionChanged);
    touch(text);
    Keyboard *keyboard = openKeyboard();
    QVERIFY(keyboard);
    QCOMPARE(editingArea(keyboard)->toPlainText(), QStringLiteral("сахар"));
    editingArea(keyboard)->selectAll();
    tap(functionKey(keyboard, "backspaceButton"));
    if (typed == typed.toUpper() && !typed.isEmpty())
        tap(functionKey(keyboard, "capsLockButton"));
    QVERIFY(typeKeys(keyboard, typed));

    std::unique_ptr<ModalAnswerer> answerer;
    if (asked)
        answerer = std::make_unique<ModalAnswerer>(answer);
    tap(functionKey(keyboard, "enterButton"));
    if (asked) {
        QVERIFY(answerer->answered());
        QCOMPARE(answerer->boxTitle(), QStringLiteral("Описание рецепта"));
        QCOMPARE(answerer->boxText(), QStringLiteral("Изменить описание рецепта"));
        QCOMPARE(answerer->defaultButtonText(), QStringLiteral("Нет"));
    }
    QCOMPARE(text->toPlainText(), result);
    QCOMPARE(changed.count(), result == QStringLiteral("сахар") ? 0 : 1);
    if (!changed.isEmpty())
        QCOMPARE(changed.at(0).at(0).toString(), result);
    if (keyboard->mode() & 2)
        keyboard->capsPressed();
}

void tst_EmbeddedEdits::textEditKeepsTypedMarkupAsPlainText()
{
    auto *text = addEdit<TextEditEmbedded>(TextEditEmbedded::emptyDescriptionText());
    QSignalSpy changed(text, &TextEditEmbedded::descriptionChanged);
    text->applyText(QStringLiteral("<b>сахар</b> & соль"));
    QCOMPARE(text->toPlainText(), QStringLiteral("<b>сахар</b> & соль"));
    QCOMPARE(changed.count(), 1);
}

void tst_EmbeddedEdits::destroyedReceiverIsNeverCalled()
{
    auto *edit = addEdit<LineEditEmbedded>(QStringLiteral("1"));
    touch(edit);
    Keyboard *keyboard = openKeyboard();
    QVERIFY(keyboard);
    delete edit;
    QCOMPARE(keyboard->receiver(), nullptr);
    QVERIFY(!keyboard->isVisible());
}

void tst_EmbeddedEdits::destructorsLog()
{
    StderrCapture capture;
    delete new LineEditEmbedded(nullptr);
    delete new TextEditEmbedded(nullptr);
    QCOMPARE(capture.text(), QByteArray("~LineEditEmbedded()\n~TextEditEmbedded()\n"));
}

QTEST_MAIN(tst_EmbeddedEdits)
#include "tst_embeddededits.moc"
