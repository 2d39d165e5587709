#include "receiptstore.h"
#include "sqlitequery.h"
#include "stderrcapture.h"
#include "testworkdir.h"

#include <QtTest>

namespace {
const QString emptyText = QStringLiteral("Описание рецепта отсутствует. Для добавления описания нажмите на это поле.");

void touchFile(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

QString cellOf(const QString &file, const QString &statement)
{
    SqliteQuery query;
    query.open(file);
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
    void storeInPerUserDataFolder();
    void fallbackToWorkingDirectory();
    void listsDbFilesSorted();
    void createdRecipeHoldsOneDescriptionRow();
    void openingIsLogged();
    void recipeWithoutDescriptionRow();
    void descriptionRoundTrips_data();
    void descriptionRoundTrips();
    void updateTouchesOnlyDescription();
    void readingOrUpdatingVanishedRecipeCreatesNothing();
    void existenceIgnoresLetterCase();
    void forbiddenCharacters_data();
    void forbiddenCharacters();
    void rename();
    void renameRefusals_data();
    void renameRefusals();
    void removeMissingFile();

private:
    TestWorkDir *m_dir = nullptr;
};

void tst_ReceiptStore::initTestCase()
{
    // Until the host chooses the store, recipe files are bare names in the working directory.
    QCOMPARE(ReceiptStore::storePath(), QString());
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

void tst_ReceiptStore::storeInPerUserDataFolder()
{
    const QString expected = m_dir->filePath(QStringLiteral("data/KESTU/D415_Test/programs/"));
    QCOMPARE(ReceiptStore::storePath(), expected);
    QVERIFY(QFileInfo(expected).isDir());
    QCOMPARE(ReceiptStore::fullPath(QStringLiteral("a")), expected + QStringLiteral("a.db"));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("programs"))));
}

void tst_ReceiptStore::fallbackToWorkingDirectory()
{
    // A plain file where the data folder should be: the per-user store cannot be made.
    touchFile(m_dir->filePath(QStringLiteral("blocked")));
    qputenv("XDG_DATA_HOME", m_dir->filePath(QStringLiteral("blocked")).toLocal8Bit());
    ReceiptStore::createStoreDir();
    const QString expected = m_dir->filePath(QStringLiteral("programs/"));
    QCOMPARE(ReceiptStore::storePath(), expected);
    QVERIFY(QFileInfo(expected).isDir());

    // The store stays where it was made when the working directory changes.
    QDir().mkdir(QStringLiteral("elsewhere"));
    QDir::setCurrent(m_dir->filePath(QStringLiteral("elsewhere")));
    ReceiptStore::createReceipt(QStringLiteral("r"), QStringLiteral("d"));
    QVERIFY(QFileInfo::exists(expected + QStringLiteral("r.db")));
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

void tst_ReceiptStore::createdRecipeHoldsOneDescriptionRow()
{
    ReceiptStore::createReceipt(QStringLiteral("Мука"), QStringLiteral("Пшеничная"));
    const QString file = ReceiptStore::fullPath(QStringLiteral("Мука"));
    QVERIFY(QFileInfo::exists(file));
    QCOMPARE(cellOf(file, QStringLiteral("SELECT count(*) FROM receiptdescription")), QStringLiteral("1"));
    QCOMPARE(cellOf(file, QStringLiteral("SELECT group_concat(name) FROM sqlite_master")),
        QStringLiteral("receiptdescription"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("Мука"), emptyText), QStringLiteral("Пшеничная"));
    QCOMPARE(ReceiptStore::receiptNames(), QStringList {QStringLiteral("Мука")});
}

void tst_ReceiptStore::openingIsLogged()
{
    StderrCapture capture;
    ReceiptStore::createReceipt(QStringLiteral("r"), QStringLiteral("d"));
    QCOMPARE(capture.text(),
        QByteArray("\nCan open database: not an error\n"
                   "\n0 columns, 0 rows, not an error"
                   "\n0 columns, 0 rows, not an error"));
}

void tst_ReceiptStore::recipeWithoutDescriptionRow()
{
    // A file without the table (made by hand) and a file whose row is gone both read as undescribed.
    touchFile(ReceiptStore::fullPath(QStringLiteral("bare")));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("bare"), emptyText), emptyText);

    ReceiptStore::createReceipt(QStringLiteral("emptied"), QStringLiteral("x"));
    cellOf(ReceiptStore::fullPath(QStringLiteral("emptied")), QStringLiteral("DELETE FROM receiptdescription"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("emptied"), emptyText), emptyText);
}

void tst_ReceiptStore::descriptionRoundTrips_data()
{
    QTest::addColumn<QString>("description");
    QTest::addRow("double quotes") << QStringLiteral("Смесь \"Экстра\" для \"Хлеба\"");
    QTest::addRow("lone double quote") << QStringLiteral("12\" труба");
    QTest::addRow("apostrophes") << QStringLiteral("O'Brien's mix, д'Артаньян");
    QTest::addRow("column name") << QStringLiteral("description");
    QTest::addRow("statement end") << QStringLiteral("x\"); DROP TABLE receiptdescription; --");
    QTest::addRow("apostrophe statement end") << QStringLiteral("x'); DROP TABLE receiptdescription; --");
    QTest::addRow("placeholders") << QStringLiteral("%1 %2 ?1 :name");
    QTest::addRow("lines and tabs") << QStringLiteral("Строка 1\nСтрока 2\n\tотступ");
    QTest::addRow("cyrillic") << QStringLiteral("Ёжик в тумане — ЪЫЬ ёщё");
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
        cellOf(ReceiptStore::fullPath(QStringLiteral("u")), QStringLiteral("SELECT count(*) FROM receiptdescription")),
        QStringLiteral("1"));
}

