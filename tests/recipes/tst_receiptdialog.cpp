#include "modalanswerer.h"
#include "receiptdialog.h"
#include "receiptstore.h"
#include "stderrcapture.h"
#include "testworkdir.h"
#include "touchtyping.h"

#include <QtTest>
#include <QtWidgets>

namespace {
const QString emptyText = QStringLiteral("Описание рецепта отсутствует. Для добавления описания нажмите на это поле.");

QString recipe(int i)
{
    return QStringLiteral("Рецепт %1").arg(i, 2, 10, QLatin1Char('0'));
}

QString description(int i)
{
    return QStringLiteral("Описание %1").arg(i);
}
} // namespace

/// The recipe manager on real recipe files in a private store, driven by touches on its own widgets.
class tst_ReceiptDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void refresh_data();
    void refresh();
    void tapsMoveOneRow();
    void holdRepeatsWithoutReadingPassedRecipes();
    void holdStopsAtLastRow();
    void descriptionScrollButtons();
    void renameRefused_data();
    void renameRefused();
    void rename();
    void descriptionUpdate();
    void deleteRecipe_data();
    void deleteRecipe();
    void handOverToHost_data();
    void handOverToHost();
    void enablingSlots();
    void closeButton();

private:
    void openManager(int recipes, const QString &current = QString());
    void touchRow(int row);
    QPushButton *button(const char *name) const;
    QListWidget *list() const { return m_dialog->findChild<QListWidget *>(QStringLiteral("receiptListWidget")); }
    QLabel *label() const { return m_dialog->findChild<QLabel *>(QStringLiteral("currentReceiptNameLabel")); }
    LineEditEmbedded *nameField() const;
    TextEditEmbedded *descriptionField() const;

    TestWorkDir *m_dir = nullptr;
    ReceiptDialog *m_dialog = nullptr;
};

void tst_ReceiptDialog::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::(dis)?connect|cannot connect")));
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

void tst_ReceiptDialog::openManager(int recipes, const QString &current)
{
    for (int i = recipes - 1; i >= 0; --i)
        ReceiptStore::createReceipt(recipe(i), description(i));
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    m_dialog->refreshReceipts(current);
}

void tst_ReceiptDialog::touchRow(int row)
{
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualItemRect(list()->item(row)).center());
}

QPushButton *tst_ReceiptDialog::button(const char *name) const
{
    return m_dialog->findChild<QPushButton *>(QLatin1String(name));
}

LineEditEmbedded *tst_ReceiptDialog::nameField() const
{
    return m_dialog->findChild<LineEditEmbedded *>(QStringLiteral("receiptNamelineEdit"));
}

TextEditEmbedded *tst_ReceiptDialog::descriptionField() const
{
    return m_dialog->findChild<TextEditEmbedded *>(QStringLiteral("descriptionTextEdit"));
}

void tst_ReceiptDialog::refresh_data()
{
    QTest::addColumn<int>("recipes");
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("labelText");
    QTest::addRow("no current recipe") << 3 << QString() << 0 << QStringLiteral("отсутствует");
    QTest::addRow("current recipe") << 3 << recipe(2) << 2 << recipe(2);
    QTest::addRow("current recipe's file gone")
        << 2 << QStringLiteral("удалённый") << -1 << QStringLiteral("удалённый");
    QTest::addRow("empty store") << 0 << QString() << -1 << QStringLiteral("отсутствует");
}

void tst_ReceiptDialog::refresh()
{
    QFETCH(int, recipes);
    QFETCH(QString, current);
    QFETCH(int, row);
    QFETCH(QString, labelText);
    openManager(recipes, current);
    QCOMPARE(list()->count(), recipes);
    for (int i = 0; i < recipes; ++i)
        QCOMPARE(list()->item(i)->text(), recipe(i) + QLatin1Char('\n'));
    QCOMPARE(list()->currentRow(), row);
    QCOMPARE(label()->text(), labelText);
    const bool shown = row >= 0;
    QCOMPARE(nameField()->text(), shown ? recipe(row) : QString());
    QCOMPARE(descriptionField()->toPlainText(), shown ? description(row) : QString());
    QCOMPARE(nameField()->isEnabled(), shown);
    QCOMPARE(descriptionField()->isEnabled(), shown);
    for (const char *name : {"loadReceiptButton", "changeReceiptButton", "deleteReceiptButton"})
        QVERIFY2(button(name)->isEnabled() == shown, name);
    // A short list is chosen from by touch: its buttons stay off.
    QVERIFY(!button("upButton")->isEnabled());
    QVERIFY(!button("downButton")->isEnabled());

    if (recipes > 1) {
        touchRow(1);
        QCOMPARE(nameField()->text(), recipe(1));
        QCOMPARE(descriptionField()->toPlainText(), description(1));
    }
}

