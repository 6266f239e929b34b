// quorvel-cli run as a script runs it, against the simulated module on a pseudo-terminal.
#include "processrun.h"
#include "simulatedmodule.h"

#include "protocol/frames.h"
#include "protocol/portname.h"
#include "protocol/receivebuffer.h"
#include "samples/csv.h"

#include <QDateTime>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using testsupport::ProcessRun;

namespace {

// Bounds for a loaded machine; none of them is a speed target.
constexpr int replyTimeoutMs = 5000;
constexpr int lineSettleMs = 300;
// Waits long enough that the in-process module's event loop may lag without a reply being late.
const QString patientMargin = QStringLiteral("500");

// Where quorvel-cli's standard output goes.
enum class Sink {
    Pipe,   // read by the test
    Full,   // /dev/full: every write fails with "no space left"
    Closed, // a pipe whose reader takes one byte and goes, as "| head -c1" does
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void probe_data();
    void probe();
    void provisionThenReadBackAsTheWindow();
    void scan_data();
    void scan();
    void reports_data();
    void reports();
    void unwritableOutputFails_data();
    void unwritableOutputFails();
    void usageErrorSendsNothing_data();
    void usageErrorSendsNothing();
    void portVanishingEndsWithThree_data();
    void portVanishingEndsWithThree();
    void csvIsTheMonitorsFormat_data();
    void csvIsTheMonitorsFormat();

private:
    ProcessRun cli(QStringList args, const std::function<void(const QByteArray &)> &onOutput = {},
                   Sink sink = Sink::Pipe);
    protocol::Reply ask(QSerialPort &port, const QByteArray &request);

    QTemporaryDir m_dir;
    std::unique_ptr<modsim::SimulatedModule> m_sim;
    int m_ignored = 0; // requests heard at a speed the module is not at
};

void TestCli::init()
{
    QVERIFY(m_dir.isValid());
    m_sim = std::make_unique<modsim::SimulatedModule>();
    m_sim->faults().realisticTiming = true;
    m_sim->module().setTemperature(-55);
    m_sim->module().setFrozen(true);
    m_ignored = 0;
    connect(m_sim.get(), &modsim::SimulatedModule::bytesIgnored, this, [this] { ++m_ignored; });
    // Rows named "tcp: ..." reach the module as a serial device server passes it on.
    const bool tcp = QByteArray(QTest::currentDataTag()).startsWith("tcp: ");
    QVERIFY2(tcp ? m_sim->startTcp(QHostAddress::LocalHost, 0)
                 : m_sim->start(m_dir.filePath(QStringLiteral("tty"))),
             qPrintable(m_sim->errorString()));
}

void TestCli::cleanup()
{
    m_sim.reset();
}

ProcessRun TestCli::cli(QStringList args, const std::function<void(const QByteArray &)> &onOutput,
                        Sink sink)
{
    if (!args.contains(QLatin1String("--margin")))
        args.prepend(QStringLiteral("--margin=") + patientMargin);
    QProcess process;
    QProcess reader;
    if (sink == Sink::Full)
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
    if (sink == Sink::Closed) {
        process.setStandardOutputProcess(&reader);
        reader.start(QStringLiteral("head"), {QStringLiteral("-c1")});
    }
    return testsupport::runToEnd(process, QStringLiteral(QUORVEL_CLI_PROGRAM),
                                 QStringList{QStringLiteral("-p"), m_sim->portName()} + args,
                                 onOutput);
}

protocol::Reply TestCli::ask(QSerialPort &port, const QByteArray &request)
{
    QByteArray buffer;
    protocol::Reply reply;
    port.write(request);
    const bool recognised = QTest::qWaitFor(
        [&] {
            reply = protocol::receiveChunk(buffer, port.readAll());
            return reply.kind != protocol::ReplyKind::Wait;
        },
        replyTimeoutMs);
    return recognised ? reply : protocol::Reply();
}

void TestCli::probe_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("address");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("1200 bit/s, the last speed tried") << 1200 << 7 << QStringList{"probe"};
    QTest::newRow("115200 bit/s, the first") << 115200 << 200 << QStringList{"probe"};
    QTest::newRow("named address, on a bus it alone answers")
        << 4800 << 33 << QStringList{"-a", "33", "probe"};
    // The converter's serial side matches the module; no speed is tried or reported.
    QTest::newRow("tcp: no speeds tried") << 0 << 12 << QStringList{"probe"};
}

