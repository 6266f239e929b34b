// The simulated module: its replies and its request framer as pure logic, and the link it makes.
// Its faults, line speeds and pulled port are the end-to-end suites' own premises: they fail
// when the module stops doing these.
#include "module.h"
#include "simulatedmodule.h"

#include "protocol/frames.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using modsim::Module;
using modsim::RequestFramer;
using modsim::SimulatedModule;

namespace {
// Recording write: clock 65E6D2AD, mode 2, 60 s, start 300 s later; the check byte AA counts
// the mode byte twice. The module's reply and the configuration it starts with.
const QByteArray recordWrite =
    "7b224a1d65e6d2ad00004000000000ffff003c032001400320014065e6d3d90000aa227d";
const QByteArray recordStored =
    "7b221c1d65e6d2ad00004000000000ffff003c032001400320014065e6d3d900007c227d";
const QByteArray recordDefault =
    "7b221c1d0000000000002000000000ffff003c03200140032001400000000000007b227d";
const QByteArray readRecord = "7b221a001a227d";
const QByteArray readInfo = "7b220a000a227d";

// A client of the simulated serial device server, as the tool is one: each arrival, timed.
struct TcpClient
{
    QTcpSocket socket;
    QByteArray received;
    QList<qint64> arrivals; // ms since the request
    QElapsedTimer sinceRequest;

    explicit TcpClient(const QString &endpoint)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            arrivals.append(sinceRequest.elapsed());
            received += socket.readAll();
        });
        socket.connectToHost(QHostAddress::LocalHost, quint16(endpoint.section(':', -1).toUInt()));
    }
    void send(const QByteArray &request)
    {
        received.clear();
        arrivals.clear();
        sinceRequest.start();
        socket.write(request);
    }
};

} // namespace

class tst_Modsim : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void framer_data();
    void framer();

    void linkReplacesOnlyASymbolicLink_data();
    void linkReplacesOnlyASymbolicLink();

    void overTcp_data();
    void overTcp();
    void tcpOneClientAndVanish();

private:
    QTemporaryDir m_dir;
};

void tst_Modsim::replies_data()
{
    QTest::addColumn<bool>("wetBulb");
    // Requests sent in turn to one module, each "request>reply" in hex; no reply is silence.
    QTest::addColumn<QByteArray>("exchanges");

    // Live values -5.5 °C / 80.0 %RH: dew point -8.4 °C (FFAC), wet bulb -7.0 °C (FFBA).
    QTest::newRow("read address, whatever slave address it is sent to")
        << false << QByteArray("0003010000018427>01030200017984 0703010000018590>01030200017984");
    QTest::newRow("measurement, three values; damaged or for another slave: silence")
        << false
        << QByteArray("01030000000305cb>010306ffc90320ffaca969 01030000000305cc> "
                      "02030000000305f8>");
    QTest::newRow("measurement, four values")
        << true << QByteArray("01030000000305cb>010309ffc90320ffacffba008d10");
    QTest::newRow("address write, then answered at the new address")
        << false
        << QByteArray("00060100000949e1>00060100000949e1 01030000000305cb> "
                      "0903000000030483>090306ffc90320ffaccea9 0703010000018590>09030200099983");
    QTest::newRow("baud write echoed, new code reported")
        << false
        << QByteArray("0006010100051824>0006010100051824 000301000002c426>010304000100056bf0 ") +
               readInfo + ">7b220c0e010438313333010524051710300175227d";
    QTest::newRow("refused: register outside the map, address 0, baud code 7")
        << false
        << QByteArray("01030010000185cf>018302c0f1 00060100000089e7>00860353a1 "
                      "00060101000799e5>00860353a1");
    QTest::newRow("device information")
        << false << readInfo + ">7b220c0e010438313333010424051710300174227d";
    QTest::newRow("serial-number write, read back with the new model")
        << false
        << "7b22aa072015030514070900227d>7b22ab00ab227d " + readInfo +
               ">7b220c0e010438313332010415030514070933227d";
    QTest::newRow("recording write with a correct check byte is stored")
        << false << recordWrite + '>' + recordStored + ' ' + readRecord + '>' + recordStored;
    // 6A is the plain sum, as a sender that forgets the doubled mode byte would send it.
    QTest::newRow("recording write with a wrong check byte is ignored")
        << false
        << QByteArray(recordWrite).replace("aa227d", "6a227d") + "> " + readRecord + '>' +
               recordDefault;
}

