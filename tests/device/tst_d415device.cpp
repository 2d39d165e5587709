#include "d415device.h"
#include "signalrecorder.h"
#include "stderrcapture.h"

#include <QtTest>

namespace {

QByteArray wireOf(D415DataPacket packet)
{
    quint8 out[D415DataPacket::FrameSize];
    packet.toWire(out);
    return QByteArray(reinterpret_cast<const char *>(out), D415DataPacket::FrameSize);
}

QByteArray valueBytes(const D415DataPacket &packet)
{
    QByteArray bytes;
    for (int i = 6; i <= 9; ++i)
        bytes.append(char(packet.byteAt(i)));
    return bytes;
}

D415DataPacket decoded(const QByteArray &frame)
{
    D415DataPacket packet;
    const int length = packet.fromWire(reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size()));
    Q_ASSERT(length == D415DataPacket::FrameSize);
    return packet;
}

D415DataPacket reply(int address, int command, int parameter, int stateFlags, int errorCode, const QByteArray &value)
{
    D415DataPacket packet;
    packet.destinationAddress = 0x80;
    packet.sourceAddress = quint8(address);
    packet.command = quint8(command);
    packet.parameter = quint8(parameter);
    packet.stateFlags = quint8(stateFlags);
    packet.errorCode = quint8(errorCode);
    for (int i = 0; i < 4 && i < value.size(); ++i)
        packet.setByteAt(6 + i, quint8(value[i]));
    return packet;
}

// Invokes a command slot by name, with the (text, decimals) pair when the row has one.
bool invoke(D415Device &device, const QByteArray &slot, const QString &text, int decimals)
{
    if (decimals < 0)
        return QMetaObject::invokeMethod(&device, slot.constData());
    return QMetaObject::invokeMethod(&device, slot.constData(), Q_ARG(QString, text), Q_ARG(quint8, quint8(decimals)));
}

// As moc records them: quint8 becomes uchar and quint32 uint.
QStringList normalized(QStringList signatures)
{
    signatures.replaceInStrings(QStringLiteral("quint8"), QStringLiteral("uchar"));
    signatures.replaceInStrings(QStringLiteral("quint32"), QStringLiteral("uint"));
    return signatures;
}

QStringList signatures(const QMetaObject *meta, QMetaMethod::MethodType type)
{
    QStringList found;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        if (meta->method(i).methodType() == type)
            found << QString::fromLatin1(meta->method(i).methodSignature());
    }
    return found;
}

const char *const errorNine = "Ошибка, ГПУ не пустое (при попытке набора вес отличен от нуля)";

} // namespace

class tst_D415Device : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void metaObjectOrder();
    void connectsBySignatureStrings_data();
    void connectsBySignatureStrings();
    void requests_data();
    void requests();
    void requestFrames_data();
    void requestFrames();
    void refusedValueIsNotSent_data();
    void refusedValueIsNotSent();
    void replies_data();
    void replies();
    void stateFlags_data();
    void stateFlags();
    void wireReplies_data();
    void wireReplies();
    void failedReplyIsNeverData_data();
    void failedReplyIsNeverData();
    void destructorTraces();
};

void tst_D415Device::initTestCase()
{
    qRegisterMetaType<D415DataPacket>("D415DataPacket");
}

