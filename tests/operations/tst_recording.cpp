// The Record group: its enabled states, the recording read and write on the line, their
// outcomes and the start-time check, end to end against the simulated module.
#include "opstest.h"

#include "protocol/uartdata.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace opstest;

namespace {
const QByteArray readRecord = bytes("7b221a001a227d");
const QString timeError = QStringLiteral("Time setting error!");

// Index of the sampling-interval box for a number of seconds.
int rateEntry(int seconds)
{
    const QList<int> table{1,   2,   5,    10,   20,   30,    60,    120,
                           300, 600, 1800, 3600, 7200, 21600, 43200, 45000};
    return int(table.indexOf(seconds));
}

quint32 longAt(const QByteArray &frame, int at)
{
    quint32 value = 0;
    for (int i = at; i < at + 4; ++i)
        value = value << 8 | quint8(frame.at(i));
    return value;
}

enum WorkMode { Recording, RealtimeOnly };
} // namespace

class tst_Recording : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void enabledStates_data();
    void enabledStates();
    void readDisablesButtonsForTwoSeconds();
    void readReplyUpdatesControls_data();
    void readReplyUpdatesControls();
    void writeSendsTheModuleFrame();
    void writeFrames_data();
    void writeFrames();
    void writeUnansweredFails();
    void startTimeChecks_data();
    void startTimeChecks();

private:
    bool linkAt(const QDateTime &startUp);
    QRadioButton *recordButton() const { return m_lw->child<QRadioButton>("radioButtonRecord"); }
    QRadioButton *realtimeButton() const
    {
        return m_lw->child<QRadioButton>("radioButtonRealmonitoring");
    }
    QComboBox *startMode() const { return m_lw->child<QComboBox>("recmodecomboBox"); }
    QComboBox *rate() const { return m_lw->child<QComboBox>("sample_ratecomboBox"); }
    QDateTimeEdit *startTime() const { return m_lw->child<QDateTimeEdit>("dateTimeEditstarttime"); }
    QPushButton *setupButton() const { return m_lw->child<QPushButton>("pushButtonSetup"); }
    QPushButton *readButton() const { return m_lw->child<QPushButton>("pushButtonReadRecord"); }
    // Selects the controls as an operator would.
    void choose(WorkMode work, int startModeEntry, int rateSeconds);

    std::unique_ptr<TestClock> m_clock;
    std::unique_ptr<testsupport::LinkedWindow> m_lw;
};

bool tst_Recording::linkAt(const QDateTime &startUp)
{
    // The window presets its start time from the clock while it is built.
    m_clock = std::make_unique<TestClock>(startUp);
    m_lw = linkedWindow();
    return bool(m_lw);
}

void tst_Recording::cleanup()
{
    m_lw.reset();
    m_clock.reset();
}

void tst_Recording::choose(WorkMode work, int startModeEntry, int rateSeconds)
{
    // The start mode and rate boxes are disabled under "Only Realtime Monitoring", so they
    // are chosen first.
    recordButton()->click();
    startMode()->setCurrentIndex(startModeEntry);
    rate()->setCurrentIndex(rateEntry(rateSeconds));
    if (work == RealtimeOnly)
        realtimeButton()->click();
}

void tst_Recording::enabledStates_data()
{
    QTest::addColumn<int>("work");
    QTest::addColumn<int>("startModeEntry");
    QTest::addColumn<bool>("boxesEnabled");
    QTest::addColumn<bool>("startTimeEnabled");
    QTest::newRow("recording, after setup") << int(Recording) << 0 << true << false;
    QTest::newRow("recording, timing start") << int(Recording) << 1 << true << true;
    QTest::newRow("realtime only, after setup") << int(RealtimeOnly) << 0 << false << false;
    QTest::newRow("realtime only, timing start") << int(RealtimeOnly) << 1 << false << false;
}

