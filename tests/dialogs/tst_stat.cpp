#include "productionrecords.h"
#include "stat.h"
#include "stderrcapture.h"
#include "testworkdir.h"

#include <QStyleFactory>
#include <QtTest>

#include <memory>

using Table = QList<QStringList>;

class tst_Stat : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void emptyDatabase();
    void dayListsFollowBatchOrder();
    void batchRange_data();
    void batchRange();
    void unitsSumInKilograms_data();
    void unitsSumInKilograms();
    void namesStayText_data();
    void namesStayText();
    void rangeWithoutTasksKeepsTable();
    void reopeningKeepsLastDayListAndTable();
    void indexesAppearOnceTablesExist();
    void unopenableDatabase();
    void dayBoxesShowWholeDates_data();
    void dayBoxesShowWholeDates();

private:
    static Table shownTable(const Stat &stat);
    static QStringList items(const QComboBox *box);
    // Picks the days as the operator does: the first day, then the last one from the list it leaves.
    static void chooseRange(Stat &stat, const QString &firstDay, const QString &lastDay);

    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<ProductionRecords> m_records;
};

void tst_Stat::init()
{
    m_dir = std::make_unique<TestWorkDir>();
    m_records = std::make_unique<ProductionRecords>();
}

void tst_Stat::cleanup()
{
    m_records.reset();
    m_dir.reset();
}

Table tst_Stat::shownTable(const Stat &stat)
{
    Table table;
    for (int row = 0; row < stat.statTable->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < stat.statTable->columnCount(); ++column) {
            const QTableWidgetItem *item = stat.statTable->item(row, column);
            cells << (item ? item->text() : QStringLiteral("<none>"));
        }
        table << cells;
    }
    return table;
}

