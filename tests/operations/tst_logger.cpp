// The logger-frame commands: the serial number and the recording configuration.
#include "opstest.h"

#include "protocol/uartdata.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace opstest;

namespace {
const QByteArray readRecord = bytes("7b221a001a227d");
const QString succeeded = QStringLiteral("Setting succeed!");
} // namespace

void tst_Operations::serialNumberWrites_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<int>("type"); // entry of comboBoxType
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("request");
    // The clock stands at 08:07:09 on 5 March 2024; its pairs are read as decimal.
    QTest::newRow("AUTO, SHT2X") << QByteArray("AUTO") << 0 << "typed"
                                 << bytes("7b22aa072018030508070900227d");
    // Six pairs from a short text: "12", "3" and four empty ones.
    QTest::newRow("MANU, SHT3X, 123")
        << QByteArray("MANU") << 1 << "123" << bytes("7b22aa07210c030000000000227d");
}

void tst_Operations::serialNumberWrites()
{
    QFETCH(QByteArray, button);
    QFETCH(int, type);
    QFETCH(QString, typed);
    QFETCH(QByteArray, request);
    m_now = QDateTime(QDate(2024, 3, 5), QTime(8, 7, 9));
    auto *types = ui<QComboBox>("comboBoxType");
    auto *serial = ui<QLineEdit>("lineEditSN");
    types->setCurrentIndex(type);
    serial->setText(typed);
    const QString log = exchangeLog();

    click(button);
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests(), QList<QByteArray>{request}, patience);
    // Acknowledged within its deadline; the acknowledgement also has to leave the receive
    // buffer (half a second of silence) before another logger reply can be read.
    QTest::qWait(1700);
    QCOMPARE(m_lw->watcher()->count(), 0);
    // A generated number shows only when read back.
    QCOMPARE(serial->text(), typed);

    types->setCurrentIndex(1 - type);
    click("ReadSN");
    QTRY_COMPARE_WITH_TIMEOUT(serial->text(), QString::fromLatin1(request.mid(5, 6).toHex()),
                              patience);
    QCOMPARE(types->currentIndex(), type);
    QCOMPARE(m_lw->sim()->requests().last(), bytes("7b220a000a227d"));
    // Logger frames leave no line in the message pane.
    QCOMPARE(exchangeLog(), log);
}

void tst_Operations::unknownModelRefusesWrites()
{
    // A model number the type box does not list leaves it with no current entry; writing
    // then would send model byte 0x1F.
    m_lw->sim()->module().setModel(modsim::Model(8140));
    click("ReadSN");
    QTRY_COMPARE_WITH_TIMEOUT(ui<QComboBox>("comboBoxType")->currentIndex(), -1, patience);
    armForRefusal(); // past the read's deadline too
    m_lw->sim()->clearLog();

    click("AUTO");
    click("MANU");
    const QString selectType = QStringLiteral("Please select the device type!");
    expectRefused({selectType, selectType}, 1700);
}

void tst_Operations::loggerRepliesBackToBack()
{
    // The second reply comes while the first still waits in the receive buffer for the silence:
    // both are shown, and neither command reports a failure.
    m_lw->sim()->module().setRecording(2, 7200);
    auto *serial = ui<QLineEdit>("lineEditSN");
    serial->clear();
    click("ReadSN");
    QTRY_COMPARE_WITH_TIMEOUT(serial->text(), QStringLiteral("240517103001"), patience);
    QTest::qWait(200);
    click("ReadRecord");
    QTRY_COMPARE_WITH_TIMEOUT(ui<QComboBox>("sample_ratecomboBox")->currentText(),
                              QStringLiteral("2h"), patience);
    QTest::qWait(800);
    QCOMPARE(m_lw->watcher()->texts(), QStringList{});
}

void tst_Operations::recordControls_data()
{
    // The operator's choice (with rate "2min"), then, for mode >= 0, the module's reply to a
    // recording read, and what the Record group shows at the end.
    QTest::addColumn<bool>("realtimeOnly");
    QTest::addColumn<int>("startMode"); // 0 "After Setup", 1 "Timing Start"
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("shownRealtimeOnly");
    QTest::addColumn<int>("shownStartMode");
    QTest::addColumn<QString>("shownRate");
    QTest::addColumn<bool>("startTimeEnabled");
    QTest::newRow("recording, timing start")
        << false << 1 << -1 << 0 << false << 1 << "2min" << true;
    QTest::newRow("realtime only") << true << 1 << -1 << 0 << true << 1 << "2min" << false;
    QTest::newRow("reply mode 1, 60 s") << true << 1 << 1 << 60 << false << 0 << "1min" << false;
    QTest::newRow("reply mode 2, 7200 s") << true << 0 << 2 << 7200 << false << 1 << "2h" << true;
    // Modes 3 and 0 leave the work mode on screen as it was; RecModeSelect then enables the
    // start time again under "Timing Start". An interval the box lacks leaves it as it was.
    QTest::newRow("reply mode 3 over timing start")
        << false << 1 << 3 << 600 << false << 1 << "10min" << true;
    QTest::newRow("reply mode 0, 40 s") << true << 0 << 0 << 40 << true << 0 << "2min" << false;
}