void tst_D415Device::metaObjectOrder()
{
    // The main window and the settings dialog reach the device by signature strings.
    D415Device device(nullptr);
    QVERIFY(!device.isConnectedToLink());
    QVERIFY(device.inherits("Device"));
    const QStringList expectedSignals = {
        "hasSysMes(QString)",
        "requestSignal(D415DataPacket)",
        "workStoppedMustDownloadSignal(int)",
        "workStoppedMustUploadSignal(int)",
        "hasConnectionErrorSignal(int)",
        "hasErrorSignal(int,QString)",
        "needToStopTheWork(int)",
        "readyIsWaitingCommandActionSignal(int)",
        "weightMeasurementBeforeDispensingActionSignal(int)",
        "weightMeasurementAfterDispensingActionSignal(int)",
        "doseIsDownloadingActionSignal(int)",
        "doseIsUploadingActionSignal(int)",
        "hasCurrentStateSignal(int,QString)",
        "hasSetDoseWeightSignal(int,QString)",
        "hasGetDoseUploadSignal(int,QString)",
        "hasGetSumWeightOfLastDownloadSignal(int,QString)",
        "hasGetDoseCountSignal(int,QString)",
        "hasGetTotalWeightSignal(int,QString)",
        "hasGetTotalCommonDoseCountSignal(int,QString)",
        "hasGetTotalCommonWeightSignal(int,QString)",
        "hasGetDoseFaultPlusSignal(int,QString)",
        "hasGetDoseFaultMinusSignal(int,QString)",
        "hasGetWeightNETTOSignal(int,QString)",
        "hasGetPOVersionSignal(int,QString)",
        "hasGetScaleSignal(int,QString)",
        "hasGetScaleSignal(int,quint8)",
        "hasGetNPDSignal(int,QString)",
        "hasGetWeightScaleSignal(int,QString)",
        "hasGetTotalWeightScaleSignal(int,QString)",
    };
    const QStringList expectedSlots = {
        "replyPacketReceived(D415DataPacket,quint32,quint32)",
        "setDoseWeight(QString,quint8)",
        "setDoseFaultPlus(QString,quint8)",
        "setDoseFaultMinus(QString,quint8)",
        "startTestMode()",
        "stopTestMode()",
        "stopWork()",
        "uploadDose()",
        "downloadDose()",
        "downloadDose(QString,quint8)",
        "doFullCycle()",
        "continueDownload()",
        "resetErrorFlag()",
        "requestDoseFaultPlus()",
        "requestDoseFaultMinus()",
        "requestSumWeightOfLastDownload()",
        "requestTotalCommonDoseCount()",
        "requestDoseCount()",
        "requestTotalCommonWeight()",
        "requestTotalWeight()",
        "requestWeightNETTO()",
        "requestPOVersion()",
        "requestScale()",
        "requestNPD()",
        "requestWeightScale()",
        "requestTotalWeightScale()",
    };
    QCOMPARE(signatures(device.metaObject(), QMetaMethod::Signal), normalized(expectedSignals));
    QCOMPARE(signatures(device.metaObject(), QMetaMethod::Slot), normalized(expectedSlots));
}

void tst_D415Device::connectsBySignatureStrings_data()
{
    QTest::addColumn<QByteArray>("signal");
    QTest::addRow("scale as text") << QByteArray(SIGNAL(hasGetScaleSignal(int, QString)));
    QTest::addRow("scale decimals") << QByteArray(SIGNAL(hasGetScaleSignal(int, quint8)));
    QTest::addRow("request") << QByteArray(SIGNAL(requestSignal(D415DataPacket)));
    QTest::addRow("error") << QByteArray(SIGNAL(hasErrorSignal(int, QString)));
}

void tst_D415Device::connectsBySignatureStrings()
{
    // The main window connects with these spellings; a connect that fails only warns at run time.
    QFETCH(QByteArray, signal);
    D415Device device(nullptr);
    QSignalSpy spy(&device, signal.constData());
    QVERIFY(spy.isValid());
}

