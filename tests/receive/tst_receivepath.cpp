// The receive path end to end: the real window opens a real QSerialPort on a pseudo-terminal
// through its Link button and settings dialog; the test writes the module's side by hand, with
// whatever splitting, gaps and damage it needs.
#include "app/clock.h"
#include "app/timing.h"
#include "app/widget.h"
#include "modalwatcher.h"
#include "protocol/frames.h"
#include "protocol/uartdata.h"
#include "pseudoterminal.h"

#include <QAbstractButton>
#include <QTextBrowser>
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
const QString measured = QStringLiteral("answered=1 t=250 h=500 dew=100");

// What the receive path has stored, as "name=value" for every field away from its start value.
QString uartSnapshot()
{
    QStringList parts;
    auto add = [&parts](const char *name, qint64 value) {
        if (value != 0)
            parts << QLatin1String(name) + QLatin1Char('=') + QString::number(value);
    };
    add("answered", UartData.ResponseFlag);
    add("t", UartData.Temperature);
    add("h", UartData.Humidity);
    add("dew", UartData.DewTemp);
    add("addr", UartData.Address);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class tst_ReceivePath : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void arrivals_data();
    void arrivals();
    void paneKeepsNewestLines();

private:
    QTextBrowser *pane() const
    {
        return m_widget->findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    }
    QStringList paneLines() const
    {
        return pane()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    int receivedLines() const { return int(paneLines().filter(QStringLiteral("->RX  ")).size()); }
    void click(const char *button);
    // Sends the read-address request from the window, which clears ResponseFlag and starts
    // the reply deadline, and waits until it is on the line.
    void request();
    // Until the reply deadline and the buffer's silence timer have both run out.
    void waitForDeadlines();
    void send(const QByteArray &bytes) { QCOMPARE(m_module->write(bytes), qint64(bytes.size())); }

    std::unique_ptr<modsim::PseudoTerminal> m_module;
    std::unique_ptr<Widget> m_widget;
    std::unique_ptr<testsupport::ModalWatcher> m_watcher;
    QByteArray m_fromTool;
};

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
    // The clock is fixed, so the log lines are known to the character.
    QCOMPARE(paneLines(),
             (QStringList{stamp + "->TX  0003010000018427", stamp + "->RX  01030200057847"}));
}

void tst_ReceivePath::cleanup()
{
    m_watcher.reset();
    m_widget.reset();
    m_module.reset();
    appclock::setSource({});
}

void tst_ReceivePath::arrivals_data()
{
    QTest::addColumn<QByteArrayList>("pieces"); // sent one after the other
    QTest::addColumn<int>("gap");               // ms of silence between two pieces
    QTest::addColumn<QByteArray>("kept");       // in the buffer right after the last piece
    QTest::addColumn<QString>("stored");        // UartData, before and after the deadline
    QTest::addColumn<QByteArray>("logged");     // the frame of the "->RX  " line, if any
    QTest::addColumn<bool>("unanswered");       // the deadline shows "Communication error!"

    const QByteArrayList split{measurement.left(5), measurement.mid(5)};
    const QByteArray damaged = hex("01 03 06 00 fb 01 f4 00 64 b8 84");
    QTest::newRow("one arrival") << QByteArrayList{measurement} << 0 << QByteArray() << measured
                                 << measurement << false;
    QTest::newRow("split, 100 ms apart: decoded once")
        << split << 100 << QByteArray() << measured << measurement << false;
    QTest::newRow("split, 600 ms apart: the first part discarded")
        << split << 600 << split.last() << QString() << QByteArray() << true;
    QTest::newRow("two replies in one arrival")
        << QByteArrayList{measurement + measurement} << 0 << measurement + measurement << QString()
        << QByteArray() << true;
    QTest::newRow("exception: logged, answers nothing")
        << QByteArrayList{hex("01 83 02 c0 f1")} << 0 << QByteArray() << QString()
        << hex("01 83 02 c0 f1") << true;
    QTest::newRow("damaged data byte")
        << QByteArrayList{damaged} << 0 << damaged << QString() << QByteArray() << true;
}

void tst_ReceivePath::arrivals()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(int, gap);
    QFETCH(QByteArray, kept);
    QFETCH(QString, stored);
    QFETCH(QByteArray, logged);
    QFETCH(bool, unanswered);

    request();
    for (int i = 0; i < pieces.size(); ++i) {
        send(pieces.at(i));
        if (i + 1 == pieces.size())
            break;
        QTRY_COMPARE_WITH_TIMEOUT(UartData.RxBuffer, pieces.at(i), patience);
        QTest::qWait(gap);
        // 500 ms of silence throw the first part away; a shorter gap keeps it.
        if (gap >= 500)
            QTRY_VERIFY_WITH_TIMEOUT(UartData.RxBuffer.isEmpty(), patience);
        else
            QCOMPARE(UartData.RxBuffer, pieces.at(i));
    }
    if (logged.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(UartData.RxBuffer, kept, patience);
    else
        QTRY_COMPARE_WITH_TIMEOUT(receivedLines(), 2, patience);
    QCOMPARE(UartData.RxBuffer, kept);
    QCOMPARE(uartSnapshot(), stored);

    waitForDeadlines();
    QVERIFY(UartData.RxBuffer.isEmpty());
    QCOMPARE(uartSnapshot(), stored);
    QStringList log{stamp + "->TX  0003010000018427"};
    if (!logged.isEmpty())
        log << stamp + QLatin1String("->RX  ") + logged.toHex();
    QCOMPARE(paneLines().mid(2), log);
    if (unanswered) {
        QTRY_COMPARE_WITH_TIMEOUT(m_watcher->texts(), QStringList{"Communication error!"},
                                  patience);
        QCOMPARE(m_watcher->messages().first().title, QStringLiteral("Error"));
    } else {
        QCOMPARE(m_watcher->count(), 0);
    }
}

void tst_ReceivePath::paneKeepsNewestLines()
{
    const int full = Widget::exchangeLogMaxLines;
    QStringList old;
    for (int i = 0; i < full; ++i)
        old << QStringLiteral("old %1").arg(i);
    pane()->setPlainText(old.join(QLatin1Char('\n')));
    QCOMPARE(int(paneLines().size()), full);

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