void TestCli::probe()
{
    QFETCH(int, speed);
    QFETCH(int, address);
    QFETCH(QStringList, args);
    if (speed)
        m_sim->module().setLineSpeed(speed);
    m_sim->module().setAddress(quint8(address));
    const ProcessRun run = cli(args);
    QCOMPARE(run.exit, 0);
    QCOMPARE(run.out, (speed ? QStringLiteral("speed %1 address %2\n").arg(speed)
                             : QStringLiteral("address %2\n"))
                          .arg(address)
                          .toUtf8());
}

void TestCli::provisionThenReadBackAsTheWindow()
{
    const QString start = QDateTime::currentDateTime().addDays(1).toString(
        QString::fromLatin1(frames::startTimeFormat));
    const QStringList args{"--json",   "provision",    "--address",  "17",    "--baud", "19200",
                           "--serial", "240517103001", "--type",     "sht2x", "--mode", "timing",
                           "--start",  start,          "--interval", "2min"};
    // Again on the provisioned module: found at its new speed, the same outcome.
    for (int round = 0; round < 2; ++round) {
        const ProcessRun run = cli(args);
        QVERIFY2(run.exit == 0, run.err.constData());
        const QJsonObject report = QJsonDocument::fromJson(run.out).object();
        for (const char *key : {"set_serial", "record", "set_address", "set_baud", "status"})
            QCOMPARE(report.value(QLatin1String(key)).toString(), QStringLiteral("ok"));
        QCOMPARE(report.value(QLatin1String("start")).toString(), start);
        QCOMPARE(report.value(QLatin1String("start_verified")), QJsonValue(false));
        QCOMPARE(report.value(QLatin1String("speed")).toInt(), 19200);
        QCOMPARE(report.value(QLatin1String("address")).toInt(), 17);
        if (round > 0)
            continue;
        // The writes as the module heard them: serial number and recording first, speed last.
        QByteArrayList heads;
        for (const QByteArray &request : m_sim->requests())
            heads.append(request.left(4).toHex());
        QList<int> order;
        for (const char *write : {"7b22aa07", "7b224a1d", "00060100", "00060101"})
            order.append(int(heads.indexOf(write)));
        QVERIFY2(!order.contains(-1) && std::is_sorted(order.begin(), order.end()),
                 heads.join(' ').constData());
    }

    // The window's own requests, from a port of this process.
    QSerialPort port(m_sim->portName());
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.setBaudRate(19200);
    QCOMPARE(ask(port, frames::readAddressRequest()).address, quint8(17));
    const protocol::Reply info = ask(port, frames::readDeviceInfoRequest());
    QCOMPARE(info.loggerModel, 8132);
    QCOMPARE(info.serialNumber, QStringLiteral("1805110a1e01")); // decimal pairs, shown as hex
    const protocol::Reply record = ask(port, frames::readRecordConfigRequest());
    QCOMPARE(int(record.recordMode), 2);
    QCOMPARE(record.sampleInterval, 120);
}

void TestCli::scan_data()
{
    // A bus of modules by address, each answering this late (-1: not at all); the scan covers
    // 1-12 and waits the test's patient margin of 500 ms an address.
    QTest::addColumn<QList<int>>("addresses");
    QTest::addColumn<QList<int>>("lateMs");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QByteArray>("probed"); // probe through address 0, with no -a
    QTest::newRow("three modules, one silent, one late")
        << QList<int>{1, 2, 5} << QList<int>{0, 2500, -1} << QStringList{"1 ok", "2 late"} << 0
        << QByteArray("speed 9600 address 1\n");
    QTest::newRow("two modules on one address collide, one at the range's end")
        << QList<int>{3, 3, 4, 12} << QList<int>{0, 0, 0, 0}
        << QStringList{"12 ok", "3 damaged reply", "4 ok"} << 1 << QByteArray();
    // Beyond its wait and with no address after it to wait on, the reply comes too late.
    QTest::newRow("late within the wait is found, beyond it at the end is not")
        << QList<int>{3, 12} << QList<int>{200, 2500} << QStringList{"3 ok"} << 0
        << QByteArray("speed 9600 address 3\n");
}

