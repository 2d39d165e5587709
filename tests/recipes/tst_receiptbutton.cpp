#include "modalanswerer.h"
#include "receiptbutton.h"
#include "receiptdialog.h"
#include "receiptstore.h"
#include "savereceiptdialog.h"
#include "sqlitequery.h"
#include "stderrcapture.h"
#include "testworkdir.h"
#include "touchtyping.h"

#include <QtTest>
#include <QtWidgets>

namespace {
const QString emptyText = QStringLiteral("Описание рецепта отсутствует. Для добавления описания нажмите на это поле.");
const QString noReceipt = QStringLiteral("отсутствует");

QString cellOf(const QString &file, const QString &statement)
{
    SqliteQuery query;
    query.open(file);
    query.runQuery(statement);
    return query.cell(0, 0);
}
} // namespace

/// The recipe button in a host window, with the test playing the host: it opens the dialogs when asked,
/// writes and reads the working parameters in the recipe files and answers on the button's slots.
class tst_ReceiptButton : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void saveRefusals_data();
    void saveRefusals();
    void save_data();
    void save();
    void cancel();
    void openingFollowsCurrentRecipe();
    void hostAnswers_data();
    void hostAnswers();
    void renameFollowedOnlyForOwnRecipe();
    void relayedRequests();
    void restrictions();
    void timingProperties();
    void destructionOrder();
    void dialogsOpenOnTheScreen_data();
    void dialogsOpenOnTheScreen();

private:
    SaveReceiptDialog *saveDialog() const;
    ReceiptDialog *manager() const;
    QPushButton *button(QWidget *in, const char *name) const;
    QString buttonText() const;
    void openManager();
    void openSaveDialog();

    TestWorkDir *m_dir = nullptr;
    QWidget *m_host = nullptr;
    ReceiptButton *m_button = nullptr;
};

void tst_ReceiptButton::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::(dis)?connect|cannot connect")));
    m_dir = new TestWorkDir;
    m_host = new QWidget;
    m_host->resize(800, 600);
    m_button = new ReceiptButton(m_host);
    // The host's side of the contract: open the dialogs when the button asks for them.
    connect(m_button, &ReceiptButton::receiptDialogOpened, m_button, &ReceiptButton::showReceiptDialog);
    connect(m_button, &ReceiptButton::createReceiptButtonClicked, m_button, &ReceiptButton::showCreateReceiptDialog);
    m_button->receiptDialog()->createReceiptsStoreDir();
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host));
}

void tst_ReceiptButton::cleanup()
{
    delete m_host;
    m_host = nullptr;
    m_button = nullptr;
    delete m_dir;
    m_dir = nullptr;
}

SaveReceiptDialog *tst_ReceiptButton::saveDialog() const
{
    return manager()->saveReceiptDialog();
}

ReceiptDialog *tst_ReceiptButton::manager() const
{
    return m_button->receiptDialog();
}

QPushButton *tst_ReceiptButton::button(QWidget *in, const char *name) const
{
    return in->findChild<QPushButton *>(QLatin1String(name));
}

QString tst_ReceiptButton::buttonText() const
{
    return button(m_button, "receiptEditorButton")->text();
}

void tst_ReceiptButton::openManager()
{
    QTest::mouseClick(button(m_button, "receiptEditorButton"), Qt::LeftButton);
    QVERIFY(manager()->isVisible());
}

void tst_ReceiptButton::openSaveDialog()
{
    openManager();
    QTest::mouseClick(button(manager(), "createReceiptButton"), Qt::LeftButton);
    QVERIFY(saveDialog()->isVisible());
}

void tst_ReceiptButton::saveRefusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const QString forbidden = QStringLiteral("Символы \\ / : * ? \" > | в названии рецепта не допустимы");
    QTest::addRow("empty") << QString() << QStringLiteral("Название рецепта не должно быть пустым");
    QTest::addRow("existing") << QStringLiteral("Мука") << QStringLiteral("Рецепт с названием \"Мука\" существует");
    QTest::addRow("existing in other case")
        << QStringLiteral("мУКА") << QStringLiteral("Рецепт с названием \"мУКА\" существует");
    for (const QChar c : QStringLiteral("\\/:*?<>|\""))
        QTest::addRow("character %s", QString(c).toUtf8().constData()) << (QStringLiteral("Сахар") + c) << forbidden;
    // 130 Cyrillic letters are 260 bytes, more than a file name may hold: the file cannot be made.
    const QString tooLong(130, QChar(u'Ж'));
    QTest::addRow("file cannot be made") << tooLong
                                         << QStringLiteral("Не удалось создать файл рецепта \"%1\"").arg(tooLong);
}