void tst_ReceiptStore::updateTouchesOnlyDescription()
{
    ReceiptStore::createReceipt(QStringLiteral("r"), QStringLiteral("old"));
    const QString file = ReceiptStore::fullPath(QStringLiteral("r"));
    // The host's working parameters live beside the description, with a column of the same name.
    cellOf(file,
        QStringLiteral("CREATE TABLE params (name TEXT, value TEXT, description TEXT);"
                       "INSERT INTO params VALUES ('maxDose', '25.00', 'kg');"));
    ReceiptStore::updateDescription(QStringLiteral("r"), QStringLiteral("new"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("r"), emptyText), QStringLiteral("new"));
    QCOMPARE(cellOf(file, QStringLiteral("SELECT name || '=' || value || ' ' || description FROM params")),
        QStringLiteral("maxDose=25.00 kg"));
    QCOMPARE(cellOf(file, QStringLiteral("SELECT count(*) FROM params")), QStringLiteral("1"));
}

void tst_ReceiptStore::readingOrUpdatingVanishedRecipeCreatesNothing()
{
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("gone"), emptyText), emptyText);
    ReceiptStore::updateDescription(QStringLiteral("gone"), QStringLiteral("text"));
    QVERIFY(!QFileInfo::exists(ReceiptStore::fullPath(QStringLiteral("gone"))));
    QVERIFY(ReceiptStore::receiptNames().isEmpty());
}

void tst_ReceiptStore::existenceIgnoresLetterCase()
{
    ReceiptStore::createReceipt(QStringLiteral("Мука"), QString());
    QVERIFY(ReceiptStore::fileExists(QStringLiteral("Мука")));
    QVERIFY(ReceiptStore::fileExists(QStringLiteral("МУКА")));
    QVERIFY(ReceiptStore::fileExists(QStringLiteral("мука")));
    QVERIFY(!ReceiptStore::fileExists(QStringLiteral("Мук")));
    QVERIFY(!ReceiptStore::fileExists(QStringLiteral("Мука.db")));
    touchFile(ReceiptStore::storePath() + QStringLiteral("Upper.DB"));
    QVERIFY(ReceiptStore::fileExists(QStringLiteral("upper")));
}

void tst_ReceiptStore::forbiddenCharacters_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("forbidden");
    for (const QChar c : QStringLiteral("\\/:*?<>|\""))
        QTest::addRow("%s", QString(c).toUtf8().constData())
            << (QStringLiteral("Рец") + c + QStringLiteral("епт")) << true;
    QTest::addRow("plain") << QStringLiteral("Рецепт №5 (ночь) - 1.5%, 'a' & b") << false;
}

void tst_ReceiptStore::forbiddenCharacters()
{
    QFETCH(QString, name);
    QFETCH(bool, forbidden);
    QCOMPARE(ReceiptStore::hasForbiddenCharacter(name), forbidden);
}

void tst_ReceiptStore::rename()
{
    ReceiptStore::createReceipt(QStringLiteral("old"), QStringLiteral("d"));
    QVERIFY(ReceiptStore::renameReceipt(QStringLiteral("old"), QStringLiteral("Новый")));
    QCOMPARE(ReceiptStore::receiptNames(), QStringList {QStringLiteral("Новый")});
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("Новый"), emptyText), QStringLiteral("d"));
}

void tst_ReceiptStore::renameRefusals_data()
{
    QTest::addColumn<QString>("oldName");
    QTest::addColumn<QString>("newName");
    QTest::addRow("other recipe's name") << QStringLiteral("a") << QStringLiteral("b");
    QTest::addRow("other recipe's name in other case") << QStringLiteral("a") << QStringLiteral("B");
    QTest::addRow("source gone") << QStringLiteral("missing") << QStringLiteral("c");
    QTest::addRow("name too long for the file system") << QStringLiteral("a") << QString(300, QLatin1Char('x'));
}

void tst_ReceiptStore::renameRefusals()
{
    QFETCH(QString, oldName);
    QFETCH(QString, newName);
    ReceiptStore::createReceipt(QStringLiteral("a"), QStringLiteral("first"));
    ReceiptStore::createReceipt(QStringLiteral("b"), QStringLiteral("second"));
    QVERIFY(!ReceiptStore::renameReceipt(oldName, newName));
    QCOMPARE(ReceiptStore::receiptNames(), (QStringList {QStringLiteral("a"), QStringLiteral("b")}));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("a"), emptyText), QStringLiteral("first"));
    QCOMPARE(ReceiptStore::readDescription(QStringLiteral("b"), emptyText), QStringLiteral("second"));
}

void tst_ReceiptStore::removeMissingFile()
{
    ReceiptStore::createReceipt(QStringLiteral("r"), QString());
    ReceiptStore::removeReceipt(QStringLiteral("r"));
    QVERIFY(ReceiptStore::receiptNames().isEmpty());
    ReceiptStore::removeReceipt(QStringLiteral("r"));
    QVERIFY(ReceiptStore::receiptNames().isEmpty());
}

QTEST_GUILESS_MAIN(tst_ReceiptStore)
#include "tst_receiptstore.moc"
