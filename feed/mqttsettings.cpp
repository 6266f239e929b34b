#include "feed/mqttsettings.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

namespace feed {

namespace {

struct Quantity
{
    const char *key; // the JSON state's field
    const char *name;
    const char *deviceClass;
    const char *unit;
};

constexpr Quantity quantities[] = {
    {"temperature_C", "Temperature", "temperature", "°C"},
    {"humidity_pct", "Humidity", "humidity", "%"},
    {"dew_point_C", "Dew point", "temperature", "°C"},
    {"wet_bulb_C", "Wet bulb", "temperature", "°C"},
};

const QString online = QStringLiteral("online");
const QString offline = QStringLiteral("offline");

} // namespace

bool parseMqttUrl(const QString &text, MqttSettings &settings, QString *error)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        url.host().isEmpty() || !(url.path().isEmpty() || url.path() == QLatin1String("/"))) {
        *error = QStringLiteral("%1: expected mqtt://host[:port] or mqtts://host[:port]").arg(text);
        return false;
    }
    if (!url.userInfo().isEmpty()) {
        *error = QStringLiteral("%1: give the user with --mqtt-user and the password in a file "
                                "or QUORVEL_MQTT_PASSWORD, not in the address")
                     .arg(text);
        return false;
    }
    settings.tls = scheme == QLatin1String("mqtts");
    settings.host = url.host();
    settings.port = quint16(url.port(settings.tls ? 8883 : 1883));
    return true;
}

bool loadPassword(const QString &fileName, const QProcessEnvironment &environment,
                  MqttSettings &settings, QString *error)
{
    if (fileName.isEmpty()) {
        settings.password = environment.value(QStringLiteral("QUORVEL_MQTT_PASSWORD"));
        return true;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(fileName, file.errorString());
        return false;
    }
    // The first line, without its line end: an editor's final newline is no part of it.
    settings.password = QString::fromUtf8(file.readLine(4096)).remove(QLatin1Char('\n'));
    settings.password.remove(QLatin1Char('\r'));
    return true;
}

QByteArray MqttTopics::moduleTopic(const Reading &reading, const char *leaf) const
{
    return (m_settings.prefix + QLatin1Char('/') + moduleId(reading) + QLatin1Char('/') +
            QLatin1String(leaf))
        .toUtf8();
}

QByteArray MqttTopics::state(const Reading &reading) const
{
    return moduleTopic(reading, "state");
}

QByteArray MqttTopics::availability(const Reading &reading) const
{
    return moduleTopic(reading, "availability");
}

QByteArray MqttTopics::bridgeAvailability() const
{
    return (m_settings.prefix + QStringLiteral("/bridge/") + m_settings.bridgeId +
            QStringLiteral("/availability"))
        .toUtf8();
}

MqttMessage MqttTopics::stateMessage(const Reading &reading) const
{
    return {state(reading), QJsonDocument(toJson(reading)).toJson(QJsonDocument::Compact), false};
}

MqttMessage MqttTopics::availabilityMessage(const Reading &reading) const
{
    return {availability(reading), (reading.isOffline() ? offline : online).toUtf8(), true};
}

QList<MqttMessage> MqttTopics::discoveryMessages(const Reading &reading) const
{
    const QString id = moduleId(reading);
    QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{QStringLiteral("quorvel_") + id}},
        {QStringLiteral("name"),
         reading.serial.isEmpty()
             ? QStringLiteral("Quorvel %1 address %2").arg(reading.port).arg(reading.address)
             : QStringLiteral("%1 %2").arg(reading.model.isEmpty() ? QStringLiteral("Module")
                                                                   : reading.model,
                                           reading.serial)},
    };
    if (!reading.model.isEmpty())
        device.insert(QStringLiteral("model"), reading.model);
    if (!reading.serial.isEmpty())
        device.insert(QStringLiteral("serial_number"), reading.serial);
    // Both must be online: the module answering on the bus, and this program reaching the
    // broker (its will turns the second offline when it dies).
    const QJsonArray availability{
        QJsonObject{{QStringLiteral("topic"), QString::fromUtf8(this->availability(reading))}},
        QJsonObject{{QStringLiteral("topic"), QString::fromUtf8(bridgeAvailability())}},
    };

    QList<MqttMessage> messages;
    for (const Quantity &q : quantities) {
        const QString key = QString::fromLatin1(q.key);
        const QString uniqueId = QStringLiteral("quorvel_%1_%2").arg(id, key);
        const QJsonObject config{
            {QStringLiteral("name"), QString::fromLatin1(q.name)},
            {QStringLiteral("unique_id"), uniqueId},
            {QStringLiteral("object_id"), uniqueId},
            {QStringLiteral("state_topic"), QString::fromUtf8(state(reading))},
            {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(key)},
            {QStringLiteral("json_attributes_topic"), QString::fromUtf8(state(reading))},
            {QStringLiteral("device_class"), QString::fromLatin1(q.deviceClass)},
            {QStringLiteral("unit_of_measurement"), QString::fromUtf8(q.unit)},
            {QStringLiteral("state_class"), QStringLiteral("measurement")},
            {QStringLiteral("availability"), availability},
            {QStringLiteral("availability_mode"), QStringLiteral("all")},
            {QStringLiteral("device"), device},
        };
        messages.append({QStringLiteral("homeassistant/sensor/%1/config").arg(uniqueId).toUtf8(),
                         QJsonDocument(config).toJson(QJsonDocument::Compact), true});
    }
    return messages;
}

} // namespace feed
