#include "rs232settings.h"

#include "choosecomboentry.h"
#include "stderrcapture.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_rs232Settings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsAt38400AndFirstPortWithoutAnnouncing();
    void addingPortsAgainAppends();
    void noOpenablePortGivesEmptyCurrentPort();
    void firstPortAddedToEmptyListIsAnnounced();
    void choosingSpeedAnnouncesIt_data();
    void choosingSpeedAnnouncesIt();
    void choosingPortAnnouncesIt();
    void refreshKeepsCurrentPort_data();
    void refreshKeepsCurrentPort();
    void closeButtonHidesDialog();
    void destructionIsLogged();

private:
    QComboBox *portList() const { return m_dialog->findChild<QComboBox *>("comPortNameComboBox"); }
    QComboBox *speedList() const { return m_dialog->findChild<QComboBox *>("comPortRatecomboBox"); }
    void showDialog();

    std::unique_ptr<rs232Settings> m_dialog;
};

void tst_rs232Settings::init()
{
    m_dialog = std::make_unique<rs232Settings>();
    QVERIFY(portList());
    QVERIFY(speedList());
}

void tst_rs232Settings::cleanup()
{
    m_dialog.reset();
}

void tst_rs232Settings::showDialog()
{
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
}

void tst_rs232Settings::startsAt38400AndFirstPortWithoutAnnouncing()
{
    // The main window fills the port list before it listens, then opens whatever is current.
    m_dialog->addComPorts({"ports/line1", "ports/line2"});
    QSignalSpy ports(m_dialog.get(), &rs232Settings::comPortChanged);
    QSignalSpy speeds(m_dialog.get(), &rs232Settings::rateChanged);
    QCoreApplication::processEvents();

    QCOMPARE(m_dialog->getCurrentCOMPort(), QStringLiteral("ports/line1"));
    QCOMPARE(m_dialog->getCurrentCOMPortRate(), QStringLiteral("38400"));
    QCOMPARE(speedList()->count(), 3);
    QCOMPARE(ports.count(), 0);
    QCOMPARE(speeds.count(), 0);
}

void tst_rs232Settings::addingPortsAgainAppends()
{
    m_dialog->addComPorts({"ports/line1", "ports/line2"});
    QSignalSpy ports(m_dialog.get(), &rs232Settings::comPortChanged);

    m_dialog->addComPorts({"ports/line3", "ports/line1"});

    QStringList listed;
    for (int row = 0; row < portList()->count(); ++row)
        listed << portList()->itemText(row);
    QCOMPARE(listed, QStringList({"ports/line1", "ports/line2", "ports/line3", "ports/line1"}));
    QCOMPARE(m_dialog->getCurrentCOMPort(), QStringLiteral("ports/line1"));
    QCOMPARE(ports.count(), 0);
}

void tst_rs232Settings::noOpenablePortGivesEmptyCurrentPort()
{
    QSignalSpy ports(m_dialog.get(), &rs232Settings::comPortChanged);

    m_dialog->addComPorts({});

    QVERIFY(m_dialog->getCurrentCOMPort().isEmpty());
    QCOMPARE(portList()->currentIndex(), -1);
    QCOMPARE(ports.count(), 0);
}

void tst_rs232Settings::firstPortAddedToEmptyListIsAnnounced()
{
    QSignalSpy ports(m_dialog.get(), &rs232Settings::comPortChanged);

    m_dialog->addComPorts({"ports/line1", "ports/line2"});

    QCOMPARE(ports.count(), 1);
    QCOMPARE(ports.at(0).at(0).toString(), QStringLiteral("ports/line1"));
}

void tst_rs232Settings::choosingSpeedAnnouncesIt_data()
{
    QTest::addColumn<QList<int>>("choices");
    QTest::addColumn<QStringList>("announced");

    QTest::addRow("9600") << QList<int> {0} << QStringList {"9600"};
    QTest::addRow("the current 38400 again") << QList<int> {2} << QStringList {};
    QTest::addRow("9600 and back to 38400") << QList<int> {0, 2} << QStringList {"9600", "38400"};
}

void tst_rs232Settings::choosingSpeedAnnouncesIt()
{
    QFETCH(QList<int>, choices);
    QFETCH(QStringList, announced);
    showDialog();
    QSignalSpy speeds(m_dialog.get(), &rs232Settings::rateChanged);
    QSignalSpy ports(m_dialog.get(), &rs232Settings::comPortChanged);

    for (int row : choices)
        QVERIFY(chooseComboEntry(speedList(), row));

    QStringList texts;
    for (const QList<QVariant> &arguments : speeds)
        texts << arguments.at(0).toString();
    QCOMPARE(texts, announced);
    QCOMPARE(m_dialog->getCurrentCOMPortRate(), speedList()->itemText(choices.last()));
    QCOMPARE(ports.count(), 0);
}

