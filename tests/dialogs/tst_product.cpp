#include "keyboard.h"
#include "lineeditembedded.h"
#include "modalanswerer.h"
#include "product.h"
#include "productionrecords.h"
#include "stderrcapture.h"
#include "testworkdir.h"

#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class tst_Product : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void emptyCatalogue();
    void emptyNameAddsNothing();
    void sameNameTwiceGetsTwoIds();
    void nameTypedOnTheKeyboard();
    void deleteAsksAndKeepsSelectionOnNo();
    void namesRoundTrip_data();
    void namesRoundTrip();
    void nullNameShowsEmpty();
    void closeHidesThenSignals();
    void unopenableDatabase();

private:
    void clickRow(Product &product, int row);
    QStringList shownNames(const Product &product);
    // Clicks "Удалить" and says whether a confirmation box appeared (answered with `answer`).
    bool clickDelete(Product &product, const QString &answer, ModalAnswerer **seen = nullptr);

    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<ProductionRecords> m_records;
};

void tst_Product::init()
{
    m_dir = std::make_unique<TestWorkDir>();
    m_records = std::make_unique<ProductionRecords>();
}

void tst_Product::cleanup()
{
    m_records.reset();
    m_dir.reset();
}

void tst_Product::clickRow(Product &product, int row)
{
    QTableWidgetItem *item = product.productTable->item(row, 0);
    QVERIFY(item);
    const QPoint centre = product.productTable->visualItemRect(item).center();
    QTest::mouseClick(product.productTable->viewport(), Qt::LeftButton, {}, centre);
}

QStringList tst_Product::shownNames(const Product &product)
{
    QStringList names;
    for (int row = 0; row < product.productTable->rowCount(); ++row)
        names.append(product.productTable->item(row, 0)->text());
    return names;
}

bool tst_Product::clickDelete(Product &product, const QString &answer, ModalAnswerer **seen)
{
    // The box runs inside the click, so once the click returns it has come and gone, or never came.
    auto *answerer = new ModalAnswerer(answer, 2000);
    QTest::mouseClick(product.delButton, Qt::LeftButton);
    const bool asked = answerer->answered();
    if (seen)
        *seen = answerer;
    else
        delete answerer;
    return asked;
}

void tst_Product::emptyCatalogue()
{
    Product product;
    product.show();
    QVERIFY(QTest::qWaitForWindowExposed(&product));
    QCOMPARE(product.windowTitle(), QStringLiteral("Продукт"));
    QCOMPARE(product.productTable->columnCount(), 1);
    QCOMPARE(product.productTable->rowCount(), 0);
    QCOMPARE(product.productTable->horizontalHeaderItem(0)->text(), QStringLiteral("Вид продукта"));
    QVERIFY(product.productTable->verticalHeader()->isHidden());
    QVERIFY(!clickDelete(product, QStringLiteral("Да")));
}

void tst_Product::emptyNameAddsNothing()
{
    Product product;
    product.newProductName->clear();
    QTest::mouseClick(product.addButton, Qt::LeftButton);
    QCOMPARE(product.productTable->rowCount(), 0);
    m_records->query().runQuery(QStringLiteral("SELECT count(*) FROM product"));
    QCOMPARE(m_records->query().cell(0, 0), QStringLiteral("0"));
}

void tst_Product::sameNameTwiceGetsTwoIds()
{
    Product product;
    product.newProductName->setText(QStringLiteral("Сахар"));
    QTest::mouseClick(product.addButton, Qt::LeftButton);
    QTest::mouseClick(product.addButton, Qt::LeftButton);
    QCOMPARE(product.newProductName->text(), QStringLiteral("Сахар"));
    QCOMPARE(shownNames(product), (QStringList {QStringLiteral("Сахар"), QStringLiteral("Сахар")}));
    QCOMPARE(product.productTable->columnCount(), 2);
    QVERIFY(product.productTable->isColumnHidden(1));
    const QString firstId = product.productTable->item(0, 1)->text();
    const QString secondId = product.productTable->item(1, 1)->text();
    QVERIFY(!firstId.isEmpty());
    QVERIFY(firstId != secondId);
}

/// The panel has no keyboard: a touch on the name field opens the full on-screen keyboard, whose keys
/// type the name that "Добавить" then stores.
void tst_Product::nameTypedOnTheKeyboard()
{
    Product product;
    product.show();
    QVERIFY(QTest::qWaitForWindowExposed(&product));
    auto *field = qobject_cast<LineEditEmbedded *>(product.newProductName);
    QVERIFY(field);
    QTest::mouseClick(field, Qt::LeftButton);
    Keyboard *keyboard = field->keyboard();
    QVERIFY(keyboard && keyboard->isVisible());
    QCOMPARE(keyboard->windowTitle(), QStringLiteral("Новый продукт"));
    for (const QChar c : QStringLiteral("соль")) {
        QPushButton *key = nullptr;
        for (QPushButton *candidate : keyboard->findChildren<QPushButton *>()) {
            if (candidate->text() == QString(c) && candidate->isVisible())
                key = candidate;
        }
        QVERIFY2(key, qPrintable(QString(c)));
        QTest::mouseClick(key, Qt::LeftButton);
    }
    QTest::mouseClick(keyboard->findChild<QPushButton *>(QStringLiteral("enterButton")), Qt::LeftButton);
    QVERIFY(!keyboard->isVisible());
    QCOMPARE(product.newProductName->text(), QStringLiteral("соль"));
    QTest::mouseClick(product.addButton, Qt::LeftButton);
    QCOMPARE(shownNames(product), QStringList {QStringLiteral("соль")});
}

