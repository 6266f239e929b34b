// Publishes made-up readings through the MQTT feed, so that its tests can stop the broker, kill
// the publisher and count what arrives: reading n of a module has the temperature n / 10 °C.
// quorvel-mqtt-driver URL MODULES COUNT PERIOD_MS [QUEUE_LIMIT]
#include "feed/mqttpublisher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    feed::MqttSettings settings;
    QString error;
    if (args.size() < 5 || !feed::parseMqttUrl(args[1], settings, &error))
        return 2;
    settings.haDiscovery = true;
    settings.bridgeId = QStringLiteral("driver");
    settings.queueLimit = args.value(5, QStringLiteral("100000")).toInt();
    feed::MqttPublisher publisher(settings);
    QObject::connect(&publisher, &feed::MqttPublisher::notice,
                     [](const QString &text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
    QObject::connect(&publisher, &feed::MqttPublisher::finished, &app, &QCoreApplication::quit);
    if (!publisher.start(&error))
        return 1;

    const int modules = args[2].toInt();
    const int count = args[3].toInt();
    int n = 0;
    QTimer cycle;
    QObject::connect(&cycle, &QTimer::timeout, [&] {
        for (int address = 1; address <= modules; ++address) {
            // The first module knows its serial number, the others are named by the port; the
            // last one's last reading says it went offline on the bus.
            feed::Reading r{QStringLiteral("/dev/ttyUSB0"),
                            address,
                            {},
                            {},
                            QDateTime::currentMSecsSinceEpoch(),
                            n / 10.0,
                            50.0,
                            -10.0,
                            {},
                            QStringLiteral("ok"),
                            {}};
            if (address == 1) {
                r.serial = QStringLiteral("00a1b2c3");
                r.model = QStringLiteral("SHT3X");
            } else if (address == modules && n == count - 1) {
                r.status = QStringLiteral("offline");
            }
            publisher.publish(r);
        }
        if (++n == count) {
            cycle.stop();
            publisher.finish(std::chrono::seconds(30));
        }
    });
    cycle.start(args[4].toInt());
    return app.exec();
}
