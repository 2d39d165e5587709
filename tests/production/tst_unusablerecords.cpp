#include "modalanswerer.h"
#include "stationharness.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QtTest>

#include <memory>

#include <unistd.h>

/// A data.db that cannot take records: the operator is told at start-up that nothing will be recorded and
/// why, and "Начать задание" refuses with that reason instead of starting an unrecorded batch.
class tst_UnusableRecords : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startIsRefusedWithTheReason_data();
    void startIsRefusedWithTheReason();

private:
    StationHarness *m_station = nullptr;
};

void tst_UnusableRecords::init()
{
    m_station = new StationHarness;
}

void tst_UnusableRecords::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

void tst_UnusableRecords::startIsRefusedWithTheReason_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::addRow("data.db is a folder") << "folder"
                                         << "файл не открывается и не создаётся";
    QTest::addRow("data.db is no database") << "garbage"
                                            << "файл не является базой данных";
    QTest::addRow("read-only data.db") << "read-only"
                                       << "файл доступен только для чтения";
    // Where data.db may be written but its folder not, no journal can be made beside it.
    QTest::addRow("no journal can be made") << "journal"
                                            << "файл не открывается и не создаётся";
}

void tst_UnusableRecords::startIsRefusedWithTheReason()
{
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    if (fault == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(QStringLiteral("data.db")));
    } else if (fault == QLatin1String("garbage")) {
        QFile file(QStringLiteral("data.db"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'x'));
    } else if (fault == QLatin1String("read-only")) {
        if (geteuid() == 0)
            QSKIP("root writes a read-only file all the same");
        QFile file(QStringLiteral("data.db"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner));
    } else {
        QVERIFY(QDir().mkdir(QStringLiteral("data.db-journal")));
    }

    ModalAnswerer warning(QStringLiteral("Ok"));
    // Where the batches cannot even be read, the restore must not ask for a second box about the same file.
    std::unique_ptr<ModalAnswerer> restoreNote;
    QTimer chain;
    QObject::connect(&chain, &QTimer::timeout, &chain, [&] {
        if (warning.answered() && !restoreNote)
            restoreNote = std::make_unique<ModalAnswerer>(QStringLiteral("Ok"));
    });
    chain.start(5);
    const qsizetype mark = m_station->log().mark();
    m_station->startStation();
    chain.stop();
    QVERIFY(warning.answered());
    QVERIFY2(!restoreNote || !restoreNote->answered(), qPrintable(restoreNote->boxText()));
    restoreNote.reset();
    QVERIFY2(
        warning.boxText().contains(QStringLiteral("не принимает записи: ") + reason), qPrintable(warning.boxText()));
    QVERIFY2(warning.boxText().contains(QStringLiteral("Партии и задания записываться не будут")),
        qPrintable(warning.boxText()));
    QVERIFY(m_station->log().since(mark).contains("can not be written, nothing will be recorded"));

    ModalAnswerer refusal(QStringLiteral("Ok"));
    QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
    QVERIFY(refusal.answered());
    QVERIFY2(refusal.boxText().startsWith(
                 QStringLiteral("Задание не начато: база данных data.db не принимает записи: ") + reason),
        qPrintable(refusal.boxText()));
    QVERIFY(!m_station->button("stopButton")->isEnabled());
}

QTEST_MAIN(tst_UnusableRecords)
#include "tst_unusablerecords.moc"