void TestCli::scan()
{
    QFETCH(QList<int>, addresses);
    QFETCH(QList<int>, lateMs);
    QFETCH(QStringList, found);
    QFETCH(int, exit);
    QFETCH(QByteArray, probed);
    for (int i = 0; i < addresses.size(); ++i) {
        modsim::Station &station =
            i == 0 ? m_sim->station(0) : m_sim->addModule(modsim::Module(quint32(i)));
        station.module.setAddress(quint8(addresses.at(i)));
        station.module.setTemperature(qint16(200 + 10 * i)); // same-address replies differ
        station.silent = lateMs.at(i) < 0;
        station.lateMs = qMax(0, lateMs.at(i));
    }
    const ProcessRun run = cli({"-b", "9600", "--json", "scan", "--addresses", "1-12"});
    QCOMPARE(run.exit, exit);
    QStringList reported;
    for (const QByteArray &line : run.out.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty())
            reported.append(QStringLiteral("%1 %2")
                                .arg(object.value(QLatin1String("address")).toInt())
                                .arg(object.value(QLatin1String("status")).toString()));
    }
    reported.sort();
    QCOMPARE(reported, found);

    const ProcessRun probe = cli({"probe"});
    QCOMPARE(probe.exit, probed.isEmpty() ? 1 : 0);
    QCOMPARE(probe.out, probed);
    if (probed.isEmpty())
        QVERIFY2(probe.err.contains("several modules"), probe.err.constData());
}

