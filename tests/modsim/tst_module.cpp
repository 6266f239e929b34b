#include "module.h"

#include "protocol/frames.h"
#include "protocol/replydecoder.h"

#include <QtTest>

#include <random>

using modsim::Module;
using modsim::RequestFramer;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The example recording write: clock 65E6D2AD, start 300 s later, mode 2, 60 s.
const char recordWriteExample[] =
    "7b224a1d65e6d2ad00004000000000ffff003c032001400320014065e6d3d90000aa227d";

} // namespace

class TestModule : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void exceptionReply();
    void newAddressTakesEffect();
    void baudCodeChangesSpeedAfterTheEcho();
    void serialNumberRoundTrip_data();
    void serialNumberRoundTrip();
    void recordWriteRoundTrip_data();
    void recordWriteRoundTrip();
    void recordWriteWithWrongCheckIsIgnored();
    void framer_data();
    void framer();
    void framerFindsRequestAfterRandomGarbage();
    void psychrometrics_data();
    void psychrometrics();
    void driftIsSeededAndPlausible();
    void frozenValuesStay();
};

void TestModule::replies_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<bool>("wetBulb");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    // Live values 25.0 °C / 50.0 %RH: dew point 13.9 °C (0x8B), wet bulb 18.0 °C (0xB4).
    QTest::newRow("read address, broadcast")
        << 5 << false << hex("0003010000018427") << hex("05030200058987");
    QTest::newRow("read address, sent to another slave")
        << 1 << false << hex("0703010000018590") << hex("01030200017984");
    QTest::newRow("read address and baud code")
        << 1 << false << hex("000301000002c426") << hex("01030400010004aa30");
    QTest::newRow("measurement") << 1 << false << hex("01030000000305cb")
                                 << hex("01030600fa01f4008bf908");
    QTest::newRow("measurement with wet bulb")
        << 1 << true << hex("01030000000305cb") << hex("01030900fa01f4008b00b40090c1");
    QTest::newRow("measurement for another address")
        << 1 << false << hex("02030000000305f8") << QByteArray();
    QTest::newRow("measurement to broadcast")
        << 1 << false << hex("000300000003041a") << QByteArray();
    QTest::newRow("two live registers")
        << 1 << false << hex("01030001000295cb") << hex("01030401f4008bfa5a");
    QTest::newRow("register outside the map")
        << 1 << false << hex("01030010000185cf") << hex("018302c0f1");
    QTest::newRow("damaged CRC") << 1 << false << hex("01030000000305cc") << QByteArray();
    QTest::newRow("write address, broadcast")
        << 1 << false << hex("00060100000949e1") << hex("00060100000949e1");
    QTest::newRow("write address, own address")
        << 1 << false << hex("0106010000094830") << hex("0106010000094830");
    QTest::newRow("write address, another slave")
        << 1 << false << hex("05060100000949b4") << QByteArray();
    QTest::newRow("write address 248")
        << 1 << false << hex("0006010000f88865") << hex("00860353a1");
    QTest::newRow("write baud code 5")
        << 1 << false << hex("0006010100051824") << hex("0006010100051824");
    QTest::newRow("write baud code 7")
        << 1 << false << hex("00060101000799e5") << hex("00860353a1");

    QTest::newRow("device information")
        << 1 << false << hex("7b220a000a227d") << hex("7b220c0e010438313333010424051710300174227d");
    QTest::newRow("recording configuration")
        << 1 << false << hex("7b221a001a227d")
        << hex("7b221c1d0000000000002000000000ffff003c03200140032001400000000000007b227d");
    QTest::newRow("serial number write")
        << 1 << false << hex("7b22aa072115030514070900227d") << hex("7b22ab00ab227d");
    QTest::newRow("serial number write, unknown model")
        << 1 << false << hex("7b22aa072215030514070900227d") << QByteArray();
    QTest::newRow("recording write")
        << 1 << false << hex(recordWriteExample)
        << hex("7b221c1d65e6d2ad00004000000000ffff003c032001400320014065e6d3d900007c227d");
    QTest::newRow("unknown logger code") << 1 << false << hex("7b22550055227d") << QByteArray();
}

