// The Modbus commands: the live-value poll, the address read and write, the line-speed change.
#include "opstest.h"

#include "protocol/uartdata.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace opstest;

namespace {
const QString rangeError = QStringLiteral("The address is between 1 and 247!");
const QString emptyError = QStringLiteral("The address is empty!");

bool isPoll(const QByteArray &request)
{
    return request.size() == 8 && request.mid(1, 5) == bytes("0300000003");
}
} // namespace

void tst_Operations::modbusRequests_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("address"); // in lineEditAddress
    QTest::addColumn<int>("speed");       // chosen in comboBoxBaudRate; 0: not a speed change
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("poll to 10") << QByteArray("Read") << "10" << 0 << bytes("0a030000000304b0");
    QTest::newRow("poll to 247") << QByteArray("Read") << "247" << 0 << bytes("f70300000003115d");
    QTest::newRow("address read") << QByteArray("AddressRead") << "" << 0
                                  << bytes("0003010000018427");
    QTest::newRow("address write 1")
        << QByteArray("Address") << "1" << 0 << bytes("0006010000014827");
    QTest::newRow("address write 247")
        << QByteArray("Address") << "247" << 0 << bytes("0006010000f7c861");
    QTest::newRow("speed code 1, 1200")
        << QByteArray("BaudRate") << "" << 1200 << bytes("00060101000119e7");
    QTest::newRow("speed code 6, 115200")
        << QByteArray("BaudRate") << "" << 115200 << bytes("0006010100065825");
}

void tst_Operations::modbusRequests()
{
    QFETCH(QByteArray, button);
    QFETCH(QString, address);
    QFETCH(int, speed);
    QFETCH(QByteArray, request);
    // Unanswered, so that the module keeps its address and speed and every deadline reports.
    m_lw->sim()->faults().silent = true;
    ui<QLineEdit>("lineEditAddress")->setText(address);
    auto *speeds = ui<QComboBox>("comboBoxBaudRate");
    if (speed)
        speeds->setCurrentIndex(speeds->findText(QString::number(speed)));
    click(button);
    if (speed) {
        // Taken over before any reply.
        QCOMPARE(UartData.BaudRate, speed);
        QVERIFY(UartData.ReopenFlag);
    }

    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests(), QList<QByteArray>{request}, patience);
    QTRY_VERIFY_WITH_TIMEOUT(exchangeLog().contains(QLatin1String("->TX  " + request.toHex())),
                             patience);
    if (isPoll(request)) {
        // The poll goes to the typed address and waits for no reply.
        QCOMPARE(int(UartData.Address), address.toInt());
        QTest::qWait(700);
        QCOMPARE(m_lw->watcher()->count(), 0);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->texts(),
                              QStringList{QStringLiteral("Communication error!")}, patience);
    QCOMPARE(m_lw->watcher()->messages().first().title, QStringLiteral("Error"));
    // An unanswered speed change leaves the port at the old speed, where the module still is.
    QVERIFY(!UartData.ReopenFlag);
    QCOMPARE(m_lw->port()->baudRate(), 9600);
}

void tst_Operations::addressRefused_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");
    QTest::newRow("poll, empty") << QByteArray("Read") << "" << emptyError;
    QTest::newRow("poll, 248") << QByteArray("Read") << "248" << rangeError;
    QTest::newRow("poll, not a number") << QByteArray("Read") << "12a" << rangeError;
    QTest::newRow("write, empty") << QByteArray("Address") << "" << emptyError;
    QTest::newRow("write, 0") << QByteArray("Address") << "0" << rangeError;
}

void tst_Operations::addressRefused()
{
    QFETCH(QByteArray, button);
    QFETCH(QString, address);
    QFETCH(QString, message);
    armForRefusal();
    ui<QLineEdit>("lineEditAddress")->setText(address);
    click(button);
    // A refused poll ends the polling: one box, not one a second.
    expectRefused({message});
    QCOMPARE(ui<QPushButton>("pushButtonRead")->text(), QStringLiteral("Read"));
}

