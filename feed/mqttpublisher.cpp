#include "feed/mqttpublisher.h"

#include <QLoggingCategory>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

Q_LOGGING_CATEGORY(lcMqtt, "quorvel.mqtt", QtWarningMsg)

namespace feed {

namespace {

using namespace std::chrono_literals;

constexpr int qos = 1;
constexpr int keepAliveSeconds = 30;
constexpr auto reconnectDelayMin = 1s;
constexpr auto reconnectDelayMax = 60s;
// State messages handed to the library at once: its own default window, so that the library
// never queues on its own and the bound and the order stay ours.
constexpr int window = 20;
const QByteArray online = QByteArrayLiteral("online");
const QByteArray offline = QByteArrayLiteral("offline");
const QString untrusted = QStringLiteral(
    "MQTT broker %1:%2 not trusted (%3): is --ca-file the CA that signed its certificate? "
    "Trying again");

QString libraryError(int rc)
{
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

MqttPublisher::MqttPublisher(const MqttSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_topics(settings)
{
    m_patience.setSingleShot(true);
    m_connectRetry.setSingleShot(true);
    connect(&m_patience, &QTimer::timeout, this, &MqttPublisher::close);
}

MqttPublisher::~MqttPublisher()
{
    if (!m_client)
        return;
    if (m_threadRunning)
        mosquitto_loop_stop(m_client, true);
    mosquitto_destroy(m_client);
}

bool MqttPublisher::start(QString *error)
{
    static const bool initialised = mosquitto_lib_init() == MOSQ_ERR_SUCCESS;
    if (!initialised) {
        *error = QStringLiteral("the MQTT library did not start");
        return false;
    }
    m_client = mosquitto_new(nullptr, true, this);
    if (!m_client) {
        *error = QStringLiteral("the MQTT library did not start");
        return false;
    }
    mosquitto_connect_callback_set(m_client, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(m_client, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(m_client, &MqttPublisher::onPublish);
    mosquitto_log_callback_set(m_client, &MqttPublisher::onLog);
    mosquitto_reconnect_delay_set(m_client, unsigned(reconnectDelayMin.count()),
                                  unsigned(reconnectDelayMax.count()), true);

    const QByteArray will = m_topics.bridgeAvailability();
    int rc = mosquitto_will_set(m_client, will.constData(), offline.size(), offline.constData(),
                                qos, true);
    const QByteArray user = m_settings.user.toUtf8();
    const QByteArray password = m_settings.password.toUtf8();
    if (rc == MOSQ_ERR_SUCCESS && !user.isEmpty())
        rc = mosquitto_username_pw_set(m_client, user.constData(),
                                       password.isEmpty() ? nullptr : password.constData());
    if (rc == MOSQ_ERR_SUCCESS && m_settings.tls) {
        const QByteArray caFile = m_settings.caFile.toLocal8Bit();
        rc = mosquitto_tls_set(m_client, caFile.isEmpty() ? nullptr : caFile.constData(),
                               caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                               nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = libraryError(rc);
        return false;
    }

    connect(&m_connectRetry, &QTimer::timeout, this, &MqttPublisher::connectFirst);
    connectFirst();
    return true;
}

void MqttPublisher::connectFirst()
{
    // Once the first connection is under way the library's thread keeps it, reconnecting on
    // its own; until then (the library leaves a first refusal to its caller) the retries are ours.
    const QByteArray host = m_settings.host.toUtf8();
    const int rc =
        mosquitto_connect_async(m_client, host.constData(), m_settings.port, keepAliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS) {
        const int started = mosquitto_loop_start(m_client);
        m_threadRunning = started == MOSQ_ERR_SUCCESS;
        if (!m_threadRunning)
            emit notice(QStringLiteral("MQTT: %1").arg(libraryError(started)));
        return;
    }
    const QString tlsError = takeTlsError();
    if (rc == MOSQ_ERR_TLS && !tlsError.isEmpty())
        noticeOnce(untrusted, tlsError);
    else
        noticeOnce(QStringLiteral("MQTT broker %1:%2 not reached (%3); trying again"),
                   rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(errno))
                                        : libraryError(rc));
    retryLater();
}

void MqttPublisher::retryLater()
{
    // The library's own back-off, which takes over once connected: 1, 4, 9 … s, at most a minute.
    ++m_connectAttempts;
    const auto delay = std::min<std::chrono::milliseconds>(
        reconnectDelayMin * std::min(m_connectAttempts * m_connectAttempts, 60), reconnectDelayMax);
    m_connectRetry.start(delay);
}

void MqttPublisher::onLog(mosquitto *, void *self, int level, const char *text)
{
    // A handshake refused in the library's thread ends that thread without a callback (its loop
    // gives up on a TLS error); the log is the only word of it, and of OpenSSL's reason.
    static const char prefix[] = "OpenSSL Error";
    if (level != MOSQ_LOG_ERR || std::strncmp(text, prefix, sizeof prefix - 1) != 0)
        return;
    auto *publisher = static_cast<MqttPublisher *>(self);
    {
        // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed"
        const QString reason = QString::fromUtf8(text).section(QLatin1Char(':'), -1).trimmed();
        QMutexLocker lock(&publisher->m_tlsErrorLock);
        publisher->m_tlsError = reason;
    }
    QMetaObject::invokeMethod(
        publisher, [publisher] { publisher->handshakeFailed(); }, Qt::QueuedConnection);
}

QString MqttPublisher::takeTlsError()
{
    QMutexLocker lock(&m_tlsErrorLock);
    return std::exchange(m_tlsError, QString());
}

void MqttPublisher::handshakeFailed()
{
    // Refused within connectFirst() itself, which has said so; or in the library's thread,
    // which has ended: its reconnecting becomes ours.
    if (m_connected || !m_threadRunning || m_finishing)
        return;
    // Not cancelled: the thread may still hold the library's locks on its way out. Disconnected,
    // it ends by itself if it was going to reconnect instead.
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, false);
    m_threadRunning = false;
    const QString tlsError = takeTlsError();
    if (!tlsError.isEmpty())
        noticeOnce(untrusted, tlsError);
    retryLater();
}

void MqttPublisher::publish(const Reading &reading)
{
    if (m_finishing)
        return;
    const QString id = moduleId(reading);
    auto it = m_modules.find(id);
    const bool isNew = it == m_modules.end();
    const bool availabilityChanged = !isNew && it->latest.isOffline() != reading.isOffline();
    if (isNew)
        it = m_modules.insert(id, Module{});
    it->latest = reading;
    if (m_connected) {
        if (isNew)
            announce(*it);
        else if (availabilityChanged)
            send(m_topics.availabilityMessage(reading));
    }

    if (int(m_waiting.size() + std::size_t(m_inFlight.size())) >= m_settings.queueLimit &&
        !m_waiting.empty()) {
        m_waiting.pop_front();
        if (m_dropped++ == m_droppedSaid)
            emit notice(QStringLiteral("MQTT queue full (%1 readings): dropping the oldest")
                            .arg(m_settings.queueLimit));
    }
    m_waiting.push_back(reading);
    pump();
}

void MqttPublisher::finish(std::chrono::milliseconds patience)
{
    m_finishing = true;
    if (waiting() == 0) {
        close();
        return;
    }
    m_patience.start(patience);
}

void MqttPublisher::onConnect(mosquitto *, void *self, int rc)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    QMetaObject::invokeMethod(
        publisher, [publisher, rc] { publisher->connected(rc); }, Qt::QueuedConnection);
}

void MqttPublisher::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    QMetaObject::invokeMethod(
        publisher, [publisher, rc] { publisher->disconnected(rc); }, Qt::QueuedConnection);
}

void MqttPublisher::onPublish(mosquitto *, void *self, int mid)
{
    auto *publisher = static_cast<MqttPublisher *>(self);
    QMetaObject::invokeMethod(
        publisher, [publisher, mid] { publisher->published(mid); }, Qt::QueuedConnection);
}

// A broker that stays away for hours says why once, not at every attempt.
void MqttPublisher::noticeOnce(const QString &text, const QString &reason)
{
    if (reason != m_lastError)
        emit notice(text.arg(m_settings.host).arg(m_settings.port).arg(reason));
    m_lastError = reason;
}

void MqttPublisher::connected(int rc)
{
    if (rc != 0) {
        const QString reason = QString::fromUtf8(mosquitto_connack_string(rc));
        noticeOnce(QStringLiteral("MQTT broker %1:%2 refused the connection: %3"), reason);
        return;
    }
    m_connected = true;
    m_lastError.clear();
    emit notice(
        QStringLiteral("MQTT broker %1:%2 connected").arg(m_settings.host).arg(m_settings.port));
    if (m_dropped > m_droppedSaid) {
        emit notice(QStringLiteral("%1 readings dropped while the broker was away")
                        .arg(m_dropped - m_droppedSaid));
        m_droppedSaid = m_dropped;
    }
    send({m_topics.bridgeAvailability(), online, true});
    for (Module &module : m_modules)
        announce(module);
    pump();
}

void MqttPublisher::disconnected(int rc)
{
    m_connected = false;
    if (rc == 0)
        return;
    qCDebug(lcMqtt) << "lost the broker:" << libraryError(rc) << waiting() << "readings waiting";
    if (m_lastError.isEmpty()) {
        m_lastError = libraryError(rc);
        emit notice(QStringLiteral("MQTT broker %1:%2 lost (%3); readings wait until it is back")
                        .arg(m_settings.host)
                        .arg(m_settings.port)
                        .arg(m_lastError));
    }
}

void MqttPublisher::published(int mid)
{
    // The library keeps a message it took across a reconnect and sends it again, so only the
    // broker's acknowledgement ends its time in flight.
    if (!m_inFlight.remove(mid))
        return;
    pump();
    if (m_finishing && waiting() == 0)
        close();
}

void MqttPublisher::announce(Module &module)
{
    if (m_settings.haDiscovery && !module.discovered) {
        for (const MqttMessage &message : m_topics.discoveryMessages(module.latest))
            send(message);
        module.discovered = true;
    }
    send(m_topics.availabilityMessage(module.latest));
}

void MqttPublisher::pump()
{
    while (m_connected && m_inFlight.size() < window && !m_waiting.empty()) {
        const int mid = send(m_topics.stateMessage(m_waiting.front()));
        if (mid == 0)
            return;
        m_inFlight.insert(mid);
        m_waiting.pop_front();
    }
}

int MqttPublisher::send(const MqttMessage &message)
{
    int mid = 0;
    const int rc =
        mosquitto_publish(m_client, &mid, message.topic.constData(), int(message.payload.size()),
                          message.payload.constData(), qos, message.retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        qCDebug(lcMqtt) << "not taken:" << message.topic << libraryError(rc);
        return 0;
    }
    return mid;
}

void MqttPublisher::close()
{
    m_patience.stop();
    m_connectRetry.stop();
    if (waiting() > 0)
        emit notice(QStringLiteral("%1 readings not delivered to the MQTT broker").arg(waiting()));
    if (m_client && m_threadRunning) {
        // A clean disconnect keeps the will from being sent, so say it ourselves.
        if (m_connected)
            send({m_topics.bridgeAvailability(), offline, true});
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, !m_connected);
        m_threadRunning = false;
        m_connected = false;
    }
    emit finished();
}

} // namespace feed