void tst_Operations::recordControls()
{
    QFETCH(bool, realtimeOnly);
    QFETCH(int, startMode);
    QFETCH(int, mode);
    QFETCH(int, interval);
    QFETCH(bool, shownRealtimeOnly);
    QFETCH(int, shownStartMode);
    QFETCH(QString, shownRate);
    QFETCH(bool, startTimeEnabled);
    chooseRecording(realtimeOnly, startMode, QStringLiteral("2min"));
    if (mode >= 0) {
        m_lw->sim()->module().setRecording(mode, interval);
        click("ReadRecord");
        QVERIFY(!ui("pushButtonReadRecord")->isEnabled() && !ui("pushButtonSetup")->isEnabled());
        // Set by the receive path after it has updated the controls.
        QTRY_VERIFY_WITH_TIMEOUT(UartData.SettingFlag, patience);
        QCOMPARE(m_lw->sim()->requests(), QList<QByteArray>{readRecord});
    }
    auto *startModes = ui<QComboBox>("recmodecomboBox");
    auto *rates = ui<QComboBox>("sample_ratecomboBox");
    // The group is exclusive: one radio button tells the work mode.
    QCOMPARE(ui<QRadioButton>("radioButtonRealmonitoring")->isChecked(), shownRealtimeOnly);
    QCOMPARE(startModes->currentIndex(), shownStartMode);
    QCOMPARE(rates->currentText(), shownRate);
    QCOMPARE(startModes->isEnabled(), !shownRealtimeOnly);
    QCOMPARE(rates->isEnabled(), !shownRealtimeOnly);
    QCOMPARE(ui<QDateTimeEdit>("dateTimeEditstarttime")->isEnabled(), startTimeEnabled);
}

void tst_Operations::recordWrites_data()
{
    QTest::addColumn<bool>("realtimeOnly");
    QTest::addColumn<int>("startMode");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QByteArray>("request");
    // Now 65 E6 D2 AD, the start time untouched at 65 E6 D3 D9. The check byte counts the mode
    // byte twice (0xAA here; the plain sum would be 0x6A).
    QTest::newRow("timing start, 1min")
        << false << 1 << "1min" << true
        << bytes("7b224a1d65e6d2ad00004000000000ffff003c032001400320014065e6d3d90000aa227d");
    // Disabled controls still give their interval and start time; "24h" is 45000 s.
    QTest::newRow("realtime only, 24h")
        << true << 1 << "24h" << true
        << bytes("7b224a1d65e6d2ad00006000000000ffffafc8032001400320014065e6d3d9000025227d");
    QTest::newRow("after setup, 1S, unanswered")
        << false << 0 << "1S" << false
        << bytes("7b224a1d65e6d2ad00002000000000ffff0001032001400320014065e6d3d900002f227d");
}

void tst_Operations::recordWrites()
{
    QFETCH(bool, realtimeOnly);
    QFETCH(int, startMode);
    QFETCH(QString, rate);
    QFETCH(bool, answered);
    QFETCH(QByteArray, request);
    m_lw->sim()->faults().silent = !answered;
    chooseRecording(realtimeOnly, startMode, rate);
    auto *setup = ui("pushButtonSetup");
    auto *read = ui("pushButtonReadRecord");
    QElapsedTimer sinceClick;
    sinceClick.start();
    setup->click();
    QVERIFY(!setup->isEnabled() && !read->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests(), QList<QByteArray>{request}, patience);
    // The outcome comes at the write's own deadline, whenever the reply came.
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->count(), 1, patience);
    QVERIFY2(sinceClick.elapsed() >= 1000, qPrintable(QString::number(sinceClick.elapsed())));
    QCOMPARE(m_lw->watcher()->messages().first().title,
             answered ? QStringLiteral("Succeed") : QStringLiteral("Failed"));
    QCOMPARE(m_lw->watcher()->messages().first().text,
             answered ? succeeded : QStringLiteral("Setting failed, please try again!"));
    // Both record buttons stay locked for two seconds, and no other box follows.
    QTRY_VERIFY_WITH_TIMEOUT(setup->isEnabled() && read->isEnabled(), patience);
    // The lock-out runs on a coarse timer, which may end 5 % early.
    QVERIFY2(sinceClick.elapsed() >= 1900, qPrintable(QString::number(sinceClick.elapsed())));
    QCOMPARE(m_lw->watcher()->count(), 1);
}

void tst_Operations::startTimeChecks_data()
{
    const QDateTime startUp = QDateTime::fromSecsSinceEpoch(startUpSeconds);
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QDateTime>("start"); // invalid: as preset, five minutes after start-up
    QTest::addColumn<bool>("accepted");
    QTest::newRow("the current second") << startUp.addSecs(300) << QDateTime() << false;
    QTest::newRow("a second ahead") << startUp.addSecs(299) << QDateTime() << true;
    // Beyond the module's unsigned 32-bit seconds.
    QTest::newRow("before 1970") << startUp << QDateTime(QDate(1969, 6, 1), QTime(12, 0)) << false;
    QTest::newRow("after 2106") << startUp << QDateTime(QDate(2107, 1, 1), QTime(0, 0)) << false;
    QTest::newRow("in 2100") << startUp << QDateTime(QDate(2100, 1, 1), QTime(0, 0)) << true;
}

void tst_Operations::startTimeChecks()
{
    QFETCH(QDateTime, now);
    QFETCH(QDateTime, start);
    QFETCH(bool, accepted);
    auto *startTime = ui<QDateTimeEdit>("dateTimeEditstarttime");
    if (start.isValid())
        startTime->setDateTime(start);
    m_now = now;
    click("Setup");
    if (!accepted) {
        QVERIFY(ui("pushButtonSetup")->isEnabled() && ui("pushButtonReadRecord")->isEnabled());
        expectRefused({QStringLiteral("Time setting error!")});
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(int(m_lw->sim()->requests().size()), 1, patience);
    const qint64 seconds = startTime->dateTime().toSecsSinceEpoch();
    QCOMPARE(m_lw->sim()->requests().first().mid(27, 4),
             QByteArray::fromHex(QByteArray::number(seconds, 16).rightJustified(8, '0')));
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->texts(), QStringList{succeeded}, patience);
}
