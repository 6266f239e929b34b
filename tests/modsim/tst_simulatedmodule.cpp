#include "simulatedmodule.h"

#include "protocol/frames.h"
#include "protocol/replydecoder.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using modsim::SimulatedModule;

namespace {

// Generous: the machine may be busy with other builds.
constexpr int replyTimeoutMs = 5000;
// Long enough that a reply that was going to come would have come.
constexpr int silenceMs = 1500;

// The tool's side of the line: a real QSerialPort that gathers what arrives, piece by piece.
class Client : public QObject
{
public:
    bool open(const QString &name, int speed)
    {
        port.setPortName(name);
        port.setBaudRate(speed);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        connect(&port, &QSerialPort::readyRead, this, [this] {
            const QByteArray piece = port.readAll();
            pieces.append(piece);
            received += piece;
        });
        return port.open(QIODevice::ReadWrite);
    }

    void send(const QByteArray &bytes)
    {
        clear();
        sentAt.start();
        port.write(bytes);
    }

    void clear()
    {
        received.clear();
        pieces.clear();
    }

    QSerialPort port;
    QByteArray received;
    QByteArrayList pieces;
    QElapsedTimer sentAt;
};

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class TestSimulatedModule : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answersMeasurement();
    void answersEveryRequestOfTheTool_data();
    void answersEveryRequestOfTheTool();
    void wrongSpeedIsIgnored();
    void baudChangeEchoesAtOldSpeed();
    void splitReplyArrivesInPieces();
    void faults_data();
    void faults();
    void lateReply();
    void vanishAndRestore();
    void noiseFlood();
    void noiseFloodWithNobodyReading();

private:
    std::unique_ptr<SimulatedModule> sim;
    std::unique_ptr<Client> client;
};

void TestSimulatedModule::init()
{
    sim = std::make_unique<SimulatedModule>();
    sim->module().setTemperature(235);
    sim->module().setHumidity(655);
    sim->module().setFrozen(true);
    QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    client = std::make_unique<Client>();
    QVERIFY2(client->open(sim->portName(), 9600), qPrintable(client->port.errorString()));
}

void TestSimulatedModule::cleanup()
{
    client.reset();
    sim.reset();
}

void TestSimulatedModule::answersMeasurement()
{
    const QByteArray request = frames::measurementRequest(1);
    client->send(request);
    QTRY_COMPARE_WITH_TIMEOUT(client->received.toHex(), sim->module().measurementReply().toHex(),
                              replyTimeoutMs);

    const protocol::Reply reply = protocol::recognizeReply(client->received);
    QCOMPARE(reply.kind, protocol::ReplyKind::Measurement);
    QCOMPARE(reply.temperature, qint16(235));
    QCOMPARE(reply.humidity, quint16(655));
    QCOMPARE(reply.dewTemp, qint16(167));
    QCOMPARE(sim->requests(), QByteArrayList{request});
    QCOMPARE(sim->replies(), QByteArrayList{client->received});
}

void TestSimulatedModule::answersEveryRequestOfTheTool_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("kind");

    QTest::newRow("read address") << frames::readAddressRequest()
                                  << int(protocol::ReplyKind::Address);
    QTest::newRow("write address")
        << frames::writeAddressRequest(1) << int(protocol::ReplyKind::Acknowledge);
    QTest::newRow("device information")
        << frames::readDeviceInfoRequest() << int(protocol::ReplyKind::DeviceInfo);
    QTest::newRow("serial number write") << frames::writeSerialNumberRequest(0x20, "240517103001")
                                         << int(protocol::ReplyKind::OtherLogger);
    QTest::newRow("recording read")
        << frames::readRecordConfigRequest() << int(protocol::ReplyKind::RecordConfig);
    QTest::newRow("recording write")
        << frames::writeRecordConfigRequest(1709000000, 2, 60, 1709000300)
        << int(protocol::ReplyKind::RecordConfig);
}

