// The receive path end to end: the real window opens a real QSerialPort on a pseudo-terminal
// through its Link button and settings dialog; the test writes the module's side by hand, with
// whatever splitting, gaps and damage it needs.
#include "app/clock.h"
#include "app/timing.h"
#include "app/widget.h"
#include "modalwatcher.h"
#include "protocol/frames.h"
#include "protocol/receivebuffer.h"
#include "protocol/uartdata.h"
#include "pseudoterminal.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

// Every wait on the line or a timer: far beyond the 500 ms involved, so that a loaded machine
// only makes a test slower, never makes it fail.
constexpr int patience = 10000;

const QString stamp = QStringLiteral("2024-03-05 08:07:09");

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const QByteArray measurement = hex("01 03 06 00 fa 01 f4 00 64 b8 84");

QByteArray deviceInfoReply()
{
    QByteArray frame = hex("7b 22 0c 0e 00 00");
    frame += "8133";
    frame += hex("00 00 15 03 05 0e 07 09 00 22 7d");
    return frame;
}

QByteArray longFrame(int size)
{
    QByteArray frame = hex("7b 22 2c");
    frame.append(size - 5, '\x55');
    frame += hex("22 7d");
    if (size >= frames::longFrameSize)
        frame.replace(frames::longFrameSize - 2, 2, hex("22 7d"));
    return frame;
}

// What the receive path has stored, as "name=value" for every field away from its start value.
QString uartSnapshot()
{
    QStringList parts;
    auto add = [&parts](const char *name, qint64 value) {
        if (value != 0)
            parts << QLatin1String(name) + QLatin1Char('=') + QString::number(value);
    };
    add("answered", UartData.ResponseFlag);
    add("setting", UartData.SettingFlag);
    add("t", UartData.Temperature);
    add("h", UartData.Humidity);
    add("dew", UartData.DewTemp);
    add("wet", UartData.WetBulbTemp);
    add("addr", UartData.Address);
    add("model", UartData.LoggerModel);
    if (!UartData.SerialNumber.isEmpty())
        parts << QLatin1String("sn=") + UartData.SerialNumber;
    add("mode", UartData.RecordMode);
    add("interval", UartData.SampleInterval);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class tst_ReceivePath : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void oneArrival_data();
    void oneArrival();
    void exchangeLogLines();
    void splitWithShortGapDecodesOnce();
    void splitWithLongGapDecodesNothing();
    void pauseFreeStreamStaysBounded();
    void paneKeepsNewestLines();

private:
    QTextBrowser *pane() const
    {
        return m_widget->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    }
    QStringList paneLines() const;
    int receivedLines() const;
    void click(const char *button);
    // Sends the read-address request from the window, which clears ResponseFlag and starts
    // the reply deadline, and waits until it is on the line.
    void request();
    // Until the reply deadline and the buffer's silence timer have both run out: the two 500 ms
    // timers of the window.
    void waitForDeadlines();
    void send(const QByteArray &bytes);

    std::unique_ptr<modsim::PseudoTerminal> m_module;
    std::unique_ptr<Widget> m_widget;
    std::unique_ptr<testsupport::ModalWatcher> m_watcher;
    QByteArray m_fromTool;
};

