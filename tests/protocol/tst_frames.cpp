// Requests as they go on the line, the checksum and the exchange-log line.
#include "tst_protocol.h"

#include "protocol/crc.h"
#include "protocol/exchangelog.h"
#include "protocol/frames.h"

#include <QDateTime>
#include <QtTest>

using testbytes::hex;

void tst_Protocol::crc16Modbus_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("expected"); // CRC low byte in the upper half

    QTest::newRow("read-address body") << hex("00 03 01 00 00 01") << 0x8427;
    QTest::newRow("measurement body, address 10") << hex("0a 03 00 00 00 03") << 0x04B0;
    QTest::newRow("exception body") << hex("01 83 02") << 0xC0F1;
    QTest::newRow("FF FF and a zero") << hex("ff ff 00") << 0x0000;
    QTest::newRow("three zeros") << hex("00 00 00") << 0x71C0;
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

void tst_Protocol::appendCrcPutsLowByteFirst()
{
    QByteArray frame = hex("00 03 01 00 00 01");
    protocol::appendCrc(frame);
    QCOMPARE(frame, hex("00 03 01 00 00 01 84 27"));
    // Only the given length counts: the bytes behind it change nothing.
    const QByteArray longer = hex("00 03 01 00 00 01 ff ff");
    QCOMPARE(int(::crc16Modbus(reinterpret_cast<const quint8 *>(longer.constData()), 6)), 0x8427);
}

void tst_Protocol::requestFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("read address") << frames::readAddressRequest() << hex("00 03 01 00 00 01 84 27");
    QTest::newRow("measurement, address 1")
        << frames::measurementRequest(1) << hex("01 03 00 00 00 03 05 cb");
    QTest::newRow("measurement, address 10")
        << frames::measurementRequest(10) << hex("0a 03 00 00 00 03 04 b0");
    QTest::newRow("write address 1")
        << frames::writeAddressRequest(1) << hex("00 06 01 00 00 01 48 27");
    QTest::newRow("write address 5")
        << frames::writeAddressRequest(5) << hex("00 06 01 00 00 05 49 e4");
    QTest::newRow("baud code 4") << frames::writeBaudCodeRequest(4)
                                 << hex("00 06 01 01 00 04 d9 e4");
    QTest::newRow("baud code 6") << frames::writeBaudCodeRequest(6)
                                 << hex("00 06 01 01 00 06 58 25");
    QTest::newRow("read device information")
        << frames::readDeviceInfoRequest() << hex("7b 22 0a 00 0a 22 7d");
    QTest::newRow("read recording configuration")
        << frames::readRecordConfigRequest() << hex("7b 22 1a 00 1a 22 7d");
    QTest::newRow("serial number, SHT2X, 240305080709")
        << frames::writeSerialNumberRequest(0x20, QStringLiteral("240305080709"))
        << hex("7b 22 aa 07 20 18 03 05 08 07 09 00 22 7d");
    QTest::newRow("serial number, SHT3X")
        << frames::writeSerialNumberRequest(0x21, QStringLiteral("240305080709"))
        << hex("7b 22 aa 07 21 18 03 05 08 07 09 00 22 7d");
    QTest::newRow("serial number, no type selected")
        << frames::writeSerialNumberRequest(0x1F, QString())
        << hex("7b 22 aa 07 1f 00 00 00 00 00 00 00 22 7d");
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

    QTest::newRow("twelve digits") << "240305080709" << hex("18 03 05 08 07 09");
    QTest::newRow("pairs are decimal") << "101010101010" << hex("0a 0a 0a 0a 0a 0a");
    QTest::newRow("short text: 12, 3, then nothing") << "123" << hex("0c 03 00 00 00 00");
    QTest::newRow("fourteen nines: the last two ignored")
        << "99999999999999" << hex("63 63 63 63 63 63");
    QTest::newRow("letters count as zero") << "AB1234" << hex("00 0c 22 00 00 00");
    QTest::newRow("empty") << "" << hex("00 00 00 00 00 00");
}

void tst_Protocol::serialNumberBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    const auto bytes = frames::serialNumberBytes(text);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex(' '),
             expected.toHex(' '));
}

void tst_Protocol::recordConfigRequest_data()
{
    QTest::addColumn<quint32>("now");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("interval");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<QByteArray>("expected");

    // The check byte counts the mode byte twice: 0xAA, where the plain sum would be 0x6A.
    QTest::newRow("timing start, 60 s")
        << 0x65E6D2ADu << 2 << 60 << 0x65E6D3D9u
        << hex("7b 22 4a 1d 65 e6 d2 ad 00 00 40 00 00 00 00 ff ff 00 3c 03 20 01 40"
               " 03 20 01 40 65 e6 d3 d9 00 00 aa 22 7d");
    QTest::newRow("24h is 45000 s, monitoring only, start before 1970")
        << 0x65E6D2ADu << 3 << 45000 << 0xFFFFFFFFu
        << hex("7b 22 4a 1d 65 e6 d2 ad 00 00 60 00 00 00 00 ff ff af c8 03 20 01 40"
               " 03 20 01 40 ff ff ff ff 00 00 2a 22 7d");
}

void tst_Protocol::recordConfigRequest()
{
    QFETCH(quint32, now);
    QFETCH(int, mode);
    QFETCH(int, interval);
    QFETCH(quint32, start);
    QFETCH(QByteArray, expected);
    const QByteArray frame = frames::writeRecordConfigRequest(now, quint8(mode), interval, start);
    QCOMPARE(int(frame.size()), 36);
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));
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
    QTest::newRow("example") << utc(2024, 3, 5, 8, 7, 9) << qint64(1709626029);
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
    QTest::newRow("reply, afternoon on a 24-hour clock")
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
