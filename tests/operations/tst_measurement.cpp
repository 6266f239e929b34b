// The live-value poll, end to end: the Read/Stop button, the requests on the line, the address
// checks and the four value labels, against the simulated module on a pseudo-terminal.
#include "opstest.h"

#include "protocol/uartdata.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>

using namespace opstest;

class tst_Measurement : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pollStartsAfterOneSecondAndStops();
    void pollAddress_data();
    void pollAddress();
    void pollRefusesAddress_data();
    void pollRefusesAddress();
    void addressEditedWhilePolling();
    void labels_data();
    void labels();
    void wetBulbLabelOnlyWithFourValues();
    void recordCommandDelaysNextPoll();

private:
    QPushButton *readButton() const { return m_lw->child<QPushButton>("pushButtonRead"); }
    QLineEdit *addressField() const { return m_lw->child<QLineEdit>("lineEditAddress"); }
    int measurementRequests() const;

    std::unique_ptr<testsupport::LinkedWindow> m_lw;
};

void tst_Measurement::init()
{
    m_lw = linkedWindow();
    QVERIFY2(m_lw, "the window did not link to the simulated module");
    m_lw->sim()->module().setFrozen(true);
}

void tst_Measurement::cleanup()
{
    m_lw.reset();
}

int tst_Measurement::measurementRequests() const
{
    int n = 0;
    for (const QByteArray &r : m_lw->sim()->requests())
        n += isMeasurementRequest(r) ? 1 : 0;
    return n;
}

void tst_Measurement::pollStartsAfterOneSecondAndStops()
{
    QCOMPARE(readButton()->text(), QStringLiteral("Read"));
    QElapsedTimer sinceClick;
    sinceClick.start();
    readButton()->click();
    QCOMPARE(readButton()->text(), QStringLiteral("Stop"));

    const qint64 first = msUntilRequest(*m_lw, sinceClick, isMeasurementRequest);
    QVERIFY2(first >= 900, qPrintable(QStringLiteral("first poll after %1 ms").arg(first)));
    QCOMPARE(m_lw->sim()->requests().first(), bytes("01030000000305cb"));
    QTRY_VERIFY_WITH_TIMEOUT(m_lw->child<QTextBrowser>("textBrowser")
                                 ->toPlainText()
                                 .contains(QStringLiteral("->TX  01030000000305cb")),
                             patience);
    QTRY_VERIFY_WITH_TIMEOUT(measurementRequests() >= 3, patience);

    readButton()->click();
    QCOMPARE(readButton()->text(), QStringLiteral("Read"));
    QTest::qWait(300); // a request written just before the click is still on its way
    const int stoppedAt = measurementRequests();
    QTest::qWait(2500);
    QCOMPARE(measurementRequests(), stoppedAt);
    QCOMPARE(m_lw->watcher()->count(), 0);
}

void tst_Measurement::pollAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("1") << "1" << bytes("01030000000305cb");
    QTest::newRow("10") << "10" << bytes("0a030000000304b0");
    // The module sits at address 1; a poll to 5 or 247 still goes out, unanswered.
    QTest::newRow("5, never read from the module") << "5" << bytes("050300000003044f");
    QTest::newRow("247, the highest") << "247" << bytes("f70300000003115d");
}

void tst_Measurement::pollAddress()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, request);
    addressField()->setText(text);
    readButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(measurementRequests() >= 1, patience);
    QCOMPARE(m_lw->sim()->requests().first(), request);
    QCOMPARE(int(UartData.Address), text.toInt());
    QCOMPARE(readButton()->text(), QStringLiteral("Stop"));
    QCOMPARE(m_lw->watcher()->count(), 0);
}

void tst_Measurement::pollRefusesAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString range = QStringLiteral("The address is between 1 and 247!");
    QTest::newRow("empty") << "" << QStringLiteral("The address is empty!");
    QTest::newRow("0") << "0" << range;
    QTest::newRow("248") << "248" << range;
    QTest::newRow("abc") << "abc" << range;
    QTest::newRow("digits then letters") << "12a" << range;
}

void tst_Measurement::pollRefusesAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    addressField()->setText(text);
    readButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->count(), 1, patience);
    QCOMPARE(m_lw->watcher()->messages().first().title, QStringLiteral("Error"));
    QCOMPARE(m_lw->watcher()->messages().first().text, message);
    QCOMPARE(readButton()->text(), QStringLiteral("Read"));

    // The poll has ended: no second box, and no request.
    QTest::qWait(2500);
    QCOMPARE(m_lw->watcher()->count(), 1);
    const QList<QByteArray> sent = requestsUpToMarker(*m_lw);
    QCOMPARE(sent.size(), 1);
}

void tst_Measurement::addressEditedWhilePolling()
{
    m_lw->sim()->module().setAddress(7);
    readButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(measurementRequests() >= 1, patience);
    QCOMPARE(quint8(m_lw->sim()->requests().last().at(0)), quint8(1));

    addressField()->setText(QStringLiteral("7"));
    m_lw->sim()->clearLog();
    QTRY_VERIFY_WITH_TIMEOUT(measurementRequests() >= 1, patience);
    QCOMPARE(quint8(m_lw->sim()->requests().last().at(0)), quint8(7));
    QCOMPARE(int(UartData.Address), 7);
    // Answered by the module at its new address.
    QTRY_VERIFY_WITH_TIMEOUT(m_lw->child<QLabel>("labelTemperature")->text().endsWith(u'\u2103'),
                             patience);

    addressField()->clear();
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->texts(),
                              QStringList{QStringLiteral("The address is empty!")}, patience);
    QCOMPARE(readButton()->text(), QStringLiteral("Read"));
}

