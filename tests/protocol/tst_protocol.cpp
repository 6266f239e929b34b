// The protocol core without a window: requests as they go on the line, the checksum, the
// exchange-log line, reply recognition and the receive buffer over a sequence of arrivals.
#include "protocol/crc.h"
#include "protocol/exchangelog.h"
#include "protocol/frames.h"
#include "protocol/portname.h"
#include "protocol/receivebuffer.h"
#include "protocol/replydecoder.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <iterator>
#include <memory>

using protocol::receiveBufferBound;

namespace {

// "01 03 06" -> bytes; blanks are for the reader.
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray withCrc(const char *text)
{
    QByteArray frame = hex(text);
    protocol::appendCrc(frame);
    return frame;
}

const QByteArray measurement = hex("01 03 06 00 fa 01 f4 00 64 b8 84");
const QByteArray wetBulbMeasurement = hex("01 03 09 00 fa 01 f4 00 64 00 c8 00 84 d5");
const QString measured = QStringLiteral("Measurement D=6 t=250 h=500 dew=100");

// An SHT3X (model 8133) with the serial-number bytes 15 03 05 0E 07 09.
const QByteArray deviceInfo =
    hex("7b 22 0c 0e 00 00") + "8133" + hex("00 00 15 03 05 0e 07 09 00 22 7d");
const QString deviceInfoDecoded = QStringLiteral("DeviceInfo model=8133 sn=1503050e0709");
// Mode 2 in bits 5 and 6 of byte 10, 300 s at bytes 17 and 18.
const QByteArray recordConfig = hex("7b 22 1c 1d 65 e6 d2 ad 00 00 40 00 00 00 00 ff ff 01 2c"
                                    " 03 20 01 40 03 20 01 40 65 e6 d3 d9 00 00 00 22 7d");

// A 0x2C frame of `size` bytes, closed with 22 7D at its end and, when long enough, at 133.
QByteArray longFrame(int size, bool closedAt133 = true)
{
    QByteArray frame = hex("7b 22 2c") + QByteArray(size - 5, '\x55') + hex("22 7d");
    if (closedAt133 && size >= frames::longFrameSize)
        frame.replace(frames::longFrameSize - 2, 2, hex("22 7d"));
    return frame;
}

// A 135-byte 0x2C frame whose first 100 bytes also end in 22 7D.
QByteArray longFrameClosingEarly()
{
    return longFrame(135).replace(98, 2, hex("22 7d"));
}

QByteArrayList inChunks(const QByteArray &bytes, int size)
{
    QByteArrayList chunks;
    for (int i = 0; i < bytes.size(); i += size)
        chunks << bytes.mid(i, size);
    return chunks;
}

// `count` arrivals that wait, then `last`.
QStringList waitsThen(int count, const QString &last)
{
    QStringList expected;
    for (int i = 0; i < count; ++i)
        expected << QStringLiteral("Wait");
    return expected << last;
}

// Everything a reply carries, in one line, so that a table row can state it whole.
QString describe(const protocol::Reply &reply)
{
    static const char *const names[] = {
        "Wait",        "DeviceInfo",  "RecordConfig",
        "OtherLogger", "Measurement", "MeasurementWithWetBulb",
        "Address",     "Acknowledge", "OtherModbus",
    };
    static_assert(std::size(names) == std::size_t(protocol::ReplyKind::OtherModbus) + 1);
    QStringList parts{QLatin1String(names[int(reply.kind)])};
    const auto add = [&parts](const char *name, qint64 value) {
        if (value != 0)
            parts << QLatin1String(name) + QLatin1Char('=') + QString::number(value);
    };
    add("D", reply.dataLength);
    add("t", reply.temperature);
    add("h", reply.humidity);
    add("dew", reply.dewTemp);
    add("wet", reply.wetBulbTemp);
    add("addr", reply.address);
    add("model", reply.loggerModel);
    if (!reply.serialNumber.isEmpty())
        parts << QLatin1String("sn=") + reply.serialNumber;
    add("mode", reply.recordMode);
    add("interval", reply.sampleInterval);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class tst_Protocol : public QObject
{
    Q_OBJECT

private slots:
    void crc16Modbus_data();
    void crc16Modbus();
    void requestFrames_data();
    void requestFrames();
    void serialNumberBytes_data();
    void serialNumberBytes();
    void toModuleSeconds_data();
    void toModuleSeconds();
    void exchangeLogLine_data();
    void exchangeLogLine();
    void dispatch_data();
    void dispatch();
    void splitArrivals_data();
    void splitArrivals();
    void boundChangesNoRecognition();
    void portNames_data();
    void portNames();
};

void tst_Protocol::crc16Modbus_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("expected"); // CRC low byte in the upper half

    QTest::newRow("read-address body") << hex("00 03 01 00 00 01") << 0x8427;
    QTest::newRow("FF FF and a zero") << hex("ff ff 00") << 0x0000;
    // The catalogue check value of CRC-16/MODBUS is 0x4B37.
    QTest::newRow("123456789") << QByteArray("123456789") << 0x374B;
    QTest::newRow("nothing") << QByteArray() << 0xFFFF;
}

void tst_Protocol::crc16Modbus()
{
    QFETCH(QByteArray, data);
    QFETCH(int, expected);
    QCOMPARE(int(::crc16Modbus(reinterpret_cast<const quint8 *>(data.constData()),
                               quint16(data.size()))),
             expected);
}

void tst_Protocol::requestFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("read address") << frames::readAddressRequest() << hex("00 03 01 00 00 01 84 27");
    QTest::newRow("measurement, address 1")
        << frames::measurementRequest(1) << hex("01 03 00 00 00 03 05 cb");
    QTest::newRow("write address 5")
        << frames::writeAddressRequest(5) << hex("00 06 01 00 00 05 49 e4");
    QTest::newRow("baud code 4") << frames::writeBaudCodeRequest(4)
                                 << hex("00 06 01 01 00 04 d9 e4");
    QTest::newRow("read device information")
        << frames::readDeviceInfoRequest() << hex("7b 22 0a 00 0a 22 7d");
    QTest::newRow("read recording configuration")
        << frames::readRecordConfigRequest() << hex("7b 22 1a 00 1a 22 7d");
    QTest::newRow("serial number, SHT3X")
        << frames::writeSerialNumberRequest(0x21, QStringLiteral("240305080709"))
        << hex("7b 22 aa 07 21 18 03 05 08 07 09 00 22 7d");
    // 36 bytes; the check byte counts the mode byte twice: 0xAA, where the plain sum is 0x6A.
    QTest::newRow("record config, timing start, 60 s")
        << frames::writeRecordConfigRequest(0x65E6D2AD, 2, 60, 0x65E6D3D9)
        << hex("7b 22 4a 1d 65 e6 d2 ad 00 00 40 00 00 00 00 ff ff 00 3c 03 20 01 40"
               " 03 20 01 40 65 e6 d3 d9 00 00 aa 22 7d");
    QTest::newRow("record config, 24h is 45000 s, monitoring only")
        << frames::writeRecordConfigRequest(0x65E6D2AD, 3, 45000, 0xFFFFFFFF)
        << hex("7b 22 4a 1d 65 e6 d2 ad 00 00 60 00 00 00 00 ff ff af c8 03 20 01 40"
               " 03 20 01 40 ff ff ff ff 00 00 2a 22 7d");
}

