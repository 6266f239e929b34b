// quorvel-cli watch --mqtt against a real broker and the simulated bus: Debian's mosquitto on a
// loopback port of the test's own, mosquitto_sub reading what arrives, a watch that is killed,
// a broker that goes away, and a broker behind TLS with a certificate made for the run.
#include "feed/reading.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int timeoutMs = 30000;
const QString first = QStringLiteral("quorvel/tty_1/");
const QString second = QStringLiteral("quorvel/tty_2/");

// Port 0 for a free port to listen on, else whether something listens on `port`.
quint16 loopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t length = sizeof a;
    quint16 result = 0;
    if (port != 0)
        result = ::connect(fd, reinterpret_cast<sockaddr *>(&a), length) == 0;
    else if (::bind(fd, reinterpret_cast<sockaddr *>(&a), length) == 0 &&
             ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) == 0)
        result = ntohs(a.sin_port);
    ::close(fd);
    return result;
}

// Waits on the event loop, so that the processes' output keeps being read.
bool waitFor(const std::function<bool()> &condition)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition() && !deadline.hasExpired())
        QTest::qWait(50);
    return condition();
}

// mosquitto_sub's "-F 'M %t %p'" lines, apart from its -d chatter: each topic's last payload.
QMap<QString, QByteArray> lastOn(const QByteArray &output)
{
    QMap<QString, QByteArray> messages;
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("M ") && line.indexOf(' ', 2) > 0)
            messages.insert(line.mid(2, line.indexOf(' ', 2) - 2),
                            line.mid(line.indexOf(' ', 2) + 1));
    }
    return messages;
}

// The time stamps of JSON lines (watch's output, the state messages): a reading's identity.
QStringList times(const QList<QByteArray> &lines, int address = 0)
{
    QStringList list;
    for (const QByteArray &line : lines) {
        const QJsonObject row = QJsonDocument::fromJson(line).object();
        if (!row.isEmpty() && (address == 0 || row["address"] == address))
            list << row["time_utc"].toString();
    }
    return list;
}

// A CA of the run's own, the broker's certificate for 127.0.0.1 signed by it, and another CA.
bool makeCertificates(const QString &dir)
{
    QFile extensions(dir + "/server.ext");
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=IP:127.0.0.1\n") < 0)
        return false;
    extensions.close();
    const QStringList key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    const QStringList ca{"req", "-x509", "-days", "1"};
    const QList<QStringList> steps{
        ca + key + QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Test CA"},
        ca + key +
            QStringList{"-keyout", "other.key", "-out", "other-ca.pem", "-subj", "/CN=Other"},
        QStringList{"req"} + key +
            QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"},
        {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
         "-CAcreateserial", "-days", "1", "-extfile", "server.ext", "-out", "server.pem"},
    };
    for (const QStringList &step : steps) {
        QProcess openssl;
        openssl.setWorkingDirectory(dir);
        openssl.start("openssl", step);
        if (!openssl.waitForFinished(timeoutMs) || openssl.exitCode() != 0) {
            qWarning() << "openssl" << step << openssl.readAllStandardError();
            return false;
        }
    }
    return true;
}

} // namespace

class TestMqtt : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void statesAvailabilityAndDiscovery();
    void nothingLostAcrossOutage();
    void oldestDroppedBeyondTheBound();
    void tls_data();
    void tls();

private:
    bool startBroker();
    void run(const QStringList &modules, const QStringList &args, const QString &url = {});
    QList<QByteArray> payloads(const QString &topic);

    std::unique_ptr<QTemporaryDir> m_dir;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0; // in the tls rows, the broker's second listener
    QString m_bridge;
    QProcess m_broker, m_sub, m_sim, m_watch;
    QByteArray m_received;
};

void TestMqtt::init()
{
    m_dir = std::make_unique<QTemporaryDir>(); // a broker of its own, saved sessions included
    m_port = loopback(0);
    QFile config(m_dir->filePath(QStringLiteral("mosquitto.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    // Persistence keeps the reader's session, and what waits for it, across a restart; a broker
    // started by root would drop to a user of its own, who cannot write the folder.
    config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nlog_type error\n"
                                "persistence true\npersistence_location %2/\nuser %3\n")
                     .arg(m_port)
                     .arg(m_dir->path(), QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name))
                     .toUtf8());
    QStringList reader{"-h", "127.0.0.1", "-p", QString::number(m_port)};
    m_tlsPort = 0;
    if (QByteArray(QTest::currentTestFunction()) == "tls") {
        QVERIFY(makeCertificates(m_dir->path()));
        while (m_tlsPort == 0 || m_tlsPort == m_port)
            m_tlsPort = loopback(0);
        config.write(QStringLiteral("listener %1 127.0.0.1\ncafile %2/ca.pem\ncertfile "
                                    "%2/server.pem\nkeyfile %2/server.key\n")
                         .arg(m_tlsPort)
                         .arg(m_dir->path())
                         .toUtf8());
        reader = QStringList{"-h",       "127.0.0.1",
                             "-p",       QString::number(m_tlsPort),
                             "--cafile", m_dir->filePath("ca.pem")};
    }
    config.close();
    m_received.clear();
    QVERIFY(startBroker());
    // A session that outlives the connection, so that the reader misses nothing either.
    m_sub.start("stdbuf", QStringList{"-oL", "mosquitto_sub"} + reader +
                              QStringList{"-q", "1", "-c", "-i", "reader", "-d", "-t", "quorvel/#",
                                          "-F", "M %t %p"});
    QVERIFY(waitFor(
        [this] { return (m_received += m_sub.readAllStandardOutput()).contains("Subscribed"); }));
}