void tst_D415Device::requests_data()
{
    QTest::addColumn<int>("doser");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("decimals"); // -1: the slot takes no value
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("parameter");
    QTest::addColumn<QByteArray>("bytes6to9");

    const QByteArray zero = QByteArray::fromHex("00000000");
    QTest::addRow("requestWeightNETTO") << 30 << QByteArray("requestWeightNETTO") << QString() << -1 << 0 << 0 << zero;
    QTest::addRow("requestPOVersion") << 30 << QByteArray("requestPOVersion") << QString() << -1 << 3 << 0 << zero;
    QTest::addRow("resetErrorFlag") << 30 << QByteArray("resetErrorFlag") << QString() << -1 << 4 << 0 << zero;
    QTest::addRow("setDoseWeight 12.5") << 1 << QByteArray("setDoseWeight") << "12.5" << 1 << 8 << 1
                                        << QByteArray::fromHex("7D000001");
    QTest::addRow("requestDoseFaultPlus")
        << 30 << QByteArray("requestDoseFaultPlus") << QString() << -1 << 10 << 0 << zero;
    QTest::addRow("setDoseFaultPlus 0.25")
        << 30 << QByteArray("setDoseFaultPlus") << "0.25" << 2 << 11 << 0 << QByteArray::fromHex("19000002");
    QTest::addRow("requestDoseFaultMinus")
        << 30 << QByteArray("requestDoseFaultMinus") << QString() << -1 << 12 << 0 << zero;
    QTest::addRow("setDoseFaultMinus 3") << 30 << QByteArray("setDoseFaultMinus") << "3" << 0 << 13 << 0
                                         << QByteArray::fromHex("03000000");
    QTest::addRow("downloadDose 500.0") << 127 << QByteArray("downloadDose") << "500.0" << 1 << 14 << 0
                                        << QByteArray::fromHex("88130001");
    QTest::addRow("downloadDose") << 30 << QByteArray("downloadDose") << QString() << -1 << 15 << 0 << zero;
    QTest::addRow("continueDownload") << 30 << QByteArray("continueDownload") << QString() << -1 << 17 << 0 << zero;
    QTest::addRow("uploadDose") << 30 << QByteArray("uploadDose") << QString() << -1 << 20 << 0 << zero;
    QTest::addRow("doFullCycle") << 30 << QByteArray("doFullCycle") << QString() << -1 << 22 << 0 << zero;
    QTest::addRow("requestSumWeightOfLastDownload")
        << 30 << QByteArray("requestSumWeightOfLastDownload") << QString() << -1 << 24 << 0 << zero;
    QTest::addRow("requestDoseCount") << 30 << QByteArray("requestDoseCount") << QString() << -1 << 24 << 16 << zero;
    QTest::addRow("requestTotalWeight") << 30 << QByteArray("requestTotalWeight") << QString() << -1 << 24 << 18
                                        << zero;
    QTest::addRow("requestTotalCommonDoseCount")
        << 30 << QByteArray("requestTotalCommonDoseCount") << QString() << -1 << 24 << 19 << zero;
    QTest::addRow("requestTotalCommonWeight")
        << 30 << QByteArray("requestTotalCommonWeight") << QString() << -1 << 24 << 20 << zero;
    QTest::addRow("stopWork") << 30 << QByteArray("stopWork") << QString() << -1 << 26 << 0 << zero;
    QTest::addRow("startTestMode") << 30 << QByteArray("startTestMode") << QString() << -1 << 39 << 0
                                   << QByteArray::fromHex("FFFFFF00");
    QTest::addRow("stopTestMode") << 30 << QByteArray("stopTestMode") << QString() << -1 << 39 << 0 << zero;
    QTest::addRow("requestNPD") << 30 << QByteArray("requestNPD") << QString() << -1 << 44 << 0 << zero;
    QTest::addRow("requestScale") << 30 << QByteArray("requestScale") << QString() << -1 << 44 << 1 << zero;
    QTest::addRow("requestWeightScale") << 30 << QByteArray("requestWeightScale") << QString() << -1 << 44 << 2 << zero;
    QTest::addRow("requestTotalWeightScale")
        << 30 << QByteArray("requestTotalWeightScale") << QString() << -1 << 44 << 3 << zero;
    // Text that is no number is sent as 0, with the decimals asked for.
    QTest::addRow("setDoseWeight of no number")
        << 1 << QByteArray("setDoseWeight") << "abc" << 2 << 8 << 1 << QByteArray::fromHex("00000002");
    QTest::addRow("downloadDose of comma decimal")
        << 1 << QByteArray("downloadDose") << "12,5" << 1 << 14 << 0 << QByteArray::fromHex("00000001");
}

