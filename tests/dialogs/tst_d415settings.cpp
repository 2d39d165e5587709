#include "d415settings.h"

#include "choosecomboentry.h"
#include "stderrcapture.h"
#include "testworkdir.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>

#include <memory>

class tst_d415Settings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartSelects30AndAnnouncesItOnce();
    void chosenAddressIsStoredAtOnceAndRestored();
    void storedAddressZeroIsAnnounced();
    void damagedStoredAddressFallsBackTo30_data();
    void damagedStoredAddressFallsBackTo30();
    void destructionLogsAndStoresAddress();
    void settingsFileFailures_data();
    void settingsFileFailures();

    void productListAnnouncements_data();
    void productListAnnouncements();
    void operatorChoosesProduct();

    void readOnlyFieldsAreEmptyAfterClearing();
    void readOnlyFieldsLookLikePlainText();
    void readOnlyFieldsFollowPaletteChange();

    void testModeButtonsAreAnnounced();

private:
    QString settingsFile() const { return m_workDir->filePath(QStringLiteral("config/KESTU/D415_Test.conf")); }
    void writeSettingsFile(const QByteArray &text);
    QByteArray readSettingsFile() const;
    QComboBox *addressList() const { return m_dialog->findChild<QComboBox *>("d415Id"); }
    QComboBox *productList() const { return m_dialog->findChild<QComboBox *>("productType"); }
    QList<QLineEdit *> readOnlyFields() const;
    static QStringList products(const QSignalSpy &spy);

    std::unique_ptr<TestWorkDir> m_workDir;
    std::unique_ptr<d415Settings> m_dialog;
    QPalette m_applicationPalette;
};

void tst_d415Settings::init()
{
    m_workDir = std::make_unique<TestWorkDir>();
    QVERIFY(m_workDir->isValid());
    // QSettings reads the configuration folder only once per process; each test gets its own.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_workDir->filePath(QStringLiteral("config")));
    m_applicationPalette = QApplication::palette();
}

void tst_d415Settings::cleanup()
{
    m_dialog.reset();
    QApplication::setPalette(m_applicationPalette);
    m_workDir.reset();
}

