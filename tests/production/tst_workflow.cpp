#include "d415_fendrix.h"
#include "modalanswerer.h"
#include "simulatorprocess.h"
#include "sqlitequery.h"
#include "stationharness.h"

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QtTest>

#include <algorithm>
#include <cmath>

/// Automatic batches end to end: the real window, driven through its widgets, against the doser simulator.
class tst_Workflow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void batchRunsToTheEnd();
    void progressThatCannotBeRecorded();
    void preparatoryDischarge_data();
    void preparatoryDischarge();
    void stopAndContinue();
    void silentDoserStopsAndBatchFinishesAfterRestore();
    void doserErrorStopsTheBatch();
    void stationDiesAndFinishesAfterRestart();
    void lookingAtSettingsKeepsTheProduct();

private:
    bool startBatch(const QString &target, const QString &product = QStringLiteral("Сахар"));
    QList<double> fills();
    double dischargedSum();
    int weighedDoses();
    static QStringList task();
    static QStringList batch();
    void verifyFinished(double expectedDone);
    StationHarness *m_station = nullptr;
};

void tst_Workflow::init()
{
    m_station = new StationHarness;
}

void tst_Workflow::cleanup()
{
    delete m_station;
    m_station = nullptr;
}

/// Chooses the product, types the target weight on the keyboard and starts with "Да".
bool tst_Workflow::startBatch(const QString &target, const QString &product)
{
    StationHarness::addProduct(product);
    m_station->startStation();
    if (!QTest::qWaitFor([&] { return m_station->label("weightlabel_7")->text() == QStringLiteral("кг"); }, 5000))
        return false;
    if (!m_station->chooseProduct(product) || !m_station->typeInto("productWeightD415_11", target))
        return false;
    ModalAnswerer start(QStringLiteral("Да"));
    QTest::mouseClick(m_station->button("startButton"), Qt::LeftButton);
    return start.answered() && start.boxText() == QStringLiteral("Начать новую работу?");
}

/// The weights of the fills the simulator was asked for (command 14), in order.
QList<double> tst_Workflow::fills()
{
    QList<double> weights;
    const QList<SimulatorProcess::Request> requests = m_station->sim()->requests();
    for (const SimulatorProcess::Request &request : requests) {
        if (request.command == 14)
            weights << request.value;
    }
    return weights;
}

/// Everything the doser really discharged, as its own log says.
double tst_Workflow::dischargedSum()
{
    QCoreApplication::processEvents();
    static const QRegularExpression discharged(QStringLiteral("^discharged (-?[0-9.]+)"));
    double sum = 0;
    const QStringList events = m_station->sim()->linesWithTag(QStringLiteral("EVT"));
    for (const QString &event : events) {
        const QRegularExpressionMatch match = discharged.match(event);
        if (match.hasMatch())
            sum += match.captured(1).toDouble();
    }
    return sum;
}

int tst_Workflow::weighedDoses()
{
    QCoreApplication::processEvents();
    return int(m_station->sim()->linesWithTag(QStringLiteral("EVT")).filter(QStringLiteral("dose weighed")).size());
}

QStringList tst_Workflow::task()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(
        QStringLiteral("SELECT taskWeight, haveDoneWeight, mustToBeDoneWeight, endTime, endDate, productName "
                       "FROM task"));
    QStringList cells;
    for (const QByteArray &cell : query.values())
        cells << QString::fromUtf8(cell);
    return cells;
}

QStringList tst_Workflow::batch()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("SELECT endTime, endDate FROM butch"));
    QStringList cells;
    for (const QByteArray &cell : query.values())
        cells << QString::fromUtf8(cell);
    return cells;
}