void tst_ReceiptDialog::tapsMoveOneRow()
{
    openManager(30);
    QTRY_VERIFY(button("downButton")->isEnabled());
    QVERIFY(!button("upButton")->isEnabled());
    for (int row = 1; row <= 2; ++row) {
        QTest::mouseClick(button("downButton"), Qt::LeftButton);
        QCOMPARE(list()->currentRow(), row);
        QCOMPARE(nameField()->text(), recipe(row));
        QCOMPARE(descriptionField()->toPlainText(), description(row));
    }
    QTest::mouseClick(button("upButton"), Qt::LeftButton);
    QTest::mouseClick(button("upButton"), Qt::LeftButton);
    QCOMPARE(list()->currentRow(), 0);
    QCOMPARE(nameField()->text(), recipe(0));
    QVERIFY(!button("upButton")->isEnabled());
    QVERIFY(button("downButton")->isEnabled());
}

void tst_ReceiptDialog::holdRepeatsWithoutReadingPassedRecipes()
{
    openManager(30);
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
    QCOMPARE(capture.text().count("Can open database"), 1);

    const int reached = list()->currentRow();
    QCOMPARE(steps.size(), reached); // no extra step on release
    QVERIFY2(steps.first() >= 300, QByteArray::number(steps.first()));
    // Each step keeps to its 100 ms schedule; a late step may be followed by a shorter gap.
    for (int i = 1; i < steps.size(); ++i)
        QVERIFY2(steps.at(i) >= steps.first() + i * 100 - 2, QByteArray::number(steps.at(i) - steps.first()));
    QCOMPARE(nameField()->text(), recipe(reached));
    QCOMPARE(descriptionField()->toPlainText(), description(reached));
    touchRow(reached - 1); // the selection handler is attached again
    QCOMPARE(nameField()->text(), recipe(reached - 1));
}