QStringList tst_ReceivePath::paneLines() const
{
    return pane()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int tst_ReceivePath::receivedLines() const
{
    return int(paneLines().filter(QStringLiteral("->RX  ")).size());
}

void tst_ReceivePath::click(const char *button)
{
    auto *b = m_widget->findChild<QAbstractButton *>(QLatin1String(button));
    QVERIFY2(b, button);
    b->click();
}

void tst_ReceivePath::request()
{
    m_fromTool.clear();
    click("pushButtonAddressRead");
    QTRY_COMPARE_WITH_TIMEOUT(m_fromTool, frames::readAddressRequest(), patience);
    QVERIFY(!UartData.ResponseFlag);
}

void tst_ReceivePath::waitForDeadlines()
{
    const auto timers = m_widget->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    const auto running = [&timers] {
        return std::count_if(timers.cbegin(), timers.cend(), [](const QTimer *t) {
            return t->isActive() && t->intervalAsDuration() == timing::replyDeadline;
        });
    };
    QTRY_COMPARE_WITH_TIMEOUT(running(), 0, patience);
}

void tst_ReceivePath::init()
{
    UartData = UartRecord{};
    appclock::setSource([] { return QDateTime(QDate(2024, 3, 5), QTime(8, 7, 9)); });

    m_module = std::make_unique<modsim::PseudoTerminal>();
    QVERIFY2(m_module->open(), qPrintable(m_module->errorString()));
    m_fromTool.clear();
    connect(m_module.get(), &modsim::PseudoTerminal::readyRead, this,
            [this] { m_fromTool += m_module->readAll(); });

    m_widget = std::make_unique<Widget>();
    m_widget->show();
    m_watcher = std::make_unique<testsupport::ModalWatcher>();
    m_watcher->setDialogHandler(testsupport::acceptLinkDialog(m_module->portName(), "9600"));

    // The link opens the port and reads the module's address at once; the test answers as a
    // module would, so that this request's deadline passes quietly.
    click("pushButtonLink");
    QTRY_COMPARE_WITH_TIMEOUT(m_fromTool, frames::readAddressRequest(), patience);
    send(hex("01 03 02 00 05 78 47"));
    QTRY_VERIFY_WITH_TIMEOUT(UartData.ResponseFlag, patience);
    QCOMPARE(m_watcher->count(), 0);
    UartData.Address = 0;
}

void tst_ReceivePath::cleanup()
{
    m_watcher.reset();
    m_widget.reset();
    m_module.reset();
    appclock::setSource({});
}

void tst_ReceivePath::send(const QByteArray &bytes)
{
    QCOMPARE(m_module->write(bytes), qint64(bytes.size()));
}

void tst_ReceivePath::oneArrival_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("stored");  // UartData right after the arrival
    QTest::addColumn<bool>("logged");     // an "->RX  " line, and the buffer emptied at once
    QTest::addColumn<bool>("unanswered"); // the deadline shows "Communication error!"

    QTest::newRow("three values") << measurement << "answered=1 t=250 h=500 dew=100" << true
                                  << false;
    QTest::newRow("four values") << hex("01 03 09 00 fa 01 f4 00 64 00 c8 00 84 d5")
                                 << "answered=1 t=250 h=500 dew=100 wet=200" << true << false;
    QTest::newRow("read-address reply")
        << hex("01 03 02 00 05 78 47") << "answered=1 addr=5" << true << false;
    QTest::newRow("write echo") << hex("00 06 01 00 00 05 49 e4") << "answered=1" << true << false;
    QTest::newRow("exception reply") << hex("01 83 02 c0 f1") << "" << true << true;
    QTest::newRow("FF FF") << hex("ff ff") << "" << true << true;
    QTest::newRow("damaged data byte")
        << hex("01 03 06 00 fb 01 f4 00 64 b8 84") << "" << false << true;
    QTest::newRow("two replies") << measurement + measurement << "" << false << true;
    QTest::newRow("device information")
        << deviceInfoReply() << "answered=1 model=8133 sn=1503050e0709" << false << false;
    QTest::newRow("recording configuration")
        << hex("7b 22 1c 1d 65 e6 d2 ad 00 00 40 00 00 00 00 ff ff 01 2c 03 20 01 40"
               " 03 20 01 40 65 e6 d3 d9 00 00 00 22 7d")
        << "answered=1 setting=1 mode=2 interval=300" << false << false;
    QTest::newRow("0x2C, 135 bytes") << longFrame(135) << "answered=1" << false << false;
    QTest::newRow("0x2C, 100 bytes") << longFrame(100) << "" << false << true;
}

void tst_ReceivePath::oneArrival()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, stored);
    QFETCH(bool, logged);
    QFETCH(bool, unanswered);

    request();
    const int before = receivedLines();
    send(reply);
    // Logger frames and whatever is not a reply stay in the buffer until the line falls silent.
    if (logged)
        QTRY_COMPARE_WITH_TIMEOUT(receivedLines(), before + 1, patience);
    else
        QTRY_COMPARE_WITH_TIMEOUT(UartData.RxBuffer, reply, patience);
    QCOMPARE(uartSnapshot(), stored);
    if (logged) {
        QVERIFY(UartData.RxBuffer.isEmpty());
        QCOMPARE(paneLines().last(), stamp + QLatin1String("->RX  ") + reply.toHex());
    }

    waitForDeadlines();
    QVERIFY(UartData.RxBuffer.isEmpty());
    QCOMPARE(receivedLines(), before + (logged ? 1 : 0));
    QCOMPARE(uartSnapshot(), stored);
    if (unanswered) {
        QTRY_COMPARE_WITH_TIMEOUT(m_watcher->texts(), QStringList{"Communication error!"},
                                  patience);
        QCOMPARE(m_watcher->messages().first().title, QStringLiteral("Error"));
    } else {
        QCOMPARE(m_watcher->count(), 0);
    }
}

void tst_ReceivePath::exchangeLogLines()
{
    request();
    send(measurement);
    QTRY_COMPARE_WITH_TIMEOUT(receivedLines(), 2, patience);
    // The link's address read and its reply, then the second read and the measurement.
    QCOMPARE(paneLines(), (QStringList{
                              stamp + "->TX  0003010000018427",
                              stamp + "->RX  01030200057847",
                              stamp + "->TX  0003010000018427",
                              stamp + "->RX  01030600fa01f40064b884",
                          }));
}