void tst_d415Settings::writeSettingsFile(const QByteArray &text)
{
    QVERIFY(QDir().mkpath(QFileInfo(settingsFile()).path()));
    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray tst_d415Settings::readSettingsFile() const
{
    QFile file(settingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QLineEdit *> tst_d415Settings::readOnlyFields() const
{
    QList<QLineEdit *> fields;
    for (const char *name : {"weightScale", "weightNPV", "digitScale", "poVersion"})
        fields << m_dialog->findChild<QLineEdit *>(name);
    return fields;
}

QStringList tst_d415Settings::products(const QSignalSpy &spy)
{
    QStringList names;
    for (const QList<QVariant> &arguments : spy) {
        if (arguments.at(0).toInt() != 0)
            return {QStringLiteral("<announced for doser slot %1>").arg(arguments.at(0).toInt())};
        names << arguments.at(1).toString();
    }
    return names;
}

void tst_d415Settings::firstStartSelects30AndAnnouncesItOnce()
{
    m_dialog = std::make_unique<d415Settings>();
    QSignalSpy addresses(m_dialog.get(), &d415Settings::d415IdChanged);
    QCOMPARE(addressList()->count(), 128);
    QCOMPARE(addressList()->itemText(127), QStringLiteral("127"));

    m_dialog->restoreDoserNumber();

    QCOMPARE(addressList()->currentText(), QStringLiteral("30"));
    QCOMPARE(addresses.count(), 1);
    QCOMPARE(addresses.at(0).at(0).toInt(), 30);
}

void tst_d415Settings::chosenAddressIsStoredAtOnceAndRestored()
{
    m_dialog = std::make_unique<d415Settings>();
    m_dialog->restoreDoserNumber();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    QSignalSpy addresses(m_dialog.get(), &d415Settings::d415IdChanged);

    QVERIFY(chooseComboEntry(addressList(), 5));

    QCOMPARE(addresses.count(), 1);
    QCOMPARE(addresses.at(0).at(0).toInt(), 5);
    // On disk while the program still runs: a power cut now keeps the choice.
    QVERIFY2(readSettingsFile().contains("d415Id=5\n"), readSettingsFile().constData());

    m_dialog.reset();
    m_dialog = std::make_unique<d415Settings>();
    QSignalSpy restored(m_dialog.get(), &d415Settings::d415IdChanged);
    m_dialog->restoreDoserNumber();
    QCOMPARE(addressList()->currentText(), QStringLiteral("5"));
    QCOMPARE(restored.count(), 1);
    QCOMPARE(restored.at(0).at(0).toInt(), 5);
}

void tst_d415Settings::storedAddressZeroIsAnnounced()
{
    // Address 0 is the list's first entry, so restoring it moves nothing; the main window, which starts
    // out on its own default address, must still hear of it.
    writeSettingsFile("[General]\nd415Id=0\n");
    m_dialog = std::make_unique<d415Settings>();
    QSignalSpy addresses(m_dialog.get(), &d415Settings::d415IdChanged);

    m_dialog->restoreDoserNumber();

    QCOMPARE(addressList()->currentIndex(), 0);
    QCOMPARE(addresses.count(), 1);
    QCOMPARE(addresses.at(0).at(0).toInt(), 0);
}

void tst_d415Settings::damagedStoredAddressFallsBackTo30_data()
{
    QTest::addColumn<QByteArray>("stored");

    QTest::addRow("not a number") << QByteArray("d415Id=abc");
    QTest::addRow("above 127") << QByteArray("d415Id=128");
    QTest::addRow("negative") << QByteArray("d415Id=-1");
}

void tst_d415Settings::damagedStoredAddressFallsBackTo30()
{
    QFETCH(QByteArray, stored);
    writeSettingsFile("[General]\n" + stored + "\n");
    m_dialog = std::make_unique<d415Settings>();
    QSignalSpy addresses(m_dialog.get(), &d415Settings::d415IdChanged);

    m_dialog->restoreDoserNumber();

    QCOMPARE(addressList()->currentText(), QStringLiteral("30"));
    QCOMPARE(addresses.count(), 1);
    QCOMPARE(addresses.at(0).at(0).toInt(), 30);
}

void tst_d415Settings::destructionLogsAndStoresAddress()
{
    m_dialog = std::make_unique<d415Settings>();
    m_dialog->restoreDoserNumber();
    QFile::remove(settingsFile());

    StderrCapture capture;
    m_dialog.reset();

    QCOMPARE(capture.text(), QByteArray("~d415Settings()\n"));
    QVERIFY2(readSettingsFile().contains("d415Id=30\n"), readSettingsFile().constData());
}

void tst_d415Settings::settingsFileFailures_data()
{
    QTest::addColumn<bool>("folder"); // a folder where the file should be: nothing can be written
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QByteArray>("stored"); // in the file after the choice of address 5
    QTest::addRow("settings file cannot be written")
        << true << QByteArray() << QStringLiteral("could not write the doser number to ") << QByteArray();
    QTest::addRow("settings file is garbage")
        << false << QByteArray("\x00\xff\x01[[[\n=\x80\x81 junk\n", 16)
        << QStringLiteral("the settings file .* is damaged") << QByteArray("d415Id=5\n");
}

/// The address still works for this session; the log says what is wrong with the file.
void tst_d415Settings::settingsFileFailures()
{
    QFETCH(bool, folder);
    QFETCH(QByteArray, content);
    QFETCH(QString, warning);
    QFETCH(QByteArray, stored);
    if (folder)
        QVERIFY(QDir().mkpath(settingsFile()));
    else
        writeSettingsFile(content);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
    m_dialog = std::make_unique<d415Settings>();
    m_dialog->restoreDoserNumber();
    QCOMPARE(addressList()->currentText(), QStringLiteral("30"));
    QSignalSpy addresses(m_dialog.get(), &d415Settings::d415IdChanged);
    addressList()->setCurrentIndex(5);
    QCOMPARE(addresses.count(), 1);
    if (!stored.isEmpty())
        QVERIFY2(readSettingsFile().contains(stored), readSettingsFile().constData());
}

void tst_d415Settings::productListAnnouncements_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("announced");
    QTest::addColumn<int>("currentIndex");

    const QStringList names {"add:Мука", "add:Сахар", "add:Соль"};

    QTest::addRow("first name added to the empty list")
        << QStringList {} << QStringList {"add:Мука"} << QStringList {"Мука"} << 0;
    QTest::addRow("list emptied while a product is current")
        << names << QStringList {"clear"} << QStringList {QString()} << -1;
    QTest::addRow("the current product selected again") << names << QStringList {"select:Мука"} << QStringList {} << 0;
    QTest::addRow("name in other letter case selects nothing")
        << names << QStringList {"select:СОЛЬ"} << QStringList {QString()} << -1;
    QTest::addRow("dialog opened: list read again, stored product selected")
        << (names + QStringList {"select:Соль"})
        << QStringList {"clear", "add:Мука", "add:Сахар", "add:Соль", "select:Соль"}
        << QStringList {QString(), "Мука", "Соль"} << 2;
}

void tst_d415Settings::productListAnnouncements()
{
    QFETCH(QStringList, setup);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, announced);
    QFETCH(int, currentIndex);
    m_dialog = std::make_unique<d415Settings>();
    const auto run = [this](const QString &step) {
        const QString argument = step.section(QLatin1Char(':'), 1);
        if (step.startsWith(QLatin1String("add:")))
            m_dialog->addProductType(argument);
        else if (step.startsWith(QLatin1String("select:")))
            m_dialog->selectProductType(argument);
        else if (step == QLatin1String("clear"))
            m_dialog->dellAllProductTypes();
    };
    for (const QString &step : setup)
        run(step);
    QSignalSpy spy(m_dialog.get(), &d415Settings::d415ProductChanged);

    for (const QString &step : steps)
        run(step);

    QCOMPARE(products(spy), announced);
    QCOMPARE(productList()->currentIndex(), currentIndex);
}

void tst_d415Settings::operatorChoosesProduct()
{
    m_dialog = std::make_unique<d415Settings>();
    for (const char *name : {"Мука", "Сахар"})
        m_dialog->addProductType(QString::fromUtf8(name));
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    QSignalSpy spy(m_dialog.get(), &d415Settings::d415ProductChanged);

    QVERIFY(chooseComboEntry(productList(), 1));
    QVERIFY(chooseComboEntry(productList(), 1));

    QCOMPARE(products(spy), QStringList {"Сахар"});
}

void tst_d415Settings::readOnlyFieldsAreEmptyAfterClearing()
{
    m_dialog = std::make_unique<d415Settings>();
    m_dialog->setWeightScale(QStringLiteral("кг"));
    m_dialog->setWeightNPV(QStringLiteral("50.0"));
    m_dialog->setDigitScale(QStringLiteral("0.0"));
    m_dialog->setPoVersion(QStringLiteral("2.14"));
    m_dialog->setErrorMessage(QStringLiteral("Перегруз"));

    m_dialog->clearFields();

    for (QLineEdit *field : readOnlyFields())
        QVERIFY2(field->text().isEmpty(), qPrintable(field->objectName()));
    QVERIFY(m_dialog->findChild<QTextBrowser *>("d415Info")->toPlainText().isEmpty());
}

void tst_d415Settings::readOnlyFieldsLookLikePlainText()
{
    m_dialog = std::make_unique<d415Settings>();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    const QPalette dialogPalette = m_dialog->palette();

    for (QLineEdit *field : readOnlyFields()) {
        QVERIFY(field->isReadOnly());
        QCOMPARE(field->focusPolicy(), Qt::NoFocus);
        // An empty field must not show as a box: every pixel is the dialog's background.
        const QImage picture = field->grab().toImage();
        const QRgb background = dialogPalette.color(QPalette::Active, QPalette::Window).rgb();
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                QVERIFY2(picture.pixel(x, y) == background,
                    qPrintable(QStringLiteral("%1 at %2,%3").arg(field->objectName()).arg(x).arg(y)));
    }
}

void tst_d415Settings::readOnlyFieldsFollowPaletteChange()
{
    // The program sets its style and palette only after the main window and its dialogs are built.
    m_dialog = std::make_unique<d415Settings>();
    QPalette changed = QApplication::palette();
    changed.setColor(QPalette::Window, QColor(0xd8, 0xe4, 0xf0));

    QApplication::setPalette(changed);

    for (QLineEdit *field : readOnlyFields())
        QTRY_COMPARE(field->palette().color(QPalette::Active, QPalette::Base), QColor(0xd8, 0xe4, 0xf0));
}

void tst_d415Settings::testModeButtonsAreAnnounced()
{
    m_dialog = std::make_unique<d415Settings>();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    QSignalSpy working(m_dialog.get(), &d415Settings::stopTestModeClicked);
    QSignalSpy simulating(m_dialog.get(), &d415Settings::startTestModeClicked);

    QTest::mouseClick(m_dialog->findChild<QPushButton *>("startTestMode"), Qt::LeftButton);
    QCOMPARE(simulating.count(), 1);
    QCOMPARE(working.count(), 0);

    QTest::mouseClick(m_dialog->findChild<QPushButton *>("stopTestMode"), Qt::LeftButton);
    QCOMPARE(working.count(), 1);
    QCOMPARE(simulating.count(), 1);
}

QTEST_MAIN(tst_d415Settings)
#include "tst_d415settings.moc"