void tst_D415Device::requests()
{
    QFETCH(int, doser);
    QFETCH(QByteArray, slot);
    QFETCH(QString, text);
    QFETCH(int, decimals);
    QFETCH(int, command);
    QFETCH(int, parameter);
    QFETCH(QByteArray, bytes6to9);

    D415Device device(nullptr);
    device.setDeviceID(doser);
    QSignalSpy sent(&device, &D415Device::requestSignal);
    QVERIFY(invoke(device, slot, text, decimals));
    QCOMPARE(sent.count(), 1);
    const auto packet = sent.first().first().value<D415DataPacket>();
    QCOMPARE(int(packet.destinationAddress), doser);
    QCOMPARE(int(packet.sourceAddress), 0);
    QCOMPARE(int(packet.command), command);
    QCOMPARE(int(packet.parameter), parameter);
    QCOMPARE(int(packet.stateFlags), 0);
    QCOMPARE(int(packet.errorCode), 0);
    QCOMPARE(valueBytes(packet).toHex(' '), bytes6to9.toHex(' '));
}

void tst_D415Device::requestFrames_data()
{
    QTest::addColumn<int>("doser");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("frame");
    QTest::addRow("net weight to 30") << 30 << QByteArray("requestWeightNETTO") << QString() << -1
                                      << QByteArray::fromHex("9E 00 00 00 00 00 00 00 00 00 00 4B");
    QTest::addRow("total weight to 3") << 3 << QByteArray("requestTotalWeight") << QString() << -1
                                       << QByteArray::fromHex("83 00 18 12 00 00 00 00 00 00 00 5D");
    QTest::addRow("test mode on to 1") << 1 << QByteArray("startTestMode") << QString() << -1
                                       << QByteArray::fromHex("81 00 27 00 00 00 7F 7F 7F 00 38 5B");
    QTest::addRow("test mode off to 1") << 1 << QByteArray("stopTestMode") << QString() << -1
                                        << QByteArray::fromHex("81 00 27 00 00 00 00 00 00 00 00 58");
    QTest::addRow("dose 12.5 to 1") << 1 << QByteArray("setDoseWeight") << "12.5" << 1
                                    << QByteArray::fromHex("81 00 08 01 00 00 7D 00 00 01 00 2A");
    QTest::addRow("dose 20.0 to 1") << 1 << QByteArray("setDoseWeight") << "20.0" << 1
                                    << QByteArray::fromHex("81 00 08 01 00 00 48 00 00 01 08 6D");
}

void tst_D415Device::requestFrames()
{
    QFETCH(int, doser);
    QFETCH(QByteArray, slot);
    QFETCH(QString, text);
    QFETCH(int, decimals);
    QFETCH(QByteArray, frame);
    D415Device device(nullptr);
    device.setDeviceID(doser);
    QSignalSpy sent(&device, &D415Device::requestSignal);
    QVERIFY(invoke(device, slot, text, decimals));
    QCOMPARE(sent.count(), 1);
    QCOMPARE(wireOf(sent.first().first().value<D415DataPacket>()).toHex(' '), frame.toHex(' '));
}

