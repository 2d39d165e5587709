#include "d415_fendrix.h"
#include "modalanswerer.h"
#include "simulatorprocess.h"
#include "stationharness.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

/// What the operator can do to an open batch and to the doser behind it, through the widgets, against the
/// doser simulator.
class tst_OperatorActions : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void openBatchLocksSettings_data();
    void openBatchLocksSettings();
    void emptyEntryChangesNothing_data();
    void emptyEntryChangesNothing();
    void stopResetsAFault();
    void exitDuringABatchAsks();
    void productNameShownAsTyped();

private:
    bool startOnline(const QStringList &arguments = {});
    bool startBatch(const QString &target);
    QWidget *dialogChild(const char *dialogClass, const char *name) const;
    StationHarness *m_station = nullptr;
};

namespace {
const QString product = QStringLiteral("Сахар");

// What a button or a group box draws of its text: "&&" is an ampersand, a single "&" marks the shortcut
// letter and is not drawn.
QString drawnText(const QString &text)
{
    QString drawn;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'&' && i + 1 < text.size())
            ++i;
        drawn += text.at(i);
    }
    return drawn;
}
} // namespace

void tst_OperatorActions::init()
{
    m_station = new StationHarness;
}

void tst_OperatorActions::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

bool tst_OperatorActions::startOnline(const QStringList &arguments)
{
    if (!m_station->startSimulator(arguments))
        return false;
    m_station->startStation();
    return QTest::qWaitFor([&] { return m_station->label("weightlabel_7")->text() == QStringLiteral("кг"); }, 5000);
}

/// Chooses the product, types the target weight on the keyboard and starts with "Да".
bool tst_OperatorActions::startBatch(const QString &target)
{
    if (!m_station->chooseProduct(product) || !m_station->typeInto("productWeightD415_11", target))
        return false;
    ModalAnswerer start(QStringLiteral("Да"));
    QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
    return start.answered() && m_station->button("stopButton")->isEnabled();
}

QWidget *tst_OperatorActions::dialogChild(const char *dialogClass, const char *name) const
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits(dialogClass))
            return widget->findChild<QWidget *>(QLatin1String(name));
    }
    return nullptr;
}

void tst_OperatorActions::openBatchLocksSettings_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("locked");
    QTest::addRow("running") << "running" << true;
    QTest::addRow("stopped") << "stopped" << true;
    QTest::addRow("restored after a restart") << "restored" << true;
    QTest::addRow("finished") << "finished" << false;
    QTest::addRow("restore declined") << "abandoned" << false;
}

void tst_OperatorActions::openBatchLocksSettings()
{
    QFETCH(QString, state);
    QFETCH(bool, locked);
    StationHarness::addProduct(product);
    // A fill that takes a minute keeps the batch running; a short batch runs to its end at once.
    const bool longFill = state != QStringLiteral("finished");
    QVERIFY(startOnline({"--max-dose", "50", "--plus", "0.5", "--fill-time", longFill ? "60000" : "20"}));
    ModalAnswerer done(QStringLiteral("Ok"), 30000);
    QVERIFY(startBatch(longFill ? QStringLiteral("100") : QStringLiteral("10")));
    if (state == QStringLiteral("stopped")) {
        ModalAnswerer stop(QStringLiteral("Да"));
        QTest::mouseClick(m_station->button("stopButton"), Qt::LeftButton);
        QVERIFY(stop.answered());
        QVERIFY(m_station->button("continueButton")->isEnabled());
    } else if (state == QStringLiteral("restored") || state == QStringLiteral("abandoned")) {
        m_station->killStation();
        ModalAnswerer restore(state == QStringLiteral("restored") ? QStringLiteral("Да") : QStringLiteral("Нет"));
        m_station->startStation();
        QVERIFY(restore.answered());
        QTRY_VERIFY(m_station->button("startButton")->isEnabled());
        QCOMPARE(m_station->button("continueButton")->isEnabled(), locked);
    } else if (state == QStringLiteral("finished")) {
        QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 20000);
        QTRY_VERIFY(m_station->button("startButton")->isEnabled());
    }

    const QList<QWidget *> lockedControls {dialogChild("d415Settings", "d415Id"),
        dialogChild("d415Settings", "startTestMode"), dialogChild("rs232Settings", "comPortNameComboBox"),
        dialogChild("rs232Settings", "comPortRatecomboBox"), m_station->button("rs232SettingsButton"),
        m_station->button("downloadDoseButton"), m_station->button("doCycleButton")};
    for (QWidget *control : lockedControls) {
        QVERIFY(control);
        QVERIFY2(control->isEnabled() != locked, qPrintable(control->objectName()));
    }
    // Emptying the hopper, stopping the doser and clearing its fault, and its working mode stay at hand.
    const QList<QWidget *> freeControls {m_station->button("uploadDoseButton"), m_station->button("stopWorkButton"),
        dialogChild("d415Settings", "stopTestMode")};
    for (QWidget *control : freeControls) {
        QVERIFY(control);
        QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));
    }
}