void tst_ReceiptButton::saveRefusals()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    ReceiptStore::createReceipt(QStringLiteral("Мука"), QStringLiteral("старая"));
    openSaveDialog();
    QSignalSpy asked(m_button, &ReceiptButton::receiptCanBeSaved);
    auto *nameField = saveDialog()->findChild<LineEditEmbedded *>(QStringLiteral("receiptNamelineEdit"));
    if (!name.isEmpty())
        QVERIFY(typeOnKeyboard(nameField, name));
    QCOMPARE(nameField->text(), name);

    ModalAnswerer answerer(QStringLiteral("Ok"));
    QTest::mouseClick(button(saveDialog(), "saveButton"), Qt::LeftButton);
    QVERIFY(answerer.answered());
    QCOMPARE(answerer.boxTitle(), QStringLiteral("Рецепт"));
    QCOMPARE(answerer.boxText(), text);
    QCOMPARE(asked.count(), 0);
    QCOMPARE(ReceiptStore::receiptNames(), QStringList {QStringLiteral("Мука")});
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("Мука"), emptyText), QStringLiteral("старая"));
    // The form keeps what was typed, so that the name can be corrected.
    QVERIFY(saveDialog()->isVisible());
    QCOMPARE(nameField->text(), name);
    QVERIFY(button(saveDialog(), "saveButton")->isEnabled());
}

void tst_ReceiptButton::save_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    const QString quoted = QStringLiteral("Ржаной \"Бородинский\"\nд'Артаньян");
    QTest::addRow("with description") << quoted << quoted;
    QTest::addRow("without description") << QString() << emptyText;
}

void tst_ReceiptButton::save()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    ReceiptStore::createReceipt(QStringLiteral("Б"), QString());
    openSaveDialog();
    QSignalSpy asked(m_button, &ReceiptButton::receiptCanBeSaved);
    QSignalSpy saved(saveDialog(), &SaveReceiptDialog::receiptSaved);
    auto *nameField = saveDialog()->findChild<LineEditEmbedded *>(QStringLiteral("receiptNamelineEdit"));
    auto *descriptionField = saveDialog()->findChild<TextEditEmbedded *>(QStringLiteral("descriptionTextEdit"));
    QVERIFY(typeOnKeyboard(nameField, QStringLiteral("Хлеб №1")));
    if (!typed.isEmpty())
        QVERIFY(typeOnKeyboard(descriptionField, typed));

    QTest::mouseClick(button(saveDialog(), "saveButton"), Qt::LeftButton);
    const QString path = ReceiptStore::storePath() + QStringLiteral("Хлеб №1.db");
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.first().first().toString(), path);
    QCOMPARE(cellOf(path, QStringLiteral("SELECT count(*) FROM receiptdescription")), QStringLiteral("1"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("Хлеб №1"), QString()), stored);
    // Until the host answers, the dialog can be neither used again nor left.
    QVERIFY(!button(saveDialog(), "saveButton")->isEnabled());
    QVERIFY(!button(saveDialog(), "cancelButton")->isEnabled());
    QVERIFY(saveDialog()->isVisible());
    QCOMPARE(saved.count(), 0);

    // The host writes its working parameters beside the description, then answers.
    cellOf(path, QStringLiteral("CREATE TABLE params (maxDose TEXT); INSERT INTO params VALUES ('25.00');"));
    m_button->receiptWasSaved();
    QCOMPARE(saved.count(), 1);
    QCOMPARE(saved.first().first().toString(), QStringLiteral("Хлеб №1"));
    QVERIFY(button(saveDialog(), "saveButton")->isEnabled());
    QVERIFY(button(saveDialog(), "cancelButton")->isEnabled());
    QVERIFY(!saveDialog()->isVisible());
    QCOMPARE(nameField->text(), QString());
    QCOMPARE(descriptionField->toPlainText(), emptyText);
    QCOMPARE(buttonText(), QStringLiteral("Хлеб №1"));
    QVERIFY(!manager()->isVisible());
    QCOMPARE(cellOf(path, QStringLiteral("SELECT maxDose FROM params")), QStringLiteral("25.00"));

    openManager(); // the new recipe is listed and current
    auto *list = manager()->findChild<QListWidget *>(QStringLiteral("receiptListWidget"));
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentItem()->text(), QStringLiteral("Хлеб №1\n"));
}

