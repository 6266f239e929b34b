// The measurement file: the exact CSV rows, opening a log over what a file already holds, and
// the log's file changed under it.
#include "samples/csv.h"
#include "samples/logfile.h"

#include <QDateTime>
#include <QLocale>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>
#include <vector>

#ifdef Q_OS_LINUX
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The size of the file at each data sync the program asks for, before the C library's sync.
static std::vector<qint64> syncedSizes;
#ifdef Q_OS_LINUX
extern "C" int fdatasync(int fd)
{
    struct stat status;
    syncedSizes.push_back(::fstat(fd, &status) == 0 ? qint64(status.st_size) : -1);
    static const auto next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
    return next(fd);
}
#endif

using samples::LogFile;
using samples::Sample;

Q_DECLARE_METATYPE(Sample)
Q_DECLARE_METATYPE(LogFile::OpenResult)

namespace {
const QByteArray header = "time_utc,local_time,address,temperature_C,humidity_pct,dew_point_C,"
                          "wet_bulb_C,status\n";
const QByteArray row1 = "2026-12-07T09:15:02.123Z,2026-12-07 10:15:02.123,1,23.8,52.6,13.5,,ok\n";
const QByteArray otherRow = "2026-12-07T09:15:04.000Z,2026-12-07 10:15:04.000,2,,,,,no reply\n";

Sample sampleAt(const char *utc, quint8 address)
{
    Sample s;
    s.msecsSinceEpoch =
        QDateTime::fromString(QLatin1String(utc), Qt::ISODateWithMs).toMSecsSinceEpoch();
    s.address = address;
    return s;
}
} // namespace

class tst_SampleFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void csvRow_data();
    void csvRow();
    void openLog_data();
    void openLog();
    void pathChanges();
};

void tst_SampleFiles::initTestCase()
{
    // A fixed zone an hour east of UTC, without summer time, for the local_time column.
    qputenv("TZ", "CET-1");
    tzset();
}

void tst_SampleFiles::csvRow_data()
{
    QTest::addColumn<Sample>("sample");
    QTest::addColumn<QByteArray>("row");

    Sample three = sampleAt("2026-12-07T09:15:02.123Z", 1);
    three.temperature = 238;
    three.humidity = 526;
    three.dewPoint = 135;
    QTest::newRow("three values") << three << row1;

    Sample four = sampleAt("2026-12-31T23:59:59.999Z", 247);
    four.temperature = 0;  // no sign
    four.humidity = 65535; // unsigned: never negative
    four.dewPoint = -123;
    four.wetBulb = -1;
    four.hasWetBulb = true;
    QTest::newRow("four values, zero and below, new year")
        << four
        << QByteArray("2026-12-31T23:59:59.999Z,2027-01-01 00:59:59.999,247,0.0,6553.5,-12.3,"
                      "-0.1,ok\n");

    Sample gap = sampleAt("2026-12-07T09:15:03.125Z", 1);
    gap.status = Sample::Status::NoReply;
    gap.temperature = 238; // whatever the record holds, a gap shows no value
    QTest::newRow("no reply")
        << gap << QByteArray("2026-12-07T09:15:03.125Z,2026-12-07 10:15:03.125,1,,,,,no reply\n");
}

void tst_SampleFiles::csvRow()
{
    QFETCH(Sample, sample);
    QFETCH(QByteArray, row);
    QCOMPARE(samples::csv::header(), header);
    // A comma-decimal locale and one with its own digits must not reach the file.
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany),
                                  QLocale(QLocale::Arabic, QLocale::Egypt)}) {
        const QLocale saved;
        QLocale::setDefault(locale);
        const QByteArray got = samples::csv::row(sample);
        QLocale::setDefault(saved);
        QCOMPARE(got, row);
    }
}

void tst_SampleFiles::openLog_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file
    QTest::addColumn<LogFile::OpenResult>("result");
    QTest::addColumn<QByteArray>("after"); // after one more row, when opened

    const auto opened = LogFile::OpenResult::Opened;
    QTest::newRow("new file") << QByteArray() << opened << header + row1;
    QTest::newRow("empty file") << QByteArray("") << opened << header + row1;
    QTest::newRow("rows kept, no second header") << header + row1 << opened << header + row1 + row1;
    QTest::newRow("torn last row cut")
        << header + row1 + "2026-12-07T09:1" << opened << header + row1 + row1;
    QTest::newRow("torn header") << header.left(20) << opened << header + row1;
    QTest::newRow("held by another log: torn row kept")
        << header + row1 + "2026-12-07T09:1" << LogFile::OpenResult::InUse
        << header + row1 + "2026-12-07T09:1";
    const QByteArray foreign = "date;temperature\n2026-12-07;23,8\n";
    QTest::newRow("foreign header") << foreign << LogFile::OpenResult::Foreign << foreign;
    QTest::newRow("header with a byte-order mark")
        << "\xEF\xBB\xBF" + header << LogFile::OpenResult::Foreign << "\xEF\xBB\xBF" + header;
}

void tst_SampleFiles::openLog()
{
    QFETCH(QByteArray, before);
    QFETCH(LogFile::OpenResult, result);
    QFETCH(QByteArray, after);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    LogFile holder;
    if (result == LogFile::OpenResult::InUse)
        QCOMPARE(holder.open(path), LogFile::OpenResult::Opened);
    QFile file(path);
    if (!before.isNull()) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
        file.close();
    }
    LogFile log;
    QCOMPARE(log.open(path), result);
    QCOMPARE(log.isOpen(), result == LogFile::OpenResult::Opened);
    if (log.isOpen()) {
        syncedSizes.clear();
        QVERIFY2(log.append(row1), qPrintable(log.errorString()));
#ifdef Q_OS_LINUX
        // The row was written when its sync was asked for.
        QCOMPARE(syncedSizes, std::vector<qint64>{after.size()});
#endif
    }
    log.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), after);
}

void tst_SampleFiles::pathChanges()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    const auto content = [&path] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    LogFile log;
    QCOMPARE(log.open(path), LogFile::OpenResult::Opened);
    // A writer that ignores the lock: the row goes after its bytes, not over them.
    QFile other(path);
    QVERIFY(other.open(QIODevice::Append) && other.write(otherRow) && other.flush());
    QVERIFY(log.append(row1));
    QCOMPARE(content(), header + otherRow + row1);
    // Replaced by a saved file, or moved away: the log stops and writes nowhere.
    QSaveFile saved(path);
    QVERIFY(saved.open(QIODevice::WriteOnly) && saved.write(otherRow) && saved.commit());
    QVERIFY(!log.append(row1) && log.pathLost());
    QCOMPARE(content(), otherRow);
    QVERIFY(QFile::remove(path) && log.open(path) == LogFile::OpenResult::Opened);
    QVERIFY(QFile::rename(path, path + QLatin1String(".old")));
    QVERIFY(!log.append(row1) && log.pathLost());
}

QTEST_GUILESS_MAIN(tst_SampleFiles)
#include "tst_samplefiles.moc"