void tst_Protocol::requestFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));
}

void tst_Protocol::serialNumberBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("pairs are decimal") << "240305080709" << hex("18 03 05 08 07 09");
    QTest::newRow("short text: 12, 3, then nothing") << "123" << hex("0c 03 00 00 00 00");
    QTest::newRow("fourteen nines: the last two ignored")
        << "99999999999999" << hex("63 63 63 63 63 63");
    QTest::newRow("letters count as zero") << "AB1234" << hex("00 0c 22 00 00 00");
}

void tst_Protocol::serialNumberBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    const auto bytes = frames::serialNumberBytes(text);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex(' '),
             expected.toHex(' '));
}

void tst_Protocol::toModuleSeconds_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<qint64>("expected");

    const auto utc = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
    };
    QTest::newRow("1969") << utc(1969, 12, 31, 23, 59, 59) << qint64(-1);
    QTest::newRow("epoch") << utc(1970, 1, 1, 0, 0, 0) << qint64(0);
    QTest::newRow("last second") << utc(2106, 2, 7, 6, 28, 15) << qint64(4294967295);
    QTest::newRow("one second later") << utc(2106, 2, 7, 6, 28, 16) << qint64(-1);
    QTest::newRow("invalid") << QDateTime() << qint64(-1);
}

void tst_Protocol::toModuleSeconds()
{
    QFETCH(QDateTime, when);
    QFETCH(qint64, expected);
    QCOMPARE(frames::toModuleSeconds(when), expected);
}

