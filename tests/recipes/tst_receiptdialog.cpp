#include "modalanswerer.h"
#include "receiptdialog.h"
#include "receiptstore.h"
#include "sqlitequery.h"
#include "stderrcapture.h"
#include "testworkdir.h"
#include "touchtyping.h"

#include <QtTest>
#include <QtWidgets>

namespace {
const QString emptyText = QStringLiteral("Описание рецепта отсутствует. Для добавления описания нажмите на это поле.");
const QString forbiddenText = QStringLiteral("Символы \\ / : * ? \" > | в названии рецепта не допустимы");

QString recipeName(int i)
{
    return QStringLiteral("Рецепт %1").arg(i, 2, 10, QLatin1Char('0'));
}
} // namespace

/// The recipe manager on real recipe files in a private store, driven by touches on its own widgets.
class tst_ReceiptDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void refreshWithoutCurrentName();
    void refreshWithCurrentName();
    void refreshWithVanishedCurrentName();
    void refreshEmptyStore();
    void touchingRecipeShowsIt();
    void shortListHasNoScrollButtons();
    void tapsMoveOneRow();
    void holdRepeatsWithoutReadingPassedRecipes();
    void holdStopsAtLastRow();
    void descriptionScrollButtons();
    void renameRefusals_data();
    void renameRefusals();
    void renameToSameNameInOtherCaseDoesNothing();
    void renameDeclined();
    void rename();
    void renameRefusedByFileSystemIsSilent();
    void descriptionUpdate();
    void deleteMiddleRecipe();
    void deleteLastRecipe();
    void deleteDeclinedOrFileAlreadyGone();
    void handOverToHost_data();
    void handOverToHost();
    void handOverDeclined();
    void enablingSlots();
    void closeButton();

private:
    void makeRecipes(int count);
    void openManager(const QString &current = QString());
    QPushButton *button(const char *name) const;
    QListWidget *list() const;
    LineEditEmbedded *nameField() const;
    TextEditEmbedded *descriptionField() const;
    QStringList listedNames() const;

    TestWorkDir *m_dir = nullptr;
    ReceiptDialog *m_dialog = nullptr;
};

void tst_ReceiptDialog::init()
{
    // A string connection that fails or a box nobody expected must fail the test, not just warn.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::(dis)?connect|doser\\.recipes")));
    m_dir = new TestWorkDir;
    ReceiptStore::createStoreDir();
    m_dialog = new ReceiptDialog;
}

void tst_ReceiptDialog::cleanup()
{
    delete m_dialog;
    m_dialog = nullptr;
    delete m_dir;
    m_dir = nullptr;
}

void tst_ReceiptDialog::makeRecipes(int count)
{
    for (int i = 0; i < count; ++i)
        ReceiptStore::createReceipt(recipeName(i), QStringLiteral("Описание %1").arg(i));
}

void tst_ReceiptDialog::openManager(const QString &current)
{
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    m_dialog->refreshReceipts(current);
}

QPushButton *tst_ReceiptDialog::button(const char *name) const
{
    return m_dialog->findChild<QPushButton *>(QLatin1String(name));
}

QListWidget *tst_ReceiptDialog::list() const
{
    return m_dialog->findChild<QListWidget *>(QStringLiteral("receiptListWidget"));
}

LineEditEmbedded *tst_ReceiptDialog::nameField() const
{
    return m_dialog->findChild<LineEditEmbedded *>(QStringLiteral("receiptNamelineEdit"));
}

TextEditEmbedded *tst_ReceiptDialog::descriptionField() const
{
    return m_dialog->findChild<TextEditEmbedded *>(QStringLiteral("descriptionTextEdit"));
}

QStringList tst_ReceiptDialog::listedNames() const
{
    QStringList names;
    for (int row = 0; row < list()->count(); ++row)
        names.append(list()->item(row)->text());
    return names;
}

