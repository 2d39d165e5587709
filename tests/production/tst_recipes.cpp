#include "boxanswerer.h"
#include "d415_fendrix.h"
#include "modalanswerer.h"
#include "receiptbutton.h"
#include "receiptdialog.h"
#include "receiptstore.h"
#include "savereceiptdialog.h"
#include "simulatorprocess.h"
#include "sqlitequery.h"
#include "stationharness.h"
#include "touchtyping.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QtTest>

namespace {
const QString recipe = QStringLiteral("Мука 120");
const QString flour = QStringLiteral("Мука в/с");
const QString sugar = QStringLiteral("Сахар");
} // namespace

/// Recipes in the station against the doser simulator, through the widgets: a recipe saved from the
/// panel's values is loaded over other values and puts its own back into effect, on the doser too, or is
/// refused with the station's values left as they were.
class tst_Recipes : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void loading_data();
    void loading();

private:
    ReceiptButton *recipeButton() const;
    ReceiptDialog *manager() const { return recipeButton()->receiptDialog(); }
    QPushButton *managerButton(const char *name) const;
    bool setPanel(const QString &product, const QString &weight, const QString &plus, const QString &minus);
    bool saveRecipe(const QString &name);
    bool touchSave(const QString &name);
    bool openManager();
    bool closeManager();
    QString container() const;

    StationHarness *m_station = nullptr;
};

void tst_Recipes::init()
{
    m_station = new StationHarness;
}

void tst_Recipes::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

ReceiptButton *tst_Recipes::recipeButton() const
{
    return m_station->window()->findChild<ReceiptButton *>();
}

QPushButton *tst_Recipes::managerButton(const char *name) const
{
    return manager()->findChild<QPushButton *>(QLatin1String(name));
}

QString tst_Recipes::container() const
{
    return m_station->window()->findChild<QGroupBox *>(QStringLiteral("containerD415_11"))->title();
}

/// The operator's values: the product in the doser settings, the weight and tolerances on the keyboard;
/// the tolerances are in force once the doser's answers show them on the panel.
bool tst_Recipes::setPanel(const QString &product, const QString &weight, const QString &plus, const QString &minus)
{
    return m_station->chooseProduct(product) && m_station->typeInto("productWeightD415_11", weight)
        && m_station->typeInto("doseFaultPlusD415_11", plus) && m_station->typeInto("doseFaultMinusD415_11", minus)
        && QTest::qWaitFor(
            [&] {
                return m_station->edit("doseFaultPlusD415_11")->text() == plus
                    && m_station->edit("doseFaultMinusD415_11")->text() == minus;
            },
            3000);
}

bool tst_Recipes::openManager()
{
    QTest::mouseClick(recipeButton()->findChild<QPushButton *>(QStringLiteral("receiptEditorButton")), Qt::LeftButton);
    return QTest::qWaitForWindowExposed(manager());
}

bool tst_Recipes::closeManager()
{
    QTest::mouseClick(managerButton("closeButton"), Qt::LeftButton);
    return !manager()->isVisible();
}

bool tst_Recipes::saveRecipe(const QString &name)
{
    SaveReceiptDialog *dialog = manager()->saveReceiptDialog();
    return touchSave(name) && QTest::qWaitFor([&] { return !dialog->isVisible() && !manager()->isVisible(); }, 3000);
}

/// The manager, "Создать", the name typed, "Сохранить рецепт".
bool tst_Recipes::touchSave(const QString &name)
{
    if (!openManager())
        return false;
    QTest::mouseClick(managerButton("createReceiptButton"), Qt::LeftButton);
    SaveReceiptDialog *dialog = manager()->saveReceiptDialog();
    if (!QTest::qWaitForWindowExposed(dialog)
        || !typeOnKeyboard(dialog->findChild<LineEditEmbedded *>(QStringLiteral("receiptNamelineEdit")), name))
        return false;
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("saveButton")), Qt::LeftButton);
    return true;
}

