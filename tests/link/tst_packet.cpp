#include "d415datapacket.h"

#include <QtTest>

namespace {

D415DataPacket request(quint8 address, quint8 command, quint8 parameter)
{
    D415DataPacket packet;
    packet.reset();
    packet.destinationAddress = address;
    packet.command = command;
    packet.parameter = parameter;
    return packet;
}

QByteArray wire(D415DataPacket packet)
{
    quint8 out[D415DataPacket::FrameSize];
    const int written = packet.toWire(out);
    return QByteArray(reinterpret_cast<const char *>(out), written);
}

QByteArray bytesOf(const D415DataPacket &packet)
{
    QByteArray bytes;
    for (int i = 0; i < D415DataPacket::FrameSize; ++i)
        bytes.append(char(packet.byteAt(i)));
    return bytes;
}

int decode(D415DataPacket &packet, const QByteArray &frame)
{
    return packet.fromWire(reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size()));
}

} // namespace

class tst_Packet : public QObject
{
    Q_OBJECT
private slots:
    void crc7_data();
    void crc7();
    void toWire_data();
    void toWire();
    void fromWireRestoresRequest_data();
    void fromWireRestoresRequest();
    void fromWireRejects_data();
    void fromWireRejects();
    void value_data();
    void value();
    void setValue_data();
    void setValue();
    void rawValueReadsFourBytes();
    void markFailed();
    void copiesCarryTwelveBytesOnly();
};

void tst_Packet::crc7_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::addRow("abc") << QByteArray("abc") << 0x39;
    QTest::addRow("eleven zeros") << QByteArray(11, '\0') << 0x00;
    QTest::addRow("net weight to 30") << QByteArray::fromHex("9E00000000000000000000") << 0x4B;
}

void tst_Packet::crc7()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(D415DataPacket::crc7(reinterpret_cast<const quint8 *>(bytes.constData()), int(bytes.size()))), crc);
}

void tst_Packet::toWire_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("parameter");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("frame");
    QTest::addRow("net weight to 30") << 30 << 0 << 0 << -1.0 << 0 << QByteArray::fromHex("9E000000000000000000004B");
    QTest::addRow("dose 12.5 to 1") << 1 << 8 << 1 << 12.5 << 1
                                    << QByteArray::fromHex("81 00 08 01 00 00 7D 00 00 01 00 2A");
    QTest::addRow("dose 20.0 folds bit 7")
        << 1 << 8 << 1 << 20.0 << 1 << QByteArray::fromHex("81 00 08 01 00 00 48 00 00 01 08 6D");
}

void tst_Packet::toWire()
{
    QFETCH(int, address);
    QFETCH(int, command);
    QFETCH(int, parameter);
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QByteArray, frame);
    D415DataPacket packet = request(quint8(address), quint8(command), quint8(parameter));
    if (value >= 0)
        packet.setValue(value, quint8(decimals));
    quint8 out[D415DataPacket::FrameSize];
    QCOMPARE(packet.toWire(out), 12);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), 12).toHex(' '), frame.toHex(' '));
    QCOMPARE(int(packet.replyCount), 1);
}

void tst_Packet::fromWireRestoresRequest_data()
{
    toWire_data();
}

void tst_Packet::fromWireRestoresRequest()
{
    QFETCH(int, address);
    QFETCH(int, command);
    QFETCH(int, parameter);
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QByteArray, frame);
    D415DataPacket expected = request(quint8(address), quint8(command), quint8(parameter));
    if (value >= 0)
        expected.setValue(value, quint8(decimals));
    expected.destinationAddress |= 0x80;

    D415DataPacket decoded;
    decoded.linkResult = 2;
    decoded.replyCount = 7;
    QCOMPARE(decode(decoded, frame), 12);
    expected.replyCount = 7; // decoding leaves the expected reply count alone
    QCOMPARE(bytesOf(decoded).toHex(' '), bytesOf(expected).toHex(' '));
    QCOMPARE(int(decoded.linkResult), int(D415DataPacket::ResultOk));
}

void tst_Packet::fromWireRejects_data()
{
    QTest::addColumn<QByteArray>("frame");
    const QByteArray good = QByteArray::fromHex("81 00 08 01 00 00 48 00 00 01 08 6D");
    QTest::addRow("11 bytes") << good.left(11);
    QTest::addRow("13 bytes") << good + QByteArray(1, '\0');
    QTest::addRow("empty") << QByteArray();
    QByteArray noStart = good;
    noStart[0] = char(0x01);
    QTest::addRow("first byte without bit 7") << noStart;
    for (int i = 1; i <= 10; ++i) {
        QByteArray bad = good;
        bad[i] = char(quint8(bad[i]) | 0x80);
        QTest::addRow("bit 7 in byte %d", i) << bad;
    }
    QByteArray wrongCrc = good;
    wrongCrc[11] = char(0x6C);
    QTest::addRow("wrong check byte") << wrongCrc;
    QByteArray highCrc = good;
    highCrc[11] = char(0x6D | 0x80);
    QTest::addRow("check byte with bit 7") << highCrc;
}

void tst_Packet::fromWireRejects()
{
    QFETCH(QByteArray, frame);
    D415DataPacket packet = request(5, 17, 3);
    packet.stateFlags = 0x44;
    packet.linkResult = 2;
    packet.replyCount = 1;
    const QByteArray before = bytesOf(packet);
    QCOMPARE(decode(packet, frame), -1);
    QCOMPARE(bytesOf(packet).toHex(' '), before.toHex(' '));
}

