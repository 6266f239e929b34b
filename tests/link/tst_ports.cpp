// Adapters that come and go: the settings dialog's list follows them, and a lost link comes back
// by itself. The simulated module's vanish() and restore() pull and plug its pseudo-terminal
// under the same symbolic link; the kernel's own open notifications count every open of it.
#include "link/portwatcher.h"
#include "link/serialportsettingdialog.h"
#include "linkedwindow.h"
#include "protocol/uartdata.h"
#include "simulatedmodule.h"

#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTextBrowser>
#include <QtTest>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

using testsupport::LinkedWindow;

namespace {

constexpr int settleMs = 10000; // QTRY bound for whatever the tool does by itself
constexpr int quietMs = 1500;   // three checks of the port watcher

// Opens of one device node, as inotify reports them.
class OpenCounter : public QObject
{
public:
    explicit OpenCounter(const QString &path) : fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        const QByteArray node = QFile::encodeName(QFileInfo(path).canonicalFilePath());
        ok = fd >= 0 && ::inotify_add_watch(fd, node.constData(), IN_OPEN) >= 0;
        auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            inotify_event events[16];
            for (ssize_t n; (n = ::read(fd, events, sizeof events)) > 0;)
                opens += int(std::size_t(n) / sizeof(inotify_event));
        });
    }
    ~OpenCounter() override { ::close(fd); }
    int fd;
    bool ok = false;
    int opens = 0;
};

// A port of a four-port adapter, as the system tells it: "FT5X1-if00" is the serial number
// and interface of its by-id name, "FT5X1" a port udev has not named yet.
PortEntry quadPort(const QString &id)
{
    const QString byId =
        id.contains(QLatin1Char('-')) ? "/dev/serial/by-id/usb-FTDI_Quad_" + id : QString();
    return {{}, {}, {}, {}, id.section(QLatin1Char('-'), 0, 0), 0x0403, 0x6011, true, byId};
}

} // namespace

class tst_Ports : public QObject
{
    Q_OBJECT

private slots:
    void init() { LinkedWindow::resetUartData(); }
    void cleanup() { PortWatcher::setSystemPorts({}); }
    void dialogListFollowsThePort();
    void reconnect_data();
    void reconnect();
};

void tst_Ports::dialogListFollowsThePort()
{
    modsim::SimulatedModule sim;
    QTemporaryDir dir;
    const QString port = dir.filePath(QStringLiteral("ttyQuorvel"));
    QVERIFY(sim.start(port));
    // The port of the previous link, typed as a path the system's list does not show.
    UartData.PortName = port;
    OpenCounter first(port);
    QVERIFY(first.ok);

    SerialportSettingDialog dialog;
    dialog.show();
    auto *names = dialog.findChild<QComboBox *>(QStringLiteral("comboBoxName"));
    QVERIFY(names->findText(port) >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(first.opens, 1, settleMs);
    // Typed over the module's entry: the entry going away must not take the text with it.
    names->setCurrentIndex(names->findText(port));
    const QString typed = QStringLiteral("/dev/ttyTypedByHand");
    names->setEditText(typed);

    sim.vanish();
    QTRY_COMPARE_WITH_TIMEOUT(names->findText(port), -1, settleMs);
    QVERIFY(sim.restore());
    OpenCounter second(port);
    QTRY_VERIFY_WITH_TIMEOUT(names->findText(port) >= 0, settleMs);
    QCOMPARE(names->currentText(), typed);
    QTRY_COMPARE_WITH_TIMEOUT(second.opens, 1, settleMs);
    QTest::qWait(quietMs); // listed ports are not tried again at later checks
    // nor when another port comes or goes
    emit dialog.findChild<PortWatcher *>()->portsChanged();
    QTest::qWait(100);
    QCOMPARE(second.opens, 1);
    QCOMPARE(names->currentText(), typed);
    QVERIFY(names->itemData(names->findText(port), Qt::ToolTipRole)
                .toString()
                .contains(QFileInfo(port).canonicalFilePath()));
}

void tst_Ports::reconnect_data()
{
    QTest::addColumn<bool>("polling");
    QTest::addColumn<bool>("linkPressed"); // Link, then Cancel, while the port is away
    QTest::addColumn<bool>("hungUp");      // the line fails first with its node still there
    // Link at 19200 or AUTO, perhaps then a change to 9600 (lost as soon as acknowledged)
    QTest::addColumn<QString>("established");
    QTest::addColumn<int>("speed"); // what the link comes back at; 0: it stays closed
    // The quadPort back under the lost one's name, which was FT5X1-if00; a pty tells nothing.
    QTest::addColumn<QString>("back");
    const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };
    row("polling resumes") << true << false << false << "19200" << 19200 << "";
    row("idle link reopens, nothing sent") << false << false << false << "19200" << 19200 << "";
    row("after Link, stays closed") << true << true << false << "19200" << 0 << "";
    row("failed in place: waits for it to go") << true << false << true << "19200" << 19200 << "";
    row("after the probe") << true << false << false << "AUTO" << 19200 << "";
    row("after a line-speed change") << true << false << false << "change" << 9600 << "";
    row("acknowledged change, lost before the reopen")
        << true << false << false << "lost change" << 9600 << "";
    row("the same adapter") << true << false << false << "19200" << 19200 << "FT5X1-if00";
    row("another interface of it") << true << false << false << "19200" << 0 << "FT5X1-if01";
    row("another serial number") << true << false << false << "19200" << 0 << "FT7Q2";
}

