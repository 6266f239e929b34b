// The link end to end: the settings dialog, the Link button, a real QSerialPort on a
// pseudo-terminal and the line-speed probe, against the simulated module at the far end.
#include "link/serialportsettingdialog.h"
#include "linkedwindow.h"
#include "protocol/frames.h"
#include "protocol/tables.h"
#include "protocol/uartdata.h"
#include "simulatedmodule.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTextBrowser>
#include <QtTest>

#include <termios.h>

using testsupport::LinkedWindow;

namespace {

constexpr int settleMs = 10000; // QTRY bound for whatever the tool does by itself
constexpr int probeStepMs = 300;

// What reached the module's end of the line, grouped by the speed the tool sent it at: during
// a probe each burst is one request at one candidate speed.
class LineRecorder : public QObject
{
public:
    struct Burst
    {
        qint64 atMs;
        int speed;
        QByteArray bytes;
    };

    explicit LineRecorder(modsim::SimulatedModule *sim)
    {
        clock.start();
        connect(sim, &modsim::SimulatedModule::requestReceived, this,
                [this, sim](const QByteArray &bytes) { add(sim->module().lineSpeed(), bytes); });
        connect(sim, &modsim::SimulatedModule::bytesIgnored, this,
                [this](const QByteArray &bytes, int speed) { add(speed, bytes); });
    }
    QElapsedTimer clock;
    QList<Burst> bursts;

private:
    void add(int speed, const QByteArray &bytes)
    {
        if (!bursts.isEmpty() && bursts.last().speed == speed)
            bursts.last().bytes += bytes;
        else
            bursts << Burst{clock.elapsed(), speed, bytes};
    }
};

void clickLink(const LinkedWindow &w, std::function<void(QDialog *)> dialogHandler)
{
    w.watcher()->setDialogHandler(std::move(dialogHandler));
    // Returns once the dialog is done: exec() runs inside the click.
    QTest::mouseClick(w.child<QPushButton>("pushButtonLink"), Qt::LeftButton);
}

int logLines(const LinkedWindow &w, const QString &start)
{
    return w.child<QTextBrowser>("textBrowser")->toPlainText().count(start);
}

template <class T> T *control(QDialog *dialog, const char *name)
{
    return dialog->findChild<T *>(QString::fromLatin1(name));
}

} // namespace

class tst_Link : public QObject
{
    Q_OBJECT

private slots:
    void init() { LinkedWindow::resetUartData(); }
    void dialogChoices_data();
    void dialogChoices();
    void dialogListsOnlyOpenablePorts();
    void fixedSpeedThenCancelThenMissingPort();
    void repeatedLinksHandleEachArrivalOnce();
    void probe_data();
    void probe();
    void linkDuringProbeCancelsIt();
    void overNetwork_data();
    void overNetwork();
};

void tst_Link::dialogChoices_data()
{
    QTest::addColumn<QString>("baud"); // entry to select; empty: as the dialog opens
    QTest::addColumn<bool>("renamed"); // entry texts changed, as a catalogue may
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("parityIndex");
    QTest::newRow("opens on AUTO") << "" << false << true << "" << 0 << 0;
    QTest::newRow("1200") << "1200" << false << true << "NO" << 1200 << 0;
    QTest::newRow("115200, EVEN") << "115200" << false << true << "EVEN" << 115200 << 2;
    // The choice is the entry, not its text: "AUTO" shown as a speed, speeds as words.
    QTest::newRow("renamed, AUTO") << "AUTO" << true << true << "NO" << 0 << 0;
    QTest::newRow("renamed, 9600") << "9600" << true << true << "ODD" << 9600 << 1;
    // Cancel keeps the previous link settings.
    QTest::newRow("cancel") << "115200" << false << false << "EVEN" << 4800 << 1;
}

