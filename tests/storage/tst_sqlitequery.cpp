#include "databaselock.h"
#include "sqlitequery.h"
#include "stderrcapture.h"
#include "testworkdir.h"

#include <QtTest>

class tst_SqliteQuery : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void openLogsAndCreatesFile();
    void emptySelect();
    void syntaxError();
    void valueListIsRowMajor();
    void nullCellIsEmptyText();
    void failedOpenYieldsEmptyResults();
    void literalKeepsTextIntact_data();
    void literalKeepsTextIntact();
    void lockOfAnotherProgram_data();
    void lockOfAnotherProgram();

private:
    TestWorkDir *m_dir = nullptr;
};

void tst_SqliteQuery::init()
{
    m_dir = new TestWorkDir;
}

void tst_SqliteQuery::cleanup()
{
    delete m_dir;
    m_dir = nullptr;
}

void tst_SqliteQuery::openLogsAndCreatesFile()
{
    SqliteQuery query;
    StderrCapture capture;
    QVERIFY(query.open(QStringLiteral("data.db")));
    QCOMPARE(capture.text(), QByteArray("\nCan open database: not an error\n"));
    QVERIFY(query.opened());
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("data.db"))));
}

void tst_SqliteQuery::emptySelect()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE product (idProduct INTEGER PRIMARY KEY, productName TEXT);"));
    StderrCapture capture;
    query.runQuery(QStringLiteral("SELECT productName FROM product"));
    QCOMPARE(capture.text(), QByteArray("\n0 columns, 0 rows, not an error"));
    QCOMPARE(query.columns(), 0);
    QCOMPARE(query.rows(), 0);
    QVERIFY(query.values().isEmpty());
}

void tst_SqliteQuery::syntaxError()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE t (a TEXT); INSERT INTO t VALUES ('x');"));
    query.runQuery(QStringLiteral("SELECT a FROM t"));
    QCOMPARE(query.rows(), 1);
    StderrCapture capture;
    query.runQuery(QStringLiteral("SELEC a FROM t"));
    const QByteArray log = capture.text();
    QVERIFY2(log.startsWith("\n0 columns, 0 rows, near \"SELEC\": syntax error"), log.constData());
    QCOMPARE(query.rows(), 0);
    QCOMPARE(query.columns(), 0);
    QVERIFY(query.values().isEmpty());
    QVERIFY(query.returnCode() != 0);
}

void tst_SqliteQuery::valueListIsRowMajor()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE product (idProduct INTEGER PRIMARY KEY, productName TEXT);"));
    query.runQuery(QStringLiteral("INSERT INTO product VALUES (NULL, 'Сахар');"));
    query.runQuery(QStringLiteral("INSERT INTO product VALUES (NULL, 'Мука');"));
    query.runQuery(QStringLiteral("SELECT productName, idProduct FROM product"));
    QCOMPARE(query.columns(), 2);
    QCOMPARE(query.rows(), 2);
    QCOMPARE(query.values(), (QList<QByteArray> {"Сахар", "1", "Мука", "2"}));
    QCOMPARE(query.names(), (QList<QByteArray> {"productName", "idProduct"}));
    QCOMPARE(query.cell(1, 0), QStringLiteral("Мука"));
    QCOMPARE(query.cell(2, 0), QString());
}

void tst_SqliteQuery::nullCellIsEmptyText()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("SELECT NULL, 'a'"));
    QCOMPARE(query.rows(), 1);
    QCOMPARE(query.values(), (QList<QByteArray> {QByteArray(), "a"}));
    QCOMPARE(query.cell(0, 0), QString());
}