void tst_ReceiptButton::cancel()
{
    openSaveDialog();
    auto *nameField = saveDialog()->findChild<LineEditEmbedded *>(QStringLiteral("receiptNamelineEdit"));
    auto *descriptionField = saveDialog()->findChild<TextEditEmbedded *>(QStringLiteral("descriptionTextEdit"));
    QVERIFY(typeOnKeyboard(nameField, QStringLiteral("Сахар")));
    QVERIFY(typeOnKeyboard(descriptionField, QStringLiteral("белый")));
    QTest::mouseClick(button(saveDialog(), "cancelButton"), Qt::LeftButton);
    QVERIFY(!saveDialog()->isVisible());
    QCOMPARE(nameField->text(), QString());
    QCOMPARE(descriptionField->toPlainText(), emptyText);
    QVERIFY(ReceiptStore::receiptNames().isEmpty());
    QCOMPARE(buttonText(), noReceipt);
}

void tst_ReceiptButton::openingFollowsCurrentRecipe()
{
    ReceiptStore::createReceipt(QStringLiteral("a"), QStringLiteral("первый"));
    ReceiptStore::createReceipt(QStringLiteral("b"), QStringLiteral("второй"));
    auto *list = manager()->findChild<QListWidget *>(QStringLiteral("receiptListWidget"));
    auto *label = manager()->findChild<QLabel *>(QStringLiteral("currentReceiptNameLabel"));

    openManager();
    QCOMPARE(list->currentRow(), 0);
    QCOMPARE(label->text(), noReceipt);
    QTest::mouseClick(button(manager(), "closeButton"), Qt::LeftButton);

    // The host loaded "b" some other way and the button shows it: the manager opens on it.
    QMetaObject::invokeMethod(m_button, "setReceiptName", Q_ARG(QString, QStringLiteral("b")));
    openManager();
    QCOMPARE(list->currentItem()->text(), QStringLiteral("b\n"));
    QCOMPARE(label->text(), QStringLiteral("b"));
    QTest::mouseClick(button(manager(), "closeButton"), Qt::LeftButton);

    QFile::remove(ReceiptStore::fullPath(QStringLiteral("b")));
    openManager();
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->currentRow(), -1);
}

void tst_ReceiptButton::hostAnswers_data()
{
    QTest::addColumn<bool>("load");
    QTest::addColumn<bool>("success");
    QTest::addRow("loaded") << true << true;
    QTest::addRow("not loaded") << true << false;
    QTest::addRow("rewritten") << false << true;
    QTest::addRow("not rewritten") << false << false;
}

void tst_ReceiptButton::hostAnswers()
{
    QFETCH(bool, load);
    QFETCH(bool, success);
    ReceiptStore::createReceipt(QStringLiteral("a"), QString());
    ReceiptStore::createReceipt(QStringLiteral("b"), QString());
    QSignalSpy asked(m_button, load ? &ReceiptButton::receiptCanBeLoaded : &ReceiptButton::receiptCanBeRewrited);
    openManager();
    auto *list = manager()->findChild<QListWidget *>(QStringLiteral("receiptListWidget"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    ModalAnswerer answerer(QStringLiteral("Да"));
    QTest::mouseClick(button(manager(), load ? "loadReceiptButton" : "changeReceiptButton"), Qt::LeftButton);
    QVERIFY(answerer.answered());
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.first().first().toString(), ReceiptStore::storePath() + QStringLiteral("b.db"));
    if (load)
        success ? m_button->receiptWasLoaded() : m_button->receiptWasNotLoaded();
    else
        success ? m_button->receiptWasRewrited() : m_button->receiptWasNotRewrited();
    QVERIFY(!manager()->isVisible());
    QCOMPARE(buttonText(), success ? QStringLiteral("b") : noReceipt);
}

void tst_ReceiptButton::renameFollowedOnlyForOwnRecipe()
{
    ReceiptStore::createReceipt(QStringLiteral("a"), QString());
    ReceiptStore::createReceipt(QStringLiteral("b"), QString());
    QMetaObject::invokeMethod(m_button, "setReceiptName", Q_ARG(QString, QStringLiteral("b")));
    auto *list = manager()->findChild<QListWidget *>(QStringLiteral("receiptListWidget"));
    auto *nameField = manager()->findChild<LineEditEmbedded *>(QStringLiteral("receiptNamelineEdit"));

    openManager();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    ModalAnswerer other(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(nameField, QStringLiteral("c")));
    QVERIFY(other.answered());
    QCOMPARE(buttonText(), QStringLiteral("b"));

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    QCOMPARE(nameField->text(), QStringLiteral("b"));
    ModalAnswerer own(QStringLiteral("Да"));
    QVERIFY(typeOnKeyboard(nameField, QStringLiteral("Бэ")));
    QVERIFY(own.answered());
    QCOMPARE(buttonText(), QStringLiteral("Бэ"));
    QCOMPARE(ReceiptStore::receiptNames(), (QStringList {QStringLiteral("c"), QStringLiteral("Бэ")}));
}

void tst_ReceiptButton::relayedRequests()
{
    QSignalSpy opened(m_button, &ReceiptButton::receiptDialogOpened);
    QSignalSpy closed(m_button, &ReceiptButton::receiptDialogClosed);
    QSignalSpy create(m_button, &ReceiptButton::createReceiptButtonClicked);
    openManager();
    QCOMPARE(opened.count(), 1);
    QTest::mouseClick(button(manager(), "createReceiptButton"), Qt::LeftButton);
    QCOMPARE(create.count(), 1);
    QVERIFY(saveDialog()->isVisible());

    m_button->closeAllForms();
    QVERIFY(!saveDialog()->isVisible());
    QVERIFY(!manager()->isVisible());
    QCOMPARE(closed.count(), 0);

    openManager();
    QTest::mouseClick(button(manager(), "closeButton"), Qt::LeftButton);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!manager()->isVisible());
}

