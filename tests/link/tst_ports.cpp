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

} // namespace

class tst_Ports : public QObject
{
    Q_OBJECT

private slots:
    void init() { LinkedWindow::resetUartData(); }
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
    QTest::newRow("polling resumes") << true << false << false;
    QTest::newRow("idle link reopens, nothing sent") << false << false << false;
    QTest::newRow("after Link, stays closed") << true << true << false;
    QTest::newRow("failed in place: waits for it to go") << true << false << true;
}

void tst_Ports::reconnect()
{
    QFETCH(bool, polling);
    QFETCH(bool, linkPressed);
    QFETCH(bool, hungUp);
    LinkedWindow w;
    QVERIFY(w.isReady());
    w.sim()->module().setLineSpeed(19200);
    QVERIFY(w.link(QStringLiteral("19200")));
    auto *read = w.child<QPushButton>("pushButtonRead");
    auto *log = w.child<QTextBrowser>("textBrowser");
    const auto polls = [&] { return log->toPlainText().count(QLatin1String("->RX  0103")); };
    if (polling) {
        QTest::mouseClick(read, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= 1, settleMs);
    }
    qRegisterMetaType<qint32>("qint32");
    QSignalSpy reconnected(w.widget(), &Widget::portReconnected);

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
    QVERIFY(w.sim()->restore());
    OpenCounter opener(w.portName());

    // Told apart by the count of opens: reopened once, or (after Link) never.
    QTRY_COMPARE_WITH_TIMEOUT(opener.opens, linkPressed ? 0 : 1, settleMs);
    QTRY_COMPARE_WITH_TIMEOUT(reconnected.count(), linkPressed ? 0 : 1, settleMs);
    const int before = polls();
    QTest::qWait(quietMs);
    QCOMPARE(opener.opens, linkPressed ? 0 : 1);
    QCOMPARE(w.port()->isOpen(), !linkPressed);
    if (linkPressed)
        return;
    QCOMPARE(reconnected.first(), (QList<QVariant>{w.portName(), 19200}));
    QCOMPARE(w.port()->baudRate(), 19200);
    QCOMPARE(read->text(), polling ? QStringLiteral("Stop") : QStringLiteral("Read"));
    if (polling) // answered: the speed holds
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= before + 2, settleMs);
    QCOMPARE(w.sim()->requests().isEmpty(), !polling);
    QCOMPARE(w.watcher()->count(), 1); // no "Communication error!" on the way back
}

QTEST_MAIN(tst_Ports)
#include "tst_ports.moc"
