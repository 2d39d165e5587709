#include "testworkdir.h"

#include <QtTest>

/// The README's run command where there is no screen: it must say so plainly and stop at once, before it
/// builds anything or starts the doser simulator.
class tst_RunCommand : public QObject
{
    Q_OBJECT
private slots:
    void noDisplayIsReported();
};

void tst_RunCommand::noDisplayIsReported()
{
    TestWorkDir dir;
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("RUN_DIR"), dir.filePath(QStringLiteral("run")));
    run.setProcessEnvironment(env);
    // Should the command go on after all, its station looks only at ports/, never at the machine's ports.
    run.start(QStringLiteral("bash"), {QStringLiteral(SOURCE_DIR "/scripts/run.sh"), QStringLiteral("--ports-only")});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitCode(), 1);
    const QString said = QString::fromUtf8(run.readAllStandardError());
    QVERIFY2(said.startsWith(QStringLiteral("No display: the workstation needs a screen.")), qPrintable(said));
    QVERIFY(run.readAllStandardOutput().isEmpty());
    // Nothing was started: no working directory, no simulator line.
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("run/ports/d415"))));
}

QTEST_GUILESS_MAIN(tst_RunCommand)
#include "tst_runcommand.moc"
