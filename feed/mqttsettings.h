#pragma once

#include "feed/reading.h"

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>

// What an MQTT feed publishes and where: everything but the connection itself, so that the
// command line can check its options, and the tests the messages, without the client library.
namespace feed {

struct MqttSettings
{
    QString host;
    quint16 port = 1883;
    bool tls = false;
    QString caFile; // mqtts://: empty for the system's certificates
    QString user;
    QString password;
    QString prefix = QStringLiteral("quorvel");
    bool haDiscovery = false;
    QString bridgeId; // this program on this line: names its own availability topic
    int queueLimit = 100000;
};

// "mqtt://host[:port]" or "mqtts://host[:port]" into settings; false, with the reason, else.
bool parseMqttUrl(const QString &url, MqttSettings &settings, QString *error);

// A password is never an argument (every user of the machine can read those): it comes from
// the first line of a file, else from the environment variable QUORVEL_MQTT_PASSWORD.
bool loadPassword(const QString &file, const QProcessEnvironment &environment,
                  MqttSettings &settings, QString *error);

struct MqttMessage
{
    QByteArray topic;
    QByteArray payload;
    bool retain = false;
};

class MqttTopics
{
public:
    explicit MqttTopics(const MqttSettings &settings) : m_settings(settings) {}

    QByteArray state(const Reading &reading) const;
    QByteArray availability(const Reading &reading) const;
    // The will's topic: "offline" there when this program dies or loses the broker.
    QByteArray bridgeAvailability() const;

    MqttMessage stateMessage(const Reading &reading) const;
    MqttMessage availabilityMessage(const Reading &reading) const;
    // Home Assistant's discovery: one retained config a quantity (temperature, humidity, dew
    // point, wet bulb), the module as its device.
    QList<MqttMessage> discoveryMessages(const Reading &reading) const;

private:
    QByteArray moduleTopic(const Reading &reading, const char *leaf) const;

    MqttSettings m_settings;
};

} // namespace feed