void tst_OperatorActions::emptyEntryChangesNothing_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("typedBefore");
    QTest::addRow("batch weight") << QByteArray("productWeightD415_11") << "45";
    QTest::addRow("tolerance plus") << QByteArray("doseFaultPlusD415_11") << "";
    QTest::addRow("tolerance minus") << QByteArray("doseFaultMinusD415_11") << "";
}

void tst_OperatorActions::emptyEntryChangesNothing()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, typedBefore);
    QVERIFY(startOnline({"--plus", "2", "--minus", "1"}));
    QLineEdit *edit = m_station->edit(field.constData());
    if (!typedBefore.isEmpty())
        QVERIFY(m_station->typeInto(field.constData(), typedBefore));
    QTRY_VERIFY(!edit->text().isEmpty());
    const QString before = edit->text();

    QVERIFY(m_station->typeInto(field.constData(), QString()));
    // A whole polling round later: still the old value, and no tolerance went to the doser.
    const int requests = int(m_station->requests().size());
    QTRY_VERIFY(m_station->requests().size() > requests + 3);
    QCOMPARE(edit->text(), before);
    const QStringList sent = m_station->requests();
    QVERIFY2(sent.filter(QRegularExpression(QStringLiteral("^1[13]/"))).isEmpty(), qPrintable(sent.join(u' ')));
}

void tst_OperatorActions::stopResetsAFault()
{
    QVERIFY(startOnline());
    QVERIFY(m_station->simulator(QStringLiteral("error 8")));
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("АВАРИЯ"), 3000);

    QTest::mouseClick(m_station->button("stopWorkButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("ОСТАНОВ"), 3000);
    const QStringList sent = m_station->requests();
    QVERIFY(sent.indexOf(QStringLiteral("4/0"), sent.indexOf(QStringLiteral("26/0"))) > 0);
}

void tst_OperatorActions::exitDuringABatchAsks()
{
    StationHarness::addProduct(product);
    QVERIFY(startOnline({"--max-dose", "50", "--fill-time", "60000"}));
    QVERIFY(startBatch(QStringLiteral("100")));
    {
        ModalAnswerer no(QStringLiteral("Нет"));
        QTest::mouseClick(m_station->button("exitButton"), Qt::LeftButton);
        QVERIFY(no.answered());
        QCOMPARE(no.boxText(),
            QStringLiteral("Задание не завершено. Оно будет предложено снова при следующем запуске.\nВыйти?"));
        QCOMPARE(no.defaultButtonText(), QStringLiteral("Нет"));
    }
    QVERIFY(m_station->window()->isVisible());
    QVERIFY(m_station->button("stopButton")->isEnabled());
    // The dose cycle goes on asking for the lifetime counter.
    const int counterReads = m_station->requestCount(QStringLiteral("24/20"));
    QTRY_VERIFY(m_station->requestCount(QStringLiteral("24/20")) > counterReads + 2);

    // A close by the window manager or the service manager asks nobody.
    ModalAnswerer nobody(QStringLiteral("Да"), 1000);
    m_station->window()->close();
    QVERIFY(!m_station->window()->isVisible());
    QVERIFY(!nobody.answered());
}

void tst_OperatorActions::productNameShownAsTyped()
{
    const QString name = QStringLiteral("A&B \"x\" 5%");
    StationHarness::addProduct(name);
    QVERIFY(startOnline());
    QVERIFY(m_station->chooseProduct(name));
    auto *container = m_station->window()->findChild<QGroupBox *>(QStringLiteral("containerD415_11"));
    QCOMPARE(drawnText(container->title()), QStringLiteral("Дозатор 30 - ") + name);
}

QTEST_MAIN(tst_OperatorActions)
#include "tst_operatoractions.moc"
