#include "sqlitequery.h"
#include "testworkdir.h"

#include <QtTest>

/// The workstation program itself, started as an operator would start it, in an empty directory.
class tst_Startup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstStartCreatesTablesAndClosesInOrder();
    void secondStartKeepsRows();
    void terminationWhileRestoreQuestionWaits();
    void optionPrintsAndEnds_data();
    void optionPrintsAndEnds();
    void secondCopyInSameFolderRefuses();
    void panelScale_data();
    void panelScale();

private:
    QByteArray runUntilClosed(
        const QByteArray &ready = "All butches are finished", const QStringList &arguments = QStringList());
    bool m_finished = false;
    TestWorkDir *m_dir = nullptr;
};

void tst_Startup::init()
{
    m_dir = new TestWorkDir;
    QDir().mkdir(QStringLiteral("ports")); // an empty port folder, the only place the station looks
}

void tst_Startup::cleanup()
{
    delete m_dir;
    m_dir = nullptr;
}

/// Starts the program, lets it come up, closes its window as a window manager would and returns
/// what it wrote to standard error.
QByteArray tst_Startup::runUntilClosed(const QByteArray &ready, const QStringList &arguments)
{
    m_finished = false;
    QProcess program;
    program.setWorkingDirectory(m_dir->path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    // Only ports/ (left empty): the station never reaches for the machine's own serial devices.
    program.start(QStringLiteral(WORKSTATION_PROGRAM), QStringList {QStringLiteral("--ports-only")} + arguments);
    if (!program.waitForStarted(10000))
        return QByteArray("could not start");
    QByteArray log;
    QDeadlineTimer deadline(20000);
    while (!log.contains(ready) && !deadline.hasExpired() && program.state() == QProcess::Running) {
        program.waitForReadyRead(100);
        log += program.readAllStandardError();
    }
    // SIGTERM is not a window close; send the close the way the platform does, through the window.
    program.terminate();
    m_finished = program.waitForFinished(20000) && program.exitStatus() == QProcess::NormalExit;
    log += program.readAllStandardError();
    return log;
}

void tst_Startup::firstStartCreatesTablesAndClosesInOrder()
{
    const QByteArray log = runUntilClosed();
    QVERIFY2(m_finished, log.constData());
    QVERIFY2(log.contains("\nCan open database: not an error\n"), log.constData());
    QVERIFY2(log.contains("APPLICATION IS CLOSED, ALL WORKS ARE STOPPED\n"), log.constData());
    QVERIFY2(log.contains("~D415_Fendrix()\n"), log.constData());
    QVERIFY(log.indexOf("APPLICATION IS CLOSED") < log.indexOf("~D415_Fendrix()"));

    SqliteQuery query;
    QVERIFY(query.open(QStringLiteral("data.db")));
    query.runQuery(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"));
    // The designed tables and the program's own (the dose witness, the journal, the plant outbox and the
    // numbering SQLite keeps for it).
    QCOMPARE(query.values(),
        (QList<QByteArray> {
            "admin", "butch", "doseWitness", "eventJournal", "plantOutbox", "product", "sqlite_sequence", "task"}));
}

void tst_Startup::secondStartKeepsRows()
{
    runUntilClosed();
    {
        SqliteQuery query;
        query.open(QStringLiteral("data.db"));
        query.runQuery(QStringLiteral("INSERT INTO product (idProduct, productName) values (NULL, 'Сахар');"));
    }
    const QByteArray log = runUntilClosed();
    QVERIFY2(log.contains("~D415_Fendrix()\n"), log.constData());
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("SELECT productName FROM product"));
    QCOMPARE(query.values(), (QList<QByteArray> {"Сахар"}));
}

/// Stopped by its service manager while the start-up question about an unfinished batch waits for an
/// operator: the program still ends, the orderly way, and the batch stays open for the next start.
void tst_Startup::terminationWhileRestoreQuestionWaits()
{
    {
        SqliteQuery query;
        QVERIFY(query.open(QStringLiteral("data.db")));
        query.runQuery(QStringLiteral("CREATE TABLE butch (idButch INTEGER PRIMARY KEY, date TEXT, startTime TEXT, "
                                      "endTime TEXT, endDate TEXT);"));
        query.runQuery(QStringLiteral("INSERT INTO butch VALUES (7, '02.02.2025', '10:00', '', '');"));
        query.runQuery(QStringLiteral("CREATE TABLE task (idButch INTEGER, deviceId INTEGER, startTime TEXT, endTime "
                                      "TEXT, taskWeight TEXT, haveDoneWeight TEXT, mustToBeDoneWeight TEXT, "
                                      "productName TEXT, weightScale TEXT, startDate TEXT, endDate TEXT);"));
        query.runQuery(QStringLiteral("INSERT INTO task VALUES (7, 30, '10:00', '', '100.0', '0.0', '100.0', 'Соль', "
                                      "'кг', '02.02.2025', '');"));
    }
    const QByteArray log = runUntilClosed("\nCurrent idButch is 7");
    QVERIFY2(m_finished, log.constData());
    QVERIFY2(log.contains("APPLICATION IS CLOSED, ALL WORKS ARE STOPPED\n"), log.constData());
    QVERIFY2(log.contains("~D415_Fendrix()\n"), log.constData());
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("SELECT endTime FROM butch WHERE idButch = 7"));
    QCOMPARE(query.values(), (QList<QByteArray> {QByteArray()}));
}