void TestModule::replies()
{
    QFETCH(int, address);
    QFETCH(bool, wetBulb);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    Module module;
    module.setAddress(quint8(address));
    module.setWetBulbReply(wetBulb);
    module.setTemperature(250);
    module.setHumidity(500);
    module.setFrozen(true);
    QCOMPARE(module.handle(request).toHex(), reply.toHex());
}

void TestModule::exceptionReply()
{
    QCOMPARE(Module::exceptionReply(frames::measurementRequest(1), 2).toHex(),
             QByteArray("018302c0f1"));
}

void TestModule::newAddressTakesEffect()
{
    Module module;
    QCOMPARE(module.handle(frames::writeAddressRequest(9)), frames::writeAddressRequest(9));
    QCOMPARE(module.address(), quint8(9));
    QVERIFY(module.handle(frames::measurementRequest(1)).isEmpty());

    const protocol::Reply measurement =
        protocol::recognizeReply(module.handle(frames::measurementRequest(9)));
    QCOMPARE(measurement.kind, protocol::ReplyKind::Measurement);

    const QByteArray addressReply = module.handle(frames::readAddressRequest());
    QCOMPARE(quint8(addressReply.at(0)), quint8(9));
    QCOMPARE(protocol::recognizeReply(addressReply).address, quint8(9));
}

void TestModule::baudCodeChangesSpeedAfterTheEcho()
{
    Module module;
    QCOMPARE(module.lineSpeed(), 9600);
    QCOMPARE(module.handle(frames::writeBaudCodeRequest(6)), frames::writeBaudCodeRequest(6));
    QCOMPARE(module.lineSpeed(), 115200);
    // A refused code leaves the speed alone.
    QCOMPARE(quint8(module.handle(frames::writeBaudCodeRequest(0)).at(1)), quint8(0x86));
    QCOMPARE(module.lineSpeed(), 115200);
    QCOMPARE(quint8(module.deviceInfoFrame().at(11)), quint8(6));
}

void TestModule::serialNumberRoundTrip_data()
{
    QTest::addColumn<int>("modelCode");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("shown");

    QTest::newRow("SHT2X") << 0x20 << "210305140709" << 8132 << "1503050e0709";
    QTest::newRow("SHT3X, all nines") << 0x21 << "99999999999999" << 8133 << "636363636363";
    QTest::newRow("SHT3X, not digits") << 0x21 << "AB1234" << 8133 << "000c22000000";
}

void TestModule::serialNumberRoundTrip()
{
    QFETCH(int, modelCode);
    QFETCH(QString, typed);
    QFETCH(int, model);
    QFETCH(QString, shown);

    Module module;
    const QByteArray ack =
        module.handle(frames::writeSerialNumberRequest(quint8(modelCode), typed));
    QVERIFY(protocol::answersRequest(protocol::recognizeReply(ack).kind));

    const protocol::Reply info =
        protocol::recognizeReply(module.handle(frames::readDeviceInfoRequest()));
    QCOMPARE(info.kind, protocol::ReplyKind::DeviceInfo);
    QCOMPARE(info.loggerModel, model);
    QCOMPARE(info.serialNumber, shown);
}

void TestModule::recordWriteRoundTrip_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("interval");
    QTest::addColumn<quint32>("start");

    QTest::newRow("after setup, 1 s") << 1 << 1 << quint32(1709000000);
    QTest::newRow("timing start, 24h") << 2 << 45000 << quint32(1709003600);
    QTest::newRow("monitoring only, start before 1970") << 3 << 300 << quint32(0xFFFFFFFF);
}

