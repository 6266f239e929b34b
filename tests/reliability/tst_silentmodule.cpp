// Every command meets a module that hears the request and never answers: each reports its
// failure once, and the tool works normally as soon as the module answers again.
#include "linkedwindow.h"
#include "measure.h"
#include "simulatedmodule.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using testsupport::LinkedWindow;

namespace {
const QString communicationError = QStringLiteral("Communication error!");
const QString settingFailed = QStringLiteral("Setting failed, please try again!");
// Past every deadline (1.5 s at most) with room for a loaded machine.
constexpr int reportBoundMs = 6000;
// A second report, from a deadline that fired twice, would come within this.
constexpr int onceWindowMs = 2000;
} // namespace

class tst_SilentModule : public QObject
{
    Q_OBJECT

private slots:
    void unansweredCommand_data();
    void unansweredCommand();
};

void tst_SilentModule::unansweredCommand_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("requestStart");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message"); // empty: nothing is reported
    QTest::addColumn<int>("earliestMs");
    const auto row = [](const char *name, const char *button, const char *request,
                        const char *title = "Error", const QString &message = communicationError,
                        int earliestMs = 500) {
        QTest::newRow(name) << QString::fromLatin1(button) << QByteArray::fromHex(request)
                            << QString::fromLatin1(title) << message << earliestMs;
    };
    row("address read", "pushButtonAddressRead", "0003010000018427");
    row("address write", "pushButtonAddress", "0006010000");
    row("baud change", "pushButtonBaudRate", "0006010100");
    row("device info read", "pushButtonReadSN", "7b220a000a227d");
    row("serial number, clock", "pushButtonAUTO", "7b22aa07", "Error", communicationError, 1500);
    row("serial number, typed", "pushButtonMANU", "7b22aa07", "Error", communicationError, 1500);
    row("record read", "pushButtonReadRecord", "7b221a001a227d");
    row("record write", "pushButtonSetup", "7b224a", "Failed", settingFailed, 1000);
    // A poll arms no deadline: an unanswered one is not reported. (The probe's failure is
    // tst_link's.)
    row("measurement poll", "pushButtonRead", "01030000000305cb", "", QString(), 0);
}

void tst_SilentModule::unansweredCommand()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, requestStart);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(int, earliestMs);

    LinkedWindow fixture;
    QVERIFY(fixture.isReady());
    QVERIFY(fixture.link());
    modsim::SimulatedModule *sim = fixture.sim();
    testsupport::ModalWatcher *watcher = fixture.watcher();
    if (QLineEdit *sn = fixture.child<QLineEdit>("lineEditSN"))
        sn->setText(QStringLiteral("240517103001"));

    sim->faults().silent = true;
    sim->clearLog();
    watcher->clear();
    QElapsedTimer sincePressed;
    sincePressed.start();
    auto *pressed = fixture.child<QPushButton>(button.toLatin1().constData());
    QVERIFY(pressed && pressed->isEnabled());
    QTest::mouseClick(pressed, Qt::LeftButton);

    // The request went out whole, and only the answer is missing.
    QTRY_VERIFY_WITH_TIMEOUT(!sim->requests().isEmpty(), reportBoundMs);
    QVERIFY2(sim->requests().constFirst().startsWith(requestStart),
             sim->requests().constFirst().toHex().constData());

    auto *temperature = fixture.child<QLabel>("labelTemperature");
    if (message.isEmpty()) {
        // No box a second: after three unanswered polls the values go grey instead.
        QTRY_VERIFY_WITH_TIMEOUT(!temperature->isEnabled(), reportBoundMs);
        QVERIFY2(QRegularExpression(QStringLiteral("^No reply since \\d\\d:\\d\\d:\\d\\d$"))
                     .match(temperature->toolTip())
                     .hasMatch(),
                 qPrintable(temperature->toolTip()));
        QVERIFY(sincePressed.elapsed() >= 4000); // known at the fourth poll
        QCOMPARE(watcher->texts(), QStringList{});
        sim->faults().silent = false;
        QTRY_VERIFY_WITH_TIMEOUT(temperature->isEnabled(), reportBoundMs);
        QCOMPARE(temperature->toolTip(), QString());
        QTest::mouseClick(fixture.child<QPushButton>("pushButtonRead"), Qt::LeftButton);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(watcher->count() > 0, reportBoundMs);
        const qint64 reportedAfter = sincePressed.elapsed();
        // Deadlines run on precise timers, which never end early.
        QVERIFY2(reportedAfter >= earliestMs, qPrintable(QString::number(reportedAfter)));
        QCOMPARE(watcher->messages().constFirst().title, title);
        testsupport::runEventLoop(onceWindowMs);
        QCOMPARE(watcher->texts(), QStringList{message});
    }

    // Usable right after: the module answers again and the next command works.
    sim->faults().silent = false;
    watcher->clear();
    auto *address = fixture.child<QLineEdit>("lineEditAddress");
    address->clear();
    QTest::mouseClick(fixture.child<QPushButton>("pushButtonAddressRead"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(address->text(), QString::number(sim->module().address()),
                              reportBoundMs);
    testsupport::runEventLoop(700); // past the read's own deadline
    QCOMPARE(watcher->texts(), QStringList{});
}

QTEST_MAIN(tst_SilentModule)
#include "tst_silentmodule.moc"
