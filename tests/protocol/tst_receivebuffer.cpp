// The receive buffer over a sequence of arrivals: reassembly, and the bound that keeps a line
// that never falls silent from growing it without end.
#include "tst_protocol.h"

#include "protocol/crc.h"
#include "protocol/receivebuffer.h"

#include <QRandomGenerator>
#include <QtTest>

#include <iterator>

using protocol::receiveBufferBound;
using testbytes::describe;
using testbytes::deviceInfoReply;
using testbytes::hex;
using testbytes::longFrame;
using testbytes::withCrc;

namespace {

const QByteArray measurement = hex("01 03 06 00 fa 01 f4 00 64 b8 84");
const QByteArray wetBulbMeasurement = hex("01 03 09 00 fa 01 f4 00 64 00 c8 00 84 d5");

// A 135-byte 0x2C frame whose first 100 bytes also end in 22 7D.
QByteArray longFrameClosingEarly()
{
    QByteArray frame = longFrame(135, true);
    frame.replace(98, 2, hex("22 7d"));
    return frame;
}

QByteArrayList bytewise(const QByteArray &bytes)
{
    QByteArrayList chunks;
    for (const char c : bytes)
        chunks << QByteArray(1, c);
    return chunks;
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

} // namespace

void tst_Protocol::boundKeepsHeadAndTail_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("one below the bound") << receiveBufferBound - 1;
    QTest::newRow("at the bound") << receiveBufferBound;
    QTest::newRow("one above") << receiveBufferBound + 1;
    QTest::newRow("far above") << 100000;
}

void tst_Protocol::boundKeepsHeadAndTail()
{
    QFETCH(int, size);
    QByteArray original(size, '\0');
    for (int i = 0; i < size; ++i)
        original[i] = char(i * 7 % 251);

    QByteArray buffer = original;
    protocol::boundReceiveBuffer(buffer);
    if (size <= receiveBufferBound) {
        QCOMPARE(buffer, original);
    } else {
        QCOMPARE(int(buffer.size()), receiveBufferBound);
        QCOMPARE(buffer.left(protocol::longestModbusReply),
                 original.left(protocol::longestModbusReply));
        QCOMPARE(buffer.right(2), original.right(2));
    }
}

void tst_Protocol::splitReplies_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QStringList>("expected"); // one per arrival
    QTest::addColumn<QByteArray>("left");      // in the buffer after the last arrival

    const QString measured = QStringLiteral("Measurement D=6 t=250 h=500 dew=100");
    QTest::newRow("one arrival") << QByteArrayList{measurement} << QStringList{measured}
                                 << QByteArray();
    QTest::newRow("split after the fifth byte")
        << QByteArrayList{measurement.left(5), measurement.mid(5)} << waitsThen(1, measured)
        << QByteArray();
    QTest::newRow("four values, a byte at a time")
        << bytewise(wetBulbMeasurement)
        << waitsThen(13, QStringLiteral("MeasurementWithWetBulb D=9 t=250 h=500 dew=100 wet=200"))
        << QByteArray();
    QTest::newRow("two replies in one arrival")
        << QByteArrayList{measurement + measurement} << QStringList{QStringLiteral("Wait")}
        << measurement + measurement;
    QTest::newRow("a reply behind a stray byte")
        << QByteArrayList{hex("00"), measurement} << waitsThen(1, QStringLiteral("Wait"))
        << hex("00") + measurement;
    QTest::newRow("exception reply is taken out")
        << QByteArrayList{hex("01 83 02 c0 f1")} << QStringList{QStringLiteral("OtherModbus")}
        << QByteArray();
    QTest::newRow("0x2C frame, the first 100 bytes closing like a frame")
        << inChunks(longFrameClosingEarly(), 100) << waitsThen(1, QStringLiteral("OtherLogger"))
        << longFrameClosingEarly();
    QTest::newRow("0x2C frame, a byte at a time")
        << bytewise(longFrameClosingEarly()) << waitsThen(134, QStringLiteral("OtherLogger"))
        << longFrameClosingEarly();
}

void tst_Protocol::splitReplies()
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