void tst_ReceiptDialog::holdStopsAtLastRow()
{
    openManager(20, recipe(16));
    QTRY_VERIFY(button("downButton")->isEnabled());
    QTest::mousePress(button("downButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(list()->currentRow(), 19, 5000);
    // The last row ends the scrolling and shows its recipe before the release.
    QCOMPARE(nameField()->text(), recipe(19));
    QVERIFY(!button("downButton")->isEnabled());
    QVERIFY(button("upButton")->isEnabled());
    QTest::mouseRelease(button("downButton"), Qt::LeftButton);
    QCOMPARE(list()->currentRow(), 19);
}

void tst_ReceiptDialog::descriptionScrollButtons()
{
    QStringList lines;
    for (int i = 0; i < 25; ++i)
        lines.append(description(i));
    ReceiptStore::createReceipt(recipe(0), lines.join(QLatin1Char('\n')));
    openManager(2);
    QScrollBar *bar = descriptionField()->verticalScrollBar();
    QPushButton *up = button("upDescrButton");
    QPushButton *down = button("downDescrButton");
    QTRY_VERIFY(down->isEnabled());
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
    QTest::mouseRelease(down, Qt::LeftButton);
    QTest::mousePress(up, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 0, 20000);
    QVERIFY(!up->isEnabled());
    QVERIFY(down->isEnabled());
    QTest::mouseRelease(up, Qt::LeftButton);

    touchRow(1); // a description that fits leaves both buttons off
    QTRY_VERIFY(!down->isEnabled());
    QVERIFY(!up->isEnabled());
}

void tst_ReceiptDialog::renameRefused_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    const QString forbidden = QStringLiteral("Символы \\ / : * ? \" > | в названии рецепта не допустимы");
    QTest::addRow("same name in other case") << QStringLiteral("РЕЦЕПТ 00") << QString() << QString() << QString();
    QTest::addRow("empty") << QString() << QStringLiteral("Ok") << QStringLiteral("Рецепт")
                           << QStringLiteral("Название рецепта не должно быть пустым");
    QTest::addRow("existing") << recipe(1) << QStringLiteral("Ok") << QStringLiteral("Переименовать рецепт")
                              << QStringLiteral("Рецепт с названием \"%1\" существует").arg(recipe(1));
    for (const QChar c : QStringLiteral("\\/:*?<>|\""))
        QTest::addRow("character %s", QString(c).toUtf8().constData())
            << (QStringLiteral("Новый") + c) << QStringLiteral("Ok") << QStringLiteral("Рецепт") << forbidden;
    QTest::addRow("declined") << QStringLiteral("Новый") << QStringLiteral("Нет")
                              << QStringLiteral("Переименовать рецепт")
                              << QStringLiteral("Переименовать \"%1\" в \"Новый\"").arg(recipe(0));
    // Letter case counts in the list, but the file would clash with another recipe's file.
    QTest::addRow("refused by the store")
        << QStringLiteral("рецепт 01") << QStringLiteral("Да") << QStringLiteral("Переименовать рецепт")
        << QStringLiteral("Переименовать \"%1\" в \"рецепт 01\"").arg(recipe(0));
}

void tst_ReceiptDialog::renameRefused()
{
    QFETCH(QString, newName);
    QFETCH(QString, answer);
    QFETCH(QString, title);
    QFETCH(QString, text);
    openManager(2);
    QSignalSpy renamed(m_dialog, &ReceiptDialog::receiptRenamed);
    // With no box expected, an answerer still stands by so that a wrong box fails instead of hanging.
    ModalAnswerer answerer(answer.isEmpty() ? QStringLiteral("Ok") : answer);
    QVERIFY(typeOnKeyboard(nameField(), newName));
    QCOMPARE(answerer.answered(), !answer.isEmpty());
    QCOMPARE(answerer.boxTitle(), title);
    QCOMPARE(answerer.boxText(), text);
    if (answer == QStringLiteral("Нет"))
        QCOMPARE(answerer.defaultButtonText(), QStringLiteral("Нет"));
    QCOMPARE(renamed.count(), 0);
    QCOMPARE(nameField()->text(), recipe(0));
    QCOMPARE(list()->item(0)->text(), recipe(0) + QLatin1Char('\n'));
    QCOMPARE(ReceiptStore::receiptNames(), (QStringList {recipe(0), recipe(1)}));
}

void tst_ReceiptDialog::rename()
{
    openManager(3, recipe(0));
    QSignalSpy renamed(m_dialog, &ReceiptDialog::receiptRenamed);
    ModalAnswerer answerer(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(nameField(), QStringLiteral("Я последний")));
    QVERIFY(answerer.answered());
    QCOMPARE(renamed.count(), 1);
    QCOMPARE(renamed.first(), (QVariantList {recipe(0), QStringLiteral("Я последний")}));
    QCOMPARE(ReceiptStore::receiptNames(), (QStringList {recipe(1), recipe(2), QStringLiteral("Я последний")}));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("Я последний"), emptyText), description(0));
    QCOMPARE(list()->item(2)->text(), QStringLiteral("Я последний\n"));
    QCOMPARE(list()->currentRow(), 2);
    QCOMPARE(nameField()->text(), QStringLiteral("Я последний"));
    QCOMPARE(label()->text(), QStringLiteral("Я последний"));

    // Renaming a recipe that is not the current one leaves the label alone.
    touchRow(0);
    ModalAnswerer second(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(nameField(), QStringLiteral("А первый")));
    QCOMPARE(list()->item(0)->text(), QStringLiteral("А первый\n"));
    QCOMPARE(label()->text(), QStringLiteral("Я последний"));
}

