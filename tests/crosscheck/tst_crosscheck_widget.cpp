// The real main window linked to pymodbus instead of the simulated module: its link, its
// address read and its once-a-second poll must work against an independent Modbus-RTU server.
#include "peer.h"

#include "app/widget.h"
#include "linkedwindow.h"
#include "modalwatcher.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

namespace {

constexpr int linkTimeoutMs = 10000;
// Two poll periods and then some, for a busy machine.
constexpr int pollTimeoutMs = 10000;

const QString celsius = QString(QChar(0x2103));

} // namespace

class TestCrosscheckWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pollShowsTheServersRegisters();

private:
    PymodbusPeers m_peers;
};

void TestCrosscheckWidget::initTestCase()
{
    const QString missing = m_peers.find(QStringLiteral(PYMODBUS_SERVER_SCRIPT));
    if (!missing.isEmpty())
        QFAIL(qPrintable(missing));
}

void TestCrosscheckWidget::pollShowsTheServersRegisters()
{
    PymodbusLine line(m_peers);
    QVERIFY2(line.start(1, {235, 655, 167}, true), qPrintable(line.failure()));

    testsupport::LinkedWindow::resetUartData();
    Widget widget;
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    testsupport::ModalWatcher watcher;

    auto *linkButton = widget.findChild<QPushButton *>(QStringLiteral("pushButtonLink"));
    auto *readButton = widget.findChild<QPushButton *>(QStringLiteral("pushButtonRead"));
    auto *address = widget.findChild<QLineEdit *>(QStringLiteral("lineEditAddress"));
    auto *temperature = widget.findChild<QLabel *>(QStringLiteral("labelTemperature"));
    auto *humidity = widget.findChild<QLabel *>(QStringLiteral("labelHumidity"));
    auto *dewPoint = widget.findChild<QLabel *>(QStringLiteral("labelDewTemp"));
    auto *log = widget.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    QVERIFY(linkButton && readButton && address && temperature && humidity && dewPoint && log);

    address->clear();
    watcher.setDialogHandler(
        testsupport::acceptLinkDialog(line.toolSide(), QStringLiteral("9600")));
    QTest::mouseClick(linkButton, Qt::LeftButton);
    watcher.setDialogHandler({});
    // pymodbus answered the read-address request that linking sends to address 0.
    QTRY_COMPARE_WITH_TIMEOUT(address->text(), QStringLiteral("1"), linkTimeoutMs);

    QTest::mouseClick(readButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(temperature->text(), QStringLiteral("Temperature:23.5") + celsius,
                              pollTimeoutMs);
    QTest::mouseClick(readButton, Qt::LeftButton);
    QCOMPARE(humidity->text(), QStringLiteral("Humidity:65.5%"));
    QCOMPARE(dewPoint->text(), QStringLiteral("DewTemp:16.7") + celsius);
    QVERIFY(log->toPlainText().contains(QLatin1String("->RX  01030600eb028f00a7748b")));
    QVERIFY2(watcher.messages().isEmpty(), qPrintable(watcher.texts().join(QLatin1Char('|'))));
}

QTEST_MAIN(TestCrosscheckWidget)
#include "tst_crosscheck_widget.moc"