void tst_ReceiptButton::restrictions()
{
    ReceiptStore::createReceipt(QStringLiteral("a"), QString());
    openManager();
    m_button->enableOrDisableReceiptsManageButtons(false);
    for (const char *name : {"loadReceiptButton", "changeReceiptButton", "createReceiptButton"})
        QVERIFY2(!button(manager(), name)->isEnabled(), name);
    m_button->enableOrDisableReceiptsManageButtons(true); // lifts nothing
    QVERIFY(!button(manager(), "loadReceiptButton")->isEnabled());
    m_button->enableChangeLoadReceiptButtons();
    QVERIFY(button(manager(), "loadReceiptButton")->isEnabled());
}

void tst_ReceiptButton::timingProperties()
{
    QCOMPARE(m_button->property("descriptionrepeatspeed").toUInt(), 5u);
    // The values are shared by every recipe button and dialog of the process.
    ReceiptButton other;
    QVERIFY(other.setProperty("repeatdelay", 40u));
    QVERIFY(other.setProperty("repeatspeed", 20u));
    QCOMPARE(m_button->property("repeatdelay").toUInt(), 40u);
    QCOMPARE(m_button->property("repeatspeed").toUInt(), 20u);

    // and the manager uses them at the next press.
    for (int i = 0; i < 30; ++i)
        ReceiptStore::createReceipt(QStringLiteral("r%1").arg(i, 2, 10, QLatin1Char('0')), QString());
    openManager();
    QPushButton *down = button(manager(), "downButton");
    QTRY_VERIFY(down->isEnabled());
    auto *list = manager()->findChild<QListWidget *>(QStringLiteral("receiptListWidget"));
    QElapsedTimer held;
    held.start();
    QTest::mousePress(down, Qt::LeftButton);
    QTRY_VERIFY(list->currentRow() >= 10);
    const qint64 elapsed = held.elapsed();
    QTest::mouseRelease(down, Qt::LeftButton);
    QVERIFY2(elapsed < 300 + 9 * 100, QByteArray::number(elapsed)); // far quicker than the defaults allow

    other.setProperty("repeatdelay", 300u);
    other.setProperty("repeatspeed", 100u);
}

void tst_ReceiptButton::destructionOrder()
{
    StderrCapture capture;
    delete m_host;
    m_host = nullptr;
    m_button = nullptr;
    const QByteArray log = capture.text();
    const qsizetype button = log.indexOf("~ReceiptButton()\n");
    const qsizetype dialog = log.indexOf("~ReceiptDialog()\n");
    const qsizetype save = log.indexOf("~SaveReceiptDialog()\n");
    QVERIFY2(button >= 0 && dialog > button && save > dialog, log.constData());
}

void tst_ReceiptButton::dialogsOpenOnTheScreen_data()
{
    QTest::addColumn<int>("corner");
    QTest::addRow("host in the top-left corner") << int(Qt::TopLeftCorner);
    QTest::addRow("host in the bottom-right corner") << int(Qt::BottomRightCorner);
}

/// A small host near an edge of the screen: centred over it the dialogs would reach past the screen, where
/// a touch cannot get at their buttons.
void tst_ReceiptButton::dialogsOpenOnTheScreen()
{
    QFETCH(int, corner);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QRect host(QPoint(), QSize(200, 80));
    if (corner == Qt::TopLeftCorner)
        host.moveTopLeft(screen.topLeft());
    else
        host.moveBottomRight(screen.bottomRight());
    m_host->setGeometry(host);
    openSaveDialog();
    const QRect managerFrame = manager()->frameGeometry();
    QVERIFY2(screen.contains(managerFrame), qPrintable(QDebug::toString(managerFrame)));
    const QRect saveFrame = saveDialog()->frameGeometry();
    QVERIFY2(screen.contains(saveFrame), qPrintable(QDebug::toString(saveFrame)));
}

QTEST_MAIN(tst_ReceiptButton)
#include "tst_receiptbutton.moc"
