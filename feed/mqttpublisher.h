#pragma once

#include "feed/mqttsettings.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <deque>

struct mosquitto;

namespace feed {

// Publishes readings to an MQTT broker through libmosquitto, whose own thread keeps the
// connection and reconnects with back-off. Polling never waits for the broker: readings taken
// while it is away wait in a bounded queue and go out in order, QoS 1, once it is back.
class MqttPublisher : public QObject
{
    Q_OBJECT

public:
    explicit MqttPublisher(const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttPublisher() override;

    // Starts connecting in the background; false only for settings the library refuses.
    bool start(QString *error);
    void publish(const Reading &reading);
    // Delivers what waits, for at most `patience`, says this program offline and disconnects;
    // finished() follows.
    void finish(std::chrono::milliseconds patience);

    bool isConnected() const { return m_connected; }
    int waiting() const { return int(m_waiting.size()) + int(m_inFlight.size()); }
    qint64 dropped() const { return m_dropped; }

signals:
    // For standard error: the broker reached or lost, readings dropped.
    void notice(const QString &text);
    void finished();

private:
    struct Module
    {
        Reading latest;
        bool discovered = false;
    };

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onLog(mosquitto *, void *self, int level, const char *text);

    void connectFirst();
    void retryLater();
    void handshakeFailed();
    QString takeTlsError();
    void connected(int rc);
    void noticeOnce(const QString &text, const QString &reason);
    void disconnected(int rc);
    void published(int mid);
    void announce(Module &module);
    void pump();
    // The library's message id, or 0 when it did not take the message.
    int send(const MqttMessage &message);
    void close();

    MqttSettings m_settings;
    MqttTopics m_topics;
    mosquitto *m_client = nullptr;
    bool m_threadRunning = false;
    bool m_connected = false;
    bool m_finishing = false;
    QString m_lastError; // said once until the broker is reached again
    QHash<QString, Module> m_modules;
    std::deque<Reading> m_waiting;
    QSet<int> m_inFlight; // state messages the library holds until the broker acknowledges them
    qint64 m_dropped = 0;
    qint64 m_droppedSaid = 0;
    QTimer m_patience;
    QTimer m_connectRetry;
    int m_connectAttempts = 0;
    // OpenSSL's reason for the last refused handshake, which the library only logs; written by
    // its thread.
    QMutex m_tlsErrorLock;
    QString m_tlsError;
};

} // namespace feed
