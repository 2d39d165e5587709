#include "productionschema.h"
#include "sqlitequery.h"
#include "sqlitestatement.h"
#include "stderrcapture.h"
#include "testworkdir.h"

#include <QtTest>

using Steps = QList<ProductionSchema::Step>;

/// data.db is brought up to date step by step and never touched when it comes from a newer program; bound
/// values are stored exactly as given, and a statement that fails says why.
class tst_ProductionSchema : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void upgrade_data();
    void upgrade();
    void boundValueRoundTrips_data();
    void boundValueRoundTrips();
    void failingStatementReportsItsError_data();
    void failingStatementReportsItsError();

private:
    TestWorkDir *m_dir = nullptr;
};

namespace {

const Steps JournalSteps = {
    {QStringLiteral("CREATE TABLE journal (at TEXT)")},
    {QStringLiteral("ALTER TABLE journal ADD COLUMN what TEXT"), QStringLiteral("CREATE TABLE outbox (body TEXT)")},
};

QString textOf(SqliteQuery &database, const QString &select)
{
    SqliteStatement statement(database.connection(), select);
    QStringList texts;
    while (statement.step())
        texts.append(statement.columnText(0));
    return texts.join(QLatin1Char(','));
}

} // namespace

void tst_ProductionSchema::init()
{
    m_dir = new TestWorkDir;
}

void tst_ProductionSchema::cleanup()
{
    delete m_dir;
    m_dir = nullptr;
}

void tst_ProductionSchema::upgrade_data()
{
    QTest::addColumn<QString>("before"); // the file as an older (or newer) program left it; empty: no file
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<ProductionSchema::Outcome>("outcome");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("tables");
    QTest::addColumn<QByteArray>("log"); // what standard error must contain beyond the statement lines

    const QString designed = QStringLiteral("admin,butch,product,task");
    const QString versionZero = QStringLiteral("CREATE TABLE product (idProduct INTEGER PRIMARY KEY, productName "
                                               "TEXT); INSERT INTO product VALUES (NULL, 'Мука');");
    QTest::addRow("first start, this program's own steps")
        << QString() << ProductionSchema::upgradeSteps() << ProductionSchema::Outcome::Upgraded
        << int(ProductionSchema::upgradeSteps().size())
        << QStringLiteral("admin,butch,doseWitness,eventJournal,plantOutbox,product,sqlite_sequence,task")
        << QByteArray();
    QTest::addRow("version 0 runs every step") << versionZero << JournalSteps << ProductionSchema::Outcome::Upgraded
                                               << 2 << designed + QStringLiteral(",journal,outbox") << QByteArray();
    QTest::addRow("version 1 runs only the second step")
        << versionZero + QStringLiteral("CREATE TABLE journal (at TEXT); PRAGMA user_version = 1;") << JournalSteps
        << ProductionSchema::Outcome::Upgraded << 2 << designed + QStringLiteral(",journal,outbox") << QByteArray();
    QTest::addRow("a newer file is left alone")
        << versionZero + QStringLiteral("CREATE TABLE later (x); PRAGMA user_version = 3;") << JournalSteps
        << ProductionSchema::Outcome::Newer << 3 << designed + QStringLiteral(",later")
        << QByteArray("data.db has schema version 3, this program knows 2");
    QTest::addRow("a failing step is rolled back whole")
        << versionZero
        << Steps {JournalSteps.at(0),
               {QStringLiteral("CREATE TABLE outbox (body TEXT)"), QStringLiteral("INSERT INTO nowhere VALUES (1)")}}
        << ProductionSchema::Outcome::Failed << 1 << designed + QStringLiteral(",journal")
        << QByteArray("data.db upgrade to schema version 2 failed: no such table: nowhere");
}