void TestCli::reports_data()
{
    // A line of modules at 9600 bit/s (the first is SHT3X 240517103001 at -5.5 °C, 55 %RH),
    // perhaps forgetting every write it acknowledges; the command; what it ends with: its exit
    // status, its last line (JSON: each key, "*" for a value that varies) and part of its
    // message.
    QTest::addColumn<QList<int>>("addresses");
    QTest::addColumn<bool>("forgetful");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QByteArray>("last");
    QTest::addColumn<QByteArray>("message");
    const QString start = QDateTime::currentDateTime().addDays(1).toString(
        QString::fromLatin1(frames::startTimeFormat));
    const QList<int> alone{1};
    const QList<int> bus{17, 3};

    QTest::newRow("info") << alone << false << QStringList{"-b", "9600", "--json", "info"} << 0
                          << QByteArray(R"({"port":"*","speed":9600,"address":1,"type":"SHT3X",)"
                                        R"("serial":"240517103001","status":"ok"})")
                          << QByteArray();
    QTest::newRow("tcp: info, the speed the converter's")
        << alone << false << QStringList{"--json", "info"} << 0
        << QByteArray(R"({"port":"*","address":1,"type":"SHT3X","serial":"240517103001",)"
                      R"("status":"ok"})")
        << QByteArray();
    QTest::newRow("info asked of an address the module has not")
        << alone << false << QStringList{"-b", "9600", "-a", "5", "--json", "info"} << 1
        << QByteArray(R"({"port":"*","speed":9600,"address":1,"status":"other module"})")
        << QByteArray("has address 1, not 5 (-a): nothing was read");
    QTest::newRow("info on a bus, whose logger replies merge")
        << bus << false << QStringList{"-b", "9600", "-a", "17", "--json", "info"} << 1
        << QByteArray(R"({"port":"*","speed":9600,"address":null,"status":"several modules"})")
        << QByteArray("reads in logger frames");
    QTest::newRow("recording read on a bus")
        << bus << false << QStringList{"-b", "9600", "-a", "17", "record"} << 1 << QByteArray()
        << QByteArray("several modules");
    QTest::newRow("recording read")
        << alone << false << QStringList{"-b", "9600", "-a", "1", "--json", "record"} << 0
        << QByteArray(R"({"port":"*","speed":9600,"address":1,"mode":"after-setup",)"
                      R"("interval":"1min","interval_s":60,"status":"ok"})")
        << QByteArray();
    QTest::newRow("recording write: the start time cannot be read back")
        << alone << false << QStringList{"-b",     "9600",    "--json", "record",     "--mode",
                                         "timing", "--start", start,    "--interval", "2min"}
        << 0
        << QStringLiteral(R"({"port":"*","speed":9600,"address":1,"mode":"timing",)"
                          R"("interval":"2min","interval_s":120,"start":"%1",)"
                          R"("start_verified":false,"status":"ok"})")
               .arg(start)
               .toUtf8()
        << QByteArray();
    QTest::newRow("recording write, as text")
        << alone << false
        << QStringList{"-b", "9600", "record", "--mode", "monitor", "--start", start} << 0
        << QStringLiteral("speed 9600 address 1: mode monitor interval 1min read back and "
                          "verified; start %1 sent but cannot be read back")
               .arg(start)
               .toUtf8()
        << QByteArray();
    QTest::newRow("reading") << alone << false
                             << QStringList{"-b", "9600", "-a", "1", "--json", "read"} << 0
                             << QByteArray(
                                    R"({"port":"*","speed":9600,"address":1,"time_utc":"*",)"
                                    R"("temperature_C":-5.5,"humidity_pct":55,"dew_point_C":"*",)"
                                    R"("wet_bulb_C":null,"status":"ok"})")
                             << QByteArray();
    QTest::newRow("tcp: reading from an address nobody has")
        << alone << false << QStringList{"-a", "5", "read"} << 1 << QByteArray()
        << QByteArray("no module answered at address 5 through 127.0.0.1:");
    QTest::newRow("reading from an address nobody has")
        << alone << false << QStringList{"-b", "9600", "-a", "5", "--json", "read"} << 1
        << QByteArray(R"({"port":"*","speed":9600,"address":null,"time_utc":"*",)"
                      R"("temperature_C":null,"humidity_pct":null,"dew_point_C":null,)"
                      R"("wet_bulb_C":null,"status":"no reply"})")
        << QByteArray("no reply to the measurement request");
    QTest::newRow("serial number")
        << alone << false
        << QStringList{"-b", "9600", "--json", "set-serial", "240517103001", "--type", "sht2x"} << 0
        << QByteArray(R"({"port":"*","speed":9600,"address":1,"type":"SHT2X",)"
                      R"("serial":"1805110a1e01","serial_written":"240517103001","status":"ok"})")
        << QByteArray();

    QTest::newRow("tcp: new address")
        << alone << false << QStringList{"--json", "set-address", "9"} << 0
        << QByteArray(R"({"port":"*","address":9,"status":"ok"})") << QByteArray();

    // Acknowledged and forgotten: each read-back differs in one thing only.
    QTest::newRow("address forgotten")
        << alone << true << QStringList{"-b", "9600", "--json", "set-address", "9"} << 1
        << QByteArray(R"({"port":"*","speed":9600,"address":1,"status":"read back 1"})")
        << QByteArray("reads back address 1, not 9");
    QTest::newRow("line speed forgotten")
        << alone << true << QStringList{"-b", "9600", "--json", "set-baud", "19200"} << 1
        << QByteArray(R"({"port":"*","speed":9600,"address":1,"status":"still at 9600"})")
        << QByteArray("still answers at 9600 bit/s, not at 19200");
    QTest::newRow("serial number forgotten, type the same")
        << alone << true << QStringList{"-b", "9600", "set-serial", "111111111111"} << 1
        << QByteArray() << QByteArray("not SHT3X serial 0b0b0b0b0b0b");
    // 360523164801 is stored as the bytes the module already reports: 240517103001.
    QTest::newRow("type forgotten, serial number the same")
        << alone << true
        << QStringList{"-b", "9600", "set-serial", "360523164801", "--type", "sht2x"} << 1
        << QByteArray() << QByteArray("not SHT2X serial 240517103001");
    QTest::newRow("interval forgotten, mode the same")
        << alone << true << QStringList{"-b", "9600", "--json", "record", "--interval", "5s"} << 1
        << QByteArray(
               R"({"port":"*","speed":9600,"address":1,"status":"read back after-setup 1min"})")
        << QByteArray("not after-setup 5s");
    QTest::newRow("mode forgotten, interval the same")
        << alone << true
        << QStringList{"-b", "9600", "record", "--mode", "monitor", "--interval", "1min"} << 1
        << QByteArray() << QByteArray("not monitor 1min");
    QTest::newRow("provision stops at the first step read back wrong")
        << alone << true
        << QStringList{"-b",   "9600",     "provision",    "--address",  "1", "--baud",
                       "9600", "--serial", "360523164801", "--interval", "5s"}
        << 1
        << QByteArray("speed 9600 address 1 type SHT3X serial 240517103001: set-serial ok, record "
                      "read back after-setup 1min, set-address not done, set-baud not done")
        << QByteArray("not after-setup 5s");
}