void tst_ReceiptDialog::refreshWithoutCurrentName()
{
    ReceiptStore::createReceipt(QStringLiteral("b"), QStringLiteral("второй"));
    ReceiptStore::createReceipt(QStringLiteral("a"), QStringLiteral("первый"));
    QFile(ReceiptStore::storePath() + QStringLiteral("notes.txt")).open(QIODevice::WriteOnly);
    openManager();
    QCOMPARE(listedNames(), (QStringList {QStringLiteral("a\n"), QStringLiteral("b\n")}));
    QCOMPARE(m_dialog->findChild<QLabel *>(QStringLiteral("currentReceiptNameLabel"))->text(),
        QStringLiteral("отсутствует"));
    QCOMPARE(list()->currentRow(), 0);
    QCOMPARE(nameField()->text(), QStringLiteral("a"));
    QCOMPARE(descriptionField()->toPlainText(), QStringLiteral("первый"));
    QVERIFY(nameField()->isEnabled());
    QVERIFY(descriptionField()->isEnabled());
    for (const char *name : {"loadReceiptButton", "changeReceiptButton", "deleteReceiptButton", "createReceiptButton"})
        QVERIFY2(button(name)->isEnabled(), name);
}

void tst_ReceiptDialog::refreshWithCurrentName()
{
    makeRecipes(3);
    openManager(recipeName(2));
    QCOMPARE(m_dialog->findChild<QLabel *>(QStringLiteral("currentReceiptNameLabel"))->text(), recipeName(2));
    QCOMPARE(list()->currentRow(), 2);
    QCOMPARE(nameField()->text(), recipeName(2));
    QCOMPARE(descriptionField()->toPlainText(), QStringLiteral("Описание 2"));
}

void tst_ReceiptDialog::refreshWithVanishedCurrentName()
{
    makeRecipes(2);
    openManager(QStringLiteral("удалённый"));
    QCOMPARE(
        m_dialog->findChild<QLabel *>(QStringLiteral("currentReceiptNameLabel"))->text(), QStringLiteral("удалённый"));
    QCOMPARE(list()->count(), 2);
    QCOMPARE(list()->currentRow(), -1);
    QVERIFY(!nameField()->isEnabled());
    QVERIFY(!descriptionField()->isEnabled());
    QVERIFY(!button("loadReceiptButton")->isEnabled());
    QVERIFY(!button("deleteReceiptButton")->isEnabled());
}

void tst_ReceiptDialog::refreshEmptyStore()
{
    openManager();
    QCOMPARE(list()->count(), 0);
    QVERIFY(!nameField()->isEnabled());
    QVERIFY(!descriptionField()->isEnabled());
    for (const char *name :
        {"loadReceiptButton", "changeReceiptButton", "deleteReceiptButton", "upButton", "downButton"})
        QVERIFY2(!button(name)->isEnabled(), name);
    QVERIFY(button("createReceiptButton")->isEnabled());
    QVERIFY(button("closeButton")->isEnabled());
}

void tst_ReceiptDialog::touchingRecipeShowsIt()
{
    makeRecipes(3);
    openManager();
    QListWidgetItem *item = list()->item(1);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(item).center());
    QCOMPARE(list()->currentRow(), 1);
    QCOMPARE(nameField()->text(), recipeName(1));
    QCOMPARE(descriptionField()->toPlainText(), QStringLiteral("Описание 1"));
}

void tst_ReceiptDialog::shortListHasNoScrollButtons()
{
    makeRecipes(2);
    openManager();
    QCOMPARE(list()->verticalScrollBar()->maximum(), 0);
    QVERIFY(!button("upButton")->isEnabled());
    QVERIFY(!button("downButton")->isEnabled());
}

void tst_ReceiptDialog::tapsMoveOneRow()
{
    makeRecipes(30);
    openManager();
    QTRY_VERIFY(button("downButton")->isEnabled());
    QVERIFY(!button("upButton")->isEnabled());

    for (int row = 1; row <= 3; ++row) {
        QTest::mouseClick(button("downButton"), Qt::LeftButton);
        QCOMPARE(list()->currentRow(), row);
        QCOMPARE(nameField()->text(), recipeName(row));
        QCOMPARE(descriptionField()->toPlainText(), QStringLiteral("Описание %1").arg(row));
    }
    QVERIFY(button("upButton")->isEnabled());
    QTest::mouseClick(button("upButton"), Qt::LeftButton);
    QCOMPARE(list()->currentRow(), 2);
    QCOMPARE(nameField()->text(), recipeName(2));
    QTest::mouseClick(button("upButton"), Qt::LeftButton);
    QTest::mouseClick(button("upButton"), Qt::LeftButton);
    QCOMPARE(list()->currentRow(), 0);
    QVERIFY(!button("upButton")->isEnabled());
    QVERIFY(button("downButton")->isEnabled());
    QCOMPARE(nameField()->text(), recipeName(0));
}

