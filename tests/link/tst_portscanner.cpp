#include "portscanner.h"
#include "serialport.h"
#include "testworkdir.h"

#include <QtTest>

/// A `ports/` entry is only a name: what it leads to decides. One that leads to a console is neither
/// listed nor opened, whatever it is called.
class tst_PortScanner : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void consoleIsNeverAPort_data();
    void consoleIsNeverAPort();
};

void tst_PortScanner::initTestCase()
{
    SerialPort::setSystemPortsListed(false);
}

void tst_PortScanner::consoleIsNeverAPort_data()
{
    QTest::addColumn<QString>("target");

    QTest::addRow("/dev/console") << QStringLiteral("/dev/console");
    QTest::addRow("/dev/tty") << QStringLiteral("/dev/tty");
    QTest::addRow("virtual console tty0") << QStringLiteral("/dev/tty0");
    QTest::addRow("virtual console tty1") << QStringLiteral("/dev/tty1");
    QFile active(QStringLiteral("/sys/class/tty/console/active"));
    const QString first = active.open(QIODevice::ReadOnly)
        ? QString::fromLatin1(active.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts).value(0).trimmed()
        : QString();
    if (!first.isEmpty())
        QTest::addRow("the kernel's console device") << QStringLiteral("/dev/") + first;
}

void tst_PortScanner::consoleIsNeverAPort()
{
    QFETCH(QString, target);
    if (!QFileInfo::exists(target))
        QSKIP("no such device here");
    TestWorkDir dir;
    QVERIFY(QDir().mkdir(QStringLiteral("ports")));
    QVERIFY(QFile::link(target, QStringLiteral("ports/line1")));

    // Asked first: should the name resolve, the listing and the opening below would reach the console.
    QCOMPARE(PortScanner::devicePath(QStringLiteral("line1")), QString());
    QCOMPARE(SerialPort::availablePorts(), QStringList());
    SerialPort port;
    QVERIFY(!port.open(QStringLiteral("line1")));
}

QTEST_GUILESS_MAIN(tst_PortScanner)
#include "tst_portscanner.moc"