/// The batch is closed in data.db and the window is back in its idle state.
void tst_Workflow::verifyFinished(double expectedDone)
{
    const QStringList row = task();
    QCOMPARE(row.size(), 6);
    QVERIFY2(qAbs(row.at(1).toDouble() - expectedDone) < 1e-6, qPrintable(row.at(1)));
    QVERIFY2(QTime::fromString(row.at(3), QStringLiteral("hh:mm")).isValid(), qPrintable(row.at(3)));
    QCOMPARE(row.at(4), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
    const QStringList closed = batch();
    QCOMPARE(closed.size(), 2);
    QVERIFY(QTime::fromString(closed.at(0), QStringLiteral("hh:mm")).isValid());
    QTRY_VERIFY(m_station->button("startButton")->isEnabled());
    QVERIFY(!m_station->button("stopButton")->isEnabled());
    QVERIFY(!m_station->button("continueButton")->isEnabled());
    QVERIFY(m_station->window()->findChild<QGroupBox *>(QStringLiteral("groupBox_2"))->isEnabled());
    QVERIFY(m_station->button("rs232SettingsButton")->isEnabled());
}

void tst_Workflow::batchRunsToTheEnd()
{
    QVERIFY(m_station->startSimulator({"--decimals", "2", "--max-dose", "50", "--plus", "0.5"}));
    ModalAnswerer done(QStringLiteral("Ok"), 30000);
    QVERIFY(startBatch(QStringLiteral("100")));
    // Running: only the automatic group's stop is open to the operator, and no manual fill.
    QVERIFY(!m_station->button("startButton")->isEnabled());
    QVERIFY(m_station->button("stopButton")->isEnabled());
    QVERIFY(!m_station->button("downloadDoseButton")->isEnabled());
    QVERIFY(!m_station->window()->findChild<QGroupBox *>(QStringLiteral("containerD415_11"))->isEnabled());

    QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 20000);
    QCOMPARE(done.boxText(), QStringLiteral("Задание выполнено"));
    QCOMPARE(done.boxTitle(), QStringLiteral("Сообщение"));
    // 100 / (100 / 50 + 1), then 66.67 / (66.67 / 50 + 1), then the remainder below 50.
    QCOMPARE(fills(), (QList<double> {33.33, 28.57, 38.10}));
    QCOMPARE(qRound(dischargedSum() * 100), 10000);
    verifyFinished(100.0);
    QCOMPARE(task().at(2), QStringLiteral("0.00"));
    QCOMPARE(m_station->label("progressBar_11")->text(), QStringLiteral("100.00"));
    QCOMPARE(m_station->label("label_57")->text(), QStringLiteral("38.10"));
    const QByteArray log = m_station->log().text();
    QVERIFY(log.contains("device 30 has finisheded his part the work, must to do 0 part(s)\n"));
    QVERIFY(log.contains("\nhas finisheded all parts\n"));
}

/// The disk fills up after the start: no dose more goes out before the records hold the last one.
void tst_Workflow::progressThatCannotBeRecorded()
{
    SqliteQuery query;
    query.open(QStringLiteral("data.db"));
    query.runQuery(QStringLiteral("CREATE TABLE task (idButch INTEGER, deviceId INTEGER, startTime TEXT, endTime TEXT, "
                                  "taskWeight TEXT, haveDoneWeight TEXT, mustToBeDoneWeight TEXT, productName TEXT, "
                                  "weightScale TEXT, startDate TEXT, endDate TEXT);"));
    query.runQuery(QStringLiteral("CREATE TRIGGER full BEFORE UPDATE OF haveDoneWeight ON task BEGIN "
                                  "SELECT RAISE(ABORT, 'database or disk is full'); END;"));
    QCOMPARE(query.returnCode(), 0);
    QVERIFY(m_station->startSimulator({"--decimals", "2", "--max-dose", "50", "--plus", "0.5"}));
    ModalAnswerer stopped(QStringLiteral("Ok"), 30000);
    const qsizetype mark = m_station->log().mark();
    QVERIFY(startBatch(QStringLiteral("60")));
    QTRY_VERIFY_WITH_TIMEOUT(stopped.answered(), 20000);
    QCOMPARE(stopped.boxText(),
        QStringLiteral("Не удалось записать задание в базу данных: database or disk is full. Задание остановлено."));
    QVERIFY(m_station->log().since(mark).contains(
        "\nThe butch can not be recorded in the database, the work is stopped\n"));
    QCOMPARE(fills().size(), 1);
    QTRY_VERIFY(m_station->button("continueButton")->isEnabled());
}