void tst_ProductionSchema::upgrade()
{
    QFETCH(QString, before);
    QFETCH(Steps, steps);
    QFETCH(ProductionSchema::Outcome, outcome);
    QFETCH(int, version);
    QFETCH(QString, tables);
    QFETCH(QByteArray, log);
    if (!before.isEmpty()) {
        SqliteQuery older;
        older.open(QStringLiteral("data.db"));
        older.runQuery(before);
        QCOMPARE(older.returnCode(), 0);
    }

    SqliteQuery database;
    database.open(QStringLiteral("data.db"));
    StderrCapture capture;
    ProductionSchema schema(database, steps);
    QCOMPARE(schema.prepare(), outcome);
    const QByteArray written = capture.text();
    QVERIFY2(written.contains(log), written.constData());
    QCOMPARE(written.count("columns,"), 4); // the designed statements, logged as ever
    QCOMPARE(schema.fileVersion(), version);

    SqliteQuery reopened;
    reopened.open(QStringLiteral("data.db"));
    QCOMPARE(textOf(reopened, QStringLiteral("PRAGMA user_version")), QString::number(version));
    QStringList sortedTables = tables.split(QLatin1Char(','));
    sortedTables.sort();
    QCOMPARE(textOf(reopened, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")),
        sortedTables.join(QLatin1Char(',')));
    if (!before.isEmpty())
        QCOMPARE(textOf(reopened, QStringLiteral("SELECT productName FROM product")), QStringLiteral("Мука"));
}

void tst_ProductionSchema::boundValueRoundTrips_data()
{
    QTest::addColumn<QVariant>("value"); // QString: text, qint64: integer, double: real, invalid: NULL
    QTest::addColumn<QString>("type");
    QTest::addRow("double quotes") << QVariant(QStringLiteral("Мука \"Экстра\"")) << QStringLiteral("text");
    QTest::addRow("apostrophes") << QVariant(QStringLiteral("O'Brien's")) << QStringLiteral("text");
    QTest::addRow("SQL words") << QVariant(QStringLiteral("x'); DROP TABLE t; --")) << QStringLiteral("text");
    QTest::addRow("inner NUL") << QVariant(QStringLiteral("до") + QChar(0) + QStringLiteral("после"))
                               << QStringLiteral("text");
    QTest::addRow("empty text") << QVariant(QString(QLatin1String(""))) << QStringLiteral("text");
    QTest::addRow("NULL") << QVariant() << QStringLiteral("null");
    QTest::addRow("largest integer") << QVariant(std::numeric_limits<qint64>::max()) << QStringLiteral("integer");
    QTest::addRow("negative real") << QVariant(-1234.5625) << QStringLiteral("real");
}

void tst_ProductionSchema::boundValueRoundTrips()
{
    QFETCH(QVariant, value);
    QFETCH(QString, type);
    SqliteQuery database;
    database.open(QStringLiteral("data.db"));
    database.runQuery(QStringLiteral("CREATE TABLE t (v); INSERT INTO t VALUES ('other');"));
    const auto bind = [&value](SqliteStatement &statement) {
        switch (value.typeId()) {
        case QMetaType::QString: statement.bindText(1, value.toString()); break;
        case QMetaType::LongLong: statement.bindInteger(1, value.toLongLong()); break;
        case QMetaType::Double: statement.bindReal(1, value.toDouble()); break;
        default: statement.bindNull(1);
        }
    };
    SqliteStatement insert(database.connection(), QStringLiteral("INSERT INTO t VALUES (?1)"));
    bind(insert);
    QVERIFY2(insert.execute(), qPrintable(insert.errorText()));

    SqliteStatement select(database.connection(), QStringLiteral("SELECT v, typeof(v) FROM t WHERE v IS ?1"));
    for (int round = 0; round < 2; ++round) { // a reset statement runs again with new values
        bind(select);
        QVERIFY2(select.step(), qPrintable(select.errorText()));
        QCOMPARE(select.columnText(1), type);
        QCOMPARE(select.columnIsNull(0), !value.isValid());
        if (value.typeId() == QMetaType::QString)
            QCOMPARE(select.columnText(0), value.toString());
        else if (value.isValid())
            QCOMPARE(value.typeId() == QMetaType::Double ? QVariant(select.columnReal(0))
                                                         : QVariant(select.columnInteger(0)),
                value);
        QVERIFY(!select.step());
        select.reset();
    }
    QCOMPARE(textOf(database, QStringLiteral("SELECT count(*) FROM t")), QStringLiteral("2"));
}

void tst_ProductionSchema::failingStatementReportsItsError_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("runsAfterReset"); // with the value "y" instead of "x"
    QTest::addRow("syntax") << QStringLiteral("SELEC a FROM u") << QStringLiteral("near \"SELEC\": syntax error")
                            << false;
    QTest::addRow("missing table") << QStringLiteral("INSERT INTO nowhere VALUES (?1)")
                                   << QStringLiteral("no such table: nowhere") << false;
    QTest::addRow("constraint") << QStringLiteral("INSERT INTO u VALUES (?1)")
                                << QStringLiteral("UNIQUE constraint failed: u.a") << true;
    QTest::addRow("parameter beyond the statement")
        << QStringLiteral("SELECT a FROM u") << QStringLiteral("column index out of range") << false;
    QTest::addRow("no connection") << QString() << QStringLiteral("no database connection") << false;
}

void tst_ProductionSchema::failingStatementReportsItsError()
{
    QFETCH(QString, statement);
    QFETCH(QString, error);
    QFETCH(bool, runsAfterReset);
    SqliteQuery database;
    if (!statement.isEmpty()) {
        database.open(QStringLiteral("data.db"));
        database.runQuery(QStringLiteral("CREATE TABLE u (a TEXT UNIQUE); INSERT INTO u VALUES ('x');"));
    }
    SqliteStatement prepared(database.connection(), statement);
    prepared.bindText(1, QStringLiteral("x"));
    QVERIFY(!prepared.execute());
    QVERIFY(prepared.failed());
    QCOMPARE(prepared.errorText(), error);

    // A statement kept for reuse is not spoilt by one failed run; a failed preparation stays failed.
    prepared.reset();
    prepared.bindText(1, QStringLiteral("y"));
    QCOMPARE(prepared.execute(), runsAfterReset);
}

QTEST_GUILESS_MAIN(tst_ProductionSchema)
#include "tst_productionschema.moc"