void TestSimulatedModule::answersEveryRequestOfTheTool()
{
    QFETCH(QByteArray, request);
    QFETCH(int, kind);

    sim->module().setWetBulbReply(true);
    client->send(request);
    QTRY_COMPARE_WITH_TIMEOUT(int(protocol::recognizeReply(client->received).kind), kind,
                              replyTimeoutMs);
    // A Modbus reply must stand alone in the tool's buffer: nothing may follow it.
    QTest::qWait(200);
    QCOMPARE(int(protocol::recognizeReply(client->received).kind), kind);
}

void TestSimulatedModule::wrongSpeedIsIgnored()
{
    QVERIFY(client->port.setBaudRate(19200));
    client->send(frames::measurementRequest(1));
    QTest::qWait(silenceMs);
    QVERIFY(client->received.isEmpty());
    QVERIFY(sim->requests().isEmpty());

    QVERIFY(client->port.setBaudRate(9600));
    client->send(frames::measurementRequest(1));
    QTRY_COMPARE_WITH_TIMEOUT(int(protocol::recognizeReply(client->received).kind),
                              int(protocol::ReplyKind::Measurement), replyTimeoutMs);

    sim->faults().honourLineSpeed = false;
    QVERIFY(client->port.setBaudRate(19200));
    client->send(frames::measurementRequest(1));
    QTRY_COMPARE_WITH_TIMEOUT(int(protocol::recognizeReply(client->received).kind),
                              int(protocol::ReplyKind::Measurement), replyTimeoutMs);
}

void TestSimulatedModule::baudChangeEchoesAtOldSpeed()
{
    const QByteArray request = frames::writeBaudCodeRequest(5);
    client->send(request);
    QTRY_COMPARE_WITH_TIMEOUT(client->received.toHex(), request.toHex(), replyTimeoutMs);
    QCOMPARE(sim->module().lineSpeed(), 19200);

    client->send(frames::measurementRequest(1));
    QTest::qWait(silenceMs);
    QVERIFY(client->received.isEmpty());

    QVERIFY(client->port.setBaudRate(19200));
    client->send(frames::measurementRequest(1));
    QTRY_COMPARE_WITH_TIMEOUT(int(protocol::recognizeReply(client->received).kind),
                              int(protocol::ReplyKind::Measurement), replyTimeoutMs);
}

void TestSimulatedModule::splitReplyArrivesInPieces()
{
    sim->faults().splitShare = 1.0;
    sim->faults().splitGapMs = 1500;
    const QByteArray expected = sim->module().deviceInfoFrame();
    client->send(frames::readDeviceInfoRequest());
    QTRY_VERIFY_WITH_TIMEOUT(!client->received.isEmpty(), replyTimeoutMs);
    const QByteArray first = client->received;
    QVERIFY2(first.size() < expected.size(), "the whole reply came at once");
    QVERIFY(expected.startsWith(first));
    QTRY_COMPARE_WITH_TIMEOUT(client->received.toHex(), expected.toHex(), replyTimeoutMs);
    QVERIFY(client->pieces.size() >= 2);
}

void TestSimulatedModule::faults_data()
{
    QTest::addColumn<QString>("fault");

    QTest::newRow("drop") << "drop";
    QTest::newRow("silent") << "silent";
    QTest::newRow("corrupt") << "corrupt";
    QTest::newRow("noise") << "noise";
    QTest::newRow("exception") << "exception";
}