void tst_ReceiptDialog::holdRepeatsWithoutReadingPassedRecipes()
{
    makeRecipes(30);
    openManager();
    QTRY_VERIFY(button("downButton")->isEnabled());

    QList<qint64> steps;
    QElapsedTimer sincePress;
    connect(list(), &QListWidget::currentRowChanged, this, [&] { steps.append(sincePress.elapsed()); });
    StderrCapture capture;
    sincePress.start();
    QTest::mousePress(button("downButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(list()->currentRow() >= 5, 5000);
    // While held, the rows passed are neither shown nor read from their files.
    QCOMPARE(nameField()->text(), QString());
    QCOMPARE(descriptionField()->toPlainText(), QString());
    QTest::mouseRelease(button("downButton"), Qt::LeftButton);
    const QByteArray log = capture.text();
    const int reached = list()->currentRow();

    QCOMPARE(log.count("Can open database"), 1);
    QCOMPARE(steps.size(), reached);
    QVERIFY2(steps.first() >= 300, QByteArray::number(steps.first()));
    // Each step keeps to its 100 ms schedule; a late step may be followed by a shorter gap.
    for (int i = 1; i < steps.size(); ++i)
        QVERIFY2(steps.at(i) >= steps.first() + i * 100 - 2, QByteArray::number(steps.at(i) - steps.first()));
    // Releasing shows the recipe reached and makes no extra step.
    QCOMPARE(nameField()->text(), recipeName(reached));
    QCOMPARE(descriptionField()->toPlainText(), QStringLiteral("Описание %1").arg(reached));

    // The selection handler is attached again: a touch on a row shows that recipe.
    QListWidgetItem *item = list()->item(reached - 1);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(item).center());
    QCOMPARE(nameField()->text(), recipeName(reached - 1));
}

void tst_ReceiptDialog::holdStopsAtLastRow()
{
    makeRecipes(20);
    openManager(recipeName(15));
    QTRY_VERIFY(button("downButton")->isEnabled());
    QTest::mousePress(button("downButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(list()->currentRow(), 19, 5000);
    // The last row ends the scrolling at once and shows its recipe, still before the release.
    QCOMPARE(nameField()->text(), recipeName(19));
    QVERIFY(!button("downButton")->isEnabled());
    QVERIFY(button("upButton")->isEnabled());
    QTest::mouseRelease(button("downButton"), Qt::LeftButton);
    QCOMPARE(list()->currentRow(), 19);

    QTest::mousePress(button("upButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(list()->currentRow(), 17, 5000);
    QTest::mouseRelease(button("upButton"), Qt::LeftButton);
    QCOMPARE(nameField()->text(), list()->currentItem()->text().chopped(1));
    QCOMPARE(descriptionField()->toPlainText(), QStringLiteral("Описание %1").arg(list()->currentRow()));
}

void tst_ReceiptDialog::descriptionScrollButtons()
{
    QStringList lines;
    for (int i = 0; i < 25; ++i)
        lines.append(QStringLiteral("Строка описания %1").arg(i));
    ReceiptStore::createReceipt(QStringLiteral("long"), lines.join(QLatin1Char('\n')));
    ReceiptStore::createReceipt(QStringLiteral("short"), QStringLiteral("коротко"));
    openManager();
    QScrollBar *bar = descriptionField()->verticalScrollBar();
    QPushButton *up = button("upDescrButton");
    QPushButton *down = button("downDescrButton");
    QTRY_VERIFY(bar->maximum() > 0);
    QVERIFY(down->isEnabled());
    QVERIFY(!up->isEnabled());

    QTest::mouseClick(down, Qt::LeftButton);
    QCOMPARE(bar->value(), 1);
    QVERIFY(up->isEnabled());

    QElapsedTimer held;
    held.start();
    QTest::mousePress(down, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bar->value(), bar->maximum(), 20000);
    QVERIFY2(held.elapsed() >= (bar->maximum() - 2) * 5, QByteArray::number(held.elapsed()));
    QVERIFY(!down->isEnabled());
    QVERIFY(up->isEnabled());
    QTest::mouseRelease(down, Qt::LeftButton);

    QTest::mousePress(up, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 0, 20000);
    QVERIFY(!up->isEnabled());
    QVERIFY(down->isEnabled());
    QTest::mouseRelease(up, Qt::LeftButton);

    // A recipe whose description fits leaves both buttons off.
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(list()->item(1)).center());
    QTRY_COMPARE(bar->maximum(), 0);
    QVERIFY(!down->isEnabled());
    QVERIFY(!up->isEnabled());
}

void tst_ReceiptDialog::renameRefusals_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addRow("empty") << QString() << QStringLiteral("Рецепт")
                           << QStringLiteral("Название рецепта не должно быть пустым");
    QTest::addRow("existing") << recipeName(1) << QStringLiteral("Переименовать рецепт")
                              << QStringLiteral("Рецепт с названием \"%1\" существует").arg(recipeName(1));
    for (const QChar c : QStringLiteral("\\/:*?<>|\""))
        QTest::addRow("character %s", QString(c).toUtf8().constData())
            << (QStringLiteral("Новый") + c) << QStringLiteral("Рецепт") << forbiddenText;
}

void tst_ReceiptDialog::renameRefusals()
{
    QFETCH(QString, newName);
    QFETCH(QString, title);
    QFETCH(QString, text);
    makeRecipes(2);
    openManager();
    QSignalSpy renamed(m_dialog, &ReceiptDialog::receiptRenamed);
    ModalAnswerer answerer(QStringLiteral("Ok"));
    QVERIFY(typeOnKeyboard(nameField(), newName));
    QVERIFY(answerer.answered());
    QCOMPARE(answerer.boxTitle(), title);
    QCOMPARE(answerer.boxText(), text);
    QCOMPARE(renamed.count(), 0);
    QCOMPARE(nameField()->text(), recipeName(0));
    QCOMPARE(ReceiptStore::receiptNames(), (QStringList {recipeName(0), recipeName(1)}));
}

void tst_ReceiptDialog::renameToSameNameInOtherCaseDoesNothing()
{
    ReceiptStore::createReceipt(QStringLiteral("Мука"), QString());
    openManager();
    QSignalSpy renamed(m_dialog, &ReceiptDialog::receiptRenamed);
    ModalAnswerer answerer(QStringLiteral("Да"), 200); // answers a box that must not come
    QVERIFY(typeOnKeyboard(nameField(), QStringLiteral("МУКА")));
    QTRY_VERIFY_WITH_TIMEOUT(
        answerer.answered() || !QApplication::activeModalWidget() || QApplication::activeModalWidget() == m_dialog,
        1000);
    QVERIFY(!answerer.answered());
    QCOMPARE(renamed.count(), 0);
    QCOMPARE(nameField()->text(), QStringLiteral("Мука"));
    QCOMPARE(ReceiptStore::receiptNames(), QStringList {QStringLiteral("Мука")});
}

void tst_ReceiptDialog::renameDeclined()
{
    makeRecipes(1);
    openManager();
    QSignalSpy renamed(m_dialog, &ReceiptDialog::receiptRenamed);
    ModalAnswerer answerer(QStringLiteral("Нет"));
    QVERIFY(typeOnKeyboard(nameField(), QStringLiteral("Другой")));
    QVERIFY(answerer.answered());
    QCOMPARE(answerer.defaultButtonText(), QStringLiteral("Нет"));
    QCOMPARE(renamed.count(), 0);
    QCOMPARE(nameField()->text(), recipeName(0));
    QCOMPARE(ReceiptStore::receiptNames(), QStringList {recipeName(0)});
}

void tst_ReceiptDialog::rename()
{
    ReceiptStore::createReceipt(QStringLiteral("b"), QStringLiteral("описание b"));
    ReceiptStore::createReceipt(QStringLiteral("c"), QString());
    openManager(QStringLiteral("b"));
    QSignalSpy renamed(m_dialog, &ReceiptDialog::receiptRenamed);
    ModalAnswerer answerer(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(nameField(), QStringLiteral("z")));
    QVERIFY(answerer.answered());
    QCOMPARE(answerer.boxTitle(), QStringLiteral("Переименовать рецепт"));
    QCOMPARE(answerer.boxText(), QStringLiteral("Переименовать \"b\" в \"z\""));

    QCOMPARE(renamed.count(), 1);
    QCOMPARE(renamed.first(), (QVariantList {QStringLiteral("b"), QStringLiteral("z")}));
    QCOMPARE(ReceiptStore::receiptNames(), (QStringList {QStringLiteral("c"), QStringLiteral("z")}));
    QCOMPARE(listedNames(), (QStringList {QStringLiteral("c\n"), QStringLiteral("z\n")}));
    QCOMPARE(list()->currentItem()->text(), QStringLiteral("z\n"));
    QCOMPARE(nameField()->text(), QStringLiteral("z"));
    QCOMPARE(m_dialog->findChild<QLabel *>(QStringLiteral("currentReceiptNameLabel"))->text(), QStringLiteral("z"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("z"), emptyText), QStringLiteral("описание b"));

    // Renaming a recipe that is not the current one leaves the label alone.
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(list()->item(0)).center());
    ModalAnswerer second(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(nameField(), QStringLiteral("a")));
    QVERIFY(second.answered());
    QCOMPARE(listedNames(), (QStringList {QStringLiteral("a\n"), QStringLiteral("z\n")}));
    QCOMPARE(list()->currentRow(), 0);
    QCOMPARE(m_dialog->findChild<QLabel *>(QStringLiteral("currentReceiptNameLabel"))->text(), QStringLiteral("z"));
}

void tst_ReceiptDialog::renameRefusedByFileSystemIsSilent()
{
    // "B" passes the list test (letter case counts there) but would clash with the file "b.db".
    ReceiptStore::createReceipt(QStringLiteral("a"), QString());
    ReceiptStore::createReceipt(QStringLiteral("b"), QString());
    openManager();
    QSignalSpy renamed(m_dialog, &ReceiptDialog::receiptRenamed);
    ModalAnswerer answerer(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(nameField(), QStringLiteral("B")));
    QVERIFY(answerer.answered());
    QCOMPARE(renamed.count(), 0);
    QCOMPARE(listedNames(), (QStringList {QStringLiteral("a\n"), QStringLiteral("b\n")}));
    QCOMPARE(nameField()->text(), QStringLiteral("a"));
    QCOMPARE(ReceiptStore::receiptNames(), (QStringList {QStringLiteral("a"), QStringLiteral("b")}));
}

void tst_ReceiptDialog::descriptionUpdate()
{
    ReceiptStore::createReceipt(QStringLiteral("a"), emptyText);
    ReceiptStore::createReceipt(QStringLiteral("b"), QStringLiteral("старое"));
    openManager();

    // No description yet: the first one is taken without a question.
    const QString withQuotes = QStringLiteral("Смесь \"Экстра\", д'Артаньян");
    QVERIFY(typeOnKeyboard(descriptionField(), withQuotes));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("a"), emptyText), withQuotes);
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("b"), emptyText), QStringLiteral("старое"));

    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(list()->item(1)).center());
    ModalAnswerer declined(QStringLiteral("Нет"));
    QVERIFY(typeOnKeyboard(descriptionField(), QStringLiteral("новое")));
    QVERIFY(declined.answered());
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("b"), emptyText), QStringLiteral("старое"));

    ModalAnswerer accepted(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(descriptionField(), QStringLiteral("новое")));
    QVERIFY(accepted.answered());
    QCOMPARE(accepted.boxText(), QStringLiteral("Изменить описание рецепта"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("b"), emptyText), QStringLiteral("новое"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("a"), emptyText), withQuotes);
}