QStringList tst_Stat::items(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

void tst_Stat::chooseRange(Stat &stat, const QString &firstDay, const QString &lastDay)
{
    const int first = stat.fromComboBox->findText(firstDay);
    QVERIFY2(first >= 0, qPrintable(firstDay));
    stat.fromComboBox->setCurrentIndex(first);
    const int last = stat.toComboBox->findText(lastDay);
    QVERIFY2(last >= 0, qPrintable(lastDay));
    stat.toComboBox->setCurrentIndex(last);
}

void tst_Stat::emptyDatabase()
{
    Stat stat;
    stat.reloadDates();
    QCOMPARE(stat.windowTitle(), QStringLiteral("Статистика"));
    QCOMPARE(stat.fromComboBox->count(), 0);
    QCOMPARE(stat.toComboBox->count(), 0);
    QCOMPARE(stat.statTable->columnCount(), 2);
    QCOMPARE(stat.statTable->rowCount(), 0);
    QCOMPARE(stat.statTable->horizontalHeaderItem(0)->text(), QStringLiteral("Продукт"));
    QCOMPARE(stat.statTable->horizontalHeaderItem(1)->text(), QStringLiteral("Вес, кг"));
}

void tst_Stat::dayListsFollowBatchOrder()
{
    // Across a month end the day texts sort differently from the days themselves.
    m_records->addBatch(QStringLiteral("30.01.2024"), QStringLiteral("Мука"), QStringLiteral("1.00"));
    m_records->addBatch(QStringLiteral("30.01.2024"), QStringLiteral("Мука"), QStringLiteral("2.00"));
    m_records->addBatch(QStringLiteral("31.01.2024"), QStringLiteral("Сахар"), QStringLiteral("4.00"));
    m_records->addBatch(QStringLiteral("01.02.2024"), QStringLiteral("Мука"), QStringLiteral("8.00"));
    Stat stat;
    stat.reloadDates();
    const QStringList days {QStringLiteral("30.01.2024"), QStringLiteral("31.01.2024"), QStringLiteral("01.02.2024")};
    QCOMPARE(items(stat.fromComboBox), days);
    QCOMPARE(stat.fromComboBox->currentIndex(), -1);
    QCOMPARE(stat.toComboBox->count(), 0);
    QCOMPARE(stat.statTable->rowCount(), 0);

    // Picking a first day offers that day and every later one, and shows that day on its own at once.
    stat.fromComboBox->setCurrentIndex(1);
    QCOMPARE(items(stat.toComboBox), days.mid(1));
    QCOMPARE(stat.toComboBox->currentIndex(), 0);
    QCOMPARE(shownTable(stat), (Table {{QStringLiteral("Сахар"), QStringLiteral("4.00")}}));

    stat.fromComboBox->setCurrentIndex(0);
    QCOMPARE(items(stat.toComboBox), days);
    QCOMPARE(shownTable(stat), (Table {{QStringLiteral("Мука"), QStringLiteral("3.00")}}));
}

void tst_Stat::batchRange_data()
{
    // Three batches a day with weights 1, 2, 4, 8, ... kg: each sum says exactly which batches counted.
    QTest::addColumn<QString>("firstDay");
    QTest::addColumn<QString>("lastDay");
    QTest::addColumn<QString>("weight");
    QTest::addRow("first day alone") << "10.03.2024"
                                     << "10.03.2024"
                                     << "7.00";
    QTest::addRow("middle day alone") << "11.03.2024"
                                      << "11.03.2024"
                                      << "56.00";
    QTest::addRow("last day alone") << "12.03.2024"
                                    << "12.03.2024"
                                    << "448.00";
    QTest::addRow("first two days") << "10.03.2024"
                                    << "11.03.2024"
                                    << "63.00";
    QTest::addRow("last two days") << "11.03.2024"
                                   << "12.03.2024"
                                   << "504.00";
    QTest::addRow("whole range") << "10.03.2024"
                                 << "12.03.2024"
                                 << "511.00";
}

void tst_Stat::batchRange()
{
    QFETCH(QString, firstDay);
    QFETCH(QString, lastDay);
    QFETCH(QString, weight);
    int kilograms = 1;
    for (const char *day : {"10.03.2024", "11.03.2024", "12.03.2024"}) {
        for (int batch = 0; batch < 3; ++batch, kilograms *= 2)
            m_records->addBatch(QString::fromLatin1(day), QStringLiteral("Мука"), QString::number(kilograms) + ".00");
    }
    Stat stat;
    stat.reloadDates();
    chooseRange(stat, firstDay, lastDay);
    QCOMPARE(shownTable(stat), (Table {{QStringLiteral("Мука"), weight}}));
}

void tst_Stat::unitsSumInKilograms_data()
{
    using Tasks = QList<QStringList>; // done weight, unit
    QTest::addColumn<Tasks>("tasks");
    QTest::addColumn<QString>("weight");
    QTest::addRow("grams, kilograms and tonnes") << Tasks {{"500.0", "г"}, {"2.00", "кг"}, {"0.001", "т"}} << "3.50";
    QTest::addRow("empty done weight counts 0") << Tasks {{"", "кг"}, {"1.25", "кг"}} << "1.25";
    QTest::addRow("unknown unit counts nowhere") << Tasks {{"7", "lb"}, {"1", "кг"}, {"5", "КГ"}} << "1.00";
    QTest::addRow("only an unknown unit") << Tasks {{"7", "lb"}} << "0.00";
    QTest::addRow("text that is no number") << Tasks {{"abc", "кг"}, {"1,5", "кг"}, {"2", "кг"}} << "2.00";
    QTest::addRow("rounded to two decimals") << Tasks {{"0.004", "кг"}, {"12.5", "кг"}} << "12.50";
}

void tst_Stat::unitsSumInKilograms()
{
    using Tasks = QList<QStringList>;
    QFETCH(Tasks, tasks);
    QFETCH(QString, weight);
    for (const QStringList &task : tasks)
        m_records->addBatch(QStringLiteral("05.04.2024"), QStringLiteral("Мука"), task.at(0), task.at(1));
    Stat stat;
    stat.reloadDates();
    chooseRange(stat, QStringLiteral("05.04.2024"), QStringLiteral("05.04.2024"));
    QCOMPARE(shownTable(stat), (Table {{QStringLiteral("Мука"), weight}}));
}

void tst_Stat::namesStayText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addRow("double quotes") << QStringLiteral("Мука \"Экстра\"");
    QTest::addRow("apostrophe") << QStringLiteral("O'Brien");
    QTest::addRow("column name") << QStringLiteral("productName");
    QTest::addRow("unit column name") << QStringLiteral("weightScale");
    QTest::addRow("placeholders") << QStringLiteral("100%4 %3");
    QTest::addRow("semicolon and statement") << QStringLiteral("x'); DELETE FROM task; --");
}

