// The MQTT feed against a real broker: Debian's mosquitto on a loopback port of the test's own,
// mosquitto_sub reading what arrives, a publisher that is killed and a broker that goes away.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
const QString first = QStringLiteral("quorvel/00a1b2c3/");
const QString second = QStringLiteral("quorvel/ttyUSB0_2/");
const QString bridge = QStringLiteral("quorvel/bridge/driver/availability");

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

// mosquitto_sub's "-F 'M %t %p'" lines, apart from its -d chatter, as (topic, payload).
QList<QPair<QString, QByteArray>> messagesIn(const QByteArray &output)
{
    QList<QPair<QString, QByteArray>> messages;
    for (const QByteArray &line : output.split('\n')) {
        const int space = line.indexOf(' ', 2);
        if (line.startsWith("M ") && space > 0)
            messages.append({QString::fromUtf8(line.mid(2, space - 2)), line.mid(space + 1)});
    }
    return messages;
}

} // namespace

class TestMqtt : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void statesAvailabilityAndDiscovery();
    void lastWillWhenKilled();
    void nothingLostAcrossOutage();
    void oldestDroppedBeyondTheBound();

private:
    bool startBroker();
    bool stopBroker();
    void run(const QStringList &args);
    QList<QByteArray> payloads(const QString &topic);
    QList<double> temperatures(const QString &topic);

    std::unique_ptr<QTemporaryDir> m_dir;
    quint16 m_port = 0;
    QProcess m_broker, m_sub, m_driver;
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
    config.close();
    m_received.clear();
    QVERIFY(startBroker());
    // A session that outlives the connection, so that the reader misses nothing either.
    m_sub.start("stdbuf",
                {"-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p", QString::number(m_port), "-q",
                 "1", "-c", "-i", "reader", "-d", "-t", "quorvel/#", "-F", "M %t %p"});
    QVERIFY(waitFor(
        [this] { return (m_received += m_sub.readAllStandardOutput()).contains("Subscribed"); }));
}

void TestMqtt::cleanup()
{
    for (QProcess *p : {&m_driver, &m_sub, &m_broker}) {
        p->kill();
        p->waitForFinished();
    }
}

bool TestMqtt::startBroker()
{
    m_broker.start("mosquitto", {"-c", m_dir->filePath(QStringLiteral("mosquitto.conf"))});
    return waitFor([this] { return loopback(m_port) != 0; });
}

bool TestMqtt::stopBroker()
{
    m_broker.terminate();
    return m_broker.waitForFinished(timeoutMs);
}

void TestMqtt::run(const QStringList &args)
{
    m_driver.start(QStringLiteral(QUORVEL_MQTT_DRIVER),
                   QStringList{QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port)} + args);
}

QList<QByteArray> TestMqtt::payloads(const QString &topic)
{
    m_received += m_sub.readAllStandardOutput();
    QList<QByteArray> list;
    for (const auto &[t, payload] : messagesIn(m_received)) {
        if (t == topic)
            list << payload;
    }
    return list;
}

QList<double> TestMqtt::temperatures(const QString &topic)
{
    QList<double> values;
    for (const QByteArray &payload : payloads(topic))
        values << QJsonDocument::fromJson(payload)["temperature_C"].toDouble();
    return values;
}

void TestMqtt::statesAvailabilityAndDiscovery()
{
    run({"2", "3", "50"});
    QVERIFY(m_driver.waitForFinished(timeoutMs) && m_driver.exitCode() == 0);
    QVERIFY(waitFor([this] { return payloads(bridge).value(1) == "offline"; }));
    QCOMPARE(temperatures(first + "state"), (QList<double>{0, 0.1, 0.2}));
    const QJsonObject state = QJsonDocument::fromJson(payloads(first + "state").last()).object();
    QCOMPARE(state["serial"].toString() + state["status"].toString(), QStringLiteral("00a1b2c3ok"));
    QVERIFY(state["flags"].toArray().isEmpty() && state["wet_bulb_C"].isNull());
    QCOMPARE(QJsonDocument::fromJson(payloads(second + "state").last())["status"].toString(),
             QStringLiteral("offline"));

    // What a client that comes later finds: availability and discovery, no stale reading.
    QProcess later;
    later.start("mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(m_port), "-t", "#",
                                  "--retained-only", "-W", "3", "-F", "M %t %p"});
    QVERIFY(later.waitForFinished(timeoutMs));
    QMap<QString, QByteArray> retained;
    for (const auto &[topic, payload] : messagesIn(later.readAllStandardOutput()))
        retained.insert(topic, payload);
    QCOMPARE(retained.take(first + "availability"), QByteArray("online"));
    QCOMPARE(retained.take(second + "availability"), QByteArray("offline"));
    QCOMPARE(retained.take(bridge), QByteArray("offline"));
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
        QVERIFY(module == first || module == second);
        QCOMPARE(config["availability"].toArray(),
                 (QJsonArray{QJsonObject{{"topic", module + "availability"}},
                             QJsonObject{{"topic", bridge}}}));
        const QJsonObject device = config["device"].toObject();
        QVERIFY(!device["identifiers"].toArray().isEmpty() && !device["name"].toString().isEmpty());
        QCOMPARE(device["serial_number"].toString() + device["model"].toString(),
                 QString(module == first ? "00a1b2c3SHT3X" : ""));
    }
}

void TestMqtt::lastWillWhenKilled()
{
    run({"1", "100000", "100"});
    QVERIFY(waitFor([this] { return payloads(bridge).value(0) == "online"; }));
    m_driver.kill();
    QVERIFY(waitFor([this] { return payloads(bridge).value(1) == "offline"; }));
}

void TestMqtt::nothingLostAcrossOutage()
{
    constexpr int count = 150;
    run({"2", QString::number(count), "100"});
    QVERIFY(waitFor([this] { return temperatures(first + "state").size() >= 20; }));
    QVERIFY(stopBroker());
    QTest::qWait(10000);
    QVERIFY(startBroker());
    QVERIFY(m_driver.waitForFinished(2 * timeoutMs) && m_driver.exitCode() == 0);
    for (const QString &module : {first, second}) {
        QVERIFY(
            waitFor([&] { return temperatures(module + "state").last() == (count - 1) / 10.0; }));
        // QoS 1 is at least once: a reading whose acknowledgement the outage took comes twice.
        QList<double> values = temperatures(module + "state");
        values.erase(std::unique(values.begin(), values.end()), values.end());
        QCOMPARE(values.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(values[i], i / 10.0);
    }
}

void TestMqtt::oldestDroppedBeyondTheBound()
{
    QVERIFY(stopBroker());
    run({"1", "30", "20", "10"});
    QByteArray err;
    QVERIFY(waitFor([&] { return (err += m_driver.readAllStandardError()).contains("oldest"); }));
    QTest::qWait(1000); // all 30 taken while the broker is away
    QVERIFY(startBroker());
    QVERIFY(m_driver.waitForFinished(timeoutMs));
    QVERIFY2((err += m_driver.readAllStandardError()).contains("20 readings dropped"), err);
    QVERIFY(waitFor([this] { return temperatures(first + "state").size() == 10; }));
    QCOMPARE(temperatures(first + "state").first(), 2.0);
    QCOMPARE(temperatures(first + "state").last(), 2.9);
}

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
