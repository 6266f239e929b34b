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

constexpr int exitTimeoutMs = 60000;
constexpr int deliveryTimeoutMs = 30000;
const QString driverProgram = QStringLiteral(QUORVEL_MQTT_DRIVER);
const QString firstState = QStringLiteral("quorvel/00a1b2c3/state");
const QString bridge = QStringLiteral("quorvel/bridge/driver/availability");

quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Waits on the event loop, so that the processes' output keeps being read.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
    return true;
}

struct Message
{
    QString topic;
    QByteArray payload;
};

// mosquitto_sub's lines as messages; "-F 'M %t %p'" keeps them apart from its -d chatter.
QList<Message> messagesIn(const QByteArray &output)
{
    QList<Message> messages;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith("M "))
            continue;
        const int space = line.indexOf(' ', 2);
        messages.append({QString::fromUtf8(line.mid(2, space - 2)), line.mid(space + 1)});
    }
    return messages;
}

QList<double> temperaturesOn(const QList<Message> &messages, const QString &topic)
{
    QList<double> values;
    for (const Message &m : messages) {
        if (m.topic == topic)
            values.append(QJsonDocument::fromJson(m.payload)["temperature_C"].toDouble());
    }
    return values;
}

QByteArray lastOn(const QList<Message> &messages, const QString &topic)
{
    QByteArray payload;
    for (const Message &m : messages) {
        if (m.topic == topic)
            payload = m.payload;
    }
    return payload;
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
    bool subscribe();
    QList<Message> received() { return messagesIn(m_subOutput += m_sub.readAllStandardOutput()); }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port); }

    std::unique_ptr<QTemporaryDir> m_dir;
    quint16 m_port = 0;
    QProcess m_broker;
    QProcess m_sub;
    QProcess m_driver;
    QByteArray m_subOutput;
};

void TestMqtt::init()
{
    // A broker of its own for each test, its saved sessions included.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_port = freeLoopbackPort();
    QFile config(m_dir->filePath(QStringLiteral("mosquitto.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    // Persistence keeps the reader's session, and what waits for it, across a restart.
    // A broker started by root would drop to a user of its own, who cannot write the folder.
    config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nlog_type error\n"
                                "persistence true\npersistence_location %2/\nuser %3\n")
                     .arg(m_port)
                     .arg(m_dir->path(), QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name))
                     .toUtf8());
    config.close();
    m_subOutput.clear();
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
    m_broker.setProcessChannelMode(QProcess::ForwardedChannels);
    m_broker.start(QStringLiteral("mosquitto"),
                   {QStringLiteral("-c"), m_dir->filePath(QStringLiteral("mosquitto.conf"))});
    return waitFor([this] { return accepts(m_port); });
}

bool TestMqtt::stopBroker()
{
    m_broker.terminate();
    return m_broker.waitForFinished(10000);
}

bool TestMqtt::subscribe()
{
    // A session that outlives the connection, so that the reader misses nothing either.
    m_sub.start(QStringLiteral("stdbuf"),
                {"-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p", QString::number(m_port), "-q",
                 "1", "-c", "-i", "tst-mqtt-reader", "-d", "-t", "quorvel/#", "-F", "M %t %p"});
    return waitFor(
        [this] { return (m_subOutput += m_sub.readAllStandardOutput()).contains("Subscribed"); });
}

