#include "device.h"

#include <QtTest>

class tst_Device : public QObject
{
    Q_OBJECT
private slots:
    void newDeviceIsUnusedAndUnchecked();
    void checkIsPendingOnlyWhileActive();
    void slotsAreInvokableByName();
};

void tst_Device::newDeviceIsUnusedAndUnchecked()
{
    Device device;
    QCOMPARE(device.getDeviceID(), 0);
    QVERIFY(!device.isDeviceActive());
    QVERIFY(!device.isDeviceNeedToBeChecked());
    QVERIFY(device.inherits("Device"));
    QCOMPARE(device.parent(), nullptr);
}

void tst_Device::checkIsPendingOnlyWhileActive()
{
    Device device;
    device.setDeviceNeedToBeChecked(true);
    QVERIFY(!device.isDeviceNeedToBeChecked());
    device.setDeviceActive(true);
    QVERIFY(device.isDeviceNeedToBeChecked());
    device.setDeviceActive(false);
    QVERIFY(!device.isDeviceNeedToBeChecked());
}

void tst_Device::slotsAreInvokableByName()
{
    // The main window drives devices through their meta-object, so the slots must be there by name.
    Device device;
    QVERIFY(QMetaObject::invokeMethod(&device, "setDeviceID", Q_ARG(int, 30)));
    int id = 0;
    QVERIFY(QMetaObject::invokeMethod(&device, "getDeviceID", Q_RETURN_ARG(int, id)));
    QCOMPARE(id, 30);
    const QMetaObject *meta = device.metaObject();
    const QStringList expected = {"getDeviceID()", "setDeviceID(int)", "isDeviceActive()", "setDeviceActive(bool)",
        "isDeviceNeedToBeChecked()", "setDeviceNeedToBeChecked(bool)"};
    QStringList own;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        own << QString::fromLatin1(meta->method(i).methodSignature());
    QCOMPARE(own, expected);
}

QTEST_GUILESS_MAIN(tst_Device)
#include "tst_device.moc"