void tst_D415Device::refusedValueIsNotSent_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("log");
    QTest::addRow("dose beyond 24 bits") << QByteArray("setDoseWeight") << "16777216" << 0
                                         << QByteArray("INT\nRequest not sent to doser 7: setDoseWeight(16777216, 0) "
                                                       "cannot be coded\n");
    QTest::addRow("plus tolerance beyond 24 bits with decimals")
        << QByteArray("setDoseFaultPlus") << "2000000" << 1
        << QByteArray("INT\nRequest not sent to doser 7: setDoseFaultPlus(2000000, 1) cannot be coded\n");
    QTest::addRow("negative minus tolerance") << QByteArray("setDoseFaultMinus") << "-5" << 1
                                              << QByteArray("INT\nRequest not sent to doser 7: setDoseFaultMinus(-5, "
                                                            "1) cannot be coded\n");
    QTest::addRow("fill of infinity") << QByteArray("downloadDose") << "inf" << 0
                                      << QByteArray("INT\nRequest not sent to doser 7: downloadDose(inf, 0) cannot be "
                                                    "coded\n");
    // What the operator typed never writes a line of its own into the log.
    QTest::addRow("line feed in the text") << QByteArray("setDoseWeight") << "1e30\n"
                                           << 1
                                           << QByteArray("INT\nRequest not sent to doser 7: setDoseWeight(1e30?, 1) "
                                                         "cannot be coded\n");
}

void tst_D415Device::refusedValueIsNotSent()
{
    QFETCH(QByteArray, slot);
    QFETCH(QString, text);
    QFETCH(int, decimals);
    QFETCH(QByteArray, log);
    D415Device device(nullptr);
    device.setDeviceID(7);
    QSignalSpy sent(&device, &D415Device::requestSignal);
    StderrCapture capture;
    QVERIFY(invoke(device, slot, text, decimals));
    QCOMPARE(capture.text(), log);
    QCOMPARE(sent.count(), 0);

    // The next request goes out whole: the refusal leaves nothing behind in the request packet.
    device.requestWeightNETTO();
    QCOMPARE(sent.count(), 1);
    QCOMPARE(wireOf(sent.first().first().value<D415DataPacket>()).toHex(' '),
        QByteArray::fromHex("87 00 00 00 00 00 00 00 00 00 00 6C").toHex(' '));
}