void tst_Recording::enabledStates()
{
    QFETCH(int, work);
    QFETCH(int, startModeEntry);
    QFETCH(bool, boxesEnabled);
    QFETCH(bool, startTimeEnabled);
    QVERIFY(linkAt(QDateTime::currentDateTime()));

    choose(WorkMode(work), startModeEntry, 60);
    QCOMPARE(startMode()->isEnabled(), boxesEnabled);
    QCOMPARE(rate()->isEnabled(), boxesEnabled);
    QCOMPARE(startTime()->isEnabled(), startTimeEnabled);

    // Back to recording: the start time follows the start mode again.
    recordButton()->click();
    QVERIFY(startMode()->isEnabled());
    QVERIFY(rate()->isEnabled());
    QCOMPARE(startTime()->isEnabled(), startModeEntry == 1);
}

void tst_Recording::readDisablesButtonsForTwoSeconds()
{
    QVERIFY(linkAt(QDateTime::currentDateTime()));
    QElapsedTimer sinceClick;
    sinceClick.start();
    readButton()->click();
    QVERIFY(!readButton()->isEnabled());
    QVERIFY(!setupButton()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(readButton()->isEnabled(), patience);
    const qint64 locked = sinceClick.elapsed();
    QVERIFY2(locked >= 1850, qPrintable(QStringLiteral("enabled after %1 ms").arg(locked)));
    QVERIFY(setupButton()->isEnabled());
    QCOMPARE(m_lw->sim()->requests(), QList<QByteArray>{readRecord});
    // A read shows no outcome box.
    QCOMPARE(m_lw->watcher()->count(), 0);
}

void tst_Recording::readReplyUpdatesControls_data()
{
    QTest::addColumn<int>("work");
    QTest::addColumn<int>("startModeEntry");
    QTest::addColumn<int>("moduleMode");
    QTest::addColumn<int>("moduleInterval");
    QTest::addColumn<int>("expectedWork");
    QTest::addColumn<int>("expectedStartMode");
    QTest::addColumn<int>("expectedRate");
    QTest::addColumn<bool>("startTimeEnabled");

    QTest::newRow("mode 1") << int(RealtimeOnly) << 1 << 1 << 60 << int(Recording) << 0 << 60
                            << false;
    QTest::newRow("mode 2, 2h") << int(Recording) << 0 << 2 << 7200 << int(Recording) << 1 << 7200
                                << true;
    QTest::newRow("24h is 45000 s")
        << int(Recording) << 0 << 1 << 45000 << int(Recording) << 0 << 45000 << false;
    // Modes 3 and 0 leave the work-mode selection on screen as it was.
    QTest::newRow("mode 3 over realtime only")
        << int(RealtimeOnly) << 0 << 3 << 600 << int(RealtimeOnly) << 0 << 600 << false;
    QTest::newRow("mode 3 over recording, timing start")
        << int(Recording) << 1 << 3 << 600 << int(Recording) << 1 << 600 << true;
    QTest::newRow("mode 0 over recording, after setup")
        << int(Recording) << 0 << 0 << 30 << int(Recording) << 0 << 30 << false;
    // An interval the box does not list leaves it as it was.
    QTest::newRow("interval 15") << int(Recording) << 0 << 2 << 15 << int(Recording) << 1 << 120
                                 << true;
    QTest::newRow("interval 40") << int(Recording) << 1 << 1 << 40 << int(Recording) << 0 << 120
                                 << false;
}

void tst_Recording::readReplyUpdatesControls()
{
    QFETCH(int, work);
    QFETCH(int, startModeEntry);
    QFETCH(int, moduleMode);
    QFETCH(int, moduleInterval);
    QFETCH(int, expectedWork);
    QFETCH(int, expectedStartMode);
    QFETCH(int, expectedRate);
    QFETCH(bool, startTimeEnabled);
    QVERIFY(linkAt(QDateTime::currentDateTime()));
    choose(WorkMode(work), startModeEntry, 120);
    const QDateTime startBefore = startTime()->dateTime();
    m_lw->sim()->module().setRecording(moduleMode, moduleInterval);

    readButton()->click();
    // The reply sets the flag after the controls have been updated.
    QTRY_VERIFY_WITH_TIMEOUT(UartData.SettingFlag, patience);
    QCOMPARE(int(UartData.RecordMode), moduleMode);
    QCOMPARE(recordButton()->isChecked(), expectedWork == Recording);
    QCOMPARE(realtimeButton()->isChecked(), expectedWork == RealtimeOnly);
    QCOMPARE(startMode()->currentIndex(), expectedStartMode);
    QCOMPARE(rate()->currentIndex(), rateEntry(expectedRate));
    QCOMPARE(startTime()->isEnabled(), startTimeEnabled);
    QCOMPARE(startMode()->isEnabled(), expectedWork == Recording);
    QCOMPARE(rate()->isEnabled(), expectedWork == Recording);
    QCOMPARE(startTime()->dateTime(), startBefore);
    QTest::qWait(800); // answered: no box after the deadline
    QCOMPARE(m_lw->watcher()->count(), 0);
}

void tst_Recording::writeSendsTheModuleFrame()
{
    // Current time 65 E6 D2 AD, start 300 s later (65 E6 D3 D9), timing start, one minute.
    QVERIFY(linkAt(QDateTime::fromSecsSinceEpoch(0x65E6D2AD)));
    choose(Recording, 1, 60);
    startTime()->setDateTime(QDateTime::fromSecsSinceEpoch(0x65E6D3D9));

    QElapsedTimer sinceClick;
    sinceClick.start();
    setupButton()->click();
    QVERIFY(!setupButton()->isEnabled());
    QVERIFY(!readButton()->isEnabled());
    const QByteArray expected = bytes("7b224a1d65e6d2ad00004000000000ffff003c0320014003200140"
                                      "65e6d3d90000aa227d");
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests(), QList<QByteArray>{expected}, patience);
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->count(), 1, patience);
    const qint64 waited = sinceClick.elapsed();
    QVERIFY2(waited >= 900, qPrintable(QStringLiteral("outcome after %1 ms").arg(waited)));
    QCOMPARE(m_lw->watcher()->messages().first().title, QStringLiteral("Succeed"));
    QCOMPARE(m_lw->watcher()->messages().first().text, QStringLiteral("Setting succeed!"));
    QCOMPARE(m_lw->sim()->module().startTime(), quint32(0x65E6D3D9));
    QCOMPARE(m_lw->sim()->module().recordMode(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(setupButton()->isEnabled() && readButton()->isEnabled(), patience);
}

void tst_Recording::writeFrames_data()
{
    QTest::addColumn<int>("work");
    QTest::addColumn<int>("startModeEntry");
    QTest::addColumn<int>("rateSeconds");
    QTest::addColumn<int>("modeByte");
    QTest::newRow("after setup, 1 s") << int(Recording) << 0 << 1 << 0x20;
    QTest::newRow("timing start, 24h") << int(Recording) << 1 << 45000 << 0x40;
    // Disabled controls still give their interval and start time.
    QTest::newRow("realtime only, 6h") << int(RealtimeOnly) << 1 << 21600 << 0x60;
}

void tst_Recording::writeFrames()
{
    QFETCH(int, work);
    QFETCH(int, startModeEntry);
    QFETCH(int, rateSeconds);
    QFETCH(int, modeByte);
    const quint32 now = 0x66000000;
    QVERIFY(linkAt(QDateTime::fromSecsSinceEpoch(now)));
    choose(WorkMode(work), startModeEntry, rateSeconds);
    startTime()->setDateTime(QDateTime::fromSecsSinceEpoch(now + 86400));

    setupButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests().size(), 1, patience);
    const QByteArray frame = m_lw->sim()->requests().first();
    QCOMPARE(frame.size(), 36);
    QCOMPARE(frame.left(4), bytes("7b224a1d"));
    QCOMPARE(longAt(frame, 4), now);
    QCOMPARE(int(quint8(frame.at(10))), modeByte);
    QCOMPARE(int(quint8(frame.at(17))) << 8 | quint8(frame.at(18)), rateSeconds);
    QCOMPARE(longAt(frame, 27), now + 86400);
    QCOMPARE(frame.right(2), bytes("227d"));
    // The module's check byte counts the mode byte twice.
    quint8 check = quint8(modeByte);
    for (int i = 2; i <= 32; ++i)
        check = quint8(check + quint8(frame.at(i)));
    QCOMPARE(quint8(frame.at(33)), check);
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->texts(),
                              QStringList{QStringLiteral("Setting succeed!")}, patience);
    QCOMPARE(m_lw->sim()->module().sampleInterval(), rateSeconds);
}

