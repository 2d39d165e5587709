#include "receiptstore.h"
#include "sqlitequery.h"
#include "testworkdir.h"

#include <QtTest>

namespace {
const QString emptyText = QStringLiteral("Описание рецепта отсутствует. Для добавления описания нажмите на это поле.");

void touchFile(const QString &path)
{
    QFile(path).open(QIODevice::WriteOnly);
}

QString cellOf(const QString &name, const QString &statement)
{
    SqliteQuery query;
    query.open(ReceiptStore::fullPath(name));
    query.runQuery(statement);
    return query.cell(0, 0);
}
} // namespace

class tst_ReceiptStore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void storeFolders();
    void listsDbFilesSorted();
    void descriptionRoundTrips_data();
    void descriptionRoundTrips();
    void missingDescription();
    void updateTouchesOnlyDescription();
    void existenceIgnoresLetterCase();
    void rename_data();
    void rename();
    void removeMissingFile();

private:
    TestWorkDir *m_dir = nullptr;
};

void tst_ReceiptStore::initTestCase()
{
    // Until the host chooses the store, recipe files are bare names in the working directory.
    QCOMPARE(ReceiptStore::fullPath(QStringLiteral("Хлеб")), QStringLiteral("Хлеб.db"));
}

void tst_ReceiptStore::init()
{
    m_dir = new TestWorkDir;
    ReceiptStore::createStoreDir();
}

void tst_ReceiptStore::cleanup()
{
    delete m_dir;
    m_dir = nullptr;
}

void tst_ReceiptStore::storeFolders()
{
    const QString perUser = m_dir->filePath(QStringLiteral("data/KESTU/D415_Test/programs/"));
    QCOMPARE(ReceiptStore::storePath(), perUser);
    QVERIFY(QFileInfo(perUser).isDir());
    QCOMPARE(ReceiptStore::fullPath(QStringLiteral("a")), perUser + QStringLiteral("a.db"));

    // A plain file where the data folder should be: the store falls back to the working directory,
    // and stays there when the working directory changes later.
    touchFile(m_dir->filePath(QStringLiteral("blocked")));
    qputenv("XDG_DATA_HOME", m_dir->filePath(QStringLiteral("blocked")).toLocal8Bit());
    ReceiptStore::createStoreDir();
    const QString fallback = m_dir->filePath(QStringLiteral("programs/"));
    QCOMPARE(ReceiptStore::storePath(), fallback);
    QDir().mkdir(QStringLiteral("elsewhere"));
    QDir::setCurrent(QStringLiteral("elsewhere"));
    ReceiptStore::createReceipt(QStringLiteral("r"), QStringLiteral("d"));
    QVERIFY(QFileInfo::exists(fallback + QStringLiteral("r.db")));
}

void tst_ReceiptStore::listsDbFilesSorted()
{
    const QString store = ReceiptStore::storePath();
    for (const char *name : {"Сахар.db", "b.db", "A.db", ".hidden.db", "notes.txt", "old.db.bak", "upper.DB", "db"})
        touchFile(store + QString::fromUtf8(name));
    QDir(store).mkdir(QStringLiteral("folder.db"));
    QFile::link(store + QStringLiteral("b.db"), store + QStringLiteral("link.db"));
    QCOMPARE(ReceiptStore::receiptNames(),
        (QStringList {QStringLiteral(".hidden"), QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("Сахар")}));
}

void tst_ReceiptStore::descriptionRoundTrips_data()
{
    QTest::addColumn<QString>("description");
    QTest::addRow("double quotes") << QStringLiteral("Смесь \"Экстра\" 12\"");
    QTest::addRow("apostrophes") << QStringLiteral("O'Brien's mix, д'Артаньян");
    QTest::addRow("column name") << QStringLiteral("description");
    QTest::addRow("statement end") << QStringLiteral("x\"); DROP TABLE receiptdescription; --");
    QTest::addRow("apostrophe statement end") << QStringLiteral("x'); DROP TABLE receiptdescription; --");
    QTest::addRow("placeholders") << QStringLiteral("%1 %2 ?1 :name");
    QTest::addRow("lines, tabs, cyrillic") << QStringLiteral("Строка 1\nЁжик ЪЫЬ\n\tотступ");
}