void tst_Workflow::preparatoryDischarge_data()
{
    QTest::addColumn<QString>("plus");
    QTest::addColumn<QString>("inHopper");
    QTest::addColumn<double>("firstFill");
    QTest::addColumn<QByteArray>("logLine");
    QTest::addRow("below a quarter of the tolerance") << "2"
                                                      << "0.4" << 10.0
                                                      << QByteArray("device 30 has 0.4 in hopper < (doseFaultPlus/4) - "
                                                                    "can not be counted\n");
    QTest::addRow("a quarter of the tolerance") << "2"
                                                << "0.5" << 9.5
                                                << QByteArray("device 30 weight 0.5 in hopper has been uploaded and "
                                                              "added into result butch weight\n");
    // Without a tolerance the part ends when nothing is left to fill, not with a dose of 0.
    QTest::addRow("no tolerance, the target met exactly")
        << "0"
        << "0" << 10.0
        << QByteArray("device 30 weight 0 in hopper has been uploaded "
                      "and added into result butch weight\n");
}

void tst_Workflow::preparatoryDischarge()
{
    QFETCH(QString, plus);
    QFETCH(QString, inHopper);
    QFETCH(double, firstFill);
    QFETCH(QByteArray, logLine);
    QVERIFY(m_station->startSimulator({"--plus", plus, "--net", inHopper}));
    ModalAnswerer done(QStringLiteral("Ok"), 30000);
    QVERIFY(startBatch(QStringLiteral("10")));
    QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 20000);
    QVERIFY(m_station->log().text().contains(logLine));
    QCOMPARE(fills().value(0), firstFill);
    QCOMPARE(fills().size(), 1);
    verifyFinished(10.0);
}

void tst_Workflow::stopAndContinue()
{
    QVERIFY(m_station->startSimulator({"--max-dose", "50", "--fill-time", "1500"}));
    QVERIFY(startBatch(QStringLiteral("100")));
    QTRY_COMPARE_WITH_TIMEOUT(fills().size(), 1, 5000);

    // "Нет": the batch goes on.
    {
        ModalAnswerer no(QStringLiteral("Нет"));
        QTest::mouseClick(m_station->button("stopButton"), Qt::LeftButton);
        QVERIFY(no.answered());
        QCOMPARE(no.boxText(),
            QStringLiteral("ВНИМАНИЕ!!! При остановке работы ковши будут автоматически "
                           "разгружены.\nОстановить выполнение текущего задания?"));
    }
    QVERIFY(m_station->button("stopButton")->isEnabled());
    QVERIFY(!m_station->requests().contains(QStringLiteral("26/0")));

    // "Да": stop-work and a discharge, and what the discharge brings out is counted.
    const int before = m_station->requests().size();
    {
        ModalAnswerer yes(QStringLiteral("Да"));
        QTest::mouseClick(m_station->button("stopButton"), Qt::LeftButton);
        QVERIFY(yes.answered());
    }
    QTRY_VERIFY_WITH_TIMEOUT(indexOfRun(m_station->requests(), {"26/0", "20/0"}, before) >= 0, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!task().value(1).isEmpty(), 3000);
    const double stopped = dischargedSum();
    QVERIFY(stopped > 0 && stopped < 33.4);
    QVERIFY(qAbs(task().value(1).toDouble() - stopped) < 1e-6);
    QVERIFY(m_station->button("startButton")->isEnabled());
    QVERIFY(!m_station->button("stopButton")->isEnabled());
    QVERIFY(m_station->button("continueButton")->isEnabled());
    auto *progress = m_station->window()->findChild<QProgressBar *>(QStringLiteral("batchProgress"));
    QCOMPARE(progress->text(), task().value(1) + QStringLiteral(" из 100.0 кг"));

    // Continue: the same batch, its task rewritten with what is left, then on to the end.
    ModalAnswerer done(QStringLiteral("Ok"), 30000);
    QTest::mouseClick(m_station->button("continueButton"), Qt::LeftButton);
    QVERIFY(!m_station->button("continueButton")->isEnabled());
    // Locked while it runs, the panel still reads: its values keep a contrast of 4.5 : 1 at least.
    const auto luminance = [](const QColor &c) {
        const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    for (const char *name : {"progressBar_11", "stateD415_12", "label_6"}) {
        const QLabel *label = m_station->label(name);
        QVERIFY(!label->isEnabled());
        const double text = luminance(label->palette().color(QPalette::Disabled, QPalette::WindowText));
        const double ground = luminance(label->palette().color(QPalette::Disabled, QPalette::Window));
        const double contrast = (std::max(text, ground) + 0.05) / (std::min(text, ground) + 0.05);
        QVERIFY2(contrast >= 4.5, qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(name)).arg(contrast)));
    }
    QVERIFY(qAbs(task().value(2).toDouble() - (100.0 - stopped)) < 1e-6);
    QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 30000);
    QCOMPARE(batch().size(), 2);
    verifyFinished(dischargedSum());
}

