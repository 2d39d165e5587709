#include "combotextrelay.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QTest>

// The relay must fire exactly when QComboBox::currentIndexChanged(QString) fired in Qt 4, with the same
// text; the receivers (port, speed, product) act on every announcement.
class tst_ComboTextRelay : public QObject
{
    Q_OBJECT

private slots:
    void programChanges_data();
    void programChanges();

private:
    static void run(QComboBox &comboBox, const QString &step);
};

// Steps: "add:A", "addAll:A,B", "insertFirst:A", "set:1", "remove:1", "rename:1:X", "clear".
void tst_ComboTextRelay::run(QComboBox &comboBox, const QString &step)
{
    const QStringList parts = step.split(QLatin1Char(':'));
    const QString &command = parts.at(0);
    if (command == QLatin1String("add"))
        comboBox.addItem(parts.at(1));
    else if (command == QLatin1String("addAll"))
        comboBox.addItems(parts.at(1).split(QLatin1Char(',')));
    else if (command == QLatin1String("insertFirst"))
        comboBox.insertItem(0, parts.at(1));
    else if (command == QLatin1String("set"))
        comboBox.setCurrentIndex(parts.at(1).toInt());
    else if (command == QLatin1String("remove"))
        comboBox.removeItem(parts.at(1).toInt());
    else if (command == QLatin1String("rename"))
        comboBox.setItemText(parts.at(1).toInt(), parts.at(2));
    else if (command == QLatin1String("clear"))
        comboBox.clear();
    else
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
}

void tst_ComboTextRelay::programChanges_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("announced");

    const QStringList none;

    // Filling the list.
    QTest::addRow("first entry added to an empty list") << none << QStringList {"add:Мука"} << QStringList {"Мука"};
    QTest::addRow("several entries added at once to an empty list")
        << none << QStringList {"addAll:COM1,COM2,COM3"} << QStringList {"COM1"};
    QTest::addRow("entry appended behind the current one") << QStringList {"add:A"} << QStringList {"add:B"} << none;
    QTest::addRow("entry appended while nothing is current")
        << QStringList {"add:A", "set:-1"} << QStringList {"add:B"} << none;
    QTest::addRow("entry inserted before the current one moves its index")
        << QStringList {"addAll:A,B", "set:1"} << QStringList {"insertFirst:Z"} << QStringList {"B"};

    // Emptying and removing.
    QTest::addRow("list emptied while an entry is current")
        << QStringList {"addAll:A,B", "set:1"} << QStringList {"clear"} << QStringList {QString()};
    QTest::addRow("list emptied while nothing is current")
        << QStringList {"addAll:A,B", "set:-1"} << QStringList {"clear"} << none;
    QTest::addRow("current entry removed, the next one takes its place")
        << QStringList {"addAll:A,B,C", "set:1"} << QStringList {"remove:1"} << QStringList {"C"};
    QTest::addRow("entry before the current one removed")
        << QStringList {"addAll:A,B,C", "set:2"} << QStringList {"remove:0"} << QStringList {"C"};

    // Choosing by program.
    QTest::addRow("other entry made current")
        << QStringList {"addAll:A,B"} << QStringList {"set:1"} << QStringList {"B"};
    QTest::addRow("current entry made current again") << QStringList {"addAll:A,B"} << QStringList {"set:0"} << none;
    QTest::addRow("nothing made current")
        << QStringList {"addAll:A,B"} << QStringList {"set:-1"} << QStringList {QString()};
    QTest::addRow("current entry renamed") << QStringList {"addAll:A,B"} << QStringList {"rename:0:X"} << none;
    QTest::addRow("two entries with the same text, the other one chosen")
        << QStringList {"addAll:A,A"} << QStringList {"set:1"} << QStringList {"A"};
}

void tst_ComboTextRelay::programChanges()
{
    QFETCH(QStringList, setup);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, announced);

    QComboBox comboBox;
    for (const QString &step : setup)
        run(comboBox, step);
    QSignalSpy spy(new ComboTextRelay(&comboBox), &ComboTextRelay::currentIndexChanged);

    for (const QString &step : steps)
        run(comboBox, step);

    QStringList texts;
    for (const QList<QVariant> &arguments : spy)
        texts << arguments.at(0).toString();
    QCOMPARE(texts, announced);
}

QTEST_MAIN(tst_ComboTextRelay)
#include "tst_combotextrelay.moc"