void tst_ReceiptDialog::descriptionUpdate()
{
    ReceiptStore::createReceipt(QStringLiteral("a"), emptyText);
    openManager(1);
    // No description yet: the first one is taken without a question.
    const QString quoted = QStringLiteral("Смесь \"Экстра\", д'Артаньян");
    QVERIFY(typeOnKeyboard(descriptionField(), quoted));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("a"), emptyText), quoted);

    touchRow(1);
    ModalAnswerer declined(QStringLiteral("Нет"));
    QVERIFY(typeOnKeyboard(descriptionField(), QStringLiteral("новое")));
    QVERIFY(declined.answered());
    QCOMPARE(ReceiptStore::readDescription(recipe(0), emptyText), description(0));
    ModalAnswerer accepted(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(descriptionField(), QStringLiteral("новое")));
    QVERIFY(accepted.answered());
    QCOMPARE(ReceiptStore::readDescription(recipe(0), emptyText), QStringLiteral("новое"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("a"), emptyText), quoted);

    // A description that could not be stored is not shown as if it were.
    QFile::remove(ReceiptStore::fullPath(recipe(0)));
    ModalAnswerer lost(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(descriptionField(), QStringLiteral("третье")));
    QVERIFY(lost.answered());
    QCOMPARE(descriptionField()->toPlainText(), emptyText);
    QVERIFY(!QFileInfo::exists(ReceiptStore::fullPath(recipe(0))));
}

void tst_ReceiptDialog::deleteRecipe_data()
{
    QTest::addColumn<int>("recipes");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("fileGoneBefore");
    QTest::addColumn<QStringList>("remaining");
    QTest::addRow("middle recipe") << 3 << QStringLiteral("Да") << false << QStringList {recipe(0), recipe(2)};
    QTest::addRow("only recipe") << 1 << QStringLiteral("Да") << false << QStringList {};
    QTest::addRow("file already gone") << 3 << QStringLiteral("Да") << true << QStringList {recipe(0), recipe(2)};
    QTest::addRow("declined") << 3 << QStringLiteral("Нет") << false << QStringList {recipe(0), recipe(1), recipe(2)};
}

void tst_ReceiptDialog::deleteRecipe()
{
    QFETCH(int, recipes);
    QFETCH(QString, answer);
    QFETCH(bool, fileGoneBefore);
    QFETCH(QStringList, remaining);
    const int row = recipes / 2;
    openManager(recipes, recipe(row));
    if (fileGoneBefore)
        QFile::remove(ReceiptStore::fullPath(recipe(row)));
    ModalAnswerer answerer(answer);
    QTest::mouseClick(button("deleteReceiptButton"), Qt::LeftButton);
    QVERIFY(answerer.answered());
    QCOMPARE(answerer.boxTitle(), QStringLiteral("Удаление рецепта"));
    QCOMPARE(answerer.boxText(), QStringLiteral("Удалить рецепт \"%1\"").arg(recipe(row)));
    QCOMPARE(answerer.defaultButtonText(), QStringLiteral("Нет"));

    QCOMPARE(ReceiptStore::receiptNames(), remaining);
    QCOMPARE(list()->count(), remaining.size());
    QCOMPARE(label()->text(), recipe(row));
    const bool shown = !remaining.isEmpty();
    QCOMPARE(nameField()->text(), shown ? list()->currentItem()->text().chopped(1) : QString());
    QCOMPARE(nameField()->isEnabled(), shown);
    QCOMPARE(descriptionField()->isEnabled(), shown);
    for (const char *name : {"loadReceiptButton", "changeReceiptButton", "deleteReceiptButton"})
        QVERIFY2(button(name)->isEnabled() == shown, name);
}

void tst_ReceiptDialog::handOverToHost_data()
{
    QTest::addColumn<bool>("load");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("hostAnswer"); // 1 success, 0 failure, -1 not asked
    QTest::addRow("loaded") << true << QStringLiteral("Да") << 1;
    QTest::addRow("not loaded") << true << QStringLiteral("Да") << 0;
    QTest::addRow("load declined") << true << QStringLiteral("Нет") << -1;
    QTest::addRow("rewritten") << false << QStringLiteral("Да") << 1;
    QTest::addRow("not rewritten") << false << QStringLiteral("Да") << 0;
    QTest::addRow("rewrite declined") << false << QStringLiteral("Нет") << -1;
}