void tst_Product::deleteAsksAndKeepsSelectionOnNo()
{
    m_records->addProduct(QStringLiteral("Мука"));
    m_records->addProduct(QStringLiteral("Сахар"));
    Product product;
    product.show();
    QVERIFY(QTest::qWaitForWindowExposed(&product));
    clickRow(product, 1);

    ModalAnswerer *box = nullptr;
    QVERIFY(clickDelete(product, QStringLiteral("Нет"), &box));
    QCOMPARE(box->boxTitle(), QStringLiteral("Сообщение"));
    QCOMPARE(box->boxText(), QStringLiteral("Удалить выбранный вид продукта?"));
    QCOMPARE(box->defaultButtonText(), QStringLiteral("Нет"));
    delete box;
    QCOMPARE(shownNames(product), (QStringList {QStringLiteral("Мука"), QStringLiteral("Сахар")}));

    // The selection survived the "Нет": the next delete, without a new click, removes "Сахар".
    QVERIFY(clickDelete(product, QStringLiteral("Да")));
    QCOMPARE(shownNames(product), QStringList {QStringLiteral("Мука")});
    m_records->query().runQuery(QStringLiteral("SELECT productName FROM product"));
    QCOMPARE(m_records->query().rows(), 1);
    QCOMPARE(m_records->query().cell(0, 0), QStringLiteral("Мука"));

    QVERIFY(!clickDelete(product, QStringLiteral("Да")));
    QCOMPARE(shownNames(product), QStringList {QStringLiteral("Мука")});
}

void tst_Product::namesRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addRow("double quotes") << QStringLiteral("Мука \"Экстра\"");
    QTest::addRow("apostrophes") << QStringLiteral("O'Brien's соль");
    QTest::addRow("percent and placeholders") << QStringLiteral("100% %1 %2");
    QTest::addRow("semicolon") << QStringLiteral("крупа; манная");
    QTest::addRow("column name") << QStringLiteral("productName");
    QTest::addRow("statement inside") << QStringLiteral("x\"); DELETE FROM product; --");
    QTest::addRow("backslash and blanks") << QStringLiteral("  C:\\мука\\n  ");
}

void tst_Product::namesRoundTrip()
{
    QFETCH(QString, name);
    m_records->addProduct(QStringLiteral("Соль"));
    Product product;
    product.newProductName->setText(name);
    QTest::mouseClick(product.addButton, Qt::LeftButton);

    QCOMPARE(shownNames(product), (QStringList {QStringLiteral("Соль"), name}));
    m_records->query().runQuery(QStringLiteral("SELECT productName FROM product ORDER BY idProduct"));
    QCOMPARE(m_records->query().rows(), 2);
    QCOMPARE(m_records->query().cell(1, 0), name);

    product.show();
    QVERIFY(QTest::qWaitForWindowExposed(&product));
    clickRow(product, 1);
    QVERIFY(clickDelete(product, QStringLiteral("Да")));
    QCOMPARE(shownNames(product), QStringList {QStringLiteral("Соль")});
}

void tst_Product::nullNameShowsEmpty()
{
    m_records->query().runQuery(QStringLiteral("INSERT INTO product (idProduct, productName) values (NULL, NULL);"));
    Product product;
    QCOMPARE(shownNames(product), QStringList {QString()});
    QCOMPARE(product.productTable->item(0, 1)->text(), QStringLiteral("1"));
}

void tst_Product::closeHidesThenSignals()
{
    Product product;
    product.show();
    QVERIFY(QTest::qWaitForWindowExposed(&product));
    QStringList order;
    connect(&product, &Product::windowHided, this, [&] { order << QStringLiteral("windowHided"); });
    connect(&product, &Product::closeClicked, this, [&] { order << QStringLiteral("closeClicked"); });
    QTest::mouseClick(product.closeButton, Qt::LeftButton);
    QVERIFY(product.isHidden());
    QCOMPARE(order, (QStringList {QStringLiteral("windowHided"), QStringLiteral("closeClicked")}));
}

void tst_Product::unopenableDatabase()
{
    m_records.reset();
    QVERIFY(QFile::remove(QStringLiteral("data.db")));
    QVERIFY(QDir().mkdir(QStringLiteral("data.db"))); // a folder where the file should be
    StderrCapture capture;
    {
        Product product;
        product.show();
        QVERIFY(QTest::qWaitForWindowExposed(&product));
        QCOMPARE(product.productTable->rowCount(), 0);
        product.newProductName->setText(QStringLiteral("Соль"));
        QTest::mouseClick(product.addButton, Qt::LeftButton);
        QCOMPARE(product.productTable->rowCount(), 0);
        QVERIFY(!clickDelete(product, QStringLiteral("Да")));
    }
    const QByteArray log = capture.text();
    QVERIFY2(log.startsWith("\nCan't open database: "), log.constData());
    // The name field, a child of the dialog, goes after the dialog's own last line.
    QVERIFY(log.endsWith("~Product()\n~LineEditEmbedded()\n"));
    QCOMPARE(QDir(QStringLiteral("data.db")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

QTEST_MAIN(tst_Product)
#include "tst_product.moc"
