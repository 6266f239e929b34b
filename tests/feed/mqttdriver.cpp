// Publishes made-up readings through the MQTT feed, so that its tests can stop the broker, kill
// the publisher and count what arrives. The temperature of reading n is n / 10 °C: the order is
// in the values.
#include "feed/mqttpublisher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("url"), QStringLiteral("mqtt://host:port"));
    const QCommandLineOption modules(QStringLiteral("modules"), QStringLiteral("n"),
                                     QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("n"),
                                   QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption period(QStringLiteral("period"), QStringLiteral("ms"),
                                    QStringLiteral("ms"), QStringLiteral("100"));
    const QCommandLineOption queueLimit(QStringLiteral("queue-limit"), QStringLiteral("n"),
                                        QStringLiteral("n"), QStringLiteral("100000"));
    const QCommandLineOption discovery(QStringLiteral("ha-discovery"), QStringLiteral("on"));
    // The last module's last reading says it went offline on the bus.
    const QCommandLineOption lastOffline(QStringLiteral("last-offline"), QStringLiteral("on"));
    parser.addOptions({modules, count, period, queueLimit, discovery, lastOffline});
    parser.process(app);

    feed::MqttSettings settings;
    QString error;
    if (parser.positionalArguments().size() != 1 ||
        !feed::parseMqttUrl(parser.positionalArguments().constFirst(), settings, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    settings.haDiscovery = parser.isSet(discovery);
    settings.bridgeId = QStringLiteral("driver");
    settings.queueLimit = parser.value(queueLimit).toInt();
    feed::MqttPublisher publisher(settings);
    QObject::connect(&publisher, &feed::MqttPublisher::notice,
                     [](const QString &text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
    QObject::connect(&publisher, &feed::MqttPublisher::finished, &app, &QCoreApplication::quit);
    if (!publisher.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    const int moduleCount = parser.value(modules).toInt();
    const int readings = parser.value(count).toInt();
    int n = 0;
    QTimer cycle;
    QObject::connect(&cycle, &QTimer::timeout, [&] {
        for (int address = 1; address <= moduleCount; ++address) {
            feed::Reading r;
            r.port = QStringLiteral("/dev/ttyUSB0");
            r.address = address;
            // The first module knows its serial number, the others are named by the port.
            if (address == 1) {
                r.serial = QStringLiteral("00a1b2c3");
                r.model = QStringLiteral("SHT3X");
            }
            r.msecsSinceEpoch = QDateTime::currentMSecsSinceEpoch();
            r.status = QStringLiteral("ok");
            r.temperature = n / 10.0;
            r.humidity = 50.0;
            r.dewPoint = -10.0;
            if (parser.isSet(lastOffline) && n == readings - 1 && address == moduleCount)
                r.status = QStringLiteral("offline");
            publisher.publish(r);
        }
        if (++n == readings) {
            cycle.stop();
            publisher.finish(std::chrono::seconds(30));
        }
    });
    cycle.start(parser.value(period).toInt());
    return app.exec();
}