void tst_Protocol::exchangeLogLine_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("received");
    QTest::addColumn<QString>("expected");

    const QDateTime morning(QDate(2024, 3, 5), QTime(8, 7, 9));
    QTest::newRow("request") << morning << frames::readAddressRequest() << false
                             << "2024-03-05 08:07:09->TX  0003010000018427";
    QTest::newRow("hex digits are lower case") << morning << frames::measurementRequest(1) << false
                                               << "2024-03-05 08:07:09->TX  01030000000305cb";
    QTest::newRow("reply, 24-hour clock")
        << QDateTime(QDate(2025, 12, 31), QTime(23, 59, 59)) << hex("01 03 02 00 05 78 47") << true
        << "2025-12-31 23:59:59->RX  01030200057847";
}

void tst_Protocol::exchangeLogLine()
{
    QFETCH(QDateTime, when);
    QFETCH(QByteArray, frame);
    QFETCH(bool, received);
    QFETCH(QString, expected);
    QCOMPARE(protocol::exchangeLogLine(when, frames::hexText(frame), received), expected);
}

void tst_Protocol::dispatch_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QString>("expected");

    // Modbus, by data length, from any module address
    QTest::newRow("three values") << measurement << measured;
    QTest::newRow("four values") << wetBulbMeasurement
                                 << "MeasurementWithWetBulb D=9 t=250 h=500 dew=100 wet=200";
    QTest::newRow("FF 38: signed temperature, unsigned humidity")
        << withCrc("f7 03 06 ff 38 ff 38 ff 38") << "Measurement D=6 t=-200 h=65336 dew=-200";
    QTest::newRow("read-address reply, low byte only")
        << withCrc("01 03 02 7f 05") << "Address D=2 addr=5";
    QTest::newRow("write echo") << hex("00 06 01 00 00 05 49 e4") << "Acknowledge D=3";
    QTest::newRow("exception") << hex("01 83 02 c0 f1") << "OtherModbus";
    QTest::newRow("FF FF: absent check bytes read as 0") << hex("ff ff") << "OtherModbus";
    QByteArray longest = hex("01 03 ff") + QByteArray(255, '\x42');
    protocol::appendCrc(longest);
    QTest::newRow("longest reply a byte count announces") << longest << "OtherModbus D=255";

    // Modbus that is not (yet) a reply
    QTest::newRow("empty buffer") << QByteArray() << "Wait";
    QTest::newRow("damaged data byte") << hex("01 03 06 00 fb 01 f4 00 64 b8 84") << "Wait";
    QTest::newRow("CRC bytes swapped") << hex("01 03 06 00 fa 01 f4 00 64 84 b8") << "Wait";
    QTest::newRow("two replies") << measurement + measurement << "Wait";
    QTest::newRow("a reply and one stray byte") << measurement + hex("00") << "Wait";

    // Logger frames, by code; bytes a short frame lacks give no characters and 0 to numbers
    QTest::newRow("device information") << deviceInfo << deviceInfoDecoded;
    QTest::newRow("model with a blank")
        << QByteArray(deviceInfo).replace(6, 4, "81 3") << "DeviceInfo sn=1503050e0709";
    QTest::newRow("info, no serial number")
        << deviceInfo.left(10) + hex("22 7d") << "DeviceInfo model=8133";
    QTest::newRow("info, two serial-number bytes and the closing bytes")
        << deviceInfo.left(14) + hex("22 7d") << "DeviceInfo model=8133 sn=1503227d";
    QTest::newRow("recording configuration") << recordConfig << "RecordConfig mode=2 interval=300";
    QTest::newRow("mode is bits 5 and 6 only")
        << QByteArray(recordConfig).replace(10, 1, hex("ff")) << "RecordConfig mode=3 interval=300";
    QTest::newRow("record, interval high byte is the closing 7D")
        << recordConfig.left(16) + hex("22 7d") << "RecordConfig mode=2 interval=32000";
    QTest::newRow("record, five bytes") << hex("7b 22 1c 22 7d") << "RecordConfig";
    QTest::newRow("unknown code") << frames::readDeviceInfoRequest() << "OtherLogger";
    QTest::newRow("three bytes share the middle one") << hex("7b 22 7d") << "OtherLogger";
    QTest::newRow("opened but not closed") << deviceInfo.chopped(1) << "Wait";
    QTest::newRow("two bytes are not a frame") << hex("7b 22") << "Wait";

    // The 0x2C frame counts only whole, with 22 7D at bytes 133 and 134
    QTest::newRow("0x2C, 135 bytes") << longFrame(135) << "OtherLogger";
    QTest::newRow("0x2C, 100 bytes") << longFrame(100) << "Wait";
    QTest::newRow("0x2C, 140 bytes, not closed at 133") << longFrame(140, false) << "Wait";
}