void tst_Recipes::loading_data()
{
    QTest::addColumn<QString>("change"); // what happened to the recipe file after it was saved
    QTest::addColumn<QString>("product"); // the product the recipe holds when it loads
    QTest::addColumn<QStringList>("boxWords"); // the notice or refusal must say these
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QStringList>("doserFaults"); // aimed at the doser's replies during the load

    QTest::addRow("as saved, then dosed") << QString() << flour << QStringList() << true << QStringList();
    QTest::addRow("product not in the catalogue")
        << QStringLiteral("UPDATE receiptparameters SET productName = 'Соль «Экстра»'")
        << QStringLiteral("Соль «Экстра»") << QStringList {QStringLiteral("Соль «Экстра»"), QStringLiteral("добавлен")}
        << true << QStringList();
    QTest::addRow("other unit") << QStringLiteral("UPDATE receiptparameters SET weightUnit = 'г'") << flour
                                << QStringList {QStringLiteral("«г», 1 зн."), QStringLiteral("«кг», 1 зн.")} << false
                                << QStringList();
    QTest::addRow("other decimals") << QStringLiteral("UPDATE receiptparameters SET decimals = 2") << flour
                                    << QStringList {QStringLiteral("«кг», 2 зн."), QStringLiteral("«кг», 1 зн.")}
                                    << false << QStringList();
    QTest::addRow("parameter table missing")
        << QStringLiteral("DROP TABLE receiptparameters") << flour << QStringList {QStringLiteral("нет параметров")}
        << false << QStringList();
    QTest::addRow("weight damaged") << QStringLiteral("UPDATE receiptparameters SET taskWeight = 'много'") << flour
                                    << QStringList {QStringLiteral("повреждены"), QStringLiteral("много")} << false
                                    << QStringList();
    QTest::addRow("second row") << QStringLiteral("INSERT INTO receiptparameters SELECT * FROM receiptparameters")
                                << flour << QStringList {QStringLiteral("повреждены")} << false << QStringList();
    // The read-back gets no reply, nor when it is asked again: a tolerance not confirmed is not in effect.
    QTest::addRow("plus tolerance not read back")
        << QString() << flour << QStringList {QStringLiteral("не подтвердил погрешность + 2.5")} << false
        << QStringList {QStringLiteral("at 1 10/0 silence"), QStringLiteral("at 2 10/0 silence")};
}