void tst_ReceiptStore::descriptionRoundTrips()
{
    QFETCH(QString, description);
    ReceiptStore::createReceipt(QStringLiteral("r"), description);
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("r"), emptyText), description);

    ReceiptStore::createReceipt(QStringLiteral("u"), QStringLiteral("before"));
    ReceiptStore::updateDescription(QStringLiteral("u"), description);
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("u"), emptyText), description);
    QCOMPARE(
        cellOf(QStringLiteral("u"), QStringLiteral("SELECT count(*) FROM receiptdescription")), QStringLiteral("1"));
}

void tst_ReceiptStore::missingDescription()
{
    touchFile(ReceiptStore::fullPath(QStringLiteral("no table")));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("no table"), emptyText), emptyText);
    ReceiptStore::createReceipt(QStringLiteral("no row"), QStringLiteral("x"));
    cellOf(QStringLiteral("no row"), QStringLiteral("DELETE FROM receiptdescription"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("no row"), emptyText), emptyText);

    // A recipe deleted behind the list's back is not brought back as an empty file.
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("gone"), emptyText), emptyText);
    ReceiptStore::updateDescription(QStringLiteral("gone"), QStringLiteral("text"));
    QVERIFY(!QFileInfo::exists(ReceiptStore::fullPath(QStringLiteral("gone"))));
}

void tst_ReceiptStore::updateTouchesOnlyDescription()
{
    ReceiptStore::createReceipt(QStringLiteral("r"), QStringLiteral("old"));
    // The host's working parameters live beside the description, with a column of the same name.
    cellOf(QStringLiteral("r"),
        QStringLiteral("CREATE TABLE params (name TEXT, description TEXT);"
                       "INSERT INTO params VALUES ('maxDose', 'kg');"));
    ReceiptStore::updateDescription(QStringLiteral("r"), QStringLiteral("new"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("r"), emptyText), QStringLiteral("new"));
    QCOMPARE(cellOf(QStringLiteral("r"), QStringLiteral("SELECT group_concat(name || '=' || description) FROM params")),
        QStringLiteral("maxDose=kg"));
}

void tst_ReceiptStore::existenceIgnoresLetterCase()
{
    ReceiptStore::createReceipt(QStringLiteral("Мука"), QString());
    touchFile(ReceiptStore::storePath() + QStringLiteral("Upper.DB"));
    for (const char *name : {"Мука", "МУКА", "мука", "upper"})
        QVERIFY2(ReceiptStore::fileExists(QString::fromUtf8(name)), name);
    QVERIFY(!ReceiptStore::fileExists(QStringLiteral("Мук")));
    QVERIFY(!ReceiptStore::fileExists(QStringLiteral("Мука.db")));
}

void tst_ReceiptStore::rename_data()
{
    QTest::addColumn<QString>("oldName");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QStringList>("names");
    const QStringList unchanged {QStringLiteral("a"), QStringLiteral("b")};
    QTest::addRow("free name") << QStringLiteral("a") << QStringLiteral("Новый")
                               << QStringList {QStringLiteral("b"), QStringLiteral("Новый")};
    QTest::addRow("other recipe's name") << QStringLiteral("a") << QStringLiteral("b") << unchanged;
    QTest::addRow("in other case") << QStringLiteral("a") << QStringLiteral("B") << unchanged;
    QTest::addRow("source gone") << QStringLiteral("missing") << QStringLiteral("c") << unchanged;
    QTest::addRow("too long for the file system") << QStringLiteral("a") << QString(300, QLatin1Char('x')) << unchanged;
}

void tst_ReceiptStore::rename()
{
    QFETCH(QString, oldName);
    QFETCH(QString, newName);
    QFETCH(QStringList, names);
    ReceiptStore::createReceipt(QStringLiteral("a"), QStringLiteral("first"));
    ReceiptStore::createReceipt(QStringLiteral("b"), QStringLiteral("second"));
    QCOMPARE(ReceiptStore::renameReceipt(oldName, newName), names.contains(newName) && !names.contains(oldName));
    QCOMPARE(ReceiptStore::receiptNames(), names);
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("b"), emptyText), QStringLiteral("second"));
}

void tst_ReceiptStore::removeMissingFile()
{
    ReceiptStore::createReceipt(QStringLiteral("r"), QString());
    ReceiptStore::removeReceipt(QStringLiteral("r"));
    ReceiptStore::removeReceipt(QStringLiteral("r"));
    QVERIFY(ReceiptStore::receiptNames().isEmpty());
}

QTEST_GUILESS_MAIN(tst_ReceiptStore)
#include "tst_receiptstore.moc"