void tst_Packet::value_data()
{
    QTest::addColumn<QByteArray>("mantissa");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("expected");
    QTest::addRow("-0.01") << QByteArray::fromHex("FFFFFF") << 2 << -0.01;
    QTest::addRow("most negative") << QByteArray::fromHex("000080") << 0 << -8388608.0;
    QTest::addRow("most positive") << QByteArray::fromHex("FFFF7F") << 0 << 8388607.0;
    QTest::addRow("12.5") << QByteArray::fromHex("7D0000") << 1 << 12.5;
    QTest::addRow("zero") << QByteArray::fromHex("000000") << 3 << 0.0;
}

void tst_Packet::value()
{
    QFETCH(QByteArray, mantissa);
    QFETCH(int, decimals);
    QFETCH(double, expected);
    D415DataPacket packet;
    for (int i = 0; i < 3; ++i)
        packet.mantissa[i] = quint8(mantissa[i]);
    packet.decimals = quint8(decimals);
    QCOMPARE(packet.value(), expected);
}

void tst_Packet::setValue_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<QByteArray>("bytes6to9");
    // The mantissa is read back as signed 24 bits: anything above 8388607 would come back negative.
    QTest::addRow("8388607 fits") << 8388607.0 << 0 << true << QByteArray::fromHex("FFFF7F00");
    QTest::addRow("8388608 does not") << 8388608.0 << 0 << false << QByteArray::fromHex("11223344");
    QTest::addRow("838860.8 with 1 decimal does not") << 838860.8 << 1 << false << QByteArray::fromHex("11223344");
    QTest::addRow("16777215 does not") << 16777215.0 << 0 << false << QByteArray::fromHex("11223344");
    QTest::addRow("-2 does not") << -2.0 << 0 << false << QByteArray::fromHex("11223344");
    QTest::addRow("-1 fits as 0") << -1.0 << 0 << true << QByteArray::fromHex("00000000");
    QTest::addRow("-0.3 fits as 0") << -0.3 << 0 << true << QByteArray::fromHex("00000000");
    QTest::addRow("0.125 rounds to 13") << 0.125 << 2 << true << QByteArray::fromHex("0D000002");
    // The low 32 bits of 2^32 + 5 are 5: coding that as 5 would be a plainly wrong value.
    QTest::addRow("2^32 + 5 does not") << 4294967301.0 << 0 << false << QByteArray::fromHex("11223344");
    QTest::addRow("huge does not") << 1e300 << 0 << false << QByteArray::fromHex("11223344");
    QTest::addRow("NaN does not") << std::numeric_limits<double>::quiet_NaN() << 0 << false
                                  << QByteArray::fromHex("11223344");
}

void tst_Packet::setValue()
{
    QFETCH(double, x);
    QFETCH(int, decimals);
    QFETCH(bool, fits);
    QFETCH(QByteArray, bytes6to9);
    D415DataPacket packet;
    packet.mantissa[0] = 0x11;
    packet.mantissa[1] = 0x22;
    packet.mantissa[2] = 0x33;
    packet.decimals = 0x44;
    packet.valueFits = fits ? 0 : 1;
    packet.setValue(x, quint8(decimals));
    QCOMPARE(packet.valueFits, fits ? 1 : 0);
    QCOMPARE(bytesOf(packet).mid(6, 4).toHex(' '), bytes6to9.toHex(' '));
}

void tst_Packet::rawValueReadsFourBytes()
{
    D415DataPacket packet;
    packet.mantissa[0] = 0x78;
    packet.mantissa[1] = 0x56;
    packet.mantissa[2] = 0x34;
    packet.decimals = 0x12;
    QCOMPARE(packet.rawValue(), 0x12345678u);
}

void tst_Packet::markFailed()
{
    D415DataPacket sent = request(5, 8, 1);
    sent.setValue(12.5, 1);
    D415DataPacket packet;
    QCOMPARE(decode(packet, wire(sent)), 12);
    packet.markFailed(D415DataPacket::ResultNoReply);
    QCOMPARE(int(packet.sourceAddress), 5);
    QCOMPARE(int(packet.destinationAddress), 0);
    QCOMPARE(int(packet.stateFlags), 0x80);
    QCOMPARE(int(packet.errorCode), 0);
    QCOMPARE(int(packet.linkResult), 2);
    QCOMPARE(int(packet.command), 8);
    QCOMPARE(int(packet.parameter), 1);
    QCOMPARE(packet.value(), 12.5);
}

void tst_Packet::copiesCarryTwelveBytesOnly()
{
    D415DataPacket original = request(7, 3, 2);
    original.setValue(1.5, 1);
    QCOMPARE(original.valueFits, 1);
    D415DataPacket copy;
    copy.valueFits = 0;
    copy = original;
    QCOMPARE(copy.valueFits, 0);
    QCOMPARE(bytesOf(copy), bytesOf(original));
    const D415DataPacket constructed(original);
    QCOMPARE(constructed.valueFits, 0);

    D415DataPacket fresh;
    QCOMPARE(bytesOf(fresh), QByteArray(12, '\0'));
    original.reset();
    QCOMPARE(bytesOf(original), QByteArray(12, '\0'));
}

QTEST_GUILESS_MAIN(tst_Packet)
#include "tst_packet.moc"