void tst_rs232Settings::choosingPortAnnouncesIt()
{
    m_dialog->addComPorts({"ports/line1", "ports/line2"});
    showDialog();
    QSignalSpy ports(m_dialog.get(), &rs232Settings::comPortChanged);

    QVERIFY(chooseComboEntry(portList(), 1));
    // The current port chosen again is announced again: the operator's way to have it opened anew.
    QVERIFY(chooseComboEntry(portList(), 1));

    QCOMPARE(ports.count(), 2);
    QCOMPARE(ports.at(0).at(0).toString(), QStringLiteral("ports/line2"));
    QCOMPARE(ports.at(1).at(0).toString(), QStringLiteral("ports/line2"));
    QCOMPARE(m_dialog->getCurrentCOMPort(), QStringLiteral("ports/line2"));
}

void tst_rs232Settings::refreshKeepsCurrentPort_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QStringList>("refused"); // "name:group" of devices this user may not open
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("current");

    QTest::addRow("current port open here, so not found")
        << QStringList {"line1", "line2"} << QStringList {"line0", "line2"} << QStringList {}
        << QStringList {"line1", "line0", "line2"} << "line1";
    QTest::addRow("current port found") << QStringList {"line1"} << QStringList {"line1", "line3"} << QStringList {}
                                        << QStringList {"line1", "line3"} << "line1";
    QTest::addRow("first port found for an empty list") << QStringList {} << QStringList {"line3", "line4"}
                                                        << QStringList {} << QStringList {"line3", "line4"} << "line3";
    QTest::addRow("still nothing") << QStringList {} << QStringList {} << QStringList {} << QStringList {} << "";
    QTest::addRow("device without permission, after the usable ports")
        << QStringList {} << QStringList {"line1"} << QStringList {"ttyUSB0:dialout"}
        << QStringList {"line1", "ttyUSB0 (нет доступа: группа dialout)"} << "line1";
    QTest::addRow("device without permission never current by itself")
        << QStringList {} << QStringList {} << QStringList {"ttyUSB0:dialout", "ttyS4:"}
        << QStringList {"ttyUSB0 (нет доступа: группа dialout)", "ttyS4 (нет доступа)"} << "";
}

void tst_rs232Settings::refreshKeepsCurrentPort()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, found);
    QFETCH(QStringList, refused);
    QFETCH(QStringList, listed);
    QFETCH(QString, current);
    QList<RefusedPort> refusedPorts;
    for (const QString &entry : refused)
        refusedPorts.append({entry.section(QLatin1Char(':'), 0, 0), entry.section(QLatin1Char(':'), 1)});
    m_dialog->addComPorts(before);
    QSignalSpy ports(m_dialog.get(), &rs232Settings::comPortChanged);

    m_dialog->refreshComPorts(found, refusedPorts);

    QStringList shown;
    for (int row = 0; row < portList()->count(); ++row)
        shown << portList()->itemText(row);
    QCOMPARE(shown, listed);
    QCOMPARE(m_dialog->getCurrentCOMPort(), current);
    // The main window decides what a refresh opens; the dialog announces nothing.
    QCOMPARE(ports.count(), 0);
    if (!current.isEmpty()) {
        showDialog();
        QVERIFY(chooseComboEntry(portList(), int(listed.indexOf(current))));
        QCOMPARE(ports.count(), 1);
    }
    if (refusedPorts.isEmpty())
        return;
    // Chosen by the operator, a device without permission is tried by its bare name and stays chosen.
    showDialog();
    QVERIFY(chooseComboEntry(portList(), portList()->count() - 1));
    QCOMPARE(ports.last().at(0).toString(), refusedPorts.last().name);
    QCOMPARE(m_dialog->getCurrentCOMPort(), refusedPorts.last().name);
    m_dialog->refreshComPorts(found, refusedPorts);
    QCOMPARE(m_dialog->getCurrentCOMPort(), refusedPorts.last().name);
}

void tst_rs232Settings::closeButtonHidesDialog()
{
    showDialog();
    auto *closeButton = m_dialog->findChild<QPushButton *>("pushButton");
    QVERIFY(closeButton);
    QCOMPARE(closeButton->text(), QStringLiteral("Закрыть\nменю"));

    QTest::mouseClick(closeButton, Qt::LeftButton);

    QTRY_VERIFY(!m_dialog->isVisible());
    QVERIFY(!m_dialog->testAttribute(Qt::WA_DeleteOnClose));
}

void tst_rs232Settings::destructionIsLogged()
{
    StderrCapture capture;
    m_dialog.reset();
    QCOMPARE(capture.text(), QByteArray("~rs232Settings()\n"));
}

QTEST_MAIN(tst_rs232Settings)
#include "tst_rs232settings.moc"