void TestCli::reports()
{
    QFETCH(QList<int>, addresses);
    QFETCH(bool, forgetful);
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    QFETCH(QByteArray, last);
    QFETCH(QByteArray, message);
    m_sim->module().setAddress(quint8(addresses.first()));
    for (int i = 1; i < addresses.size(); ++i)
        m_sim->addModule(modsim::Module(quint32(i))).module.setAddress(quint8(addresses.at(i)));
    m_sim->faults().forgetWrites = forgetful;

    const ProcessRun run = cli(args);
    QVERIFY2(run.exit == exit, run.err.constData());
    if (!message.isEmpty())
        QVERIFY2(run.err.contains(message), run.err.constData());
    QByteArray got = run.out.trimmed();
    got = got.mid(got.lastIndexOf('\n') + 1);
    if (last.startsWith('{')) {
        const QJsonObject expected = QJsonDocument::fromJson(last).object();
        QVERIFY2(!expected.isEmpty(), last.constData());
        QJsonObject object = QJsonDocument::fromJson(got).object();
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            if (it.value() == QJsonValue(QStringLiteral("*")) && object.contains(it.key()))
                object.insert(it.key(), it.value());
        }
        got = QJsonDocument(object).toJson(QJsonDocument::Compact);
        last = QJsonDocument(expected).toJson(QJsonDocument::Compact);
    }
    QCOMPARE(got, last);
}

void TestCli::unwritableOutputFails_data()
{
    QTest::addColumn<int>("sink");
    QTest::newRow("full disk") << int(Sink::Full);
    QTest::newRow("closed pipe") << int(Sink::Closed);
}

void TestCli::unwritableOutputFails()
{
    QFETCH(int, sink);
    const ProcessRun run =
        cli({"-b", "9600", "-a", "1", "read", "-n", "3", "-i", "0.5", "--csv"}, {}, Sink(sink));
    QCOMPARE(run.exit, 4);
    QVERIFY2(run.err.contains("cannot write the results to standard output"), run.err.constData());
}

void TestCli::usageErrorSendsNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("address 248") << QStringList{"-a", "248", "read"};
    QTest::newRow("speed 9601") << QStringList{"-b", "9601", "probe"};
    QTest::newRow("count not a number") << QStringList{"read", "-n", "x"};
    QTest::newRow("interval below 0.1 s") << QStringList{"read", "-i", "0.05"};
    QTest::newRow("new address 0") << QStringList{"set-address", "0"};
    QTest::newRow("timing without a start") << QStringList{"record", "--mode", "timing"};
    QTest::newRow("start in the past")
        << QStringList{"record", "--mode", "timing", "--start", "2001-01-01 00:00:00"};
    QTest::newRow("serial of five digits") << QStringList{"set-serial", "12345"};
    QTest::newRow("scan past 247") << QStringList{"scan", "--addresses", "1-300"};
    QTest::newRow("scan range backwards") << QStringList{"scan", "--addresses", "9-3"};
    QTest::newRow("watch without a speed") << QStringList{"-a", "1,3", "watch"};
    QTest::newRow("watch range backwards") << QStringList{"-b", "9600", "-a", "5-3", "watch"};
    QTest::newRow("provision without a speed")
        << QStringList{"provision", "--address", "17", "--serial", "auto"};
    QTest::newRow("unknown command") << QStringList{"frobnicate"};
    QTest::newRow("unknown option") << QStringList{"--bogus", "probe"};
    const QStringList watch{"-b", "9600", "-a", "1", "watch"};
    QTest::newRow("unknown limit") << watch + QStringList{"--limit", "humidity=5"};
    QTest::newRow("limit with a comma") << watch + QStringList{"--limit", "step-humidity=2,5"};
    QTest::newRow("influx and csv") << watch + QStringList{"--csv", "--format", "influx"};
    QTest::newRow("password in the URL") << watch + QStringList{"--mqtt", "mqtt://u:p@h"};
    QTest::newRow("CA file without TLS")
        << watch + QStringList{"--mqtt", "mqtt://h", "--ca-file", "/etc/hostname"};
    QTest::newRow("discovery without MQTT") << watch + QStringList{"--ha-discovery"};
}