void tst_Ports::reconnect()
{
    QFETCH(bool, polling);
    QFETCH(bool, linkPressed);
    QFETCH(bool, hungUp);
    QFETCH(QString, established);
    QFETCH(int, speed);
    QFETCH(QString, back);
    LinkedWindow w;
    QVERIFY(w.isReady());
    PortEntry present = quadPort(QStringLiteral("FT5X1-if00"));
    int blindLooks = 0; // udev tells an adapter's identity a moment after its node appears
    if (!back.isEmpty()) {
        PortWatcher::setSystemPorts([&, name = w.portName()]() -> QList<PortEntry> {
            PortEntry port = blindLooks-- > 0 ? PortEntry{} : present;
            port.name = name;
            port.location = QFileInfo(name).canonicalFilePath();
            return {port};
        });
    }
    w.sim()->module().setLineSpeed(19200);
    QVERIFY(w.link(established == QLatin1String("AUTO") ? established : QStringLiteral("19200")));
    w.watcher()->clear(); // the probe's "Succeed"
    auto *read = w.child<QPushButton>("pushButtonRead");
    auto *log = w.child<QTextBrowser>("textBrowser");
    const auto polls = [&] { return log->toPlainText().count(QLatin1String("->RX  0103")); };
    if (polling) {
        QTest::mouseClick(read, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= 1, settleMs);
    }
    qRegisterMetaType<qint32>("qint32");
    QSignalSpy reconnected(w.widget(), &Widget::portReconnected);
    if (established.endsWith(QLatin1String("change"))) {
        QObject pull;
        connect(w.widget(), &Widget::replyRecognised, &pull, [&](const protocol::Reply &reply) {
            if (reply.kind == protocol::ReplyKind::Acknowledge && established.contains("lost"))
                w.sim()->vanish();
        });
        w.child<QComboBox>("comboBoxBaudRate")->setCurrentText(QStringLiteral("9600"));
        QTest::mouseClick(w.child<QPushButton>("pushButtonBaudRate"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w.port()->baudRate() == 9600 || !w.port()->isOpen(), settleMs);
    }

    if (hungUp) {
        // An adapter that fails without going away: its node stays, and opens again.
        const int fd = ::open(QFile::encodeName(QFileInfo(w.portName()).canonicalFilePath()),
                              O_RDWR | O_NOCTTY);
        const bool hung = fd >= 0 && ::ioctl(fd, TIOCVHANGUP) == 0;
        ::close(fd);
        if (!hung)
            QSKIP("cannot hang up the terminal (needs root)");
    } else {
        w.sim()->vanish();
    }
    QTRY_COMPARE_WITH_TIMEOUT(w.watcher()->texts(),
                              QStringList{QStringLiteral("The serial port was disconnected!")},
                              settleMs);
    if (linkPressed) {
        w.watcher()->setDialogHandler(testsupport::cancelLinkDialog());
        QTest::mouseClick(w.child<QPushButton>("pushButtonLink"), Qt::LeftButton);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!w.port()->isOpen(), settleMs);
    if (hungUp) {
        OpenCounter dead(w.portName());
        QTest::qWait(quietMs);
        QCOMPARE(dead.opens, 0);
        w.sim()->vanish();
    }
    w.sim()->clearLog();
    present = quadPort(back);
    blindLooks = 1;
    QVERIFY(w.sim()->restore());
    OpenCounter opener(w.portName());

    // Told apart by the count of opens: reopened once, or never.
    QTRY_COMPARE_WITH_TIMEOUT(opener.opens, speed ? 1 : 0, settleMs);
    QTRY_COMPARE_WITH_TIMEOUT(reconnected.count(), speed ? 1 : 0, settleMs);
    const int before = polls();
    QTest::qWait(quietMs * (speed ? 1 : 2)); // long enough to tell another device
    QCOMPARE(opener.opens, speed ? 1 : 0);
    QCOMPARE(w.port()->isOpen(), speed != 0);
    if (speed == 0)
        return;
    QCOMPARE(reconnected.first(), (QList<QVariant>{w.portName(), speed}));
    QCOMPARE(w.port()->baudRate(), speed);
    QCOMPARE(read->text(), polling ? QStringLiteral("Stop") : QStringLiteral("Read"));
    if (polling) // answered: the module listens at that speed
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= before + 2, settleMs);
    QCOMPARE(w.sim()->requests().isEmpty(), !polling);
    QCOMPARE(w.watcher()->count(), 1); // no "Communication error!" on the way back
}

QTEST_MAIN(tst_Ports)
#include "tst_ports.moc"