void tst_ReceivePath::splitWithShortGapDecodesOnce()
{
    request();
    send(measurement.left(5));
    QTRY_COMPARE_WITH_TIMEOUT(UartData.RxBuffer, measurement.left(5), patience);
    QCOMPARE(receivedLines(), 1);
    QVERIFY(!UartData.ResponseFlag);

    QTest::qWait(100);
    send(measurement.mid(5));
    QTRY_COMPARE_WITH_TIMEOUT(receivedLines(), 2, patience);
    QCOMPARE(uartSnapshot(), QStringLiteral("answered=1 t=250 h=500 dew=100"));
    QVERIFY(UartData.RxBuffer.isEmpty());

    waitForDeadlines();
    QCOMPARE(receivedLines(), 2);
    QCOMPARE(m_watcher->count(), 0);
}

void tst_ReceivePath::splitWithLongGapDecodesNothing()
{
    request();
    QElapsedTimer gap;
    send(measurement.left(5));
    QTRY_COMPARE_WITH_TIMEOUT(UartData.RxBuffer, measurement.left(5), patience);
    gap.start();
    // 500 ms of silence throw the first part away.
    QTRY_VERIFY_WITH_TIMEOUT(UartData.RxBuffer.isEmpty(), patience);
    QVERIFY(gap.elapsed() >= 400);
    QTest::qWait(int(qMax<qint64>(0, 600 - gap.elapsed())));

    send(measurement.mid(5));
    QTRY_COMPARE_WITH_TIMEOUT(UartData.RxBuffer, measurement.mid(5), patience);
    waitForDeadlines();
    QVERIFY(UartData.RxBuffer.isEmpty());
    QCOMPARE(receivedLines(), 1);
    QCOMPARE(uartSnapshot(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(m_watcher->texts(), QStringList{"Communication error!"}, patience);
}

void tst_ReceivePath::pauseFreeStreamStaysBounded()
{
    // A device-information frame, then 20 kB of chatter in bursts far closer than 500 ms: the
    // buffer stays bounded, and the frame still decodes when the stream ends in 22 7D.
    request();
    send(deviceInfoReply());
    QTRY_COMPARE_WITH_TIMEOUT(UartData.LoggerModel, 8133, patience);
    UartData.LoggerModel = 0;
    UartData.SerialNumber.clear();

    int largest = 0;
    for (int burst = 0; burst < 80; ++burst) {
        QByteArray chatter;
        while (chatter.size() < 250)
            chatter += measurement;
        chatter += char(burst); // tells this burst's arrival from the one before
        send(chatter);
        QTRY_VERIFY_WITH_TIMEOUT(UartData.RxBuffer.endsWith(chatter.right(2)), patience);
        largest = qMax(largest, int(UartData.RxBuffer.size()));
    }
    QCOMPARE(largest, protocol::receiveBufferBound);
    QCOMPARE(UartData.LoggerModel, 0);

    send(hex("22 7d"));
    QTRY_COMPARE_WITH_TIMEOUT(UartData.LoggerModel, 8133, patience);
    QCOMPARE(uartSnapshot(), QStringLiteral("answered=1 model=8133 sn=1503050e0709"));
    QCOMPARE(int(UartData.RxBuffer.size()), protocol::receiveBufferBound);
    QTRY_VERIFY_WITH_TIMEOUT(UartData.RxBuffer.isEmpty(), patience);
    QCOMPARE(m_watcher->count(), 0);
}

void tst_ReceivePath::paneKeepsNewestLines()
{
    const int full = Widget::exchangeLogMaxLines;
    QStringList old;
    for (int i = 0; i < full; ++i)
        old << QStringLiteral("old %1").arg(i);
    pane()->setPlainText(old.join(QLatin1Char('\n')));
    QCOMPARE(pane()->document()->blockCount(), full);

    QStringList newLines;
    for (int reply = 1; reply <= 2; ++reply) {
        newLines << stamp + QLatin1String("->RX  01030600fa01f40064b884");
        send(measurement);
        QTRY_COMPARE_WITH_TIMEOUT(receivedLines(), reply, patience);
        const QStringList lines = paneLines();
        QVERIFY(lines.size() <= full);
        // The newest old lines and every new one stay, in order; the oldest went.
        const int kept = int(lines.size()) - reply;
        QVERIFY(kept > 0 && kept < full);
        QCOMPARE(lines.first(), QStringLiteral("old %1").arg(full - kept));
        QCOMPARE(lines.at(kept - 1), QStringLiteral("old %1").arg(full - 1));
        QCOMPARE(lines.mid(kept), newLines);
    }
}

QTEST_MAIN(tst_ReceivePath)
#include "tst_receivepath.moc"