void tst_ReceiptDialog::deleteMiddleRecipe()
{
    makeRecipes(3);
    openManager(recipeName(1));
    ModalAnswerer answerer(QStringLiteral("Да"));
    QTest::mouseClick(button("deleteReceiptButton"), Qt::LeftButton);
    QVERIFY(answerer.answered());
    QCOMPARE(answerer.boxTitle(), QStringLiteral("Удаление рецепта"));
    QCOMPARE(answerer.boxText(), QStringLiteral("Удалить рецепт \"%1\"").arg(recipeName(1)));
    QCOMPARE(answerer.defaultButtonText(), QStringLiteral("Нет"));

    QCOMPARE(ReceiptStore::receiptNames(), (QStringList {recipeName(0), recipeName(2)}));
    QCOMPARE(listedNames(), (QStringList {recipeName(0) + '\n', recipeName(2) + '\n'}));
    // The recipe now current is shown; the label keeps the deleted name.
    QVERIFY(list()->currentItem());
    QCOMPARE(nameField()->text(), list()->currentItem()->text().chopped(1));
    QCOMPARE(m_dialog->findChild<QLabel *>(QStringLiteral("currentReceiptNameLabel"))->text(), recipeName(1));
}

void tst_ReceiptDialog::deleteLastRecipe()
{
    makeRecipes(1);
    openManager();
    ModalAnswerer answerer(QStringLiteral("Да"));
    QTest::mouseClick(button("deleteReceiptButton"), Qt::LeftButton);
    QVERIFY(answerer.answered());
    QCOMPARE(list()->count(), 0);
    QVERIFY(ReceiptStore::receiptNames().isEmpty());
    QCOMPARE(nameField()->text(), QString());
    QVERIFY(!nameField()->isEnabled());
    QVERIFY(!descriptionField()->isEnabled());
    for (const char *name : {"loadReceiptButton", "changeReceiptButton", "deleteReceiptButton"})
        QVERIFY2(!button(name)->isEnabled(), name);
}