void tst_Modsim::replies()
{
    QFETCH(bool, wetBulb);
    QFETCH(QByteArray, exchanges);

    Module module;
    module.setTemperature(-55);
    module.setHumidity(800);
    module.setFrozen(true);
    module.setWetBulbReply(wetBulb);
    for (const QByteArray &exchange : exchanges.split(' ')) {
        const QByteArrayList sides = exchange.split('>');
        QCOMPARE(sides.size(), 2);
        const QByteArray reply = module.handle(QByteArray::fromHex(sides.at(0))).toHex();
        QVERIFY2(reply == sides.at(1), (exchange + " but got " + reply).constData());
    }
}

void tst_Modsim::framer_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArrayList>("requests");

    const QByteArray measurement = frames::measurementRequest(1);
    const QByteArray readAddress = frames::readAddressRequest();
    const QByteArray info = frames::readDeviceInfoRequest();
    const QByteArray serial = frames::writeSerialNumberRequest(0x21, "240517103001");
    const QByteArray record = QByteArray::fromHex(recordWrite);
    const auto hex = [](const char *text) { return QByteArray::fromHex(text); };

    QTest::newRow("each kind, back to back")
        << measurement + info + serial + record + readAddress
        << QByteArrayList{measurement, info, serial, record, readAddress};
    QTest::newRow("garbage before and between")
        << hex("ff0013") + readAddress + hex("55aa") + record
        << QByteArrayList{readAddress, record};
    QTest::newRow("openers that are no frame")
        << hex("7b22ff7b227b221d") + info << QByteArrayList{info};
    QTest::newRow("logger frame with a wrong close")
        << hex("7b220a000a2200") + measurement << QByteArrayList{measurement};
    QTest::newRow("damaged request")
        << hex("01030000000305cc") + measurement << QByteArrayList{measurement};
    QTest::newRow("truncated request")
        << measurement.left(5) + measurement << QByteArrayList{measurement};
    QTest::newRow("garbage only") << hex("0003ff7b2201020304050607") << QByteArrayList{};
}

void tst_Modsim::framer()
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
        QVERIFY2(found == requests,
                 qPrintable(QStringLiteral("chunks of %1: %2")
                                .arg(chunk)
                                .arg(QString::fromLatin1(found.join('|').toHex()))));
        // No more is kept than the longest request could need.
        QVERIFY(framer.pending().size() < 36);
    }
}

void tst_Modsim::linkReplacesOnlyASymbolicLink_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("symbolic link") << "link" << true;
    QTest::newRow("regular file") << "file" << false;
    QTest::newRow("directory") << "dir" << false;
}

void tst_Modsim::linkReplacesOnlyASymbolicLink()
{
    QFETCH(QString, kind);
    QFETCH(bool, replaced);
    const QString path = m_dir.filePath(kind);
    QFile file(path);
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
    else if (kind == QLatin1String("dir"))
        QVERIFY(QDir().mkdir(path));
    else if (!file.open(QIODevice::WriteOnly) || file.write("keep me") != 7 || !file.flush())
        QFAIL("cannot write the file");
    file.close();

    SimulatedModule other;
    QCOMPARE(other.start(path), replaced);
    QCOMPARE(QFileInfo(path).symLinkTarget() != QLatin1String("/dev/null") &&
                 QFileInfo(path).isSymLink(),
             replaced);
    if (!replaced)
        QVERIFY2(other.errorString().contains(QLatin1String("not a symbolic link")),
                 qPrintable(other.errorString()));
    if (kind == QLatin1String("file")) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
    }
}