void TestCli::usageErrorSendsNothing()
{
    QFETCH(QStringList, args);
    const ProcessRun run = cli(args);
    QCOMPARE(run.exit, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith("quorvel-cli: ") && run.err.contains("--help"),
             run.err.constData());
    QTest::qWait(lineSettleMs);
    QVERIFY(m_sim->requests().isEmpty());
    QCOMPARE(m_ignored, 0);
}

void TestCli::portVanishingEndsWithThree_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("when"); // gone "before" the command starts, or "after" its first
                                       // row; or "occupied" by another client all along
    QTest::addColumn<QByteArray>("message");
    const QStringList read{"read", "-n", "0", "-i", "0.2"};
    QTest::newRow("mid read") << read << "after" << QByteArray("lost the port");
    QTest::newRow("tcp: dropped mid read")
        << read << "after" << QByteArray("lost the connection: 127.0.0.1:");
    QTest::newRow("tcp: dropped mid watch") << QStringList{"watch", "--period", "0.2"} << "after"
                                            << QByteArray("lost the connection: 127.0.0.1:");
    QTest::newRow("tcp: refused") << read << "before" << QByteArray("refused the connection");
    QTest::newRow("tcp: another client connected")
        << read << "occupied" << QByteArray("closes each connection at once");
}

void TestCli::portVanishingEndsWithThree()
{
    QFETCH(QStringList, command);
    QFETCH(QString, when);
    QFETCH(QByteArray, message);
    QTcpSocket otherClient;
    if (when == QLatin1String("occupied")) {
        const protocol::PortName converter = protocol::parsePortName(m_sim->portName());
        otherClient.connectToHost(converter.host, converter.port);
        QVERIFY(otherClient.waitForConnected(5000));
    }
    if (when == QLatin1String("before"))
        m_sim->vanish();
    bool vanished = when != QLatin1String("after");
    const ProcessRun run =
        cli(QStringList{"-b", "9600", "-a", "1"} + command, [&](const QByteArray &out) {
            if (!vanished && out.contains('\n')) {
                vanished = true;
                m_sim->vanish();
            }
        });
    QVERIFY(vanished);
    QCOMPARE(run.exit, 3);
    QVERIFY2(run.err.contains(message), run.err.constData());
}

void TestCli::csvIsTheMonitorsFormat_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QByteArray>("row"); // status;temperature_C as Python's csv module reads it
    QTest::newRow("readings") << false << 0 << QByteArray("ok;-5.5\n");
    QTest::newRow("gap rows") << true << 1 << QByteArray("no reply;\n");
}

void TestCli::csvIsTheMonitorsFormat()
{
    QFETCH(bool, silent);
    QFETCH(int, exit);
    QFETCH(QByteArray, row);
    m_sim->faults().silent = silent;
    const ProcessRun run = cli({"-b", "9600", "-a", "1", "read", "-n", "3", "-i", "0.2", "--csv"});
    QCOMPARE(run.exit, exit);

    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv, sys\n"
                                 "rows = csv.DictReader(sys.stdin)\n"
                                 "print(','.join(rows.fieldnames))\n"
                                 "for r in rows: print(r['status'] + ';' + r['temperature_C'])")});
    python.write(run.out);
    python.closeWriteChannel();
    QVERIFY(python.waitForFinished(replyTimeoutMs));
    QCOMPARE(python.readAllStandardOutput(), samples::csv::header() + row.repeated(3));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
