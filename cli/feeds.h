#pragma once

#include "feed/mqttsettings.h"
#include "feed/reading.h"
#include "samples/plausibility.h"
#include "samples/sample.h"

#include <QCommandLineOption>
#include <QObject>
#include <QProcessEnvironment>

#include <functional>
#include <map>
#include <memory>

namespace feed {
class MqttPublisher;
}

// watch's readings for the monitoring systems a site already runs: every reading flagged, and
// handed to Telegraf (line protocol on standard output) and an MQTT broker as asked.
namespace cli {

class Output;

struct FeedOptions
{
    bool influx = false;
    bool mqtt = false;
    feed::MqttSettings mqttSettings;
    samples::PlausibilityLimits limits = samples::defaultLimits();
};

QList<QCommandLineOption> feedOptions();

// `values(name)`: what each of feedOptions() was given, in order, empty when not given. An
// empty result, or what is wrong, naming the option.
QString readFeedOptions(const std::function<QStringList(const QString &)> &values,
                        const QString &port, bool otherFormat,
                        const QProcessEnvironment &environment, FeedOptions &out);

class Feeds : public QObject
{
    Q_OBJECT

public:
    Feeds(const FeedOptions &options, Output &output, const QString &port);
    ~Feeds() override;

    // Connects to the broker in the background; false, with the reason, for settings refused.
    bool start(QString *error);
    // One poll of a module as a reading, with its flags: the plausibility history is per
    // address. `status`: "ok", "no reply" or "offline".
    feed::Reading reading(int address, const QString &serial, const QString &model,
                          const samples::Sample &sample, const QString &status);
    void deliver(const feed::Reading &reading);
    // What waits for the broker gets a few seconds to go; then `done`.
    void finish(const std::function<void()> &done);
    // After finish(): whether every reading reached the broker (none left waiting, none dropped).
    bool allDelivered() const;

private:
    FeedOptions m_options;
    Output &m_output;
    QString m_port;
    std::map<int, samples::PlausibilityCheck> m_checks;
    std::unique_ptr<feed::MqttPublisher> m_mqtt;
};

} // namespace cli