void tst_Recording::writeUnansweredFails()
{
    QVERIFY(linkAt(QDateTime::currentDateTime()));
    m_lw->sim()->faults().silent = true;
    choose(Recording, 0, 60);
    QElapsedTimer sinceClick;
    sinceClick.start();
    setupButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->count(), 1, patience);
    QVERIFY(sinceClick.elapsed() >= 900);
    QCOMPARE(m_lw->watcher()->messages().first().title, QStringLiteral("Failed"));
    QCOMPARE(m_lw->watcher()->messages().first().text,
             QStringLiteral("Setting failed, please try again!"));
    QCOMPARE(m_lw->sim()->requests().size(), 1);
    // The write has no other deadline.
    QTest::qWait(1500);
    QCOMPARE(m_lw->watcher()->count(), 1);
}

void tst_Recording::startTimeChecks_data()
{
    const QDateTime startUp = QDateTime::fromSecsSinceEpoch(0x65E6D2AD);
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<bool>("accepted");
    // The window presets the start time five minutes ahead of its start.
    QTest::newRow("untouched, five minutes later") << startUp.addSecs(300) << QDateTime() << false;
    QTest::newRow("untouched, one second earlier") << startUp.addSecs(299) << QDateTime() << true;
    QTest::newRow("an hour ago") << startUp << startUp.addSecs(-3600) << false;
    QTest::newRow("before 1970") << startUp << QDateTime(QDate(1969, 6, 1), QTime(12, 0)) << false;
    QTest::newRow("after 2106") << startUp << QDateTime(QDate(2107, 1, 1), QTime(0, 0)) << false;
    QTest::newRow("in 2100") << startUp << QDateTime(QDate(2100, 1, 1), QTime(0, 0)) << true;
}