void tst_ReceiptDialog::handOverToHost()
{
    QFETCH(bool, load);
    QFETCH(QString, answer);
    QFETCH(int, hostAnswer);
    openManager(3, recipe(0));
    touchRow(2);
    QSignalSpy loadAsked(m_dialog, &ReceiptDialog::receiptCanBeLoaded);
    QSignalSpy rewriteAsked(m_dialog, &ReceiptDialog::receiptCanBeRewrited);
    QSignalSpy loaded(m_dialog, &ReceiptDialog::receiptLoaded);
    QSignalSpy rewritten(m_dialog, &ReceiptDialog::receiptRewrited);
    const QList<QPushButton *> commands {button("createReceiptButton"), button("closeButton"),
        button("loadReceiptButton"), button("changeReceiptButton"), button("deleteReceiptButton")};

    ModalAnswerer answerer(answer);
    QTest::mouseClick(button(load ? "loadReceiptButton" : "changeReceiptButton"), Qt::LeftButton);
    QVERIFY(answerer.answered());
    QCOMPARE(answerer.boxTitle(), load ? QStringLiteral("Загрузка рецепта") : QStringLiteral("Изменение рецепта"));
    QCOMPARE(answerer.boxText(),
        (load ? QStringLiteral("Загрузить рецепт \"%1\"") : QStringLiteral("Перезаписать рецепт \"%1\""))
            .arg(recipe(2)));
    QCOMPARE(answerer.defaultButtonText(), QStringLiteral("Нет"));
    QSignalSpy &asked = load ? loadAsked : rewriteAsked;
    QCOMPARE(loadAsked.count() + rewriteAsked.count(), hostAnswer < 0 ? 0 : 1);
    for (QPushButton *command : commands)
        QCOMPARE(command->isEnabled(), hostAnswer < 0); // only the host's answer ends the wait
    // The recipe handed over can be neither renamed nor described until the host has answered, and a
    // touch on another recipe neither selects it nor enables the commands again.
    touchRow(1);
    QCOMPARE(list()->currentRow(), hostAnswer < 0 ? 1 : 2);
    QCOMPARE(nameField()->isEnabled(), hostAnswer < 0);
    QCOMPARE(descriptionField()->isEnabled(), hostAnswer < 0);
    for (QPushButton *command : commands)
        QCOMPARE(command->isEnabled(), hostAnswer < 0);
    if (hostAnswer < 0)
        return;
    QCOMPARE(asked.first().first().toString(), ReceiptStore::storePath() + recipe(2) + QStringLiteral(".db"));

    if (load)
        hostAnswer ? m_dialog->receiptWasLoaded() : m_dialog->receiptWasNotLoaded();
    else
        hostAnswer ? m_dialog->receiptWasRewrited() : m_dialog->receiptWasNotRewrited();
    for (QPushButton *command : commands)
        QVERIFY(command->isEnabled());
    QVERIFY(list()->isEnabled());
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(loaded.count(), load ? hostAnswer : 0);
    QCOMPARE(rewritten.count(), load ? 0 : hostAnswer);
    if (hostAnswer)
        QCOMPARE((load ? loaded : rewritten).first().first().toString(), recipe(2));
    QCOMPARE(label()->text(), load ? recipe(2) : recipe(0));
}

void tst_ReceiptDialog::enablingSlots()
{
    openManager(2);
    m_dialog->desableLoadReceiptButton();
    touchRow(1);
    QVERIFY(!button("loadReceiptButton")->isEnabled());
    QVERIFY(button("changeReceiptButton")->isEnabled());
    QVERIFY(button("createReceiptButton")->isEnabled());

    m_dialog->desableChangeLoadReceiptButtons();
    touchRow(0);
    for (const char *name : {"loadReceiptButton", "changeReceiptButton", "createReceiptButton"})
        QVERIFY2(!button(name)->isEnabled(), name);
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
}

void tst_ReceiptDialog::closeButton()
{
    openManager(30, recipe(25));
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