void tst_Modsim::overTcp_data()
{
    QTest::addColumn<double>("split");
    QTest::addColumn<bool>("bus");
    // Requests sent in turn, each "request>reply" in hex; no reply is silence.
    QTest::addColumn<QByteArray>("exchanges");

    QTest::newRow("reply in two segments")
        << 1.0 << false << QByteArray("0003010000018427>01030200017984");
    QTest::newRow("bus: each module at its address")
        << 0.0 << true
        << QByteArray("01030000000305cb>010306ffc90320ffaca969 "
                      "110300000003075b>110306ffc90320ffac64a9");
    // The converter's serial side stays at 9600 bit/s: the module, now at 19200, hears nothing.
    QTest::newRow("a speed change cuts the link")
        << 0.0 << false << QByteArray("0006010100051824>0006010100051824 0003010000018427>");
}

void tst_Modsim::overTcp()
{
    QFETCH(double, split);
    QFETCH(bool, bus);
    QFETCH(QByteArray, exchanges);

    SimulatedModule sim;
    sim.module().setTemperature(-55);
    sim.module().setHumidity(800);
    sim.module().setFrozen(true);
    sim.faults().splitShare = split;
    sim.faults().splitGapMs = 100;
    if (bus)
        sim.addModule(sim.module()).module.setAddress(17);
    QVERIFY2(sim.startTcp(QHostAddress::LocalHost, 0), qPrintable(sim.errorString()));
    TcpClient client(sim.portName());
    QVERIFY(client.socket.waitForConnected(3000));

    for (const QByteArray &exchange : exchanges.split(' ')) {
        const QByteArrayList sides = exchange.split('>');
        const QByteArray expected = QByteArray::fromHex(sides.at(1));
        client.send(QByteArray::fromHex(sides.at(0)));
        if (expected.isEmpty()) {
            QTest::qWait(400);
            QCOMPARE(client.received.toHex(), QByteArray());
            continue;
        }
        QTRY_COMPARE_WITH_TIMEOUT(client.received.toHex(), expected.toHex(), 5000);
        // Split: two segments a pause apart, what the tool must reassemble.
        QCOMPARE(client.arrivals.size(), split > 0 ? 2 : 1);
        QVERIFY(split == 0 || client.arrivals.at(1) - client.arrivals.at(0) >= 80);
    }
}

void tst_Modsim::tcpOneClientAndVanish()
{
    SimulatedModule sim;
    QVERIFY2(sim.startTcp(QHostAddress::LocalHost, 0), qPrintable(sim.errorString()));
    const QString endpoint = sim.portName();
    TcpClient first(endpoint);
    QVERIFY(first.socket.waitForConnected(3000));
    QTest::qWait(100);

    // A second master is turned away; the first one keeps the line.
    TcpClient second(endpoint);
    QTRY_COMPARE_WITH_TIMEOUT(second.socket.state(), QAbstractSocket::UnconnectedState, 5000);
    const QByteArray readAddress = frames::readAddressRequest();
    first.send(readAddress);
    QTRY_COMPARE_WITH_TIMEOUT(first.received.size(), 7, 5000);

    // Gone: the connection drops and nothing listens. Back: the same port takes a client again.
    sim.vanish();
    QTRY_COMPARE_WITH_TIMEOUT(first.socket.state(), QAbstractSocket::UnconnectedState, 5000);
    TcpClient refused(endpoint);
    QVERIFY(!refused.socket.waitForConnected(3000));
    QCOMPARE(refused.socket.error(), QAbstractSocket::ConnectionRefusedError);

    QVERIFY2(sim.restore(), qPrintable(sim.errorString()));
    QCOMPARE(sim.portName(), endpoint);
    TcpClient again(endpoint);
    QVERIFY(again.socket.waitForConnected(3000));
    again.send(readAddress);
    QTRY_COMPARE_WITH_TIMEOUT(again.received.toHex(), QByteArray("01030200017984"), 5000);
}

QTEST_GUILESS_MAIN(tst_Modsim)
#include "tst_modsim.moc"