void TestMqtt::cleanup()
{
    for (QProcess *p : {&m_watch, &m_sim, &m_sub, &m_broker}) {
        p->kill();
        p->waitForFinished();
    }
}

bool TestMqtt::startBroker()
{
    m_broker.start("mosquitto", {"-c", m_dir->filePath(QStringLiteral("mosquitto.conf"))});
    return waitFor([this] { return loopback(m_port) != 0 && (!m_tlsPort || loopback(m_tlsPort)); });
}

// watch of the simulated modules `modules` feeding `url` (the broker's plain listener when
// empty), with `args` after the command.
void TestMqtt::run(const QStringList &modules, const QStringList &args, const QString &url)
{
    const QString tty = m_dir->filePath(QStringLiteral("tty"));
    QStringList simArgs{"--quiet", "--link", tty};
    for (const QString &module : modules)
        simArgs << "--module" << module;
    m_sim.start(QStringLiteral(QUORVEL_MODSIM_PROGRAM), simArgs);
    QVERIFY(waitFor([&] { return QFileInfo::exists(tty); }));
    m_bridge = "quorvel/bridge/" + feed::identifier(QSysInfo::machineHostName() + "_tty") +
               "/availability";
    m_watch.start(
        QStringLiteral(QUORVEL_CLI_PROGRAM),
        QStringList{"-p", tty, "-b", "9600", "-a", "1-" + QString::number(modules.size()), "--json",
                    "watch", "--mqtt",
                    url.isEmpty() ? QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port) : url} +
            args);
}

QList<QByteArray> TestMqtt::payloads(const QString &topic)
{
    QList<QByteArray> list;
    const QString prefix = "M " + topic + ' ';
    for (const QByteArray &line : (m_received += m_sub.readAllStandardOutput()).split('\n')) {
        if (line.startsWith(prefix.toUtf8()))
            list << line.mid(prefix.size());
    }
    return list;
}

void TestMqtt::statesAvailabilityAndDiscovery()
{
    // Module 1 frozen with a dew point above its temperature; module 2 falls silent, goes offline.
    // Killed, watch leaves its last will.
    run({"address=1,temperature=215,humidity=500,dew-point=230",
         "address=2,quiet-after=300,quiet-for=600000"},
        {"--period", "0.2", "--ha-discovery", "--limit", "flat-duration=0.5"});
    QVERIFY(waitFor([this] { return payloads(second + "availability").value(1) == "offline"; }));
    QCOMPARE(payloads(m_bridge), QList<QByteArray>{"online"});
    m_watch.kill();
    QVERIFY(waitFor([this] { return payloads(m_bridge).value(1) == "offline"; }));
    const QJsonObject state = QJsonDocument::fromJson(payloads(first + "state").last()).object();
    QCOMPARE(state["temperature_C"].toDouble(), 21.5);
    QCOMPARE(state["flags"].toArray(), (QJsonArray{"dew_point", "flat"}));
    QVERIFY(state["status"] == "ok" && state["wet_bulb_C"].isNull());
    QCOMPARE(QJsonDocument::fromJson(payloads(second + "state").last())["status"].toString(),
             QStringLiteral("offline"));

    // What a client that comes later finds: availability and discovery, no stale reading.
    QProcess later;
    later.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(m_port), "-t", "#",
                                  "--retained-only", "-W", "3", "-F", "M %t %p"});
    QVERIFY(later.waitForFinished(timeoutMs));
    QMap<QString, QByteArray> retained = lastOn(later.readAllStandardOutput());
    QCOMPARE(retained.take(first + "availability"), QByteArray("online"));
    QCOMPARE(retained.take(second + "availability"), QByteArray("offline"));
    QCOMPARE(retained.take(m_bridge), QByteArray("offline"));
    QCOMPARE(retained.size(), 8); // four quantities of two modules
    for (auto it = retained.cbegin(); it != retained.cend(); ++it) {
        const QJsonObject config = QJsonDocument::fromJson(it.value()).object();
        QCOMPARE(it.key(), "homeassistant/sensor/" + config["unique_id"].toString() + "/config");
        for (const char *key : {"name", "device_class", "unit_of_measurement", "state_class"})
            QVERIFY2(!config[key].toString().isEmpty(), key);
        // The template names a field of the state message, which comes from the module's topic.
        const QString field =
            config["value_template"].toString().section('.', 1).section(' ', 0, 0);
        QVERIFY2(state.contains(field), qPrintable(field));
        const QString module = config["state_topic"].toString().chopped(5);
        QCOMPARE(config["availability"].toArray(),
                 (QJsonArray{QJsonObject{{"topic", module + "availability"}},
                             QJsonObject{{"topic", m_bridge}}}));
        const QJsonObject device = config["device"].toObject();
        QVERIFY(!device["identifiers"].toArray().isEmpty() && !device["name"].toString().isEmpty());
    }
}

