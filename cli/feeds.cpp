#include "cli/feeds.h"

#include "cli/output.h"
#include "feed/lineprotocol.h"

#ifdef QUORVEL_HAVE_MQTT
#include "feed/mqttpublisher.h"
#else
namespace feed {
// A build without libmosquitto (Windows) never makes one, but Feeds' pointer to it must still be
// deletable.
class MqttPublisher
{
};
} // namespace feed
#endif

#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

namespace cli {

namespace {

using namespace std::chrono_literals;

// Long enough for a broker on a network to take a queue of minutes; short enough that Ctrl-C
// still feels like it.
constexpr auto mqttPatience = 5s;

const QString format = QStringLiteral("format");
const QString mqtt = QStringLiteral("mqtt");
const QString caFile = QStringLiteral("ca-file");
const QString user = QStringLiteral("mqtt-user");
const QString passwordFile = QStringLiteral("mqtt-password-file");
const QString prefix = QStringLiteral("mqtt-prefix");
const QString discovery = QStringLiteral("ha-discovery");
const QString queue = QStringLiteral("mqtt-queue");
const QString limit = QStringLiteral("limit");

QString first(const QStringList &values)
{
    return values.isEmpty() ? QString() : values.last();
}

} // namespace

QList<QCommandLineOption> feedOptions()
{
    return {
        {format, QString(), QStringLiteral("format")},
        {mqtt, QString(), QStringLiteral("url")},
        {caFile, QString(), QStringLiteral("file")},
        {user, QString(), QStringLiteral("name")},
        {passwordFile, QString(), QStringLiteral("file")},
        {prefix, QString(), QStringLiteral("prefix")},
        {discovery, QString()},
        {queue, QString(), QStringLiteral("readings")},
        {limit, QString(), QStringLiteral("name=value")},
    };
}

QString readFeedOptions(const std::function<QStringList(const QString &)> &values,
                        const QString &port, bool otherFormat,
                        const QProcessEnvironment &environment, FeedOptions &out)
{
    QString error;
    for (const QString &assignment : values(limit)) {
        if (!samples::setLimit(out.limits, assignment, &error))
            return QStringLiteral("--limit ") + error;
    }
    if (!values(format).isEmpty()) {
        if (first(values(format)) != QLatin1String("influx"))
            return QStringLiteral("--format %1: the format is influx (or --csv, --json)")
                .arg(first(values(format)));
        if (otherFormat)
            return QStringLiteral("--format influx with --csv or --json: choose one output format");
        out.influx = true;
    }

    out.mqtt = !values(mqtt).isEmpty();
    if (!out.mqtt) {
        for (const QString &name : {caFile, user, passwordFile, prefix, discovery, queue}) {
            if (!values(name).isEmpty())
                return QStringLiteral("--%1 goes with --mqtt URL").arg(name);
        }
        return QString();
    }
#ifndef QUORVEL_HAVE_MQTT
    return QStringLiteral("--mqtt: this build of quorvel-cli has no MQTT client (libmosquitto)");
#endif
    feed::MqttSettings &s = out.mqttSettings;
    if (!feed::parseMqttUrl(first(values(mqtt)), s, &error))
        return QStringLiteral("--mqtt ") + error;
    s.caFile = first(values(caFile));
    if (!s.caFile.isEmpty() && !s.tls)
        return QStringLiteral("--ca-file goes with an mqtts:// address");
    if (!s.caFile.isEmpty() && !QFileInfo(s.caFile).isReadable())
        return QStringLiteral("--ca-file %1: cannot be read").arg(s.caFile);
    s.user = first(values(user));
    if (!values(passwordFile).isEmpty() && s.user.isEmpty())
        return QStringLiteral("--mqtt-password-file goes with --mqtt-user");
    if (!s.user.isEmpty() &&
        !feed::loadPassword(first(values(passwordFile)), environment, s, &error))
        return QStringLiteral("--mqtt-password-file ") + error;
    if (!values(prefix).isEmpty()) {
        // Wildcards and empty levels would publish where no subscriber looks.
        static const QRegularExpression level(QStringLiteral("^[^/+#\\s]+(/[^/+#\\s]+)*$"));
        s.prefix = first(values(prefix));
        if (!level.match(s.prefix).hasMatch())
            return QStringLiteral("--mqtt-prefix %1: topic levels without blanks, +, # or "
                                  "empty levels, e.g. site/bench2")
                .arg(s.prefix);
    }
    s.haDiscovery = !values(discovery).isEmpty();
    if (!values(queue).isEmpty()) {
        bool ok = false;
        s.queueLimit = first(values(queue)).toInt(&ok);
        if (!ok || s.queueLimit < 1)
            return QStringLiteral("--mqtt-queue %1: a number of readings, at least 1")
                .arg(first(values(queue)));
    }
    // This program on this line: one bridge per port, so several watches on one machine stay
    // apart, and a restart takes its place again.
    s.bridgeId = feed::identifier(QSysInfo::machineHostName() + QLatin1Char('_') +
                                  QFileInfo(port).fileName());
    return QString();
}

Feeds::Feeds(const FeedOptions &options, Output &output, const QString &port)
    : m_options(options), m_output(output), m_port(port)
{
}

Feeds::~Feeds() = default;

bool Feeds::start(QString *error)
{
#ifdef QUORVEL_HAVE_MQTT
    if (!m_options.mqtt)
        return true;
    m_mqtt = std::make_unique<feed::MqttPublisher>(m_options.mqttSettings);
    connect(m_mqtt.get(), &feed::MqttPublisher::notice, this,
            [this](const QString &text) { m_output.message(text); });
    return m_mqtt->start(error);
#else
    Q_UNUSED(error)
    return true;
#endif
}

feed::Reading Feeds::reading(int address, const QString &serial, const QString &model,
                             const samples::Sample &s, const QString &status)
{
    feed::Reading r;
    r.port = m_port;
    r.address = address;
    r.serial = serial;
    r.model = model;
    r.msecsSinceEpoch = s.msecsSinceEpoch;
    r.status = status;
    if (s.isGap() || status != QLatin1String("ok"))
        return r;
    r.temperature = s.temperature / 10.0;
    r.humidity = s.humidity / 10.0;
    r.dewPoint = s.dewPoint / 10.0;
    if (s.hasWetBulb)
        r.wetBulb = s.wetBulb / 10.0;
    auto check = m_checks.try_emplace(address, m_options.limits).first;
    r.flags = check->second.check(s.msecsSinceEpoch, *r.temperature, *r.humidity, r.dewPoint);
    return r;
}

void Feeds::deliver(const feed::Reading &reading)
{
    if (m_options.influx)
        m_output.resultBytes(feed::influxLine(reading));
#ifdef QUORVEL_HAVE_MQTT
    if (m_mqtt)
        m_mqtt->publish(reading);
#endif
}

void Feeds::finish(const std::function<void()> &done)
{
#ifdef QUORVEL_HAVE_MQTT
    if (m_mqtt) {
        connect(m_mqtt.get(), &feed::MqttPublisher::finished, this, done);
        m_mqtt->finish(mqttPatience);
        return;
    }
#endif
    done();
}

bool Feeds::allDelivered() const
{
#ifdef QUORVEL_HAVE_MQTT
    if (m_mqtt)
        return m_mqtt->waiting() == 0 && m_mqtt->dropped() == 0;
#endif
    return true;
}

} // namespace cli
