// The MQTT publisher's outage queue, as key=value lines:
//   bench_feed queue [--readings N] [--limit L]
// N readings of 32 modules (default 150,000) handed to a publisher whose broker is never
// reached, with a queue of L (default the watch's 100,000): resident memory before, with the
// queue full, and at the end, when the oldest have been dropped for a while.
#include "feed/mqttpublisher.h"
#include "measure.h"

#include <QCoreApplication>
#include <QTcpServer>

#include <cstdio>

namespace {

constexpr int modules = 32;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "bench_feed: %s\n", what);
    std::exit(1);
}

int option(const QStringList &args, const QString &name, int fallback)
{
    const int at = args.indexOf(name);
    if (at < 0)
        return fallback;
    bool ok = false;
    const int value = args.value(at + 1).toInt(&ok);
    if (!ok || value < 1)
        fail("--readings and --limit take a positive whole number");
    return value;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) != QLatin1String("queue"))
        fail("usage: bench_feed queue [--readings N] [--limit L]");
    const int readings = option(args, QStringLiteral("--readings"), 150000);
    feed::MqttSettings settings;
    settings.queueLimit = option(args, QStringLiteral("--limit"), settings.queueLimit);

    // A loopback port that was free a moment ago and is closed again: refused at once.
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        fail("no loopback port");
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = probe.serverPort();
    probe.close();
    settings.bridgeId = QStringLiteral("bench");

    feed::MqttPublisher publisher(settings);
    QString error;
    if (!publisher.start(&error))
        fail(qPrintable(error));
    // Every topic and module record exists before the first figure, as after a minute of watch.
    feed::Reading reading;
    reading.port = QStringLiteral("/dev/ttyUSB0");
    reading.status = QStringLiteral("ok");
    reading.msecsSinceEpoch = 1700000000000;
    const auto publish = [&](int i) {
        reading.address = 1 + i % modules;
        reading.msecsSinceEpoch += 1000 / modules;
        reading.temperature = 20.0 + (i % 100) / 10.0;
        reading.humidity = 50.0 + (i % 50) / 10.0;
        reading.dewPoint = 9.3;
        publisher.publish(reading);
    };
    for (int i = 0; i < modules; ++i)
        publish(i);
    const long before = testsupport::residentKb();
    long full = -1;
    for (int i = modules; i < readings; ++i) {
        publish(i);
        if (i + 1 == settings.queueLimit)
            full = testsupport::residentKb();
    }
    const long after = testsupport::residentKb();
    if (publisher.isConnected())
        fail("a broker answered on the closed port");
    const int queued = std::min(readings, settings.queueLimit) - modules;
    std::printf("readings=%d\nlimit=%d\nwaiting=%d\ndropped=%lld\nrss_before_kb=%ld\n"
                "rss_full_kb=%ld\nrss_end_kb=%ld\nbytes_per_reading=%.1f\n",
                readings, settings.queueLimit, publisher.waiting(), publisher.dropped(), before,
                full, after, full < 0 ? 0.0 : double(full - before) * 1024 / queued);
    return 0;
}