void tst_D415Device::replies_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("parameter");
    QTest::addColumn<QByteArray>("bytes6to9");
    QTest::addColumn<QStringList>("values"); // what follows the state word

    const auto value = [](const char *hex) { return QByteArray::fromHex(hex); };
    QTest::addRow("0 net weight") << 0 << 0 << value("393000 01") << QStringList {"hasGetWeightNETTOSignal 4 1234.5"};
    QTest::addRow("0 with any parameter")
        << 0 << 9 << value("393000 00") << QStringList {"hasGetWeightNETTOSignal 4 12345"};
    QTest::addRow("3 version") << 3 << 0 << value("9F0100 02") << QStringList {"hasGetPOVersionSignal 4 4.15"};
    QTest::addRow("8 dose weight") << 8 << 1 << value("7D0000 01") << QStringList {"hasSetDoseWeightSignal 4 12.5"};
    QTest::addRow("10 plus tolerance") << 10 << 0 << value("050000 01")
                                       << QStringList {"hasGetDoseFaultPlusSignal 4 0.5"};
    QTest::addRow("11 plus tolerance set")
        << 11 << 0 << value("190000 02") << QStringList {"hasGetDoseFaultPlusSignal 4 0.25"};
    QTest::addRow("12 minus tolerance") << 12 << 0 << value("000000 01")
                                        << QStringList {"hasGetDoseFaultMinusSignal 4 0.0"};
    QTest::addRow("13 minus tolerance set")
        << 13 << 0 << value("030000 00") << QStringList {"hasGetDoseFaultMinusSignal 4 3"};
    QTest::addRow("20 discharged") << 20 << 0 << value("FFFFFF 02") << QStringList {"hasGetDoseUploadSignal 4 -0.01"};
    QTest::addRow("24/0 last fill") << 24 << 0 << value("050000 04")
                                    << QStringList {"hasGetSumWeightOfLastDownloadSignal 4 0.0005"};
    QTest::addRow("24/16 shift doses") << 24 << 16 << value("110000 00") << QStringList {"hasGetDoseCountSignal 4 17"};
    QTest::addRow("24/18 shift weight, raw")
        << 24 << 18 << value("FFFFFFFF") << QStringList {"hasGetTotalWeightSignal 4 4294967295"};
    QTest::addRow("24/19 lifetime doses, raw")
        << 24 << 19 << value("00000001") << QStringList {"hasGetTotalCommonDoseCountSignal 4 16777216"};
    QTest::addRow("24/20 lifetime weight, raw")
        << 24 << 20 << value("39300000") << QStringList {"hasGetTotalCommonWeightSignal 4 12345"};
    QTest::addRow("24/17 unknown counter") << 24 << 17 << value("39300000") << QStringList {};
    QTest::addRow("44/0 maximum dose") << 44 << 0 << value("881300 01") << QStringList {"hasGetNPDSignal 4 500.0"};
    QTest::addRow("44/1 scale and decimals")
        << 44 << 1 << value("010000 02") << QStringList {"hasGetScaleSignal 4 0.01", "hasGetScaleSignal 4 2"};
    QTest::addRow("44/2 1.9 is kg") << 44 << 2 << value("130000 01") << QStringList {"hasGetWeightScaleSignal 4 кг"};
    QTest::addRow("44/2 0 is g") << 44 << 2 << value("000000 00") << QStringList {"hasGetWeightScaleSignal 4 г"};
    QTest::addRow("44/2 -0.5 truncates to g")
        << 44 << 2 << value("FBFFFF 01") << QStringList {"hasGetWeightScaleSignal 4 г"};
    QTest::addRow("44/2 257 reads low 8 bits")
        << 44 << 2 << value("010100 00") << QStringList {"hasGetWeightScaleSignal 4 кг"};
    QTest::addRow("44/2 3 is no unit") << 44 << 2 << value("030000 00") << QStringList {};
    QTest::addRow("44/3 2 is t") << 44 << 3 << value("020000 00") << QStringList {"hasGetTotalWeightScaleSignal 4 т"};
    QTest::addRow("44/4 unknown service value") << 44 << 4 << value("020000 00") << QStringList {};
    for (int command : {4, 14, 15, 17, 22, 26, 39, 1, 127})
        QTest::addRow("%d has no value signal", command) << command << 0 << value("393000 01") << QStringList {};
    QTest::addRow("most negative") << 0 << 0 << value("000080 00")
                                   << QStringList {"hasGetWeightNETTOSignal 4 -8388608"};
    QTest::addRow("most positive, 3 decimals")
        << 0 << 0 << value("FFFF7F 03") << QStringList {"hasGetWeightNETTOSignal 4 8388.607"};
}

void tst_D415Device::replies()
{
    QFETCH(int, command);
    QFETCH(int, parameter);
    QFETCH(QByteArray, bytes6to9);
    QFETCH(QStringList, values);
    D415Device device(nullptr);
    device.setDeviceID(4);
    SignalRecorder recorder(&device);
    device.replyPacketReceived(reply(4, command, parameter, 0x02, 0, bytes6to9), 1, 1);
    QCOMPARE(recorder.entries(), QStringList {"hasCurrentStateSignal 4 РАБОТА"} + values);
}