void tst_ReceiptDialog::deleteDeclinedOrFileAlreadyGone()
{
    makeRecipes(2);
    openManager();
    ModalAnswerer declined(QStringLiteral("Нет"));
    QTest::mouseClick(button("deleteReceiptButton"), Qt::LeftButton);
    QVERIFY(declined.answered());
    QCOMPARE(list()->count(), 2);
    QCOMPARE(ReceiptStore::receiptNames().size(), 2);

    QFile::remove(ReceiptStore::fullPath(recipeName(0)));
    ModalAnswerer accepted(QStringLiteral("Да"));
    QTest::mouseClick(button("deleteReceiptButton"), Qt::LeftButton);
    QVERIFY(accepted.answered());
    QCOMPARE(listedNames(), QStringList {recipeName(1) + '\n'});
    QCOMPARE(ReceiptStore::receiptNames(), QStringList {recipeName(1)});
}

void tst_ReceiptDialog::handOverToHost_data()
{
    QTest::addColumn<bool>("load");
    QTest::addColumn<bool>("success");
    QTest::addRow("loaded") << true << true;
    QTest::addRow("not loaded") << true << false;
    QTest::addRow("rewritten") << false << true;
    QTest::addRow("not rewritten") << false << false;
}

void tst_ReceiptDialog::handOverToHost()
{
    QFETCH(bool, load);
    QFETCH(bool, success);
    makeRecipes(3);
    openManager(recipeName(0));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(list()->item(2)).center());
    QSignalSpy loadAsked(m_dialog, &ReceiptDialog::receiptCanBeLoaded);
    QSignalSpy rewriteAsked(m_dialog, &ReceiptDialog::receiptCanBeRewrited);
    QSignalSpy loaded(m_dialog, &ReceiptDialog::receiptLoaded);
    QSignalSpy rewritten(m_dialog, &ReceiptDialog::receiptRewrited);

    ModalAnswerer answerer(QStringLiteral("Да"));
    QTest::mouseClick(button(load ? "loadReceiptButton" : "changeReceiptButton"), Qt::LeftButton);
    QVERIFY(answerer.answered());
    QCOMPARE(answerer.boxTitle(), load ? QStringLiteral("Загрузка рецепта") : QStringLiteral("Изменение рецепта"));
    QCOMPARE(answerer.boxText(),
        (load ? QStringLiteral("Загрузить рецепт \"%1\"") : QStringLiteral("Перезаписать рецепт \"%1\""))
            .arg(recipeName(2)));
    QCOMPARE(answerer.defaultButtonText(), QStringLiteral("Нет"));

    const QString path = ReceiptStore::storePath() + recipeName(2) + QStringLiteral(".db");
    QCOMPARE((load ? loadAsked : rewriteAsked).count(), 1);
    QCOMPARE((load ? loadAsked : rewriteAsked).first().first().toString(), path);
    QCOMPARE((load ? rewriteAsked : loadAsked).count(), 0);
    // Waiting for the host: only its answer ends the wait.
    for (const char *name :
        {"createReceiptButton", "closeButton", "loadReceiptButton", "changeReceiptButton", "deleteReceiptButton"})
        QVERIFY2(!button(name)->isEnabled(), name);
    QVERIFY(m_dialog->isVisible());

    if (load && success)
        m_dialog->receiptWasLoaded();
    else if (load)
        m_dialog->receiptWasNotLoaded();
    else if (success)
        m_dialog->receiptWasRewrited();
    else
        m_dialog->receiptWasNotRewrited();

    for (const char *name :
        {"createReceiptButton", "closeButton", "loadReceiptButton", "changeReceiptButton", "deleteReceiptButton"})
        QVERIFY2(button(name)->isEnabled(), name);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(list()->currentRow(), -1);
    QCOMPARE(loaded.count(), load && success ? 1 : 0);
    QCOMPARE(rewritten.count(), !load && success ? 1 : 0);
    if (success)
        QCOMPARE((load ? loaded : rewritten).first().first().toString(), recipeName(2));
    QCOMPARE(m_dialog->findChild<QLabel *>(QStringLiteral("currentReceiptNameLabel"))->text(),
        load ? recipeName(2) : recipeName(0));
}