void tst_Stat::namesStayText()
{
    QFETCH(QString, name);
    m_records->addBatch(QStringLiteral("06.05.2024"), QStringLiteral("Соль"), QStringLiteral("10.00"));
    m_records->addBatch(QStringLiteral("06.05.2024"), name, QStringLiteral("1.50"));
    m_records->addBatch(QStringLiteral("06.05.2024"), name, QStringLiteral("250"), QStringLiteral("г"));
    Stat stat;
    stat.reloadDates();
    chooseRange(stat, QStringLiteral("06.05.2024"), QStringLiteral("06.05.2024"));
    Table expected {{name, QStringLiteral("1.75")}, {QStringLiteral("Соль"), QStringLiteral("10.00")}};
    if (expected.at(1).at(0).toUtf8() < name.toUtf8())
        std::swap(expected[0], expected[1]);
    QCOMPARE(shownTable(stat), expected);
    m_records->query().runQuery(QStringLiteral("SELECT count(*) FROM task"));
    QCOMPARE(m_records->query().cell(0, 0), QStringLiteral("3"));
}

void tst_Stat::rangeWithoutTasksKeepsTable()
{
    m_records->addBatch(QStringLiteral("01.06.2024"), QStringLiteral("Мука"), QStringLiteral("3.00"));
    m_records->addEmptyBatch(QStringLiteral("02.06.2024"));
    Stat stat;
    stat.reloadDates();
    stat.fromComboBox->setCurrentIndex(0);
    const Table before {{QStringLiteral("Мука"), QStringLiteral("3.00")}};
    QCOMPARE(shownTable(stat), before);
    stat.fromComboBox->setCurrentIndex(1);
    QCOMPARE(stat.toComboBox->currentText(), QStringLiteral("02.06.2024"));
    QCOMPARE(shownTable(stat), before);
}

void tst_Stat::reopeningKeepsLastDayListAndTable()
{
    m_records->addBatch(QStringLiteral("01.07.2024"), QStringLiteral("Мука"), QStringLiteral("3.00"));
    m_records->addBatch(QStringLiteral("02.07.2024"), QStringLiteral("Мука"), QStringLiteral("4.00"));
    Stat stat;
    stat.reloadDates();
    stat.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stat));
    chooseRange(stat, QStringLiteral("01.07.2024"), QStringLiteral("02.07.2024"));
    const Table table {{QStringLiteral("Мука"), QStringLiteral("7.00")}};
    QCOMPARE(shownTable(stat), table);

    QSignalSpy hidden(&stat, &Stat::windowHided);
    QSignalSpy closed(&stat, &Stat::closeClicked);
    QTest::mouseClick(stat.closeButton, Qt::LeftButton);
    QVERIFY(stat.isHidden());
    QCOMPARE(hidden.count(), 1);
    QCOMPARE(closed.count(), 1);

    m_records->addBatch(QStringLiteral("03.07.2024"), QStringLiteral("Сахар"), QStringLiteral("1.00"));
    stat.reloadDates();
    stat.show();
    QCOMPARE(items(stat.fromComboBox),
        (QStringList {QStringLiteral("01.07.2024"), QStringLiteral("02.07.2024"), QStringLiteral("03.07.2024")}));
    QCOMPARE(stat.fromComboBox->currentIndex(), -1);
    QCOMPARE(items(stat.toComboBox), (QStringList {QStringLiteral("01.07.2024"), QStringLiteral("02.07.2024")}));
    QCOMPARE(stat.toComboBox->currentText(), QStringLiteral("02.07.2024"));
    QCOMPARE(shownTable(stat), table);

    // The lists are connected again, once: a new first day updates the table one time.
    chooseRange(stat, QStringLiteral("02.07.2024"), QStringLiteral("03.07.2024"));
    QCOMPARE(shownTable(stat),
        (Table {{QStringLiteral("Мука"), QStringLiteral("4.00")}, {QStringLiteral("Сахар"), QStringLiteral("1.00")}}));
}

