#include "portscanner.h"
#include "serialport.h"
#include "testworkdir.h"

#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

/// A `ports/` entry is only a name: what it leads to decides. One that leads to a console is neither
/// listed nor opened, whatever it is called.
class tst_PortScanner : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void consoleIsNeverAPort_data();
    void consoleIsNeverAPort();
    void deviceWithoutPermissionIsListedWithItsGroup();
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

/// A user outside the device's group sees the port with the group to join, not an empty list; the
/// scan runs in a child switched to "nobody", since root opens every device.
void tst_PortScanner::deviceWithoutPermissionIsListedWithItsGroup()
{
    const passwd *nobody = getpwnam("nobody");
    const group *dialout = getgrnam("dialout");
    if (geteuid() != 0 || !nobody || !dialout)
        QSKIP("needs root, the user nobody and the group dialout");
    TestWorkDir dir;
    QVERIFY(QFile::setPermissions(dir.path(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
            | QFileDevice::ExeOther));
    QVERIFY(QDir().mkdir(QStringLiteral("ports")));
    int controller = -1;
    int device = -1;
    char name[128] = {};
    QVERIFY(openpty(&controller, &device, name, nullptr, nullptr) == 0);
    // As udev leaves a serial adapter: root:dialout, 0660.
    QVERIFY(chown(name, 0, dialout->gr_gid) == 0 && chmod(name, 0660) == 0);
    QVERIFY(QFile::link(QString::fromLatin1(name), QStringLiteral("ports/line1")));

    int pipeFds[2];
    QVERIFY(pipe(pipeFds) == 0);
    const pid_t child = fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const gid_t gid = nobody->pw_gid;
        if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(2);
        QList<RefusedPort> refused;
        const QStringList usable = PortScanner::availablePorts(false, &refused);
        QByteArray answer = usable.join(QLatin1Char(',')).toUtf8() + '|';
        for (const RefusedPort &port : refused)
            answer += (port.name + QLatin1Char(':') + port.group + QLatin1Char(',')).toUtf8();
        const bool written = write(pipeFds[1], answer.constData(), size_t(answer.size())) == answer.size();
        _exit(written ? 0 : 3);
    }
    ::close(pipeFds[1]);
    QByteArray answer;
    char buffer[256];
    ssize_t count = 0;
    while ((count = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        answer.append(buffer, count);
    ::close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ::close(device);
    ::close(controller);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QCOMPARE(answer, QByteArray("|line1:dialout,"));
}

QTEST_GUILESS_MAIN(tst_PortScanner)
#include "tst_portscanner.moc"
