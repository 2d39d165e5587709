#include "d415_fendrix.h"
#include "modalanswerer.h"
#include "postgresserver.h"
#include "sqlitequery.h"
#include "stationharness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

/// The station feeding the plant database while it doses: a batch run against the simulator reaches the
/// server with the station's figures, and a server that refuses or never answers holds nothing up.
class tst_PlantStation : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void batchReachesThePlant_data();
    void batchReachesThePlant();

private:
    PostgresServer m_server;
    StationHarness *m_station = nullptr;
};

namespace {

/// A TCP port that takes connections and never says a word: a server that hangs, or a firewall that
/// swallows the answer.
class SilentServer
{
public:
    SilentServer()
    {
        m_socket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(m_socket, reinterpret_cast<sockaddr *>(&address), length) == 0 && listen(m_socket, 8) == 0
            && getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentServer() { close(m_socket); }
    int port() const { return m_port; }

private:
    int m_socket = -1;
    int m_port = 0;
};

QStringList localTask()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("SELECT idButch, productName, weightScale, taskWeight, haveDoneWeight, "
                                  "mustToBeDoneWeight FROM task"));
    QStringList cells;
    for (const QByteArray &cell : query.values())
        cells << QString::fromUtf8(cell);
    return {cells.join(QLatin1Char('|'))};
}

} // namespace

void tst_PlantStation::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.lastError()));
}

void tst_PlantStation::cleanupTestCase()
{
    m_server.stop();
}

void tst_PlantStation::init()
{
    m_station = new StationHarness;
    // Qt reads the configuration folder once per process: each row's settings go into its own folder, which
    // goes with it.
    QSettings::setPath(
        QSettings::NativeFormat, QSettings::UserScope, QDir::current().filePath(QStringLiteral("config")));
}

void tst_PlantStation::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

void tst_PlantStation::batchReachesThePlant_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("reached");
    QTest::addRow("no plant database") << "none" << false;
    QTest::addRow("server reached") << "socket" << true;
    QTest::addRow("wrong password") << "wrong password" << false;
    QTest::addRow("server that never answers") << "silent" << false;
}

void tst_PlantStation::batchReachesThePlant()
{
    QFETCH(QString, server);
    QFETCH(bool, reached);
    SilentServer silent;
    const QString station = QStringLiteral("Линия 2 / %1").arg(QString::fromLatin1(QTest::currentDataTag()));
    QString connection = m_server.socketConnection();
    if (server == QLatin1String("wrong password")) {
        QFile passwords(QStringLiteral("pgpass"));
        QVERIFY(passwords.open(QIODevice::WriteOnly));
        passwords.write("*:*:*:*:not-the-password\n");
        passwords.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        passwords.close();
        connection = m_server.tcpConnection() + QStringLiteral(" passfile=pgpass");
    } else if (server == QLatin1String("silent")) {
        connection = QStringLiteral("host=127.0.0.1 port=%1 dbname=plant connect_timeout=5").arg(silent.port());
    }
    QSettings settings(QStringLiteral("KESTU"), QStringLiteral("D415_Test"));
    if (server != QLatin1String("none"))
        settings.setValue(QStringLiteral("plantDatabase"), connection);
    settings.setValue(QStringLiteral("stationName"), station);
    settings.sync();

    QVERIFY(m_station->startSimulator({"--decimals", "2", "--max-dose", "50", "--plus", "0.5"}));
    StationHarness::addProduct(QStringLiteral("Сахар"));
    // The longest the event loop stood still from the start to the batch's end: a connection attempt on
    // the GUI thread would stand it still for the whole connect_timeout.
    QElapsedTimer sinceTick;
    qint64 longestStillMs = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &ticker, [&] { longestStillMs = qMax(longestStillMs, sinceTick.restart()); });
    sinceTick.start();
    ticker.start(20);
    m_station->startStation();
    QTRY_COMPARE(m_station->label("weightlabel_7")->text(), QStringLiteral("кг"));
    QVERIFY(m_station->chooseProduct(QStringLiteral("Сахар")));
    QVERIFY(m_station->typeInto("productWeightD415_11", QStringLiteral("100")));
    ModalAnswerer done(QStringLiteral("Ok"), 30000);
    {
        ModalAnswerer start(QStringLiteral("Да"));
        QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
        QVERIFY(start.answered());
    }
    QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 20000);
    ticker.stop();

    QCOMPARE(done.boxText(), QStringLiteral("Задание выполнено"));
    QVERIFY2(longestStillMs < 1500, qPrintable(QString::number(longestStillMs)));

    const QLabel *state = m_station->window()->findChild<QLabel *>(QStringLiteral("plantStateLabel"));
    if (server == QLatin1String("none")) {
        // The station as it was: no line on the window, no triggers, nothing queued.
        QVERIFY(!state);
        QCOMPARE(StationHarness::recordedCell(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = "
                                                             "'trigger'")),
            QStringLiteral("0"));
        QCOMPARE(StationHarness::recordedCell(QStringLiteral("SELECT count(*) FROM plantOutbox")), QStringLiteral("0"));
        return;
    }
    QVERIFY(state);
    if (reached) {
        const QString figures = QStringLiteral(
            "SELECT batch_number || '|' || product || '|' || unit || '|' || task_weight || '|' || done_weight || '|' "
            "|| remaining_weight FROM task WHERE station = '%1'")
                                    .arg(station);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.query(figures), localTask(), 10000);
        QTRY_COMPARE(m_server.query(QStringLiteral("SELECT count(*) FROM batch WHERE station = '%1' AND ended_at IS "
                                                   "NOT NULL")
                                        .arg(station)),
            QStringList {QStringLiteral("1")});
        QTRY_COMPARE(state->text(), QStringLiteral("Заводская база: связь есть, ждут отправки: 0"));
    } else {
        // Nothing reached the server, and nothing is lost: the rows wait in data.db.
        QTRY_VERIFY_WITH_TIMEOUT(state->text().section(QLatin1Char(' '), -1).toInt() > 0, 15000);
        QVERIFY(state->text().startsWith(QStringLiteral("Заводская база: нет связи, ждут отправки: ")));
        QCOMPARE(m_server.query(QStringLiteral("SELECT count(*) FROM task WHERE station = '%1'").arg(station)),
            QStringList {QStringLiteral("0")});
    }
}

QTEST_MAIN(tst_PlantStation)
#include "tst_plantstation.moc"