void tst_Protocol::dispatch()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QString, expected);
    // The bytes sit in memory of exactly their own size and are seen without a copy, so that
    // AddressSanitizer and Qt's debug range checks catch any read past the end.
    const auto exact = std::make_unique<char[]>(std::size_t(buffer.size()));
    std::copy(buffer.cbegin(), buffer.cend(), exact.get());
    const protocol::Reply reply =
        protocol::recognizeReply(QByteArray::fromRawData(exact.get(), buffer.size()));
    QCOMPARE(describe(reply), expected);
    // The frame handed back is what was examined, for the log line.
    QCOMPARE(reply.frame, reply.kind == protocol::ReplyKind::Wait ? QByteArray() : buffer);
}

void tst_Protocol::splitArrivals_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QStringList>("expected"); // one per arrival
    QTest::addColumn<QByteArray>("left");      // in the buffer after the last arrival
    const QByteArray innerClose = QByteArray(deviceInfo).replace(14, 2, hex("22 7d"));

    QTest::newRow("split after the fifth byte")
        << QByteArrayList{measurement.left(5), measurement.mid(5)} << waitsThen(1, measured)
        << QByteArray();
    QTest::newRow("four values, a byte at a time")
        << inChunks(wetBulbMeasurement, 1)
        << waitsThen(13, QStringLiteral("MeasurementWithWetBulb D=9 t=250 h=500 dew=100 wet=200"))
        << QByteArray();
    QTest::newRow("a reply behind a stray byte")
        << QByteArrayList{hex("00"), measurement} << waitsThen(1, QStringLiteral("Wait"))
        << hex("00") + measurement;
    QTest::newRow("exception reply is taken out")
        << QByteArrayList{hex("01 83 02 c0 f1")} << QStringList{QStringLiteral("OtherModbus")}
        << QByteArray();
    // A second logger reply before the silence is decoded on its own, not as the first again.
    QTest::newRow("logger reply behind a decoded one")
        << QByteArrayList{deviceInfo, recordConfig}
        << QStringList{deviceInfoDecoded, QStringLiteral("RecordConfig mode=2 interval=300")}
        << recordConfig;
    // A piece that ends in 22 7D inside a frame: the rest still joins it.
    QTest::newRow("logger frame split after an inner 22 7d")
        << QByteArrayList{innerClose.left(16), innerClose.mid(16)}
        << QStringList{QStringLiteral("DeviceInfo model=8133 sn=1503227d"),
                       QStringLiteral("DeviceInfo model=8133 sn=1503227d0709")}
        << innerClose;
    QTest::newRow("0x2C frame, the first 100 bytes closing like a frame")
        << inChunks(longFrameClosingEarly(), 100) << waitsThen(1, QStringLiteral("OtherLogger"))
        << longFrameClosingEarly();
    QTest::newRow("0x2C frame, a byte at a time")
        << inChunks(longFrameClosingEarly(), 1) << waitsThen(134, QStringLiteral("OtherLogger"))
        << longFrameClosingEarly();
}

void tst_Protocol::splitArrivals()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QStringList, expected);
    QFETCH(QByteArray, left);

    QByteArray buffer;
    QStringList seen;
    for (const QByteArray &chunk : chunks)
        seen << describe(protocol::receiveChunk(buffer, chunk));
    QCOMPARE(seen, expected);
    QCOMPARE(buffer, left);
}

