// Quorvel's own measurement request and reply decoding against an independent Modbus-RTU
// server, pymodbus, across a socat pseudo-terminal pair.
#include "peer.h"

#include "protocol/frames.h"
#include "protocol/replydecoder.h"

#include <QSerialPort>
#include <QtTest>

namespace {

constexpr int replyTimeoutMs = 5000;

} // namespace

class TestCrosscheckPymodbus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void measurement_data();
    void measurement();

private:
    PymodbusPeers m_peers;
};

void TestCrosscheckPymodbus::initTestCase()
{
    const QString missing = m_peers.find(QStringLiteral(PYMODBUS_SERVER_SCRIPT));
    if (!missing.isEmpty())
        QFAIL(qPrintable(missing));
}

void TestCrosscheckPymodbus::measurement_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("temperature");
    QTest::addColumn<int>("humidity");
    QTest::addColumn<int>("dewPoint");

    QTest::newRow("room air, address 1") << 1 << 235 << 655 << 167;
    QTest::newRow("signed values, address 247") << 247 << -123 << 980 << -200;
}

void TestCrosscheckPymodbus::measurement()
{
    QFETCH(int, address);
    QFETCH(int, temperature);
    QFETCH(int, humidity);
    QFETCH(int, dewPoint);

    PymodbusLine line(m_peers);
    QVERIFY2(line.start(address, {temperature, humidity, dewPoint}), qPrintable(line.failure()));

    QSerialPort port;
    port.setPortName(line.toolSide());
    port.setBaudRate(9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    QByteArray received;
    connect(&port, &QSerialPort::readyRead, this, [&] { received += port.readAll(); });

    port.write(frames::measurementRequest(quint8(address)));
    QTRY_COMPARE_WITH_TIMEOUT(int(protocol::recognizeReply(received).kind),
                              int(protocol::ReplyKind::Measurement), replyTimeoutMs);
    const protocol::Reply reply = protocol::recognizeReply(received);
    QCOMPARE(int(quint8(received.at(0))), address);
    QCOMPARE(int(reply.temperature), temperature);
    QCOMPARE(int(reply.humidity), humidity);
    QCOMPARE(int(reply.dewTemp), dewPoint);

    // A request for another address draws nothing from the server.
    received.clear();
    port.write(frames::measurementRequest(quint8(address == 1 ? 2 : 1)));
    QTest::qWait(1000);
    QVERIFY2(received.isEmpty(), received.toHex().constData());
}

QTEST_GUILESS_MAIN(TestCrosscheckPymodbus)
#include "tst_crosscheck_pymodbus.moc"