void tst_Stat::indexesAppearOnceTablesExist()
{
    // On a first start this dialog is built before the main window creates the tables.
    m_records.reset();
    QVERIFY(QFile::remove(QStringLiteral("data.db")));
    Stat stat;
    m_records = std::make_unique<ProductionRecords>();
    m_records->addBatch(QStringLiteral("01.08.2024"), QStringLiteral("Мука"), QStringLiteral("3.00"));
    stat.reloadDates();
    m_records->query().runQuery(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name"));
    QCOMPARE(m_records->query().rows(), 2);
    stat.fromComboBox->setCurrentIndex(0);
    QCOMPARE(shownTable(stat), (Table {{QStringLiteral("Мука"), QStringLiteral("3.00")}}));
}

void tst_Stat::unopenableDatabase()
{
    m_records.reset();
    QVERIFY(QFile::remove(QStringLiteral("data.db")));
    QVERIFY(QDir().mkdir(QStringLiteral("data.db")));
    StderrCapture capture;
    {
        Stat stat;
        stat.reloadDates();
        stat.show();
        QVERIFY(QTest::qWaitForWindowExposed(&stat));
        QCOMPARE(stat.fromComboBox->count(), 0);
        QCOMPARE(stat.statTable->rowCount(), 0);
        stat.getStat();
        QCOMPARE(stat.statTable->rowCount(), 0);
    }
    const QByteArray log = capture.text();
    QVERIFY2(log.startsWith("\nCan't open database: "), log.constData());
    QVERIFY(log.endsWith("~Stat()\n"));
    QCOMPARE(QDir(QStringLiteral("data.db")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void tst_Stat::dayBoxesShowWholeDates_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("style");
    // The widest digits a day can have, at the station's designed font and style.
    QTest::addRow("first day, Fusion") << "fromComboBox"
                                       << "Fusion";
    QTest::addRow("last day, Fusion") << "toComboBox"
                                      << "Fusion";
    QTest::addRow("first day, Windows") << "fromComboBox"
                                        << "Windows";
}

void tst_Stat::dayBoxesShowWholeDates()
{
    QFETCH(QString, box);
    QFETCH(QString, style);
    const QString day = QStringLiteral("28.08.2028");
    m_records->addBatch(day, QStringLiteral("Мука"), QStringLiteral("1.00"));
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
    QApplication::setStyle(QStyleFactory::create(style));
    Stat stat;
    stat.reloadDates();
    stat.fromComboBox->setCurrentIndex(0);
    stat.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stat));
    auto *combo = stat.findChild<QComboBox *>(box);
    QCOMPARE(combo->currentText(), day);
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.rect = combo->rect();
    option.frame = true;
    option.subControls = QStyle::SC_All;
    const QRect field
        = combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    const int needed = combo->fontMetrics().horizontalAdvance(day);
    QVERIFY2(field.width() >= needed, qPrintable(QStringLiteral("%1 < %2").arg(field.width()).arg(needed)));
}

QTEST_MAIN(tst_Stat)
#include "tst_stat.moc"