void TestSimulatedModule::faults()
{
    QFETCH(QString, fault);

    modsim::Faults &faults = sim->faults();
    if (fault == QLatin1String("drop"))
        faults.dropShare = 1.0;
    else if (fault == QLatin1String("silent"))
        faults.silent = true;
    else if (fault == QLatin1String("corrupt"))
        faults.corruptShare = 1.0;
    else if (fault == QLatin1String("noise"))
        faults.noiseBytes = 5;
    else if (fault == QLatin1String("exception"))
        faults.exceptionCode = 2;

    const QByteArray request = frames::measurementRequest(1);
    const QByteArray clean = sim->module().measurementReply();
    client->send(request);

    if (fault == QLatin1String("drop") || fault == QLatin1String("silent")) {
        QTest::qWait(silenceMs);
        QVERIFY(client->received.isEmpty());
        QVERIFY(sim->replies().isEmpty());
        QCOMPARE(sim->requests(), QByteArrayList{request});
        return;
    }

    QTRY_VERIFY_WITH_TIMEOUT(sim->replies().size() == 1, replyTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(client->received, sim->replies().first(), replyTimeoutMs);
    const QByteArray got = client->received;
    if (fault == QLatin1String("corrupt")) {
        QCOMPARE(got.size(), clean.size());
        int flipped = 0;
        for (int i = 0; i < got.size(); ++i)
            flipped += qPopulationCount(quint8(got.at(i) ^ clean.at(i)));
        QCOMPARE(flipped, 1);
        QVERIFY(!protocol::answersRequest(protocol::recognizeReply(got).kind));
    } else if (fault == QLatin1String("noise")) {
        QCOMPARE(got.size(), clean.size() + 5);
        QVERIFY(got.endsWith(clean));
    } else {
        QCOMPARE(got.toHex(), QByteArray("018302c0f1"));
    }
}

void TestSimulatedModule::lateReply()
{
    sim->faults().lateMs = 800;
    client->send(frames::measurementRequest(1));
    QTRY_VERIFY_WITH_TIMEOUT(!client->received.isEmpty(), replyTimeoutMs + 800);
    // Only the lower bound is certain on a busy machine; timers never fire early by much.
    QVERIFY2(client->sentAt.elapsed() >= 700,
             qPrintable(QString::number(client->sentAt.elapsed())));
}

void TestSimulatedModule::vanishAndRestore()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("ttySim"));
    sim = std::make_unique<SimulatedModule>();
    QVERIFY(sim->start(link));
    QCOMPARE(sim->portName(), link);
    client = std::make_unique<Client>();
    QVERIFY(client->open(link, 9600));

    QSet<int> errors;
    connect(&client->port, &QSerialPort::errorOccurred, this,
            [&errors](QSerialPort::SerialPortError error) { errors.insert(int(error)); });
    sim->vanish();
    QVERIFY(!QFileInfo::exists(link));
    // As with an unplugged adapter, reads now fail (the hung-up line reads as end of file), and
    // the next write reports the resource gone.
    QTRY_VERIFY_WITH_TIMEOUT(errors.contains(QSerialPort::ReadError), replyTimeoutMs);
    client->port.write(frames::readAddressRequest());
    QTRY_VERIFY_WITH_TIMEOUT(errors.contains(QSerialPort::ResourceError), replyTimeoutMs);
    client->port.close();
    QVERIFY(!client->port.open(QIODevice::ReadWrite));

    QVERIFY(sim->restore());
    QVERIFY(QFileInfo::exists(link));
    client = std::make_unique<Client>();
    QVERIFY2(client->open(link, 9600), qPrintable(client->port.errorString()));
    client->send(frames::readAddressRequest());
    QTRY_COMPARE_WITH_TIMEOUT(int(protocol::recognizeReply(client->received).kind),
                              int(protocol::ReplyKind::Address), replyTimeoutMs);
}

void TestSimulatedModule::noiseFlood()
{
    sim->startNoiseFlood(5000);
    QTRY_VERIFY_WITH_TIMEOUT(client->received.size() > 200, replyTimeoutMs);
    sim->stopNoiseFlood();
    QTest::qWait(300);
    client->clear();
    QTest::qWait(silenceMs);
    QVERIFY(client->received.isEmpty());
}

void TestSimulatedModule::noiseFloodWithNobodyReading()
{
    // With the far side closed the line's buffer fills up; the module must go on regardless.
    client->port.close();
    sim->startNoiseFlood(1000000);
    QElapsedTimer flooding;
    flooding.start();
    QTest::qWait(1000);
    QVERIFY2(flooding.elapsed() < 5000, "the event loop was held up");
    sim->stopNoiseFlood();

    QVERIFY(client->port.open(QIODevice::ReadWrite));
    QTest::qWait(300);
    client->send(frames::readAddressRequest());
    QTRY_VERIFY_WITH_TIMEOUT(client->received.endsWith(hex("01030200017984")), replyTimeoutMs);
}

QTEST_GUILESS_MAIN(TestSimulatedModule)
#include "tst_simulatedmodule.moc"
