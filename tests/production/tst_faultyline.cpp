#include "d415_fendrix.h"
#include "modalanswerer.h"
#include "simulatorprocess.h"
#include "stationharness.h"

#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

/// The station against a doser whose replies go wrong one at a time: a reply that fails a check is never
/// shown as a value or a state, and never stops a batch.
class tst_FaultyLine : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void failedReplyLeavesThePanel_data();
    void failedReplyLeavesThePanel();
    void failedCounterReplyKeepsTheBatch();

private:
    bool startSettledStation();
    StationHarness *m_station = nullptr;
};

namespace {

/// Every text the panel paints after it has settled, other than the settled one, is a wrong one.
class PanelWatch : public QObject
{
public:
    explicit PanelWatch(QWidget *window)
    {
        for (QLabel *label : window->findChildren<QLabel *>())
            watch(label, label->text());
        for (QLineEdit *edit : window->findChildren<QLineEdit *>())
            watch(edit, edit->text());
    }
    QStringList wrong;
    QHash<QObject *, QString> settled;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const QString shown = textOf(watched);
            if (shown != settled.value(watched))
                wrong << watched->objectName() + QStringLiteral(": ") + shown;
        }
        return false;
    }

private:
    void watch(QObject *widget, const QString &text)
    {
        settled.insert(widget, text);
        widget->installEventFilter(this);
    }
    static QString textOf(QObject *widget)
    {
        if (auto *label = qobject_cast<QLabel *>(widget))
            return label->text();
        return static_cast<QLineEdit *>(widget)->text();
    }
};

} // namespace

void tst_FaultyLine::init()
{
    m_station = new StationHarness;
}

void tst_FaultyLine::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

bool tst_FaultyLine::startSettledStation()
{
    // Values with decimals and counters far from 0 show any misread at once.
    if (!m_station->startSimulator({QStringLiteral("--noise"), QStringLiteral("0")}))
        return false;
    for (const char *command : {"set net 123.4", "set shift-weight 98765", "set lifetime-weight 1234567",
             "set shift-doses 321", "set lifetime-doses 54321", "set plus 1.5", "set minus 0.7"}) {
        if (!m_station->simulator(QString::fromLatin1(command)))
            return false;
    }
    m_station->startStation();
    return QTest::qWaitFor(
        [this] {
            return m_station->label("stateD415_12")->text() == QStringLiteral("123.4")
                && m_station->label("stateD415_11")->text() == QStringLiteral("ОСТАНОВ")
                && indexOfRun(m_station->requests(), {"0/0", "24/16", "24/18", "0/0"}) >= 0;
        },
        8000);
}

void tst_FaultyLine::failedReplyLeavesThePanel_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("connectionTest");
    // Each request of the connection test and of the polling gets one failed reply; the kinds of failure
    // take turns.
    const QStringList faults = {QStringLiteral("badcrc"), QStringLiteral("partial"), QStringLiteral("junk")};
    int turn = 0;
    for (const QString &kind : connectionTestRequests()) {
        const QString fault = faults.at(turn++ % faults.size());
        QTest::addRow("connection test %s, %s", qPrintable(kind), qPrintable(fault)) << kind << fault << true;
    }
    for (const char *kind : {"0/0", "24/16", "24/18"}) {
        const QString fault = faults.at(turn++ % faults.size());
        QTest::addRow("polled %s, %s", kind, qPrintable(fault)) << QString::fromLatin1(kind) << fault << false;
    }
}

void tst_FaultyLine::failedReplyLeavesThePanel()
{
    QFETCH(QString, kind);
    QFETCH(QString, fault);
    QFETCH(bool, connectionTest);
    QVERIFY(startSettledStation());
    PanelWatch watch(m_station->window());

    QVERIFY2(m_station->simulator(QStringLiteral("at 1 %1 %2").arg(kind, fault)), qPrintable(kind));
    if (connectionTest)
        QVERIFY(QMetaObject::invokeMethod(m_station->window(), "deviceConnectionTest", Q_ARG(int, 0)));
    QVERIFY(m_station->sim()->waitForLine(QStringLiteral("FLT aimed"), 5000));
    // The request asked again and answered, and the polling well past it.
    const qsizetype after = m_station->requests().size();
    QTRY_VERIFY_WITH_TIMEOUT(m_station->requests().mid(after).count(QStringLiteral("0/0")) >= 3, 5000);

    QCOMPARE(watch.wrong, QStringList {});
    QCOMPARE(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"));
}

void tst_FaultyLine::failedCounterReplyKeepsTheBatch()
{
    // Doses of at most 10 kg, so that a 30 kg batch reads the lifetime counter a dozen times.
    QVERIFY(m_station->startSimulator({QStringLiteral("--fill-time"), QStringLiteral("300")}));
    QVERIFY(m_station->simulator(QStringLiteral("set max-dose 10")));
    StationHarness::addProduct(QStringLiteral("Мука"));
    m_station->startStation();
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("weightlabel_7")->text(), QStringLiteral("кг"), 5000);
    QVERIFY(m_station->chooseProduct(QStringLiteral("Мука")));
    QVERIFY(m_station->typeInto("productWeightD415_11", QStringLiteral("30")));
    // Counter replies go wrong once each, in every way a reply can; the one asked again between them
    // is answered.
    for (const char *aim : {"at 1 24/20 badcrc", "at 3 24/20 partial", "at 5 24/20 junk", "at 7 24/20 silence"})
        QVERIFY(m_station->simulator(QString::fromLatin1(aim)));
    ModalAnswerer done(QStringLiteral("Ok"), 40000);
    {
        ModalAnswerer start(QStringLiteral("Да"));
        QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
        QVERIFY(start.answered());
    }
    // Running until its end, never stopped, nothing counted from a failed reply.
    QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 40000);
    QCOMPARE(done.boxText(), QStringLiteral("Задание выполнено"));
    QCOMPARE(m_station->sim()->aimedLines().size(), 4);
    QVERIFY(!m_station->log().text().contains("Has append Off Device Array"));
}

QTEST_MAIN(tst_FaultyLine)
#include "tst_faultyline.moc"
