#include "choosecomboentry.h"
#include "d415_fendrix.h"
#include "simulatorprocess.h"
#include "stationharness.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLoggingCategory>
#include <QtTest>

#include <csignal>

/// The station keeps its serial line by itself: a line that hangs up or whose doser simulator dies is
/// taken back when it returns, a line that appears after the start is found, and the operator can have
/// the current port opened again.
class tst_LineReturn : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void lostLineIsTakenBack_data();
    void lostLineIsTakenBack();
    void lineAppearingAfterStartIsFound();
    void choosingCurrentPortAgainReopensIt();

private:
    QString state() const { return m_station->label("stateD415_11")->text(); }
    QString weight() const { return m_station->label("stateD415_12")->text(); }
    void waitUntilPolled();
    StationHarness *m_station = nullptr;
};

namespace {
const QByteArray lostLine = "Line d415 lost, trying to open it again every second\n";
const QByteArray openAgain = "Line d415 open again\n";

// What the serial port says of itself (opened, closed) while the link's debug output is on.
QStringList linkMessages;
void keepLinkMessages(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (context.category && QByteArray(context.category) == "doser.link")
        linkMessages << message;
}
} // namespace

void tst_LineReturn::init()
{
    m_station = new StationHarness;
}

void tst_LineReturn::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

void tst_LineReturn::waitUntilPolled()
{
    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), connectionTestRequests()) >= 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("ОСТАНОВ"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(weight(), QStringLiteral("12.5"), 3000);
}

void tst_LineReturn::lostLineIsTakenBack_data()
{
    QTest::addColumn<bool>("killed");
    QTest::addRow("line hung up") << false;
    QTest::addRow("simulator killed and started again") << true;
}

void tst_LineReturn::lostLineIsTakenBack()
{
    QFETCH(bool, killed);
    QVERIFY(m_station->startSimulator({QStringLiteral("--net"), QStringLiteral("12.5")}));
    m_station->startStation();
    waitUntilPolled();

    const qsizetype mark = m_station->log().mark();
    if (killed) {
        QCOMPARE(::kill(pid_t(m_station->sim()->processId()), SIGKILL), 0);
        QVERIFY(m_station->sim()->waitForExit());
        // Its link is left pointing at a terminal number that the next terminal opened on this machine,
        // anybody's, may take: it goes as at an orderly end.
        QVERIFY(QFile::remove(m_station->sim()->linkPath()));
    } else {
        QVERIFY(m_station->sim()->dropLine());
    }
    QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("НЕТ СВЯЗИ"), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(m_station->log().since(mark).contains(lostLine), 3000);
    // The line stays away for 3 s: the station tries it again every second meanwhile, and says so once.
    QTest::qWait(3000);
    QCOMPARE(m_station->log().since(mark).count(lostLine), 1);
    QCOMPARE(state(), QStringLiteral("НЕТ СВЯЗИ"));

    if (killed) {
        QVERIFY(m_station->startSimulator({QStringLiteral("--net"), QStringLiteral("7.5")}));
    } else {
        QVERIFY(m_station->simulator(QStringLiteral("set net 7.5")));
        m_station->sim()->clearRequests();
        QVERIFY(m_station->sim()->reconnectLine());
    }
    // Nobody touches anything: the probe brings the doser back and the connection test runs.
    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), connectionTestRequests()) >= 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("ОСТАНОВ"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(weight(), QStringLiteral("7.5"), 3000);
    QCOMPARE(m_station->log().since(mark).count(openAgain), 1);
    QVERIFY(m_station->log().since(mark).indexOf(lostLine) < m_station->log().since(mark).indexOf(openAgain));
}

void tst_LineReturn::lineAppearingAfterStartIsFound()
{
    m_station->startStation();
    QCOMPARE(state(), QStringLiteral("НЕТ СВЯЗИ"));

    QVERIFY(m_station->startSimulator({QStringLiteral("--net"), QStringLiteral("12.5")}));
    waitUntilPolled();
}

void tst_LineReturn::choosingCurrentPortAgainReopensIt()
{
    QVERIFY(m_station->startSimulator({QStringLiteral("--net"), QStringLiteral("12.5")}));
    m_station->startStation();
    waitUntilPolled();

    QTest::mouseClick(m_station->button("rs232SettingsButton"), Qt::LeftButton);
    QDialog *settings = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("rs232Settings"))
            settings = qobject_cast<QDialog *>(widget);
    }
    QVERIFY(settings && QTest::qWaitForWindowExposed(settings));
    auto *ports = settings->findChild<QComboBox *>(QStringLiteral("comPortNameComboBox"));
    // The list is read anew, and the port open here stays in it although it cannot be opened twice.
    QCOMPARE(ports->count(), 1);
    QCOMPARE(ports->currentText(), QStringLiteral("d415"));

    // The port's own debug output says when it is closed and opened.
    linkMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepLinkMessages);
    QLoggingCategory::setFilterRules(QStringLiteral("doser.link.debug=true"));
    const bool chosen = chooseComboEntry(ports, 0);
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
    QVERIFY(chosen);
    const QString said = linkMessages.join(QLatin1Char('\n'));
    const qsizetype closed = said.indexOf(QStringLiteral("closed"));
    QVERIFY2(closed >= 0 && said.indexOf(QStringLiteral("opened \"ports/d415\""), closed) > closed, qPrintable(said));

    m_station->sim()->clearRequests();
    QVERIFY(m_station->sim()->waitForRequests(3));
    QCOMPARE(state(), QStringLiteral("ОСТАНОВ"));
}

QTEST_MAIN(tst_LineReturn)
#include "tst_linereturn.moc"