void tst_Link::dialogChoices()
{
    QFETCH(QString, baud);
    QFETCH(bool, renamed);
    QFETCH(bool, ok);
    QFETCH(QString, parity);
    QFETCH(int, rate);
    QFETCH(int, parityIndex);
    const QString previousPort = QStringLiteral("/dev/ttyPrevious");
    UartData.PortName = previousPort;
    UartData.BaudRate = 4800;
    UartData.Parity = 1;
    // Left by an earlier probe: every dialog, accepted or not, starts the probe afresh.
    UartData.BaudIndex = 4;
    std::fill(std::begin(UartData.BaudTable), std::end(UartData.BaudTable), 0);

    const QString port = QStringLiteral("/dev/serial/by-id/usb-Quorvel_Test-if00-port0");
    QString title;
    testsupport::ModalWatcher watcher;
    watcher.setDialogHandler([&](QDialog *dialog) {
        title = dialog->windowTitle();
        auto *rates = control<QComboBox>(dialog, "comboBoxBaud");
        auto *parities = control<QComboBox>(dialog, "comboBoxParity");
        control<QComboBox>(dialog, "comboBoxName")->setEditText(port);
        if (!baud.isEmpty())
            rates->setCurrentIndex(rates->findText(baud));
        if (!parity.isEmpty())
            parities->setCurrentIndex(parities->findText(parity));
        if (renamed) {
            rates->setItemText(0, QStringLiteral("115200"));
            for (int i = 1; i < rates->count(); ++i)
                rates->setItemText(i, QStringLiteral("speed %1").arg(i));
        }
        control<QPushButton>(dialog, ok ? "pushButtonOK" : "pushButtonCancel")->click();
    });
    SerialportSettingDialog dialog;
    QCOMPARE(dialog.exec(), ok ? int(QDialog::Accepted) : int(QDialog::Rejected));

    QCOMPARE(title, QStringLiteral("Serial port"));
    QCOMPARE(UartData.PortName, ok ? port : previousPort);
    QCOMPARE(UartData.BaudRate, rate);
    QCOMPARE(UartData.Parity, parityIndex);
    QCOMPARE(int(UartData.BaudIndex), 0);
    QCOMPARE(int(UartData.BaudCount), 6);
    for (std::size_t i = 0; i < protocol::probeSpeeds.size(); ++i)
        QCOMPARE(UartData.BaudTable[i], protocol::probeSpeeds[i]);
}

void tst_Link::dialogListsOnlyOpenablePorts()
{
    // What the system lists, narrowed to what opens right now, in the system's order.
    QStringList openable;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        QSerialPort port(info);
        if (port.open(QIODevice::ReadWrite))
            openable << info.portName();
    }
    const auto listed = [] {
        QStringList names;
        testsupport::ModalWatcher watcher;
        watcher.setDialogHandler([&](QDialog *dialog) {
            auto *box = control<QComboBox>(dialog, "comboBoxName");
            for (int i = 0; i < box->count(); ++i)
                names << box->itemText(i);
            dialog->reject();
        });
        SerialportSettingDialog().exec();
        return names;
    };
    QCOMPARE(listed(), openable);

    if (openable.isEmpty())
        QSKIP("no serial port of this machine opens; the busy-port case cannot be shown");
    // A port held by someone else is left out.
    QSerialPort busy(openable.first());
    QVERIFY(busy.open(QIODevice::ReadWrite));
    QCOMPARE(listed(), openable.mid(1));
}