void tst_Startup::optionPrintsAndEnds_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("printed");
    QTest::addRow("--help") << "--help"
                            << "Usage: d415-workstation";
    QTest::addRow("--version") << "--version"
                               << "d415-workstation " DOSER_VERSION "\n";
}

/// Printed and ended like any Linux program: no window (no display is there to open one), no data.db,
/// no settings, nothing in the folder.
void tst_Startup::optionPrintsAndEnds()
{
    QFETCH(QString, option);
    QFETCH(QString, printed);
    const QStringList before = QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(WORKSTATION_PROGRAM), {option});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(QString::fromUtf8(program.readAllStandardOutput()).startsWith(printed));
    QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    QCOMPARE(QDir(QStringLiteral("config")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

/// Two stations in one folder would share data.db and ports/: the second says so and ends with a
/// non-zero status, without touching data.db; the first goes on.
void tst_Startup::secondCopyInSameFolderRefuses()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(WORKSTATION_PROGRAM), {QStringLiteral("--ports-only")});
    QByteArray firstLog;
    QTRY_VERIFY_WITH_TIMEOUT((firstLog += first.readAllStandardError()).contains("All butches are finished"), 20000);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(WORKSTATION_PROGRAM), {QStringLiteral("--ports-only")});
    QByteArray secondLog;
    QTRY_VERIFY_WITH_TIMEOUT(
        (secondLog += second.readAllStandardError()).contains("Another workstation is running in "), 20000);
    // Its message waits for the operator; a service manager's stop ends it the same way.
    second.terminate();
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
    secondLog += second.readAllStandardError();
    QVERIFY2(!secondLog.contains("database"), secondLog.constData());

    QCOMPARE(first.state(), QProcess::Running);
    first.terminate();
    QVERIFY(first.waitForFinished(20000));
    firstLog += first.readAllStandardError();
    QVERIFY2(firstLog.contains("APPLICATION IS CLOSED, ALL WORKS ARE STOPPED\n"), firstLog.constData());
}

void tst_Startup::panelScale_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QByteArray>("logged");
    QTest::addRow("the plant's setting") << QStringList() << "125" << QByteArray("Interface scale 125 %\n");
    QTest::addRow("the option before the setting")
        << QStringList {"--scale=150"} << "125" << QByteArray("Interface scale 150 %\n");
    // The offscreen platform's screen is 800 pixels wide; the full-size keyboard (962) must fit it.
    QTest::addRow("fit") << QStringList {"--scale", "fit"} << ""
                         << QByteArray("Interface scale fit: screen 800 px wide, 83 %\n");
    QTest::addRow("no percentage") << QStringList {"--scale=huge"} << ""
                                   << QByteArray("Interface scale \"huge\" is no percentage from 50 to 400 or "
                                                 "\"fit\", 100 % is used\n");
}

/// The plant engineer's scale, from the option or the stored setting, reaches Qt before the program's
/// application object exists; the program comes up with it and ends the orderly way.
void tst_Startup::panelScale()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, setting);
    QFETCH(QByteArray, logged);
    // Written as the plant engineer writes it; this process's QSettings keeps the folder of its first test.
    if (!setting.isEmpty()) {
        QVERIFY(QDir().mkpath(QStringLiteral("config/KESTU")));
        QFile file(QStringLiteral("config/KESTU/D415_Test.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nuiScale=" + setting.toLatin1() + "\n");
    }
    const QByteArray log = runUntilClosed("All butches are finished", arguments);
    QVERIFY2(m_finished, log.constData());
    QVERIFY2(log.contains(logged), log.constData());
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