void TestModule::recordWriteRoundTrip()
{
    QFETCH(int, mode);
    QFETCH(int, interval);
    QFETCH(quint32, start);

    Module module;
    const quint32 now = 1709000000;
    const QByteArray reply =
        module.handle(frames::writeRecordConfigRequest(now, quint8(mode), interval, start));
    const protocol::Reply decoded = protocol::recognizeReply(reply);
    QCOMPARE(decoded.kind, protocol::ReplyKind::RecordConfig);
    QCOMPARE(int(decoded.recordMode), mode);
    QCOMPARE(decoded.sampleInterval, interval);
    QCOMPARE(module.startTime(), start);
    QCOMPARE(module.clockTime(), now);
    QCOMPARE(module.handle(frames::readRecordConfigRequest()), reply);
}

void TestModule::recordWriteWithWrongCheckIsIgnored()
{
    Module module;
    QByteArray frame = hex(recordWriteExample);
    // The plain sum of bytes 2..32 is what a sender forgetting the doubled mode byte sends.
    frame[33] = char(0x6A);
    QVERIFY(module.handle(frame).isEmpty());
    for (int flip = 0; flip < 8; ++flip) {
        QByteArray damaged = hex(recordWriteExample);
        damaged[33] = char(damaged.at(33) ^ (1 << flip));
        QVERIFY(module.handle(damaged).isEmpty());
    }
    QCOMPARE(module.recordMode(), 1);
    QCOMPARE(module.sampleInterval(), 60);
    QCOMPARE(module.startTime(), quint32(0));
}

void TestModule::framer_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArrayList>("requests");

    const QByteArray measurement = frames::measurementRequest(1);
    const QByteArray readAddress = frames::readAddressRequest();
    const QByteArray info = frames::readDeviceInfoRequest();
    const QByteArray serial = frames::writeSerialNumberRequest(0x21, "240517103001");
    const QByteArray record = hex(recordWriteExample);

    QTest::newRow("one Modbus request") << measurement << QByteArrayList{measurement};
    QTest::newRow("each kind, back to back")
        << measurement + info + serial + record + readAddress
        << QByteArrayList{measurement, info, serial, record, readAddress};
    QTest::newRow("garbage before and between")
        << hex("ff0013") + readAddress + hex("55aa") + record
        << QByteArrayList{readAddress, record};
    QTest::newRow("opener that is no frame") << hex("7b22ff7b22") + info << QByteArrayList{info};
    QTest::newRow("logger frame with a wrong close, then a request")
        << hex("7b220a000a2200") + measurement << QByteArrayList{measurement};
    QTest::newRow("damaged request, then a good one")
        << hex("01030000000305cc") + measurement << QByteArrayList{measurement};
    QTest::newRow("truncated request, then a good one")
        << measurement.left(5) + measurement << QByteArrayList{measurement};
    QTest::newRow("garbage only") << hex("0003ff7b2201020304050607") << QByteArrayList{};
}

void TestModule::framer()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArrayList, requests);

    for (int chunk : {1, 2, 3, 5, 8, 13, 1000}) {
        RequestFramer framer;
        QByteArrayList found;
        for (int at = 0; at < stream.size(); at += chunk) {
            framer.feed(stream.mid(at, chunk));
            while (const std::optional<QByteArray> request = framer.next())
                found.append(*request);
        }
        if (found != requests)
            QFAIL(qPrintable(QStringLiteral("chunks of %1: found %2")
                                 .arg(chunk)
                                 .arg(QString::fromLatin1(found.join('|').toHex()))));
        QVERIFY(framer.pending().size() < 36);
    }
}