void tst_Recipes::loading()
{
    QFETCH(QString, change);
    QFETCH(QString, product);
    QFETCH(QStringList, boxWords);
    QFETCH(bool, loaded);
    QFETCH(QStringList, doserFaults);

    QVERIFY(m_station->startSimulator());
    StationHarness::addProduct(flour);
    StationHarness::addProduct(sugar);
    m_station->startStation();
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("weightlabel_7")->text(), QStringLiteral("кг"), 5000);
    QCOMPARE(recipeButton()->findChild<QPushButton *>()->text(), QStringLiteral("отсутствует"));

    if (change.isEmpty() && doserFaults.isEmpty()) {
        // Without a product and a weight there is nothing to keep: the file the save dialog made goes again,
        // and the dialog keeps the name for another try.
        BoxAnswerer refusal;
        QVERIFY(touchSave(recipe));
        QTRY_COMPARE_WITH_TIMEOUT(refusal.count(), 1, 3000);
        QVERIFY(refusal.texts().constFirst().contains(QStringLiteral("вес должны быть заданы")));
        QVERIFY(ReceiptStore::receiptNames().isEmpty());
        SaveReceiptDialog *dialog = manager()->saveReceiptDialog();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->findChild<QLineEdit *>(QStringLiteral("receiptNamelineEdit"))->text(), recipe);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cancelButton")), Qt::LeftButton);
        QVERIFY(closeManager());
        QCOMPARE(recipeButton()->findChild<QPushButton *>()->text(), QStringLiteral("отсутствует"));
    }
    QVERIFY(setPanel(flour, QStringLiteral("120"), QStringLiteral("2.5"), QStringLiteral("1.5")));
    QVERIFY(saveRecipe(recipe));
    QCOMPARE(recipeButton()->findChild<QPushButton *>()->text(), recipe);
    // Every value changed after the save; the doser holds the new tolerances.
    QVERIFY(setPanel(sugar, QStringLiteral("50"), QStringLiteral("3.0"), QStringLiteral("0.5")));
    QVERIFY(m_station->sim()->status().contains(QStringLiteral("plus 3.0, minus 0.5")));
    if (!change.isEmpty()) {
        SqliteQuery file;
        QVERIFY(file.open(ReceiptStore::fullPath(recipe)));
        file.runQuery(change);
        QCOMPARE(file.returnCode(), 0);
    }

    for (const QString &fault : doserFaults)
        QVERIFY(m_station->simulator(fault));
    const qsizetype requestsBefore = m_station->requests().size();
    BoxAnswerer boxes;
    QVERIFY(openManager());
    QTest::mouseClick(managerButton("loadReceiptButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!manager()->isVisible(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), boxWords.isEmpty() ? 1 : 2, 3000);
    for (const QString &word : boxWords)
        QVERIFY2(boxes.texts().constLast().contains(word), qPrintable(boxes.texts().constLast()));
    QCOMPARE(recipeButton()->findChild<QPushButton *>()->text(), recipe);

    if (!loaded) {
        // Nothing of the refused recipe took effect: neither on the panel nor on the doser.
        QCOMPARE(container(), QStringLiteral("Дозатор 30 - ") + sugar);
        QCOMPARE(m_station->edit("productWeightD415_11")->text(), QStringLiteral("50.0"));
        if (!doserFaults.isEmpty())
            return;
        QVERIFY(!m_station->requests().mid(requestsBefore).contains(QStringLiteral("11/0")));
        QVERIFY(m_station->sim()->status().contains(QStringLiteral("plus 3.0, minus 0.5")));
        return;
    }
    // The tolerances were set and then read back from the doser.
    const QStringList sent = m_station->requests().mid(requestsBefore);
    QVERIFY(indexOfRun(sent, {QStringLiteral("11/0")}) < indexOfRun(sent, {QStringLiteral("10/0")}));
    QVERIFY(m_station->sim()->status().contains(QStringLiteral("plus 2.5, minus 1.5")));
    QCOMPARE(m_station->edit("doseFaultPlusD415_11")->text(), QStringLiteral("2.5"));
    QCOMPARE(m_station->edit("doseFaultMinusD415_11")->text(), QStringLiteral("1.5"));
    QCOMPARE(m_station->edit("productWeightD415_11")->text(), QStringLiteral("120.0"));
    QCOMPARE(container(), QStringLiteral("Дозатор 30 - ") + product);
    QCOMPARE(
        StationHarness::recordedCell(
            QStringLiteral("SELECT count(*) FROM product WHERE productName = %1").arg(SqliteQuery::literal(product))),
        QStringLiteral("1"));
    // The catalogue's window lists what data.db holds.
    QTableWidget *catalogue = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("Product"))
            catalogue = widget->findChild<QTableWidget *>(QStringLiteral("productTable"));
    }
    QVERIFY(catalogue && !catalogue->findItems(product, Qt::MatchExactly).isEmpty());
    if (product != flour)
        return;

    // A batch started from the recipe records its product and weight; while it is open, running or
    // stopped, the recipe can be neither loaded over it nor rewritten.
    QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_station->button("stopButton")->isEnabled(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(StationHarness::recordedCell(QStringLiteral("SELECT productName || ' ' || taskWeight "
                                                                          "FROM task ORDER BY rowid DESC LIMIT 1")),
        flour + QStringLiteral(" 120.0"), 5000);
    for (const char *stopper : {"stopButton", ""}) {
        QVERIFY(openManager());
        QVERIFY(!managerButton("loadReceiptButton")->isEnabled());
        QVERIFY(!managerButton("changeReceiptButton")->isEnabled());
        QVERIFY(closeManager());
        QCOMPARE(recipeButton()->findChild<QPushButton *>()->text(), recipe);
        if (*stopper) {
            QTest::mouseClick(m_station->button(stopper), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(m_station->button("continueButton")->isEnabled(), 5000);
        }
    }
}

QTEST_MAIN(tst_Recipes)
#include "tst_recipes.moc"