void TestMqtt::nothingLostAcrossOutage()
{
    run({"address=1", "address=2"}, {"-n", "100", "--period", "0.2"});
    QVERIFY(waitFor([this] { return payloads(first + "state").size() >= 10; }));
    m_broker.terminate();
    QVERIFY(m_broker.waitForFinished(timeoutMs));
    QTest::qWait(10000);
    QVERIFY(startBroker());
    QVERIFY(m_watch.waitForFinished(2 * timeoutMs));
    QVERIFY(waitFor([this] { return payloads(m_bridge).last() == "offline"; })); // said, no will

    // Every reading watch printed arrives, in order; QoS 1 is at least once, so a reading whose
    // acknowledgement the outage took may come twice.
    const QList<QByteArray> printed = m_watch.readAllStandardOutput().split('\n');
    QCOMPARE(times(printed, 1).size(), 100);
    for (const QString &module : {first, second}) {
        const QStringList expected = times(printed, module == first ? 1 : 2);
        QVERIFY(
            waitFor([&] { return times(payloads(module + "state")).last() == expected.last(); }));
        QStringList arrived = times(payloads(module + "state"));
        arrived.erase(std::unique(arrived.begin(), arrived.end()), arrived.end());
        QCOMPARE(arrived, expected);
    }
}

void TestMqtt::oldestDroppedBeyondTheBound()
{
    m_broker.terminate();
    QVERIFY(m_broker.waitForFinished(timeoutMs));
    // Alone on the line, the module is named by its serial number.
    const QString alone = QStringLiteral("quorvel/00000000002a/state");
    run({"address=1,serial=000000000042"}, {"-n", "25", "--period", "0.2", "--mqtt-queue", "10"});
    QByteArray err;
    QVERIFY(waitFor([&] { return (err += m_watch.readAllStandardError()).contains("oldest"); }));
    QVERIFY(startBroker());
    QVERIFY(m_watch.waitForFinished(timeoutMs));
    // However many went before the broker was back: the oldest, and said.
    const QRegularExpressionMatch dropped =
        QRegularExpression("(\\d+) readings dropped").match(err += m_watch.readAllStandardError());
    QVERIFY2(dropped.hasMatch(), err);
    const QStringList kept =
        times(m_watch.readAllStandardOutput().split('\n')).mid(dropped.captured(1).toInt());
    QVERIFY(waitFor([&] { return payloads(alone).size() >= kept.size(); }));
    QCOMPARE(times(payloads(alone)), kept);
}

void TestMqtt::tls_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("the CA that signed the broker's certificate") << "ca.pem" << true;
    // Polling goes on, the reason is said once and the connection tried again; what never
    // reached the broker makes the exit status a failure.
    QTest::newRow("another CA: refused") << "other-ca.pem" << false;
}

void TestMqtt::tls()
{
    QFETCH(QString, caFile);
    QFETCH(bool, trusted);
    run({"address=1", "address=2"},
        {"-n", "5", "--period", "0.2", "--ca-file", m_dir->filePath(caFile)},
        QStringLiteral("mqtts://127.0.0.1:%1").arg(m_tlsPort));
    QVERIFY(m_watch.waitForFinished(timeoutMs));
    const QByteArray err = m_watch.readAllStandardError();
    const QStringList printed = times(m_watch.readAllStandardOutput().split('\n'), 1);
    QCOMPARE(printed.size(), 5);
    QCOMPARE(m_watch.exitCode(), trusted ? 0 : 1);
    if (trusted) {
        QVERIFY(waitFor([&] { return times(payloads(first + "state")) == printed; }));
        return;
    }
    QCOMPARE(err.count("not trusted (certificate verify failed): is --ca-file the CA"), 1);
    QVERIFY2(err.contains("10 readings not delivered"), err);
    // Refused at the start and again on the retry a second later, within the patience watch
    // gives the broker at its end.
    QByteArray log;
    QVERIFY2(
        waitFor([&] { return (log += m_broker.readAllStandardError()).count("unknown ca") >= 2; }),
        log);
    QVERIFY(payloads(first + "state").isEmpty());
}

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