void tst_D415Device::stateFlags_data()
{
    QTest::addColumn<int>("stateFlags");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QStringList>("expected");

    const QStringList fault {"hasCurrentStateSignal 2 АВАРИЯ"};
    QTest::addRow("fault, error 0") << 0x80 << 0 << fault + QStringList {"needToStopTheWork 2"};
    const QStringList messages = {
        "Ошибка данных в EEPROM калибровки или конфигурации",
        "Ошибка данных в EEPROM параметров работы или рецепта",
        "Ошибка, нет питания в силовых цепях",
        "Ошибка в номере компонента",
        "Ошибка, нестабильны показания датчика веса",
        QString(),
        QString(),
        "Ошибка, нет подачи продукта",
        errorNine,
        "Ошибка, тайм-аут концевика открытия шиберной задвижки",
        "Ошибка, тайм-аут концевика закрытия шиберной задвижки",
        "Ошибка, уменьшение веса при наборе дозы",
        "Ошибка, не зафиксирована тара (при фиксации по команде)",
        "Ошибка, мало продукта)",
        "Ошибка, Низкое давление",
        "Ошибка, выход управляющего сигнала за диапазон 0 - 100%",
        "Ошибка, большой перерасход (жидкости)",
        "Ошибка, Низкая производительность (проходные весы)",
    };
    for (int code = 1; code <= 18; ++code) {
        const QString &message = messages[code - 1];
        if (message.isEmpty())
            QTest::addRow("fault, error %d is not acted on", code) << 0x80 << code << fault;
        else
            QTest::addRow("fault, error %d", code)
                << 0x80 << code << fault + QStringList {"hasErrorSignal 2 " + message, "needToStopTheWork 2"};
    }
    QTest::addRow("fault, error 19 is not acted on") << 0x80 << 19 << fault;
    QTest::addRow("fault, error 255 is not acted on") << 0x80 << 255 << fault;
    QTest::addRow("fault while working, error 7") << 0x82 << 7 << fault;
    QTest::addRow("fault hides the stop bits") << 0x90 << 0 << fault + QStringList {"needToStopTheWork 2"};
    QTest::addRow("stopped, empty") << 0x10 << 0
                                    << QStringList {
                                           "hasCurrentStateSignal 2 ОСТАНОВ", "workStoppedMustDownloadSignal 2"};
    QTest::addRow("stopped, loaded") << 0x00 << 0
                                     << QStringList {
                                            "hasCurrentStateSignal 2 ОСТАНОВ", "workStoppedMustUploadSignal 2"};
    QTest::addRow("other bits, empty") << 0x7D << 9
                                       << QStringList {
                                              "hasCurrentStateSignal 2 ОСТАНОВ", "workStoppedMustDownloadSignal 2"};
    QTest::addRow("other bits, loaded") << 0x6D << 9
                                        << QStringList {
                                               "hasCurrentStateSignal 2 ОСТАНОВ", "workStoppedMustUploadSignal 2"};
    QTest::addRow("working") << 0x02 << 0 << QStringList {"hasCurrentStateSignal 2 РАБОТА"};
    QTest::addRow("working, bit 4 set") << 0x12 << 0 << QStringList {"hasCurrentStateSignal 2 РАБОТА"};
    // The error number means nothing without the fault bit.
    QTest::addRow("working, stale error number") << 0x02 << 9 << QStringList {"hasCurrentStateSignal 2 РАБОТА"};
}

void tst_D415Device::stateFlags()
{
    QFETCH(int, stateFlags);
    QFETCH(int, errorCode);
    QFETCH(QStringList, expected);
    D415Device device(nullptr);
    device.setDeviceID(2);
    SignalRecorder recorder(&device);
    // Command 26 has no value signal, so only the state handling speaks.
    device.replyPacketReceived(reply(2, 26, 0, stateFlags, errorCode, QByteArray()), 1, 1);
    QCOMPARE(recorder.entries(), expected);
}

void tst_D415Device::wireReplies_data()
{
    QTest::addColumn<int>("doser");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QStringList>("expected");
    const QByteArray netWeight = QByteArray::fromHex("80 01 00 00 02 00 39 30 00 01 00 0C");
    QTest::addRow("net weight from doser 1")
        << 1 << netWeight << QStringList {"hasCurrentStateSignal 1 РАБОТА", "hasGetWeightNETTOSignal 1 1234.5"};
    QTest::addRow("net weight of doser 1 reaching doser 2") << 2 << netWeight << QStringList {};
    QTest::addRow("error 9 with the fault bit folded")
        << 2 << QByteArray::fromHex("80 02 00 00 00 09 00 00 00 00 02 3B")
        << QStringList {"hasCurrentStateSignal 2 АВАРИЯ", QString("hasErrorSignal 2 ") + errorNine,
               "needToStopTheWork 2", "hasGetWeightNETTOSignal 2 0"};
}