void tst_ReceiptDialog::handOverDeclined()
{
    makeRecipes(1);
    openManager();
    QSignalSpy loadAsked(m_dialog, &ReceiptDialog::receiptCanBeLoaded);
    QSignalSpy rewriteAsked(m_dialog, &ReceiptDialog::receiptCanBeRewrited);
    for (const char *name : {"loadReceiptButton", "changeReceiptButton"}) {
        ModalAnswerer answerer(QStringLiteral("Нет"));
        QTest::mouseClick(button(name), Qt::LeftButton);
        QVERIFY(answerer.answered());
        QVERIFY(button(name)->isEnabled());
    }
    QCOMPARE(loadAsked.count() + rewriteAsked.count(), 0);
    QVERIFY(m_dialog->isVisible());
}

void tst_ReceiptDialog::enablingSlots()
{
    makeRecipes(2);
    openManager();
    m_dialog->desableLoadReceiptButton();
    QVERIFY(!button("loadReceiptButton")->isEnabled());
    QVERIFY(button("createReceiptButton")->isEnabled());
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(list()->item(1)).center());
    QVERIFY(!button("loadReceiptButton")->isEnabled());
    QVERIFY(button("changeReceiptButton")->isEnabled());

    m_dialog->desableChangeLoadReceiptButtons();
    for (const char *name : {"loadReceiptButton", "changeReceiptButton", "createReceiptButton"})
        QVERIFY2(!button(name)->isEnabled(), name);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(list()->item(0)).center());
    QVERIFY(!button("loadReceiptButton")->isEnabled());
    QVERIFY(!button("changeReceiptButton")->isEnabled());
    QVERIFY(button("deleteReceiptButton")->isEnabled());

    m_dialog->enableChangeLoadReceiptButtons();
    for (const char *name : {"loadReceiptButton", "changeReceiptButton", "createReceiptButton"})
        QVERIFY2(button(name)->isEnabled(), name);

    // With no recipe current, lifting the restriction enables only the create button.
    m_dialog->desableChangeLoadReceiptButtons();
    m_dialog->refreshReceipts(QStringLiteral("нет такого"));
    m_dialog->enableChangeLoadReceiptButtons();
    QVERIFY(button("createReceiptButton")->isEnabled());
    QVERIFY(!button("loadReceiptButton")->isEnabled());
    QVERIFY(!button("changeReceiptButton")->isEnabled());
}

void tst_ReceiptDialog::closeButton()
{
    makeRecipes(30);
    openManager(recipeName(25));
    QTRY_VERIFY(button("upButton")->isEnabled());
    QTest::mouseClick(button("closeButton"), Qt::LeftButton);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(list()->currentRow(), -1);
    QCOMPARE(list()->verticalScrollBar()->value(), 0);
    QVERIFY(!button("upButton")->isEnabled());
    QVERIFY(button("downButton")->isEnabled());
}

QTEST_MAIN(tst_ReceiptDialog)
#include "tst_receiptdialog.moc"