void tst_Protocol::loggerFrameStaysAndDecodesAgain()
{
    const QString decoded = QStringLiteral("DeviceInfo model=8133 sn=1503050e0709");
    QByteArray buffer;
    QCOMPARE(describe(protocol::receiveChunk(buffer, deviceInfoReply())), decoded);
    QCOMPARE(buffer, deviceInfoReply());
    // Bytes behind the frame: it waits while they do not end in 22 7D, and is the first frame
    // again when they do.
    QCOMPARE(describe(protocol::receiveChunk(buffer, hex("01 02"))), QStringLiteral("Wait"));
    const protocol::Reply again = protocol::receiveChunk(buffer, hex("22 7d"));
    QCOMPARE(describe(again), decoded);
    QCOMPARE(buffer, deviceInfoReply() + hex("01 02 22 7d"));
    QCOMPARE(again.frame, buffer);
}

void tst_Protocol::pauseFreeStreamStaysBounded_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<QString>("last");

    // A line that never falls silent: 100 kB of replies back to back, eight bytes an arrival.
    QTest::newRow("Modbus replies") << QByteArray() << QByteArray() << "Wait";
    QTest::newRow("behind a device-information frame")
        << deviceInfoReply() << hex("22 7d") << "DeviceInfo model=8133 sn=1503050e0709";
    QTest::newRow("behind a 0x2C frame")
        << longFrameClosingEarly() << hex("01 22 7d") << "OtherLogger";
}

void tst_Protocol::pauseFreeStreamStaysBounded()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, tail);
    QFETCH(QString, last);

    QByteArray stream = head;
    while (stream.size() < 100000)
        stream += measurement;
    stream += tail;

    QByteArray buffer;
    int largest = 0;
    QString reply;
    for (int i = 0; i < stream.size(); i += 8) {
        reply = describe(protocol::receiveChunk(buffer, stream.mid(i, 8)));
        largest = qMax(largest, int(buffer.size()));
        if (i + 8 < stream.size() && reply != QLatin1String("Wait"))
            QFAIL(qPrintable(QStringLiteral("recognised at %1: %2").arg(i).arg(reply)));
    }
    QCOMPARE(largest, receiveBufferBound);
    QCOMPARE(reply, last);
}

void tst_Protocol::longestModbusReplyStillRecognised()
{
    // 255 data bytes make the longest reply a byte count can announce: 260 bytes in all.
    QByteArray reply = hex("01 03 ff");
    reply.append(255, '\x42');
    protocol::appendCrc(reply);
    QCOMPARE(int(reply.size()), protocol::longestModbusReply);

    QByteArray buffer;
    QStringList seen;
    for (const QByteArray &chunk : inChunks(reply, 7))
        seen << describe(protocol::receiveChunk(buffer, chunk));
    QCOMPARE(seen, waitsThen(int(seen.size()) - 1, QStringLiteral("OtherModbus D=255")));
    QVERIFY(buffer.isEmpty());
}

void tst_Protocol::boundChangesNoRecognition()
{
    // Random arrivals through the bounded buffer and through one that keeps every byte, as the
    // receive path did before it was bounded: each arrival must be recognised the same way.
    QRandomGenerator random(20240305);
    const QByteArray pieces[] = {
        measurement,     wetBulbMeasurement,      hex("01 03 02 00 05 78 47"),
        hex("ff ff"),    hex("01 83 02 c0 f1"),   deviceInfoReply(),
        hex("7b 22 0c"), hex("7b 22 1c"),         hex("7b 22 2c"),
        hex("22 7d"),    longFrameClosingEarly(), withCrc("01 03 06 ff 38 ff 38 ff 38"),
    };
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
    // Arrivals end at random, or where a piece ends, so that frames close with an arrival.
    const auto nextChunk = [&]() {
        QByteArray chunk;
        int size = random.bounded(1, 65);
        const bool toPieceEnd = random.bounded(2) == 0;
        while (size > 0) {
            if (pending.isEmpty()) {
                if (toPieceEnd && !chunk.isEmpty())
                    break;
                refill();
            }
            const int take = qMin(size, int(pending.size()));
            chunk += pending.left(take);
            pending.remove(0, take);
            size -= take;
        }
        return chunk;
    };

    QByteArray bounded;
    QByteArray unbounded;
    int recognisedBeyondBound = 0;
    for (int arrival = 0; arrival < 20000; ++arrival) {
        if (random.bounded(40) == 0) { // the line falls silent; the module starts afresh
            bounded.clear();
            unbounded.clear();
            pending.clear();
        }
        const QByteArray chunk = nextChunk();

        const protocol::Reply got = protocol::receiveChunk(bounded, chunk);
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
