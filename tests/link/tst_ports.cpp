// Adapters that come and go: the settings dialog's list follows them, and a lost link comes back
// by itself. The simulated module's vanish() and restore() pull and plug its pseudo-terminal
// under the same symbolic link; the kernel's own open notifications count every open of it.
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

#include <sys/inotify.h>
#include <unistd.h>

using testsupport::LinkedWindow;

namespace {

constexpr int settleMs = 10000; // QTRY bound for whatever the tool does by itself
constexpr int quietMs = 1500;   // three checks of the port watcher

// Opens of one device node, as inotify reports them.
class OpenCounter : public QObject
{
public:
    explicit OpenCounter(const QString &path) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        const QByteArray node = QFile::encodeName(QFileInfo(path).canonicalFilePath());
        m_ok = m_fd >= 0 && ::inotify_add_watch(m_fd, node.constData(), IN_OPEN) >= 0;
        auto *notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            inotify_event events[16];
            for (ssize_t n; (n = ::read(m_fd, events, sizeof events)) > 0;)
                m_opens += int(std::size_t(n) / sizeof(inotify_event));
        });
    }
    ~OpenCounter() override { ::close(m_fd); }
    bool isWatching() const { return m_ok; }
    int opens() const { return m_opens; }

private:
    int m_fd;
    bool m_ok = false;
    int m_opens = 0;
};

QStringList entries(const QComboBox *box)
{
    QStringList names;
    for (int i = 0; i < box->count(); ++i)
        names << box->itemText(i);
    return names;
}

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
    auto first = std::make_unique<OpenCounter>(port);
    QVERIFY(first->isWatching());

    SerialportSettingDialog dialog;
    dialog.show();
    auto *names = dialog.findChild<QComboBox *>(QStringLiteral("comboBoxName"));
    QVERIFY(entries(names).contains(port));
    QTRY_COMPARE_WITH_TIMEOUT(first->opens(), 1, settleMs);
    // Typed over the module's entry: the entry going away must not take the text with it.
    names->setCurrentIndex(names->findText(port));
    const QString typed = QStringLiteral("/dev/ttyTypedByHand");
    names->setEditText(typed);

    sim.vanish();
    QTRY_VERIFY_WITH_TIMEOUT(!entries(names).contains(port), settleMs);
    QVERIFY(sim.restore());
    OpenCounter second(port);
    QTRY_VERIFY_WITH_TIMEOUT(entries(names).contains(port), settleMs);
    QCOMPARE(names->currentText(), typed);
    QTRY_COMPARE_WITH_TIMEOUT(second.opens(), 1, settleMs);
    QTest::qWait(quietMs); // listed ports are not tried again at later checks
    QCOMPARE(second.opens(), 1);
    QCOMPARE(entries(names).count(port), 1);
    QCOMPARE(names->currentText(), typed);
    QVERIFY(names->itemData(names->findText(port), Qt::ToolTipRole)
                .toString()
                .contains(QFileInfo(port).canonicalFilePath()));
}

void tst_Ports::reconnect_data()
{
    QTest::addColumn<bool>("polling");
    QTest::addColumn<bool>("linkPressed"); // Link, then Cancel, while the port is away
    QTest::newRow("polling resumes") << true << false;
    QTest::newRow("idle link reopens, nothing sent") << false << false;
    QTest::newRow("after Link, stays closed") << true << true;
}

void tst_Ports::reconnect()
{
    QFETCH(bool, polling);
    QFETCH(bool, linkPressed);
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

    w.sim()->vanish();
    QTRY_COMPARE_WITH_TIMEOUT(w.watcher()->texts(),
                              QStringList{QStringLiteral("The serial port was disconnected!")},
                              settleMs);
    if (linkPressed) {
        w.watcher()->setDialogHandler(testsupport::cancelLinkDialog());
        QTest::mouseClick(w.child<QPushButton>("pushButtonLink"), Qt::LeftButton);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!w.port()->isOpen(), settleMs);
    w.sim()->clearLog();
    QVERIFY(w.sim()->restore());
    OpenCounter opens(w.portName());

    if (linkPressed) {
        QTest::qWait(quietMs);
        QVERIFY(!w.port()->isOpen());
        QCOMPARE(reconnected.count(), 0);
        QCOMPARE(opens.opens(), 0);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(reconnected.count(), 1, settleMs);
    QCOMPARE(reconnected.first(), (QList<QVariant>{w.portName(), 19200}));
    QVERIFY(w.port()->isOpen());
    QCOMPARE(w.port()->baudRate(), 19200);
    QCOMPARE(read->text(), polling ? QStringLiteral("Stop") : QStringLiteral("Read"));
    const int before = polls();
    if (polling)
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= before + 2, settleMs); // answered: the speed holds
    else
        QTest::qWait(quietMs);
    QCOMPARE(w.sim()->requests().isEmpty(), !polling);
    QCOMPARE(opens.opens(), 1);
    QCOMPARE(reconnected.count(), 1);
    QCOMPARE(w.watcher()->count(), 1); // no "Communication error!" on the way back
}

QTEST_MAIN(tst_Ports)
#include "tst_ports.moc"
