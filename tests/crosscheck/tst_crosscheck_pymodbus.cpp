// Quorvel against an independent Modbus-RTU server, pymodbus, across a socat pseudo-terminal
// pair: the protocol core's measurement request and decoding, then the real window's link,
// address read and poll.
#include "peer.h"

#include "app/widget.h"
#include "linkedwindow.h"
#include "modalwatcher.h"
#include "protocol/frames.h"
#include "protocol/replydecoder.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

namespace {

// Two poll periods and more, for a busy machine.
constexpr int replyTimeoutMs = 10000;
// The server's module: address 247, -12.3 °C, 98.0 %RH, dew point -12.6 °C.
constexpr quint8 serverAddress = 247;
const QString celsius = QString(QChar(0x2103));

} // namespace

class TestCrosscheckPymodbus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void measurementRequest();
    void windowLinksAndPolls();

private:
    QTemporaryDir m_dir;
    QString m_toolSide;
    Peer m_socat;
    Peer m_server; // after socat, so that it ends before socat takes its line away
};

void TestCrosscheckPymodbus::initTestCase()
{
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    QVERIFY2(!socat.isEmpty(), "socat is not installed (Debian package socat)");
    // Debian's interpreter may not be the first python3 on the path, and another may lack
    // pymodbus: take the first that can import it.
    QString python;
    for (const QString &candidate : {QStringLiteral("/usr/bin/python3"),
                                     QStandardPaths::findExecutable(QStringLiteral("python3"))}) {
        if (python.isEmpty() && QFileInfo(candidate).isExecutable() &&
            runToEnd(candidate, {QStringLiteral("-c"),
                                 QStringLiteral("import pymodbus, serial_asyncio")}) == 0)
            python = candidate;
    }
    QVERIFY2(!python.isEmpty(), "no python3 can import pymodbus (Debian package python3-pymodbus)");

    QVERIFY(m_dir.isValid());
    const QString serverSide = m_dir.filePath(QStringLiteral("server"));
    m_toolSide = m_dir.filePath(QStringLiteral("tool"));
    m_socat.start(socat, {QStringLiteral("-d"), QStringLiteral("-d"),
                          QStringLiteral("pty,raw,echo=0,link=") + serverSide,
                          QStringLiteral("pty,raw,echo=0,link=") + m_toolSide});
    const auto linked = [&] {
        return QFileInfo::exists(serverSide) && QFileInfo::exists(m_toolSide);
    };
    QVERIFY2(m_socat.waitUntil(linked), qPrintable(m_socat.errors()));
    m_server.start(python, {QStringLiteral(PYMODBUS_SERVER_SCRIPT), QStringLiteral("--port"),
                            serverSide, QStringLiteral("--address"), QString::number(serverAddress),
                            QStringLiteral("--registers=-123,980,-126")});
    const auto ready = [&] { return m_server.output().contains(QLatin1String("ready")); };
    QVERIFY2(m_server.waitUntil(ready), qPrintable(m_server.errors()));
}

void TestCrosscheckPymodbus::measurementRequest()
{
    QSerialPort port(m_toolSide); // 9600 8N1, no flow control
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    QByteArray received;
    connect(&port, &QSerialPort::readyRead, this, [&] { received += port.readAll(); });

    port.write(frames::measurementRequest(serverAddress));
    QTRY_COMPARE_WITH_TIMEOUT(int(protocol::recognizeReply(received).kind),
                              int(protocol::ReplyKind::Measurement), replyTimeoutMs);
    const protocol::Reply reply = protocol::recognizeReply(received);
    QCOMPARE(quint8(received.at(0)), serverAddress);
    QCOMPARE(reply.temperature, qint16(-123));
    QCOMPARE(reply.humidity, quint16(980));
    QCOMPARE(reply.dewTemp, qint16(-126));
}

void TestCrosscheckPymodbus::windowLinksAndPolls()
{
    testsupport::LinkedWindow::resetUartData();
    Widget widget;
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    testsupport::ModalWatcher watcher;
    auto *link = widget.findChild<QPushButton *>(QStringLiteral("pushButtonLink"));
    auto *read = widget.findChild<QPushButton *>(QStringLiteral("pushButtonRead"));
    auto *address = widget.findChild<QLineEdit *>(QStringLiteral("lineEditAddress"));
    auto *temperature = widget.findChild<QLabel *>(QStringLiteral("labelTemperature"));
    auto *humidity = widget.findChild<QLabel *>(QStringLiteral("labelHumidity"));
    auto *dewPoint = widget.findChild<QLabel *>(QStringLiteral("labelDewTemp"));
    auto *log = widget.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(link && read && address && temperature && humidity && dewPoint && log);

    // Linking reads the address with a request to address 0, which the server answers.
    address->clear();
    watcher.setDialogHandler(testsupport::acceptLinkDialog(m_toolSide, QStringLiteral("9600")));
    QTest::mouseClick(link, Qt::LeftButton);
    watcher.setDialogHandler({});
    QTRY_COMPARE_WITH_TIMEOUT(address->text(), QStringLiteral("247"), replyTimeoutMs);

    QTest::mouseClick(read, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("Temperature:-12.3") + celsius,
                              replyTimeoutMs);
    QTest::mouseClick(read, Qt::LeftButton);
    QCOMPARE(humidity->text(), QStringLiteral("Humidity:98.0%"));
    QCOMPARE(dewPoint->text(), QStringLiteral("DewTemp:-12.6") + celsius);
    QVERIFY(log->toPlainText().contains(QLatin1String("->RX  f70306ff8503d4ff8256ed")));
    QVERIFY2(watcher.messages().isEmpty(), qPrintable(watcher.texts().join(QLatin1Char('|'))));
}

QTEST_MAIN(TestCrosscheckPymodbus)
#include "tst_crosscheck_pymodbus.moc"