void tst_Protocol::boundChangesNoRecognition()
{
    // Random arrivals through the bounded buffer and through one that keeps every byte: each
    // arrival must be recognised the same way.
    QRandomGenerator random(20240305);
    const QByteArray pieces[] = {measurement,  wetBulbMeasurement,     hex("ff ff"),
                                 deviceInfo,   hex("7b 22 0c"),        hex("7b 22 2c"),
                                 hex("22 7d"), longFrameClosingEarly()};
    const char alphabet[] = {'\x7b', '\x22', '\x7d', '\x2c', '\x03', '\x06', '\x00', '\xff'};

    QByteArray pending;
    const auto refill = [&]() {
        if (random.bounded(3) == 0) {
            pending = pieces[random.bounded(int(std::size(pieces)))];
            return;
        }
        pending.resize(random.bounded(1, 400));
        for (char &c : pending)
            c = random.bounded(2) ? alphabet[random.bounded(int(sizeof alphabet))]
                                  : char(random.bounded(256));
    };

    QByteArray bounded;
    QByteArray unbounded;
    int recognisedBeyondBound = 0;
    for (int arrival = 0; arrival < 20000; ++arrival) {
        if (random.bounded(40) == 0) { // the line falls silent
            bounded.clear();
            unbounded.clear();
            pending.clear();
        }
        // Arrivals end at random, or where a piece ends, so that frames close with an arrival.
        if (pending.isEmpty())
            refill();
        const int size = random.bounded(2) ? random.bounded(1, 65) : int(pending.size());
        const QByteArray chunk = pending.left(size);
        pending.remove(0, size);

        const protocol::Reply got = protocol::receiveChunk(bounded, chunk);
        if (protocol::startsNextLoggerFrame(unbounded, chunk))
            unbounded.clear();
        unbounded += chunk;
        const protocol::Reply want = protocol::recognizeReply(unbounded);
        if (unbounded.size() > receiveBufferBound && want.kind != protocol::ReplyKind::Wait)
            ++recognisedBeyondBound;
        if (protocol::isModbus(want.kind))
            unbounded.clear();
        if (describe(got) != describe(want) || bounded.size() > receiveBufferBound)
            QFAIL(qPrintable(QStringLiteral("arrival %1: %2 instead of %3, %4 bytes kept")
                                 .arg(arrival)
                                 .arg(describe(got), describe(want))
                                 .arg(bounded.size())));
    }
    // Frames recognised only because the bound kept their head and tail.
    QVERIFY2(recognisedBeyondBound > 0, "the streams never tested the bound");
}

void tst_Protocol::portNames_data()
{
    QTest::addColumn<QString>("typed");
    // "serial NAME", "network HOST PORT SHOWN", or "invalid" and a word of the reason.
    QTest::addColumn<QString>("expected");

    static const char *const rows[][2] = {
        {" ttyUSB0 ", "serial ttyUSB0"},
        {"COM3", "serial COM3"},
        {"\\\\.\\COM10", "serial \\\\.\\COM10"},
        {"/dev/serial/by-path/pci-0:0:14.0-port0", "serial /dev/serial/by-path/pci-0:0:14.0-port0"},
        {"192.168.1.20:4196", "network 192.168.1.20 4196 192.168.1.20:4196"},
        {"tcp://converter-2.plant.example:8899",
         "network converter-2.plant.example 8899 converter-2.plant.example:8899"},
        {"TCP://10.0.0.7:1", "network 10.0.0.7 1 10.0.0.7:1"},
        {"[::1]:4001", "network ::1 4001 [::1]:4001"},
        {"tcp://[fe80::1%eth0]:65535", "network fe80::1%eth0 65535 [fe80::1%eth0]:65535"},
        {"localhost:0", "invalid 65535"},
        {"localhost:65536", "invalid 65535"},
        {"localhost:4294971492", "invalid 65535"},
        {"10.0.0.7:+502", "invalid 65535"},
        {"tcp://converter", "invalid port"},
        {":4196", "invalid host"},
        {"192.168.1.300:502", "invalid host"},
        {"bad_host:502", "invalid host"},
        {"::1:502", "invalid brackets"},
        {"[::1:4196", "invalid bracket"},
        {"[::1]4196", "invalid port"},
        {"[192.168.1.1]:502", "invalid IPv6"},
        {"  ", "invalid network"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromUtf8(row[0]) << QString::fromUtf8(row[1]);
}

void tst_Protocol::portNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);

    const protocol::PortName name = protocol::parsePortName(typed);
    QString got;
    if (name.isSerial())
        got = QStringLiteral("serial ") + name.serialPort;
    else if (name.isNetwork())
        got = QStringLiteral("network %1 %2 %3")
                  .arg(name.host)
                  .arg(name.port)
                  .arg(name.displayName());
    if (expected.startsWith(QLatin1String("invalid"))) {
        QVERIFY2(!name.isValid(), qPrintable(got));
        const QString problem = QString::fromLatin1(name.problem);
        QVERIFY2(problem.contains(expected.section(QLatin1Char(' '), 1)), qPrintable(problem));
    } else {
        QCOMPARE(got, expected);
    }
}

QTEST_GUILESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
