// The module's type and serial number, end to end against the simulated module on a
// pseudo-terminal.
#include "opstest.h"

#include "protocol/uartdata.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTextBrowser>

using namespace opstest;

namespace {
const QByteArray readInfo = bytes("7b220a000a227d");
const QString selectType = QStringLiteral("Please select the device type!");
} // namespace

class tst_SerialNumber : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readShowsTypeAndHexSerial();
    void clockSerialNumber_data();
    void clockSerialNumber();
    void typedSerialNumber_data();
    void typedSerialNumber();
    void writeWaitsLongerForItsReply();
    void unknownModelRefusesWrites();

private:
    QComboBox *typeBox() const { return m_lw->child<QComboBox>("comboBoxType"); }
    QLineEdit *serialField() const { return m_lw->child<QLineEdit>("lineEditSN"); }

    std::unique_ptr<testsupport::LinkedWindow> m_lw;
};

void tst_SerialNumber::init()
{
    m_lw = linkedWindow();
    QVERIFY2(m_lw, "the window did not link to the simulated module");
}

void tst_SerialNumber::cleanup()
{
    m_lw.reset();
}

void tst_SerialNumber::readShowsTypeAndHexSerial()
{
    modsim::Module &module = m_lw->sim()->module();
    module.setModel(modsim::Model::Sht2x);
    module.setSerialNumber({0x15, 0x03, 0x05, 0x0E, 0x07, 0x09});
    typeBox()->setCurrentIndex(1);
    const QString log = m_lw->child<QTextBrowser>("textBrowser")->toPlainText();

    click(*m_lw, "pushButtonReadSN");
    QTRY_COMPARE_WITH_TIMEOUT(serialField()->text(), QStringLiteral("1503050e0709"), patience);
    QCOMPARE(typeBox()->currentIndex(), 0);
    QCOMPARE(m_lw->sim()->requests(), QList<QByteArray>{readInfo});
    // Logger frames leave no line in the message pane.
    QCOMPARE(m_lw->child<QTextBrowser>("textBrowser")->toPlainText(), log);
    QTest::qWait(800);
    QCOMPARE(m_lw->watcher()->count(), 0);
}

void tst_SerialNumber::clockSerialNumber_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("SHT2X") << 0
                           << bytes("7b22aa0720180305080709"
                                    "00227d");
    QTest::newRow("SHT3X") << 1
                           << bytes("7b22aa0721180305080709"
                                    "00227d");
}

void tst_SerialNumber::clockSerialNumber()
{
    QFETCH(int, type);
    QFETCH(QByteArray, request);
    TestClock clock(QDateTime(QDate(2024, 3, 5), QTime(8, 7, 9)));
    serialField()->setText(QStringLiteral("typed"));
    typeBox()->setCurrentIndex(type);

    click(*m_lw, "pushButtonAUTO");
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests(), QList<QByteArray>{request}, patience);
    QCOMPARE(UartData.SerialNumber, QStringLiteral("240305080709"));
    // The generated number shows only when read back.
    QCOMPARE(serialField()->text(), QStringLiteral("typed"));
    const std::array<quint8, 6> written{0x18, 0x03, 0x05, 0x08, 0x07, 0x09};
    QVERIFY(m_lw->sim()->module().serialNumber() == written);
    QTest::qWait(2000); // acknowledged within the deadline
    QCOMPARE(m_lw->watcher()->count(), 0);
}

void tst_SerialNumber::typedSerialNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("serialBytes");
    QTest::newRow("123: a short text") << "123" << bytes("0c0300000000");
    QTest::newRow("fourteen nines") << "99999999999999" << bytes("636363636363");
    QTest::newRow("pairs are decimal") << "101010101010" << bytes("0a0a0a0a0a0a");
    QTest::newRow("letters count as 0") << "AB1234" << bytes("000c22000000");
    QTest::newRow("empty") << "" << bytes("000000000000");
}

void tst_SerialNumber::typedSerialNumber()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, serialBytes);
    typeBox()->setCurrentIndex(1);
    serialField()->setText(text);
    click(*m_lw, "pushButtonMANU");
    const QByteArray request = bytes("7b22aa0721") + serialBytes + bytes("00227d");
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests(), QList<QByteArray>{request}, patience);
    QCOMPARE(UartData.SerialNumber, text);
    // Acknowledged within the deadline; the acknowledgement also has to leave the receive
    // buffer (half a second of silence) before another logger reply can be read.
    QTest::qWait(2000);
    QCOMPARE(m_lw->watcher()->count(), 0);

    // Read back, each byte shows as two hexadecimal digits.
    click(*m_lw, "pushButtonReadSN");
    QTRY_COMPARE_WITH_TIMEOUT(serialField()->text(), QString::fromLatin1(serialBytes.toHex()),
                              patience);
}

void tst_SerialNumber::writeWaitsLongerForItsReply()
{
    m_lw->sim()->faults().silent = true;
    serialField()->setText(QStringLiteral("123456789012"));
    QElapsedTimer sinceClick;
    sinceClick.start();
    click(*m_lw, "pushButtonMANU");
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->count(), 1, patience);
    const qint64 waited = sinceClick.elapsed();
    QVERIFY2(waited >= 1400, qPrintable(QStringLiteral("gave up after %1 ms").arg(waited)));
    QCOMPARE(m_lw->watcher()->messages().first().title, QStringLiteral("Error"));
    QCOMPARE(m_lw->watcher()->messages().first().text, QStringLiteral("Communication error!"));
    QCOMPARE(UartData.SerialNumber, QStringLiteral("123456789012"));
}

void tst_SerialNumber::unknownModelRefusesWrites()
{
    // A model number the type box does not list: the box ends with no current entry.
    m_lw->sim()->module().setModel(modsim::Model(8140));
    click(*m_lw, "pushButtonReadSN");
    QTRY_COMPARE_WITH_TIMEOUT(typeBox()->currentIndex(), -1, patience);
    QTRY_COMPARE_WITH_TIMEOUT(serialField()->text(), QStringLiteral("240517103001"), patience);
    QTest::qWait(800);
    m_lw->sim()->clearLog();
    m_lw->watcher()->clear();

    TestClock clock(QDateTime(QDate(2024, 3, 5), QTime(8, 7, 9)));
    click(*m_lw, "pushButtonAUTO");
    click(*m_lw, "pushButtonMANU");
    QCOMPARE(m_lw->watcher()->texts(), (QStringList{selectType, selectType}));
    QCOMPARE(m_lw->watcher()->messages().first().title, QStringLiteral("Error"));
    QCOMPARE(requestsUpToMarker(*m_lw), QList<QByteArray>{bytes("0003010000018427")});

    // Once the operator picks a type, the write goes out with its model byte.
    typeBox()->setCurrentIndex(0);
    m_lw->sim()->clearLog();
    click(*m_lw, "pushButtonAUTO");
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests(),
                              QList<QByteArray>{bytes("7b22aa072018030508070900227d")}, patience);
    QTest::qWait(2000);
    QCOMPARE(m_lw->watcher()->count(), 2);
}

QTEST_MAIN(tst_SerialNumber)
#include "tst_serialnumber.moc"
