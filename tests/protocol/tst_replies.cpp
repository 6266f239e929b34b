// Recognition and decoding of whatever the receive buffer holds.
#include "tst_protocol.h"

#include "protocol/frames.h"

#include <QtTest>

#include <algorithm>
#include <memory>

using testbytes::describe;
using testbytes::deviceInfoReply;
using testbytes::hex;
using testbytes::longFrame;
using testbytes::recordConfigReply;
using testbytes::withCrc;

void tst_Protocol::dispatch_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QString>("expected");

    const QByteArray measurement = hex("01 03 06 00 fa 01 f4 00 64 b8 84");

    // Modbus, by data length
    QTest::newRow("three values") << measurement << "Measurement D=6 t=250 h=500 dew=100";
    QTest::newRow("four values") << hex("01 03 09 00 fa 01 f4 00 64 00 c8 00 84 d5")
                                 << "MeasurementWithWetBulb D=9 t=250 h=500 dew=100 wet=200";
    QTest::newRow("FF 38: signed temperature, unsigned humidity")
        << withCrc("01 03 06 ff 38 ff 38 ff 38") << "Measurement D=6 t=-200 h=65336 dew=-200";
    QTest::newRow("any module address")
        << withCrc("f7 03 06 00 fa 01 f4 00 64") << "Measurement D=6 t=250 h=500 dew=100";
    QTest::newRow("read-address reply") << hex("01 03 02 00 05 78 47") << "Address D=2 addr=5";
    QTest::newRow("address is the low byte only")
        << withCrc("01 03 02 7f 05") << "Address D=2 addr=5";
    QTest::newRow("write echo") << hex("00 06 01 00 00 05 49 e4") << "Acknowledge D=3";
    QTest::newRow("0x03 with byte count 3") << withCrc("01 03 03 00 00 00") << "Acknowledge D=3";
    QTest::newRow("0x03 with byte count 4") << withCrc("01 03 04 00 01 00 02") << "OtherModbus D=4";
    QTest::newRow("exception") << hex("01 83 02 c0 f1") << "OtherModbus";
    QTest::newRow("FF FF: an empty reply with absent check bytes") << hex("ff ff") << "OtherModbus";

    // Modbus that is not (yet) a reply
    QTest::newRow("empty buffer") << QByteArray() << "Wait";
    QTest::newRow("one byte") << hex("ff") << "Wait";
    QTest::newRow("first five bytes") << measurement.left(5) << "Wait";
    QTest::newRow("CRC missing its high byte") << measurement.chopped(1) << "Wait";
    QTest::newRow("damaged data byte") << hex("01 03 06 00 fb 01 f4 00 64 b8 84") << "Wait";
    QTest::newRow("CRC bytes swapped") << hex("01 03 06 00 fa 01 f4 00 64 84 b8") << "Wait";
    QTest::newRow("two replies") << measurement + measurement << "Wait";
    QTest::newRow("stray byte behind") << measurement + hex("00") << "Wait";
    QTest::newRow("stray byte in front") << hex("00") + measurement << "Wait";
    QTest::newRow("echo cut short") << hex("00 06 01 00 00 05 49") << "Wait";

    // Logger frames, by code
    QTest::newRow("device information")
        << deviceInfoReply() << "DeviceInfo model=8133 sn=1503050e0709";
    QByteArray notANumber = deviceInfoReply();
    notANumber.replace(6, 4, "81 3");
    QTest::newRow("model with a blank") << notANumber << "DeviceInfo sn=1503050e0709";
    notANumber.replace(6, 4,
                       QByteArray("81\0"
                                  "3",
                                  4));
    QTest::newRow("model with a NUL") << notANumber << "DeviceInfo sn=1503050e0709";
    notANumber.replace(6, 4, "+813");
    QTest::newRow("model with a sign") << notANumber << "DeviceInfo sn=1503050e0709";
    QTest::newRow("recording configuration")
        << recordConfigReply() << "RecordConfig mode=2 interval=300";
    QByteArray allModeBits = recordConfigReply();
    allModeBits[10] = char(0xff);
    QTest::newRow("mode is bits 5 and 6 only") << allModeBits << "RecordConfig mode=3 interval=300";
    QTest::newRow("unknown code") << frames::readDeviceInfoRequest() << "OtherLogger";
    QTest::newRow("three bytes share the middle one") << hex("7b 22 7d") << "OtherLogger";
    QTest::newRow("opened but not closed") << deviceInfoReply().chopped(1) << "Wait";
    QTest::newRow("two bytes are not a frame") << hex("7b 22") << "Wait";

    // The 0x2C frame counts only whole, with 22 7D at bytes 133 and 134
    QTest::newRow("0x2C, 135 bytes") << longFrame(135, true) << "OtherLogger";
    QTest::newRow("0x2C, 100 bytes") << longFrame(100, true) << "Wait";
    QTest::newRow("0x2C, 134 bytes") << longFrame(134, true) << "Wait";
    QTest::newRow("0x2C, 140 bytes, not closed at 133") << longFrame(140, false) << "Wait";
    QTest::newRow("0x2C, 140 bytes, closed at 133") << longFrame(140, true) << "OtherLogger";
}

