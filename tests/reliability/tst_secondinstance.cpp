// The operator starts the tool twice and links both to the same port. The second process must
// be refused the port, write nothing to the module, and say so; the first keeps working.
//
// The second instance is this test program again, started with QUORVEL_SECOND_INSTANCE_PORT:
// it shows the main window, links through the real Link button and dialog, prints every
// message it was shown and exits.
#include "linkedwindow.h"
#include "measure.h"
#include "modalwatcher.h"
#include "simulatedmodule.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <cstdio>

using testsupport::LinkedWindow;

namespace {
const char secondInstanceVariable[] = "QUORVEL_SECOND_INSTANCE_PORT";
const QByteArray messagePrefix = "message: ";
// Past the address read's 500 ms deadline, for a loaded machine.
constexpr int secondInstanceRunMs = 2500;

int runSecondInstance(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString port = qEnvironmentVariable(secondInstanceVariable);
    Widget window;
    window.show();
    testsupport::ModalWatcher watcher;
    watcher.setDialogHandler(testsupport::acceptLinkDialog(port, QStringLiteral("9600")));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButtonLink")),
                      Qt::LeftButton);
    watcher.setDialogHandler({});
    testsupport::runEventLoop(secondInstanceRunMs);
    for (const testsupport::ShownMessage &m : watcher.messages())
        std::printf("%s%s|%s\n", messagePrefix.constData(), qPrintable(m.title),
                    qPrintable(m.text));
    return 0;
}
} // namespace

class tst_SecondInstance : public QObject
{
    Q_OBJECT

private slots:
    void samePortIsRefused();
};

void tst_SecondInstance::samePortIsRefused()
{
    LinkedWindow fixture;
    QVERIFY(fixture.isReady());
    QVERIFY(fixture.link());
    modsim::SimulatedModule *sim = fixture.sim();
    sim->clearLog();

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(secondInstanceVariable), fixture.portName());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(second.waitForStarted(10000));
    // Our event loop keeps running meanwhile, so the module hears whatever the other writes.
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 30000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    testsupport::runEventLoop(300);

    QStringList shown;
    for (const QByteArray &line : second.readAllStandardOutput().split('\n')) {
        if (line.startsWith(messagePrefix))
            shown << QString::fromUtf8(line.mid(messagePrefix.size()));
    }
    // Its address read went nowhere, so its deadline reports it; the module heard nothing.
    QCOMPARE(shown, QStringList{QStringLiteral("Error|Communication error!")});
    QCOMPARE(sim->requests(), QList<QByteArray>{});

    // The first instance still has the port.
    auto *address = fixture.child<QLineEdit>("lineEditAddress");
    address->clear();
    fixture.watcher()->clear();
    QTest::mouseClick(fixture.child<QPushButton>("pushButtonAddressRead"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(address->text(), QString::number(sim->module().address()), 5000);
    QCOMPARE(int(sim->requests().size()), 1);
    QCOMPARE(fixture.watcher()->texts(), QStringList{});
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(secondInstanceVariable))
        return runSecondInstance(argc, argv);
    QApplication app(argc, argv);
    tst_SecondInstance test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_secondinstance.moc"