void tst_Recording::startTimeChecks()
{
    QFETCH(QDateTime, now);
    QFETCH(QDateTime, start);
    QFETCH(bool, accepted);
    QVERIFY(linkAt(QDateTime::fromSecsSinceEpoch(0x65E6D2AD)));
    if (start.isValid())
        startTime()->setDateTime(start);
    m_clock->set(now);

    setupButton()->click();
    if (accepted) {
        QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests().size(), 1, patience);
        const QByteArray frame = m_lw->sim()->requests().first();
        QCOMPARE(longAt(frame, 27), quint32(startTime()->dateTime().toSecsSinceEpoch()));
        QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->texts(),
                                  QStringList{QStringLiteral("Setting succeed!")}, patience);
        return;
    }
    QCOMPARE(m_lw->watcher()->texts(), QStringList{timeError});
    QCOMPARE(m_lw->watcher()->messages().first().title, QStringLiteral("Error"));
    QVERIFY(setupButton()->isEnabled());
    QVERIFY(readButton()->isEnabled());
    QCOMPARE(requestsUpToMarker(*m_lw), QList<QByteArray>{bytes("0003010000018427")});
    QTest::qWait(1200); // no outcome box either
    QCOMPARE(m_lw->watcher()->count(), 1);
}

QTEST_MAIN(tst_Recording)
#include "tst_recording.moc"