void tst_Link::fixedSpeedThenCancelThenMissingPort()
{
    LinkedWindow w;
    QVERIFY(w.isReady());
    w.sim()->module().setLineSpeed(19200);
    w.sim()->module().setAddress(23);
    qRegisterMetaType<QSerialPort::SerialPortError>();
    QSignalSpy portErrors(w.port(), &QSerialPort::errorOccurred);
    // EVEN is offered but the module speaks 8N1 only.
    clickLink(w, [&](QDialog *dialog) {
        control<QComboBox>(dialog, "comboBoxParity")->setCurrentIndex(2);
        testsupport::acceptLinkDialog(w.portName(), "19200")(dialog);
    });

    QTRY_COMPARE_WITH_TIMEOUT(w.child<QLineEdit>("lineEditAddress")->text(), QStringLiteral("23"),
                              settleMs);
    QCOMPARE(w.sim()->requests(), QList<QByteArray>{frames::readAddressRequest()});
    QCOMPARE(logLines(w, "->TX  0003010000018427"), 1);
    QCOMPARE(logLines(w, "->RX  "), 1);
    // What the line itself was set to, not only what QSerialPort believes.
    termios tio{};
    QCOMPARE(::tcgetattr(w.port()->handle(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B19200));
    QCOMPARE(cfgetispeed(&tio), speed_t(B19200));
    QCOMPARE(tio.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | IXANY), tcflag_t(0));
    // A pseudo-terminal is 8 bits without parity whatever is asked: asking for parity shows
    // only as a refused setting.
    for (const QList<QVariant> &error : qAsConst(portErrors))
        QVERIFY(error.first().value<QSerialPort::SerialPortError>() !=
                QSerialPort::UnsupportedOperationError);
    QTest::qWait(700); // answered: the deadline passes without a box
    QCOMPARE(w.watcher()->count(), 0);

    // Link, then Cancel: the port is released and nothing is sent.
    w.sim()->clearLog();
    clickLink(w, testsupport::cancelLinkDialog());
    QVERIFY(!w.port()->isOpen());
    QTest::qWait(800);
    QVERIFY(w.sim()->requests().isEmpty());
    QCOMPARE(w.watcher()->count(), 0);

    // A port that fails to open, missing or held by another program (a second Quorvel, say),
    // is not a lost port: only the address read's deadline speaks, and the module hears nothing.
    QSerialPort holder(w.portName());
    for (const QString &name : {w.portName() + QLatin1String("-missing"), w.portName()}) {
        QVERIFY(name != w.portName() || holder.open(QIODevice::ReadWrite));
        w.watcher()->clear();
        clickLink(w, testsupport::acceptLinkDialog(name, "9600"));
        QVERIFY(!w.port()->isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(w.watcher()->count() > 0, settleMs);
        QTest::qWait(700);
        QCOMPARE(w.watcher()->texts(), QStringList{QStringLiteral("Communication error!")});
        QVERIFY(w.sim()->requests().isEmpty());
    }
    // The holder still has the port.
    holder.setBaudRate(19200);
    holder.write(frames::readAddressRequest());
    QTRY_COMPARE_WITH_TIMEOUT(holder.bytesAvailable(), qint64(7), settleMs);
}

void tst_Link::repeatedLinksHandleEachArrivalOnce()
{
    LinkedWindow w;
    QVERIFY(w.isReady());
    // Every run of the receive handler tells how many bytes it took.
    QSignalSpy runs(w.widget(), &Widget::bytesReceived);
    for (int i = 0; i < 3; ++i)
        QVERIFY(w.link("9600"));

    // A reply normally arrives in one piece. Connected once per link, the handler would run
    // once, twice and three times for the three replies.
    QCOMPARE(int(w.sim()->replies().size()), 3);
    QCOMPARE(logLines(w, "->RX  "), 3);
    QVERIFY2(runs.count() >= 3 && runs.count() < 6, qPrintable(QString::number(runs.count())));
}

void tst_Link::probe_data()
{
    QTest::addColumn<int>("moduleSpeed"); // 0: nothing answers
    QTest::addColumn<int>("steps");
    QTest::newRow("115200, first step") << 115200 << 1;
    QTest::newRow("9600, third step") << 9600 << 3;
    QTest::newRow("nothing answers") << 0 << 6;
}

void tst_Link::probe()
{
    QFETCH(int, moduleSpeed);
    QFETCH(int, steps);
    LinkedWindow w;
    QVERIFY(w.isReady());
    w.sim()->module().setLineSpeed(moduleSpeed ? moduleSpeed : 9600);
    w.sim()->faults().silent = moduleSpeed == 0;
    w.sim()->module().setAddress(9);
    auto *rates = w.child<QComboBox>("comboBoxBaudRate");
    rates->setCurrentIndex(0); // 1200, so that selecting the found speed shows
    LineRecorder line(w.sim());

    clickLink(w, testsupport::acceptLinkDialog(w.portName(), "AUTO"));
    QTRY_VERIFY_WITH_TIMEOUT(w.watcher()->count() > 0, settleMs);
    const qint64 shownAt = line.clock.elapsed();

    const int lastSpeed = protocol::probeSpeeds[std::size_t(steps - 1)];
    const testsupport::ShownMessage box = w.watcher()->messages().first();
    if (moduleSpeed) {
        QCOMPARE(box.title, QStringLiteral("Succeed"));
        QCOMPARE(box.text, QStringLiteral("The device baud rate is:%1!").arg(moduleSpeed));
        QCOMPARE(rates->currentText(), QString::number(moduleSpeed));
        QCOMPARE(w.child<QLineEdit>("lineEditAddress")->text(), QStringLiteral("9"));
    } else {
        QCOMPARE(box.title, QStringLiteral("Error"));
        QCOMPARE(box.text, QStringLiteral("Communication error!"));
    }
    // Left open at the found speed, or at the last one tried.
    QCOMPARE(UartData.BaudRate, lastSpeed);
    QVERIFY(w.port()->isOpen());
    QCOMPARE(w.port()->baudRate(), lastSpeed);

    // One read-address request per candidate, fastest first, a probe step apart; the verdict
    // at the expiry after the last step.
    QCOMPARE(line.bursts.size(), steps);
    for (int i = 0; i < steps; ++i) {
        QCOMPARE(line.bursts[i].speed, protocol::probeSpeeds[std::size_t(i)]);
        QCOMPARE(line.bursts[i].bytes, frames::readAddressRequest());
        if (i == 0)
            continue;
        const qint64 gap = line.bursts[i].atMs - line.bursts[i - 1].atMs;
        QVERIFY2(gap >= probeStepMs * 8 / 10, qPrintable(QString::number(gap)));
    }
    const qint64 verdict = shownAt - line.bursts.first().atMs;
    // Precise timers never end early; the first request's way to the module is the margin.
    QVERIFY2(verdict >= steps * probeStepMs - 50, qPrintable(QString::number(verdict)));
    QVERIFY2(verdict <= steps * probeStepMs + 1500, qPrintable(QString::number(verdict)));

    // Nothing more: no further step, and no reply deadline reports during or after the probe.
    QTest::qWait(800);
    QCOMPARE(w.watcher()->count(), 1);
    QCOMPARE(line.bursts.size(), steps);
}

void tst_Link::linkDuringProbeCancelsIt()
{
    LinkedWindow w;
    QVERIFY(w.isReady());
    w.sim()->faults().silent = true; // the probe would run its full 1800 ms
    LineRecorder line(w.sim());
    clickLink(w, testsupport::acceptLinkDialog(w.portName(), "AUTO"));
    QTRY_VERIFY_WITH_TIMEOUT(!line.bursts.isEmpty(), settleMs);

    // Keep the second dialog open for several probe steps. A probe step behind it would
    // reopen the old port, which sends the read-address request.
    int burstsBefore = -1, burstsDuring = -1;
    clickLink(w, [&](QDialog *dialog) {
        burstsBefore = int(line.bursts.size());
        QTimer::singleShot(4 * probeStepMs, dialog, [&, dialog] {
            burstsDuring = int(line.bursts.size()) - burstsBefore;
            testsupport::cancelLinkDialog()(dialog);
        });
    });
    QCOMPARE(burstsDuring, 0);

    // A probe left running would end in "Communication error!" within 1800 ms.
    const int burstsAfter = int(line.bursts.size());
    QTest::qWait(2500);
    QCOMPARE(w.watcher()->count(), 0);
    QCOMPARE(int(line.bursts.size()), burstsAfter);
    QVERIFY(!w.port()->isOpen());
}

void tst_Link::overNetwork_data()
{
    QTest::addColumn<QString>("event");
    // A word of each message the operator sees, in order.
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("poll, replies in segments 100 ms apart") << "split" << QStringList{};
    // AUTO probes nothing on a network link: a probe would add "Communication error!".
    QTest::newRow("refused port, AUTO") << "refused" << QStringList{"refused"};
    QTest::newRow("dropped, then back: polling resumes") << "drop" << QStringList{"lost"};
    QTest::newRow("line-speed change asks first") << "speed" << QStringList{"converter"};
}

void tst_Link::overNetwork()
{
    QFETCH(QString, event);
    QFETCH(QStringList, messages);
    LinkedWindow w(true);
    QVERIFY(w.isReady());
    modsim::SimulatedModule *sim = w.sim();
    sim->module().setFrozen(true);
    sim->faults().splitShare = event == "split" ? 1.0 : 0.0;
    const QByteArray poll = frames::measurementRequest(1);
    const auto polled = [sim, &poll] { return sim->requests().count(poll); };

    if (event == "refused") {
        sim->vanish();
        QElapsedTimer clock;
        clock.start();
        clickLink(w, testsupport::acceptLinkDialog(w.portName(), "AUTO"));
        QTRY_COMPARE_WITH_TIMEOUT(w.watcher()->count(), 1, 3000);
        QTest::qWait(2500);
    } else {
        QVERIFY(w.link("9600"));
        w.child<QPushButton>("pushButtonRead")->click();
        QTRY_VERIFY_WITH_TIMEOUT(polled() >= 4, settleMs);
        // Reassembled from its segments, every reply shows: the values never go stale.
        QCOMPARE(w.child<QLabel>("labelTemperature")->text(), "Temperature:23.5\u2103");
        QVERIFY(w.child<QLabel>("labelTemperature")->isEnabled());
    }
    if (event == "drop") {
        sim->vanish();
        QTRY_COMPARE_WITH_TIMEOUT(w.watcher()->count(), 1, settleMs);
        QVERIFY(sim->restore());
        sim->clearLog();
        QTRY_VERIFY_WITH_TIMEOUT(polled() >= 2, settleMs);
    } else if (event == "speed") {
        // Declined (the watcher answers no Yes): nothing goes to the module.
        w.child<QPushButton>("pushButtonBaudRate")->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.watcher()->count(), 1, settleMs);
        QTest::qWait(300);
        QCOMPARE(sim->requests().count(frames::writeBaudCodeRequest(4)), 0);
    }
    const QStringList shown = w.watcher()->texts();
    QCOMPARE(shown.size(), messages.size());
    for (int i = 0; i < shown.size(); ++i)
        QVERIFY2(shown.at(i).contains(messages.at(i)), qPrintable(shown.at(i)));
}

QTEST_MAIN(tst_Link)
#include "tst_link.moc"