void tst_D415Device::wireReplies()
{
    QFETCH(int, doser);
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, expected);
    D415Device device(nullptr);
    device.setDeviceID(doser);
    SignalRecorder recorder(&device);
    device.replyPacketReceived(decoded(frame), 1, 1);
    QCOMPARE(recorder.entries(), expected);
}

void tst_D415Device::failedReplyIsNeverData_data()
{
    QTest::addColumn<QByteArray>("operation");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("linkResult");
    QTest::addColumn<bool>("askedAgain");
    const int noReply = D415DataPacket::ResultNoReply;
    const int badData = D415DataPacket::ResultBadData;
    QTest::addRow("dose count, no reply") << QByteArray("requestDoseCount") << QString() << noReply << true;
    QTest::addRow("dose count, bad frame") << QByteArray("requestDoseCount") << QString() << badData << true;
    QTest::addRow("net weight, bad frame") << QByteArray("requestWeightNETTO") << QString() << badData << true;
    QTest::addRow("dose weight, bad frame") << QByteArray("setDoseWeight") << "12.5" << badData << true;
    // A discharge or a fill may have been carried out: never sent twice.
    QTest::addRow("discharge, bad frame") << QByteArray("uploadDose") << QString() << badData << false;
    QTest::addRow("fill, no reply") << QByteArray("downloadDose") << "20.0" << noReply << false;
}

void tst_D415Device::failedReplyIsNeverData()
{
    QFETCH(QByteArray, operation);
    QFETCH(QString, argument);
    QFETCH(int, linkResult);
    QFETCH(bool, askedAgain);
    D415Device asked(nullptr);
    asked.setDeviceID(5);
    D415Device other(nullptr);
    other.setDeviceID(6);
    QSignalSpy sent(&asked, &D415Device::requestSignal);
    if (argument.isEmpty())
        QVERIFY(QMetaObject::invokeMethod(&asked, operation.constData()));
    else
        QVERIFY(QMetaObject::invokeMethod(&asked, operation.constData(), Q_ARG(QString, argument), Q_ARG(quint8, 1)));
    QCOMPARE(sent.count(), 1);
    const QByteArray request = wireOf(sent.first().first().value<D415DataPacket>());

    // What the link makes of a request whose reply did not come or failed a check.
    D415DataPacket failure = decoded(request);
    failure.markFailed(quint8(linkResult));
    const quint32 index = linkResult == D415DataPacket::ResultNoReply ? 0 : 1;
    SignalRecorder askedSignals(&asked);
    askedSignals.ignore(QStringLiteral("requestSignal"));
    SignalRecorder otherSignals(&other);
    asked.replyPacketReceived(failure, index, 1);
    other.replyPacketReceived(failure, index, 1);
    QCOMPARE(otherSignals.entries(), QStringList {});
    if (askedAgain) {
        // The same frame once more, and nothing reported yet: no state word, no fault, no value.
        QCOMPARE(sent.count(), 2);
        QCOMPARE(wireOf(sent.at(1).first().value<D415DataPacket>()).toHex(' '), request.toHex(' '));
        QCOMPARE(askedSignals.entries(), QStringList {});
        asked.replyPacketReceived(failure, index, 1);
    }
    QCOMPARE(sent.count(), askedAgain ? 2 : 1);
    QCOMPARE(askedSignals.entries(), QStringList {"hasConnectionErrorSignal 5"});
}

void tst_D415Device::destructorTraces()
{
    StderrCapture capture;
    {
        D415Device device(nullptr);
    }
    QCOMPARE(capture.text(), QByteArray("~D415Device()\n~Device()\n"));
}

QTEST_GUILESS_MAIN(tst_D415Device)
#include "tst_d415device.moc"