void tst_SqliteQuery::failedOpenYieldsEmptyResults()
{
    QDir().mkdir(QStringLiteral("data.db")); // a folder where the file should be: SQLite cannot open it
    SqliteQuery query;
    StderrCapture capture;
    QVERIFY(!query.open(QStringLiteral("data.db")));
    query.runQuery(QStringLiteral("SELECT 1"));
    query.runQuery(QStringLiteral("SELECT 2"));
    const QByteArray log = capture.text();
    QVERIFY2(log.startsWith("\nCan't open database: "), log.constData());
    QCOMPARE(log.count("\n0 columns, 0 rows, no database connection"), 2);
    QVERIFY(query.opened());
    QVERIFY(!query.isOpen());
    QCOMPARE(query.rows(), 0);
}

void tst_SqliteQuery::literalKeepsTextIntact_data()
{
    QTest::addColumn<QString>("text");
    QTest::addRow("double quotes") << QStringLiteral("Мука \"Экстра\"");
    QTest::addRow("apostrophe") << QStringLiteral("O'Brien's");
    QTest::addRow("column name") << QStringLiteral("productName");
    QTest::addRow("statement end and comment") << QStringLiteral("x'); DROP TABLE product; --");
    QTest::addRow("percent and semicolon") << QStringLiteral("100%; 5");
    QTest::addRow("empty") << QString();
}

void tst_SqliteQuery::literalKeepsTextIntact()
{
    QFETCH(QString, text);
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE product (idProduct INTEGER PRIMARY KEY, productName TEXT);"));
    query.runQuery(QStringLiteral("INSERT INTO product VALUES (NULL, 'other');"));
    query.runQuery(QStringLiteral("INSERT INTO product (idProduct, productName) values (NULL, %1);")
                       .arg(SqliteQuery::literal(text)));
    query.runQuery(
        QStringLiteral("SELECT productName FROM product WHERE productName = %1").arg(SqliteQuery::literal(text)));
    QCOMPARE(query.rows(), 1);
    QCOMPARE(query.cell(0, 0), text);
    query.runQuery(QStringLiteral("SELECT count(*) FROM product"));
    QCOMPARE(query.cell(0, 0), QStringLiteral("2"));
}

void tst_SqliteQuery::lockOfAnotherProgram_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("holdMs"); // -1: held until the statement is over
    QTest::addColumn<QString>("count"); // rows of t afterwards
    QTest::addColumn<QByteArray>("log");
    QTest::addRow("insert waits out a brief lock")
        << QStringLiteral("INSERT INTO t VALUES ('y');") << 300 << QStringLiteral("2")
        << QByteArray("\n0 columns, 0 rows, not an error");
    QTest::addRow("update waits out a brief lock")
        << QStringLiteral("UPDATE t SET a = 'z';") << 300 << QStringLiteral("1")
        << QByteArray("\n0 columns, 0 rows, not an error");
    QTest::addRow("select waits out a brief lock") << QStringLiteral("SELECT a FROM t") << 300 << QStringLiteral("1")
                                                   << QByteArray("\n1 columns, 1 rows, not an error");
    QTest::addRow("a lock that lasts fails the statement")
        << QStringLiteral("INSERT INTO t VALUES ('y');") << -1 << QStringLiteral("1")
        << QByteArray("\n0 columns, 0 rows, database is locked");
}

/// A backup tool or a reader elsewhere holding data.db for a moment must not cost a record.
void tst_SqliteQuery::lockOfAnotherProgram()
{
    QFETCH(QString, statement);
    QFETCH(int, holdMs);
    QFETCH(QString, count);
    QFETCH(QByteArray, log);
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE t (a TEXT); INSERT INTO t VALUES ('x');"));
    {
        DatabaseLock lock(QStringLiteral("data.db"), holdMs);
        QVERIFY(lock.isHeld());
        StderrCapture capture;
        query.runQuery(statement);
        QCOMPARE(capture.text(), log);
        QCOMPARE(query.returnCode() == 0, holdMs >= 0);
    }
    query.runQuery(QStringLiteral("SELECT count(*) FROM t"));
    QCOMPARE(query.cell(0, 0), count);
}

QTEST_GUILESS_MAIN(tst_SqliteQuery)
#include "tst_sqlitequery.moc"