void tst_Measurement::labels_data()
{
    QTest::addColumn<int>("temperature");
    QTest::addColumn<int>("humidity");
    QTest::addColumn<QString>("temperatureLabel");
    QTest::addColumn<QString>("humidityLabel");
    QTest::newRow("23.5, 65.5") << 235 << 655 << QStringLiteral("Temperature:23.5\u2103")
                                << QStringLiteral("Humidity:65.5%");
    QTest::newRow("below zero") << -52 << 500 << QStringLiteral("Temperature:-5.2\u2103")
                                << QStringLiteral("Humidity:50.0%");
    QTest::newRow("zero") << 0 << 0 << QStringLiteral("Temperature:0.0\u2103")
                          << QStringLiteral("Humidity:0.0%");
    // Humidity is unsigned: the top bit makes it large, never negative.
    QTest::newRow("humidity top bit") << 100 << 0x8000 << QStringLiteral("Temperature:10.0\u2103")
                                      << QStringLiteral("Humidity:3276.8%");
    QTest::newRow("humidity all ones")
        << -400 << 0xFFFF << QStringLiteral("Temperature:-40.0\u2103")
        << QStringLiteral("Humidity:6553.5%");
}

void tst_Measurement::labels()
{
    QFETCH(int, temperature);
    QFETCH(int, humidity);
    QFETCH(QString, temperatureLabel);
    QFETCH(QString, humidityLabel);
    modsim::Module &module = m_lw->sim()->module();
    module.setTemperature(qint16(temperature));
    module.setHumidity(quint16(humidity));
    const qint16 dew = module.dewPoint();

    readButton()->click();
    auto *temperatureText = m_lw->child<QLabel>("labelTemperature");
    QTRY_COMPARE_WITH_TIMEOUT(temperatureText->text(), temperatureLabel, patience);
    QCOMPARE(m_lw->child<QLabel>("labelHumidity")->text(), humidityLabel);
    const QString dewLabel = QStringLiteral("DewTemp:%1%2.%3\u2103")
                                 .arg(dew < 0 ? QStringLiteral("-") : QString())
                                 .arg(qAbs(dew) / 10)
                                 .arg(qAbs(dew) % 10);
    QCOMPARE(m_lw->child<QLabel>("labelDewTemp")->text(), dewLabel);
}

void tst_Measurement::wetBulbLabelOnlyWithFourValues()
{
    auto *wetBulb = m_lw->child<QLabel>("labelWetBulbTemp");
    auto *temperature = m_lw->child<QLabel>("labelTemperature");
    const QString formCaption = wetBulb->text();
    modsim::Module &module = m_lw->sim()->module();
    module.setTemperature(-52);
    module.setHumidity(900);

    readButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("Temperature:-5.2\u2103"),
                              patience);
    QCOMPARE(wetBulb->text(), formCaption);

    module.setWetBulbReply(true);
    const qint16 wet = module.wetBulb();
    QVERIFY(wet < 0);
    const QString wetLabel =
        QStringLiteral("WetBulbTemp:-%1.%2\u2103").arg(-wet / 10).arg(-wet % 10);
    QTRY_COMPARE_WITH_TIMEOUT(wetBulb->text(), wetLabel, patience);

    // Back to three values: the wet-bulb label keeps the last value shown.
    module.setWetBulbReply(false);
    module.setTemperature(0);
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("Temperature:0.0\u2103"),
                              patience);
    QCOMPARE(wetBulb->text(), wetLabel);
}

void tst_Measurement::recordCommandDelaysNextPoll()
{
    readButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(measurementRequests() >= 1, patience);

    // The recording read goes out the moment a poll arrives, so that no poll is on its way.
    QElapsedTimer sinceRecordRead;
    bool armed = true;
    qint64 nextPoll = -1;
    QObject context;
    connect(m_lw->sim(), &modsim::SimulatedModule::requestReceived, &context,
            [&](const QByteArray &request) {
                if (!isMeasurementRequest(request))
                    return;
                if (armed) {
                    armed = false;
                    sinceRecordRead.start();
                    m_lw->child<QPushButton>("pushButtonReadRecord")->click();
                } else if (nextPoll < 0) {
                    nextPoll = sinceRecordRead.elapsed();
                }
            });
    QTRY_VERIFY_WITH_TIMEOUT(nextPoll >= 0, patience);
    QVERIFY2(nextPoll >= 2800, qPrintable(QStringLiteral("next poll after %1 ms").arg(nextPoll)));
    QVERIFY(m_lw->sim()->requests().contains(bytes("7b221a001a227d")));
    QCOMPARE(readButton()->text(), QStringLiteral("Stop"));
}

QTEST_MAIN(tst_Measurement)
#include "tst_measurement.moc"
