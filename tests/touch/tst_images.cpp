#include <QFile>
#include <QImage>
#include <QTest>

// Links only the resources library: the images must reach a program through it alone.
class tst_Images : public QObject
{
    Q_OBJECT
private slots:
    void everyImageIsCompiledIn_data();
    void everyImageIsCompiledIn();
};

void tst_Images::everyImageIsCompiledIn_data()
{
    QTest::addColumn<QString>("name");
    const char *names[] = {"help", "exit_1", "exit_2", "exit_3", "receipt", "start", "start1", "stop", "up", "down",
        "left", "right", "add", "delete", "reload", "settings", "statistics", "sendCommand", "goBack", "db_add",
        "db_remove", "db_update", "db_comit", "rs232_new", "d415_on", "d415_off", "d415_on_new", "kestu"};
    for (const char *name : names)
        QTest::addRow("%s", name) << QString::fromLatin1(name);
}

void tst_Images::everyImageIsCompiledIn()
{
    QFETCH(QString, name);
    const QString path = QStringLiteral(":/images/%1.png").arg(name);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    const QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(48, 48));
    // Drawn on a transparent ground so that the icons sit on any button colour.
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
}

QTEST_GUILESS_MAIN(tst_Images)
#include "tst_images.moc"