void TestModule::framerFindsRequestAfterRandomGarbage()
{
    const QByteArray request = frames::writeRecordConfigRequest(1709000000, 2, 60, 1709000300);
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        QByteArray garbage;
        const int size = int(random() % 300);
        for (int i = 0; i < size; ++i) {
            // Plenty of openers and Modbus function codes to tempt the framer.
            static constexpr char tempting[] = {'\x7B', '\x22', '\x03', '\x06', '\x1D', '\x07'};
            garbage.append(random() % 3 == 0 ? tempting[random() % sizeof tempting]
                                             : char(random() & 0xFF));
        }
        RequestFramer framer;
        framer.feed(garbage);
        while (framer.next()) {
        }
        QVERIFY(framer.pending().size() < 36);
        framer.feed(request);
        const std::optional<QByteArray> found = framer.next();
        QVERIFY2(found.has_value(), qPrintable(QString::fromLatin1(garbage.toHex())));
        QCOMPARE(found->toHex(), request.toHex());
    }
}

void TestModule::psychrometrics_data()
{
    QTest::addColumn<int>("temperature");
    QTest::addColumn<int>("humidity");
    QTest::addColumn<int>("dewPoint");
    QTest::addColumn<int>("wetBulb");

    QTest::newRow("20.0 / 50 %, Stull's own example") << 200 << 500 << 93 << 137;
    QTest::newRow("25.0 / 50 %") << 250 << 500 << 139 << 180;
    QTest::newRow("23.5 / 65.5 %") << 235 << 655 << 167 << 189;
    QTest::newRow("below freezing") << -100 << 800 << -128 << -113;
    QTest::newRow("saturated") << 300 << 1000 << 300 << 300;
}

void TestModule::psychrometrics()
{
    QFETCH(int, temperature);
    QFETCH(int, humidity);
    QFETCH(int, dewPoint);
    QFETCH(int, wetBulb);

    QCOMPARE(int(modsim::dewPointTenths(qint16(temperature), quint16(humidity))), dewPoint);
    QCOMPARE(int(modsim::wetBulbTenths(qint16(temperature), quint16(humidity))), wetBulb);
}

void TestModule::driftIsSeededAndPlausible()
{
    Module a(42), b(42), c(43);
    QList<int> walkA, walkC;
    for (int i = 0; i < 20000; ++i) {
        const int temperature = a.temperature();
        const int humidity = a.humidity();
        a.drift();
        b.drift();
        c.drift();
        QCOMPARE(b.temperature(), a.temperature());
        QCOMPARE(b.humidity(), a.humidity());
        QVERIFY(qAbs(a.temperature() - temperature) <= 3);
        QVERIFY(qAbs(a.humidity() - humidity) <= 6);
        QVERIFY2(a.temperature() > 0 && a.temperature() < 500, qPrintable(QString::number(i)));
        QVERIFY(a.humidity() > 100 && a.humidity() < 1000);
        QVERIFY(a.dewPoint() <= a.wetBulb() && a.wetBulb() <= a.temperature());
        walkA.append(a.temperature());
        walkC.append(c.temperature());
    }
    QVERIFY(walkA != walkC);
    QVERIFY(*std::max_element(walkA.begin(), walkA.end()) >
            *std::min_element(walkA.begin(), walkA.end()));
}

void TestModule::frozenValuesStay()
{
    Module module;
    module.setTemperature(-55);
    module.setHumidity(800);
    module.setFrozen(true);
    for (int i = 0; i < 50; ++i)
        module.handle(frames::measurementRequest(1));
    QCOMPARE(module.temperature(), qint16(-55));
    // -5.5 °C / 80 %RH: dew point -8.4 °C.
    QCOMPARE(module.handle(frames::measurementRequest(1)).toHex(),
             QByteArray("010306ffc90320ffaca969"));

    module.setFrozen(false);
    QList<qint16> seen;
    for (int i = 0; i < 50; ++i) {
        module.handle(frames::measurementRequest(1));
        seen.append(module.temperature());
    }
    QVERIFY(std::any_of(seen.begin(), seen.end(), [](qint16 t) { return t != -55; }));
}

QTEST_GUILESS_MAIN(TestModule)
#include "tst_module.moc"