void tst_Protocol::dispatch()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QString, expected);
    const protocol::Reply reply = protocol::recognizeReply(buffer);
    QCOMPARE(describe(reply), expected);
    // The frame handed back is what was examined, for the log line.
    QCOMPARE(reply.frame, reply.kind == protocol::ReplyKind::Wait ? QByteArray() : buffer);
}

void tst_Protocol::truncatedLoggerFrames_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QString>("expected");

    // The closing 22 7D sits wherever the frame ends; the bytes behind it are absent, and give
    // no characters to the serial number and 0 to the numbers.
    const QByteArray info = deviceInfoReply();
    QTest::newRow("info, model complete, no serial number")
        << info.left(10) + hex("22 7d") << "DeviceInfo model=8133";
    QTest::newRow("info, closing bytes inside the model")
        << info.left(8) + hex("22 7d") << "DeviceInfo";
    QTest::newRow("info, two serial-number bytes and the closing bytes")
        << info.left(14) + hex("22 7d") << "DeviceInfo model=8133 sn=1503227d";
    QTest::newRow("info, only the closing 7D at byte 12")
        << info.left(11) + hex("22 7d") << "DeviceInfo model=8133 sn=7d";
    QTest::newRow("info, five bytes") << hex("7b 22 0c 22 7d") << "DeviceInfo";

    const QByteArray record = recordConfigReply();
    QTest::newRow("record, interval high byte is the closing 7D")
        << record.left(16) + hex("22 7d") << "RecordConfig mode=2 interval=32000";
    QTest::newRow("record, mode byte is the closing 22")
        << record.left(10) + hex("22 7d") << "RecordConfig mode=1";
    QTest::newRow("record, five bytes") << hex("7b 22 1c 22 7d") << "RecordConfig";
}

void tst_Protocol::truncatedLoggerFrames()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QString, expected);
    QCOMPARE(describe(protocol::recognizeReply(buffer)), expected);
}

void tst_Protocol::requestsNeverReadPastTheBuffer_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("asReply");

    // What the requests are taken for when they come back: the write commands are echoed.
    QTest::newRow("read address") << frames::readAddressRequest() << "Wait";
    QTest::newRow("write address") << frames::writeAddressRequest(247) << "Acknowledge D=3";
    QTest::newRow("write baud code") << frames::writeBaudCodeRequest(6) << "Acknowledge D=3";
    QTest::newRow("measurement") << frames::measurementRequest(1) << "Wait";
    QTest::newRow("read device information") << frames::readDeviceInfoRequest() << "OtherLogger";
    QTest::newRow("read recording configuration")
        << frames::readRecordConfigRequest() << "OtherLogger";
    QTest::newRow("write serial number")
        << frames::writeSerialNumberRequest(0x21, QStringLiteral("999999999999")) << "OtherLogger";
    QTest::newRow("write recording configuration")
        << frames::writeRecordConfigRequest(0xFFFFFFFF, 2, 45000, 0) << "OtherLogger";
}

void tst_Protocol::requestsNeverReadPastTheBuffer()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, asReply);

    // Each prefix sits in memory of exactly its own size and is seen without a copy, so that
    // AddressSanitizer (and Qt's range assertions in debug builds) catch any read past its end.
    const auto recognizeExactly = [](const QByteArray &bytes) {
        const std::unique_ptr<char[]> exact(new char[std::size_t(bytes.size())]);
        std::copy(bytes.cbegin(), bytes.cend(), exact.get());
        return protocol::recognizeReply(QByteArray::fromRawData(exact.get(), bytes.size()));
    };
    for (int n = 0; n < frame.size(); ++n) {
        const QString prefix = describe(recognizeExactly(frame.left(n)));
        QVERIFY2(
            prefix == QLatin1String("Wait"),
            qPrintable(QStringLiteral("%1 of %2 bytes: %3").arg(n).arg(frame.size()).arg(prefix)));
    }
    QCOMPARE(describe(recognizeExactly(frame)), asReply);
}
