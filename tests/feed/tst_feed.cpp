// The plausibility flags over their boundaries, and the line protocol as a parser written from
// the protocol's rules reads it.
#include "feed/lineprotocol.h"
#include "samples/plausibility.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

struct Point
{
    double seconds, temperature, humidity, dewPoint;
};
using Points = QVector<Point>;

} // namespace

Q_DECLARE_METATYPE(Points)

class TestFeed : public QObject
{
    Q_OBJECT

private slots:
    void plausibility_data();
    void plausibility();
    void lineProtocol();
};

void TestFeed::plausibility_data()
{
    QTest::addColumn<QStringList>("limits");
    QTest::addColumn<Points>("readings");
    QTest::addColumn<QString>("lastFlags");

    const QStringList none;
    QTest::newRow("plain") << none << Points{{0, 21.5, 45.0, 9.2}} << "";
    QTest::newRow("coldest rated") << none << Points{{0, -40.0, 0.0, -50}} << "";
    QTest::newRow("below rated") << none << Points{{0, -40.1, 50, -50}} << "range";
    QTest::newRow("hottest rated") << none << Points{{0, 125.0, 100.0, 20}} << "";
    QTest::newRow("above rated") << none << Points{{0, 125.1, 50, 20}} << "range";
    QTest::newRow("humidity negative") << none << Points{{0, 20, -0.1, -50}} << "range";
    QTest::newRow("dew point = T + rounding") << none << Points{{0, 20.0, 99, 20.1}} << "";
    QTest::newRow("dew point above T") << none << Points{{0, 20.0, 101, 20.2}} << "range,dew_point";
    QTest::newRow("step of 2 °C") << none << Points{{0, 20, 50, 9}, {9.9, 22.0, 50, 9}} << "";
    QTest::newRow("step over 2 °C") << none << Points{{0, 20, 50, 9}, {9.9, 17.9, 50, 9}} << "step";
    QTest::newRow("step of 10 %RH") << none << Points{{0, 20, 50, 9}, {1, 20, 60.0, 9}} << "";
    QTest::newRow("step over 10 %RH") << none << Points{{0, 20, 50, 9}, {1, 20, 39.9, 9}} << "step";
    QTest::newRow("jump 10 s apart") << none << Points{{0, 20, 50, 9}, {10, 30, 90, 9}} << "";
    QTest::newRow("wider step allowed")
        << QStringList{"step-temperature=3"} << Points{{0, 20, 50, 9}, {1, 23, 50, 9}} << "";
    const Points frozen{{0, 20, 50, 9}, {300, 20, 50, 9}, {599.9, 20, 50, 9}};
    QTest::newRow("unchanged 599.9 s") << none << frozen << "";
    QTest::newRow("unchanged 600 s") << none << (Points(frozen) << Point{600, 20, 50, 9}) << "flat";
    QTest::newRow("humidity moved")
        << none << Points{{0, 20, 50, 9}, {300, 20, 50.1, 9}, {600, 20, 50.1, 9}} << "";
    QTest::newRow("moved back") << none
                                << Points{{0, 20, 50, 9}, {300, 20.1, 50, 9}, {600, 20, 50, 9}}
                                << "";
    QTest::newRow("flat sooner") << QStringList{"flat-duration=60"}
                                 << Points{{0, 20, 50, 9}, {60, 20, 50, 9}} << "flat";
}

void TestFeed::plausibility()
{
    QFETCH(QStringList, limits);
    QFETCH(Points, readings);
    QFETCH(QString, lastFlags);

    samples::PlausibilityLimits l = samples::defaultLimits();
    QString error;
    for (const QString &assignment : limits)
        QVERIFY2(samples::setLimit(l, assignment, &error), qPrintable(error));
    samples::PlausibilityCheck check(l);
    samples::PlausibilityFlags flags;
    const qint64 start = 1765000000000;
    for (const Point &p : readings)
        flags =
            check.check(start + qRound64(p.seconds * 1000), p.temperature, p.humidity, p.dewPoint);
    QCOMPARE(samples::flagNames(flags).join(QLatin1Char(',')), lastFlags);
}

void TestFeed::lineProtocol()
{
    const qint64 ms = 1765000000123;
    // Floats that print like integers, escapes in tags and strings (a string ending in a
    // backslash), a control character sent by a module, a value that is not a number, and a
    // missed reading with no value at all.
    const QVector<feed::Reading> readings{
        {"/dev/ttyUSB0", 17, "00a1b2c3", "SHT3X", ms, -0.5, 100.0, 14.1, 3.0, "ok",
         samples::PlausibilityFlag::DewPoint | samples::PlausibilityFlag::Flat},
        {"bench 2,line=a\\", 3, "x\ny\"z", {}, ms, 21.0, 50.0, 9.9, qQNaN(), "\"no\" ,= \\", {}},
        {"COM3", 1, {}, {}, ms, {}, {}, {}, {}, "no reply", {}},
    };
    const QVector<QVariantMap> tags{
        {{"port", "/dev/ttyUSB0"}, {"address", "17"}, {"serial", "00a1b2c3"}, {"model", "SHT3X"}},
        {{"port", "bench 2,line=a\\"}, {"address", "3"}, {"serial", "x y\"z"}},
        {{"port", "COM3"}, {"address", "1"}},
    };
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral(LINE_PROTOCOL_PARSER)});
    for (const feed::Reading &r : readings)
        python.write(feed::influxLine(r));
    python.closeWriteChannel();
    QVERIFY(python.waitForFinished(30000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QList<QByteArray> parsed = python.readAllStandardOutput().split('\n');
    QCOMPARE(parsed.size(), readings.size() + 1);

    for (int i = 0; i < readings.size(); ++i) {
        const feed::Reading &r = readings[i];
        const QVariantMap line = QJsonDocument::fromJson(parsed[i]).toVariant().toMap();
        QCOMPARE(line["measurement"].toString() + ' ' + line["time"].toString(),
                 "quorvel " + QString::number(ms) + "000000");
        QCOMPARE(line["tags"].toMap(), tags[i]);
        QVariantMap fields{
            {"status", QVariantList{"string", r.status}},
            {"flags", QVariantList{"string", samples::flagNames(r.flags).join(',')}}};
        for (const auto &[key, value] : {std::pair("temperature_C", r.temperature),
                                         {"humidity_pct", r.humidity},
                                         {"dew_point_C", r.dewPoint},
                                         {"wet_bulb_C", r.wetBulb}}) {
            if (value && !qIsNaN(*value)) // the protocol has no NaN: a field left out
                fields.insert(key, QVariantList{"float", *value});
        }
        QCOMPARE(line["fields"].toMap(), fields);
    }
}

QTEST_GUILESS_MAIN(TestFeed)
#include "tst_feed.moc"