void tst_Operations::pollRhythm()
{
    auto *read = ui<QPushButton>("pushButtonRead");
    // Polls as the module receives them. The address is changed after the first, and a
    // recording read goes out the moment the second arrives, so that no poll is on its way.
    QList<qint64> at;
    QList<QByteArray> polls;
    quint8 addressInUse = 0;
    QElapsedTimer clock;
    QObject context;
    connect(m_lw->sim(), &modsim::SimulatedModule::requestReceived, &context,
            [&](const QByteArray &request) {
                if (!isPoll(request))
                    return;
                at << clock.elapsed();
                polls << request;
                if (polls.size() == 1)
                    ui<QLineEdit>("lineEditAddress")->setText(QStringLiteral("7"));
                if (polls.size() == 2) {
                    addressInUse = UartData.Address; // before the address read below answers
                    click("ReadRecord");
                }
                if (polls.size() == 3)
                    click("AddressRead");
            });
    clock.start();
    read->click();
    QCOMPARE(read->text(), QStringLiteral("Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(polls.size() >= 4, patience);

    // The first poll one period after the click, the next one period later at the address now
    // in the field, the one after the recording command three seconds after it, and a Modbus
    // command puts the poll back to one period.
    QVERIFY2(at[0] >= 900, qPrintable(QString::number(at[0])));
    QVERIFY2(at[1] - at[0] >= 900, qPrintable(QString::number(at[1] - at[0])));
    QVERIFY2(at[2] - at[1] >= 2800, qPrintable(QString::number(at[2] - at[1])));
    QVERIFY2(at[3] - at[2] >= 900 && at[3] - at[2] < 2500,
             qPrintable(QString::number(at[3] - at[2])));
    QCOMPARE(int(quint8(polls[0].at(0))), 1);
    QCOMPARE(int(quint8(polls[1].at(0))), 7);
    QCOMPARE(int(addressInUse), 7);

    read->click();
    QTest::qWait(300); // a poll written just before the click is still on its way
    const int stoppedAt = int(polls.size());
    QTest::qWait(1500);
    QCOMPARE(int(polls.size()), stoppedAt);
    QCOMPARE(m_lw->watcher()->count(), 0);
}

void tst_Operations::labels_data()
{
    QTest::addColumn<int>("temperature");
    QTest::addColumn<int>("humidity");
    QTest::addColumn<bool>("wetBulb");  // the four-value reply
    QTest::addColumn<QString>("shown"); // the temperature and humidity labels
    QTest::newRow("23.5, 65.5") << 235 << 655 << false
                                << QStringLiteral("Temperature:23.5\u2103 Humidity:65.5%");
    QTest::newRow("below zero, wet bulb")
        << -52 << 900 << true << QStringLiteral("Temperature:-5.2\u2103 Humidity:90.0%");
    // Humidity is unsigned: the top bit makes it large, never negative.
    QTest::newRow("zero, humidity top bit")
        << 0 << 0x8000 << false << QStringLiteral("Temperature:0.0\u2103 Humidity:3276.8%");
}

void tst_Operations::labels()
{
    QFETCH(int, temperature);
    QFETCH(int, humidity);
    QFETCH(bool, wetBulb);
    QFETCH(QString, shown);
    modsim::Module &module = m_lw->sim()->module();
    module.setTemperature(qint16(temperature));
    module.setHumidity(quint16(humidity));
    module.setWetBulbReply(wetBulb);
    const auto celsius = [](qint16 tenths) {
        return QString::number(tenths / 10.0, 'f', 1) + QChar(0x2103);
    };
    // A three-value reply leaves the wet-bulb label as the form has it.
    const QString wetBulbLabel = wetBulb ? "WetBulbTemp:" + celsius(module.wetBulb())
                                         : ui<QLabel>("labelWetBulbTemp")->text();

    click("Read");
    QTRY_COMPARE_WITH_TIMEOUT(ui<QLabel>("labelTemperature")->text() + ' ' +
                                  ui<QLabel>("labelHumidity")->text(),
                              shown, patience);
    QCOMPARE(ui<QLabel>("labelDewTemp")->text(), "DewTemp:" + celsius(module.dewPoint()));
    QCOMPARE(ui<QLabel>("labelWetBulbTemp")->text(), wetBulbLabel);
}

void tst_Operations::baudChangeAnswered()
{
    auto *speeds = ui<QComboBox>("comboBoxBaudRate");
    speeds->setCurrentIndex(speeds->findText(QStringLiteral("115200")));
    click("BaudRate");
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->module().lineSpeed(), 115200, patience);
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->port()->baudRate(), 115200, patience);
    QVERIFY(!UartData.ReopenFlag);
    // Completing the change sends no address read of its own.
    QTest::qWait(800);
    QCOMPARE(m_lw->sim()->requests(), QList<QByteArray>{bytes("0006010100065825")});

    // The module hears only what comes at its new speed.
    m_lw->sim()->module().setTemperature(-123);
    click("Read");
    QTRY_COMPARE_WITH_TIMEOUT(ui<QLabel>("labelTemperature")->text(),
                              QStringLiteral("Temperature:-12.3\u2103"), patience);
    QCOMPARE(m_lw->watcher()->count(), 0);
}