void tst_Workflow::silentDoserStopsAndBatchFinishesAfterRestore()
{
    QVERIFY(m_station->startSimulator({"--max-dose", "50", "--fill-time", "400"}));
    QVERIFY(startBatch(QStringLiteral("100")));
    QTRY_COMPARE_WITH_TIMEOUT(fills().size(), 2, 10000);

    // Silent in the middle of the second dose: stopped at once, no question.
    QVERIFY(m_station->sim()->setSilent(true));
    QTRY_COMPARE_WITH_TIMEOUT(m_station->label("stateD415_11")->text(), QStringLiteral("НЕТ СВЯЗИ"), 3000);
    QTRY_VERIFY(m_station->button("continueButton")->isEnabled());
    QVERIFY(!m_station->button("stopButton")->isEnabled());
    const double doneWhenLost = task().value(1).toDouble();
    QTRY_VERIFY_WITH_TIMEOUT(weighedDoses() == 2, 3000);
    QVERIFY(!QApplication::activeModalWidget());

    // Back: the restore question; continue discharges the dose that waited in the hopper, once.
    ModalAnswerer restore(QStringLiteral("Да"), 10000);
    QVERIFY(m_station->sim()->setSilent(false));
    QTRY_VERIFY_WITH_TIMEOUT(restore.answered(), 5000);
    QCOMPARE(restore.boxText(), QStringLiteral("Последнее задание не завершено.\nВосстановить данные?"));
    QVERIFY(qAbs(m_station->label("progressBar_11")->text().toDouble() - doneWhenLost) < 1e-6);
    QTRY_VERIFY(m_station->button("continueButton")->isEnabled());

    ModalAnswerer done(QStringLiteral("Ok"), 30000);
    QTest::mouseClick(m_station->button("continueButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 30000);
    verifyFinished(dischargedSum());
    QVERIFY(std::abs(dischargedSum() - 100.0) < 0.5);
}

void tst_Workflow::doserErrorStopsTheBatch()
{
    QVERIFY(m_station->startSimulator({"--max-dose", "50", "--fill-time", "1000"}));
    QVERIFY(startBatch(QStringLiteral("100")));
    QTRY_COMPARE_WITH_TIMEOUT(fills().size(), 1, 5000);
    QVERIFY(m_station->sim()->raiseError(8));
    QTRY_VERIFY_WITH_TIMEOUT(m_station->button("continueButton")->isEnabled(), 3000);
    QVERIFY(!m_station->button("stopButton")->isEnabled());
    QTRY_COMPARE(m_station->label("stateD415_11")->text(), QStringLiteral("АВАРИЯ"));
    QTextBrowser *info = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("d415Settings"))
            info = widget->findChild<QTextBrowser *>(QStringLiteral("d415Info"));
    }
    QVERIFY(info);
    QTRY_COMPARE(info->toPlainText(), QStringLiteral("Ошибка, нет подачи продукта"));
    // Stopped means stopped: no further fill goes out while the doser reports its fault.
    const int fillsWhenStopped = int(fills().size());
    const qsizetype requestsWhenStopped = m_station->requests().size();
    QTRY_VERIFY_WITH_TIMEOUT(m_station->requests().size() > requestsWhenStopped + 6, 3000);
    QCOMPARE(int(fills().size()), fillsWhenStopped);

    // Continue resets the error and finishes the same batch.
    ModalAnswerer done(QStringLiteral("Ok"), 30000);
    QTest::mouseClick(m_station->button("continueButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 30000);
    QCOMPARE(batch().size(), 2);
    QVERIFY(task().value(1).toDouble() > 99.5);
}

void tst_Workflow::stationDiesAndFinishesAfterRestart()
{
    QVERIFY(m_station->startSimulator({"--max-dose", "50", "--fill-time", "100"}));
    QVERIFY(startBatch(QStringLiteral("100")));
    // The first dose is counted and the second weighed, still in the hopper, when the station dies.
    QTRY_COMPARE_WITH_TIMEOUT(fills().size(), 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(weighedDoses(), 2, 5000);
    m_station->killStation();
    // Every discharge so far has been counted, and nothing else.
    QVERIFY(qAbs(task().value(1).toDouble() - dischargedSum()) < 1e-6);
    QVERIFY(dischargedSum() > 0);

    ModalAnswerer restore(QStringLiteral("Да"));
    m_station->startStation();
    QVERIFY(restore.answered());
    QCOMPARE(m_station->edit("productWeightD415_11")->text(), QStringLiteral("100.0"));
    QTRY_VERIFY(m_station->button("continueButton")->isEnabled());
    ModalAnswerer done(QStringLiteral("Ok"), 30000);
    QTest::mouseClick(m_station->button("continueButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 30000);
    verifyFinished(dischargedSum());
    QVERIFY(std::abs(dischargedSum() - 100.0) < 0.5);
}

/// The doser settings re-read the catalogue each time they open; a look at them during a batch must not
/// hand the batch another product (the first of the catalogue) to be recorded with it.
void tst_Workflow::lookingAtSettingsKeepsTheProduct()
{
    QVERIFY(m_station->startSimulator({"--max-dose", "50", "--plus", "0.5"}));
    StationHarness::addProduct(QStringLiteral("Сахар"));
    ModalAnswerer done(QStringLiteral("Ok"), 30000);
    QVERIFY(startBatch(QStringLiteral("60"), QStringLiteral("Мука")));
    auto *container = m_station->window()->findChild<QGroupBox *>(QStringLiteral("containerD415_11"));
    QCOMPARE(container->title(), QStringLiteral("Дозатор 30 - Мука"));

    QTest::mouseClick(m_station->button("d415SettingsButton"), Qt::LeftButton);
    QDialog *settings = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("d415Settings"))
            settings = qobject_cast<QDialog *>(widget);
    }
    QVERIFY(settings && settings->isVisible());
    QCOMPARE(settings->findChild<QComboBox *>(QStringLiteral("productType"))->currentText(), QStringLiteral("Мука"));
    QTest::mouseClick(settings->findChild<QPushButton *>(QStringLiteral("closeButton")), Qt::LeftButton);
    QCOMPARE(container->title(), QStringLiteral("Дозатор 30 - Мука"));

    QTRY_VERIFY_WITH_TIMEOUT(done.answered(), 20000);
    verifyFinished(60.0);
    QCOMPARE(task().at(5), QStringLiteral("Мука"));
}

QTEST_MAIN(tst_Workflow)
#include "tst_workflow.moc"