void TestMqtt::statesAvailabilityAndDiscovery()
{
    QVERIFY(startBroker());
    QVERIFY(subscribe());
    m_driver.start(driverProgram, {url(), "--modules", "2", "--count", "3", "--period", "50",
                                   "--ha-discovery", "--last-offline"});
    QVERIFY(m_driver.waitForFinished(exitTimeoutMs));
    QCOMPARE(m_driver.exitCode(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(lastOn(received(), bridge), QByteArray("offline"), 10000);
    QCOMPARE(temperaturesOn(received(), firstState), (QList<double>{0, 0.1, 0.2}));
    const QJsonObject state = QJsonDocument::fromJson(lastOn(received(), firstState)).object();
    QCOMPARE(state["serial"].toString(), QStringLiteral("00a1b2c3"));
    QCOMPARE(state["status"].toString(), QStringLiteral("ok"));
    QCOMPARE(state["flags"].toArray(), QJsonArray());
    QVERIFY(state.contains("wet_bulb_C") && state["wet_bulb_C"].isNull());
    const QJsonObject second =
        QJsonDocument::fromJson(lastOn(received(), "quorvel/ttyUSB0_2/state")).object();
    QCOMPARE(second["status"].toString(), QStringLiteral("offline"));

    // What a client that comes later finds: availability and discovery, and no stale reading.
    QProcess later;
    later.start(QStringLiteral("mosquitto_sub"),
                {"-h", "127.0.0.1", "-p", QString::number(m_port), "-t", "quorvel/#", "-t",
                 "homeassistant/#", "--retained-only", "-W", "3", "-F", "M %t %p"});
    QVERIFY(later.waitForFinished(exitTimeoutMs));
    QList<Message> retained = messagesIn(later.readAllStandardOutput());
    QMap<QString, QByteArray> availability;
    QMap<QString, QJsonObject> discovery;
    for (const Message &m : retained) {
        if (m.topic.startsWith("homeassistant/sensor/") && m.topic.endsWith("/config"))
            discovery.insert(m.topic.section('/', 2, 2),
                             QJsonDocument::fromJson(m.payload).object());
        else
            availability.insert(m.topic, m.payload);
    }
    QCOMPARE(availability, (QMap<QString, QByteArray>{{"quorvel/00a1b2c3/availability", "online"},
                                                      {"quorvel/ttyUSB0_2/availability", "offline"},
                                                      {bridge, "offline"}}));
    QCOMPARE(discovery.size(), 8);
    for (auto it = discovery.cbegin(); it != discovery.cend(); ++it) {
        const QJsonObject config = it.value();
        QCOMPARE(config["unique_id"].toString(), it.key());
        for (const char *key : {"name", "device_class", "unit_of_measurement", "state_class"})
            QVERIFY2(!config[key].toString().isEmpty(), key);
        // The template names a field the state message carries.
        const QString field =
            config["value_template"].toString().section('.', 1).section(' ', 0, 0);
        QVERIFY2(state.contains(field), qPrintable(config["value_template"].toString()));
        const QString stateTopic = config["state_topic"].toString();
        QVERIFY(stateTopic == firstState || stateTopic == "quorvel/ttyUSB0_2/state");
        QStringList availabilityTopics;
        for (const QJsonValue &a : config["availability"].toArray())
            availabilityTopics << a["topic"].toString();
        QCOMPARE(availabilityTopics.size(), 2);
        QVERIFY(availabilityTopics.contains(bridge));
        const QJsonObject device = config["device"].toObject();
        QVERIFY(!device["identifiers"].toArray().isEmpty() && !device["name"].toString().isEmpty());
        if (stateTopic == firstState)
            QCOMPARE(device["serial_number"].toString() + device["model"].toString(),
                     QStringLiteral("00a1b2c3SHT3X"));
    }
}

void TestMqtt::lastWillWhenKilled()
{
    QVERIFY(startBroker());
    QVERIFY(subscribe());
    m_driver.start(driverProgram, {url(), "--count", "100000"});
    QTRY_COMPARE_WITH_TIMEOUT(lastOn(received(), bridge), QByteArray("online"), 10000);
    m_driver.kill();
    QTRY_COMPARE_WITH_TIMEOUT(lastOn(received(), bridge), QByteArray("offline"), 10000);
}

void TestMqtt::nothingLostAcrossOutage()
{
    constexpr int count = 150;
    QVERIFY(startBroker());
    QVERIFY(subscribe());
    m_driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_driver.start(driverProgram, {url(), "--modules", "2", "--count", QString::number(count)});
    QTRY_VERIFY_WITH_TIMEOUT(temperaturesOn(received(), firstState).size() >= 20, 10000);
    QVERIFY(stopBroker());
    QTest::qWait(10000);
    QVERIFY(startBroker());
    QVERIFY(m_driver.waitForFinished(exitTimeoutMs));
    QCOMPARE(m_driver.exitCode(), 0);

    for (const QString &topic : {firstState, QStringLiteral("quorvel/ttyUSB0_2/state")}) {
        QTRY_COMPARE_WITH_TIMEOUT(temperaturesOn(received(), topic).constLast(), (count - 1) / 10.0,
                                  deliveryTimeoutMs);
        // QoS 1 is at least once: a reading whose acknowledgement the outage took comes twice.
        QList<double> values = temperaturesOn(received(), topic);
        values.erase(std::unique(values.begin(), values.end()), values.end());
        QCOMPARE(values.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(values[i], i / 10.0);
    }
}

void TestMqtt::oldestDroppedBeyondTheBound()
{
    QVERIFY(startBroker());
    QVERIFY(subscribe());
    QVERIFY(stopBroker());
    m_driver.setProcessChannelMode(QProcess::SeparateChannels);
    m_driver.start(driverProgram,
                   {url(), "--count", "30", "--period", "20", "--queue-limit", "10"});
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT(
        (err += m_driver.readAllStandardError()).contains("dropping the oldest"), 10000);
    QTest::qWait(1000); // all 30 taken while the broker is away
    QVERIFY(startBroker());
    QVERIFY(m_driver.waitForFinished(exitTimeoutMs));
    err += m_driver.readAllStandardError();
    QVERIFY2(err.contains("20 readings dropped"), err.constData());
    QTRY_COMPARE_WITH_TIMEOUT(temperaturesOn(received(), firstState).size(), 10, deliveryTimeoutMs);
    QCOMPARE(temperaturesOn(received(), firstState).constFirst(), 2.0);
    QCOMPARE(temperaturesOn(received(), firstState).constLast(), 2.9);
}

QTEST_GUILESS_MAIN(TestMqtt)
#include "tst_mqtt.moc"
