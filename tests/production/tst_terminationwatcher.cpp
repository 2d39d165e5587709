#include "terminationwatcher.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <csignal>

/// A termination signal closes the station's window and ends the application, also when another
/// top-level window (a settings dialog has no parent) is still open.
class tst_TerminationWatcher : public QObject
{
    Q_OBJECT
private slots:
    void signalEndsTheApplication_data();
    void signalEndsTheApplication();
};

void tst_TerminationWatcher::signalEndsTheApplication_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("dialogOpen");
    QTest::addRow("SIGTERM, window alone") << int(SIGTERM) << false;
    QTest::addRow("SIGTERM, settings dialog open") << int(SIGTERM) << true;
    QTest::addRow("SIGINT, settings dialog open") << int(SIGINT) << true;
    QTest::addRow("SIGHUP, settings dialog open") << int(SIGHUP) << true;
}

void tst_TerminationWatcher::signalEndsTheApplication()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, dialogOpen);
    QWidget window;
    QWidget dialog;
    window.show();
    if (dialogOpen)
        dialog.show();
    TerminationWatcher watcher(&window);

    QTimer::singleShot(0, &window, [signalNumber] { std::raise(signalNumber); });
    // Only a guard against a loop that never ends, so that the failure shows as an exit code of 1.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(20000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(tst_TerminationWatcher)
#include "tst_terminationwatcher.moc"
