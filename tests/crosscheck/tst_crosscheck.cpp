// Independent Modbus peers from Debian: mbpoll, a Modbus master, polls the simulated module; the
// real window polls pymodbus, a Modbus server, across a socat pseudo-terminal pair and over TCP
// as a serial device server carries its RTU frames. They fail, not skip, when a peer is missing:
// scripts/common.sh lists the packages.
#include "app/widget.h"
#include "linkedwindow.h"
#include "modalwatcher.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <functional>

namespace {

constexpr int replyTimeoutMs = 10000; // two poll periods and more, for a busy machine

// A helper process (the simulator, socat, a peer), ended when the test is done with it.
class Peer : public QProcess
{
public:
    ~Peer() override
    {
        if (state() == NotRunning)
            return;
        terminate(); // lets the simulator and socat remove their links
        if (!waitForFinished(5000))
            kill();
        waitForFinished(5000);
    }
    // Python and its imports are slow to start on a busy machine.
    bool waitUntil(const std::function<bool()> &ready)
    {
        return QTest::qWaitFor([&] { return state() == NotRunning || ready(); }, 20000) &&
               state() != NotRunning;
    }
    QString output() { return m_output += QString::fromLocal8Bit(readAllStandardOutput()); }
    QString errors() { return QString::fromLocal8Bit(readAllStandardError()); }

private:
    QString m_output;
};

// Runs a program to its end and gives its output, or an empty string when it failed.
QString runToEnd(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool done =
        process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (!done || process.exitCode() != 0) {
        qWarning().noquote() << program << arguments << output;
        return QString();
    }
    return output;
}

// mbpoll prints "[n]: \t65413 (-123)" for a negative register and "[n]: \t655" otherwise.
QList<int> registersPrinted(const QString &output)
{
    static const QRegularExpression line(
        QStringLiteral("^\\[(\\d+)\\]:\\s+(\\d+)(?:\\s+\\((-?\\d+)\\))?\\s*$"),
        QRegularExpression::MultilineOption);
    QList<int> values;
    for (auto matches = line.globalMatch(output); matches.hasNext();) {
        const QRegularExpressionMatch m = matches.next();
        values.append(m.captured(3).isEmpty() ? m.captured(2).toInt() : m.captured(3).toInt());
    }
    return values;
}

} // namespace

class tst_Crosscheck : public QObject
{
    Q_OBJECT

private slots:
    void mbpollPollsTheSimulator();
    void windowPollsPymodbus_data();
    void windowPollsPymodbus();
};

void tst_Crosscheck::mbpollPollsTheSimulator()
{
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    QVERIFY2(!mbpoll.isEmpty(), "mbpoll is not installed (Debian package mbpoll)");
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttySim"));
    // -5.5 °C and 80.0 %RH put a negative dew point (-8.4 °C) in the registers too.
    Peer sim;
    sim.start(QStringLiteral(QUORVEL_MODSIM_PROGRAM),
              {QStringLiteral("--address=17"), QStringLiteral("--temperature=-55"),
               QStringLiteral("--humidity=800"), QStringLiteral("--quiet"),
               QStringLiteral("--link=") + link});
    QVERIFY2(sim.waitUntil([&] { return QFileInfo::exists(link); }), qPrintable(sim.errors()));

    // RTU at 9600 8N1, holding registers, one poll. mbpoll counts from 1: its reference 1 is
    // register 0, and 257 the address register 0x0100.
    const auto poll = [&](const char *reference, const char *count) {
        return registersPrinted(
            runToEnd(mbpoll, QStringLiteral("-m rtu -b 9600 -P none -t 4 -1 -o 3 -a 17 -r %1 -c %2")
                                     .arg(QLatin1String(reference), QLatin1String(count))
                                     .split(QLatin1Char(' ')) +
                                 QStringList{link}));
    };
    QCOMPARE(poll("1", "3"), (QList<int>{-55, 800, -84}));
    QCOMPARE(poll("257", "1"), QList<int>{17});
}

void tst_Crosscheck::windowPollsPymodbus_data()
{
    QTest::addColumn<bool>("overTcp");
    QTest::newRow("serial line") << false;
    QTest::newRow("RTU frames over TCP") << true;
}

void tst_Crosscheck::windowPollsPymodbus()
{
    QFETCH(bool, overTcp);
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    QVERIFY2(!socat.isEmpty(), "socat is not installed (Debian package socat)");
    // Debian's interpreter may not be the first python3 on the path, and another may lack
    // pymodbus: take the first that can import it.
    QString python;
    for (const QString &candidate : {QStringLiteral("/usr/bin/python3"),
                                     QStandardPaths::findExecutable(QStringLiteral("python3"))}) {
        if (python.isEmpty() && QFileInfo(candidate).isExecutable() &&
            !runToEnd(candidate, {QStringLiteral("-c"),
                                  QStringLiteral("import pymodbus, serial_asyncio; print(1)")})
                 .isEmpty())
            python = candidate;
    }
    QVERIFY2(!python.isEmpty(), "no python3 can import pymodbus (Debian package python3-pymodbus)");

    QTemporaryDir dir;
    QString serverSide = dir.filePath(QStringLiteral("server"));
    QString toolSide = dir.filePath(QStringLiteral("tool"));
    Peer socatPair;
    if (overTcp) {
        QTcpServer free; // a port nobody uses, for the server to take
        QVERIFY(free.listen(QHostAddress::LocalHost));
        serverSide = QString::number(free.serverPort());
        toolSide = QStringLiteral("127.0.0.1:") + serverSide;
    } else {
        socatPair.start(socat, {QStringLiteral("pty,raw,echo=0,link=") + serverSide,
                                QStringLiteral("pty,raw,echo=0,link=") + toolSide});
        QVERIFY2(socatPair.waitUntil(
                     [&] { return QFileInfo::exists(serverSide) && QFileInfo::exists(toolSide); }),
                 qPrintable(socatPair.errors()));
    }
    // Address 247, -12.3 °C, 98.0 %RH, dew point -12.6 °C; it ends before socat takes its line.
    Peer server;
    server.start(python,
                 {QStringLiteral(PYMODBUS_SERVER_SCRIPT),
                  overTcp ? QStringLiteral("--tcp") : QStringLiteral("--port"), serverSide,
                  QStringLiteral("--address=247"), QStringLiteral("--registers=-123,980,-126")});
    QVERIFY2(server.waitUntil([&] { return server.output().contains(QLatin1String("ready")); }),
             qPrintable(server.errors()));

    testsupport::LinkedWindow::resetUartData();
    Widget widget;
    widget.show();
    testsupport::ModalWatcher watcher;
    const auto child = [&widget](const char *name) {
        return widget.findChild<QWidget *>(QLatin1String(name));
    };
    // Linking reads the address with a request to address 0, which the server answers.
    watcher.setDialogHandler(testsupport::acceptLinkDialog(toolSide, QStringLiteral("9600")));
    QTest::mouseClick(child("pushButtonLink"), Qt::LeftButton);
    watcher.setDialogHandler({});
    QTRY_COMPARE_WITH_TIMEOUT(qobject_cast<QLineEdit *>(child("lineEditAddress"))->text(),
                              QStringLiteral("247"), replyTimeoutMs);

    QTest::mouseClick(child("pushButtonRead"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(qobject_cast<QLabel *>(child("labelTemperature"))->text(),
                              QStringLiteral("Temperature:-12.3\u2103"), replyTimeoutMs);
    QTest::mouseClick(child("pushButtonRead"), Qt::LeftButton);
    QCOMPARE(qobject_cast<QLabel *>(child("labelHumidity"))->text(),
             QStringLiteral("Humidity:98.0%"));
    QCOMPARE(qobject_cast<QLabel *>(child("labelDewTemp"))->text(),
             QStringLiteral("DewTemp:-12.6\u2103"));
    QVERIFY(qobject_cast<QTextBrowser *>(child("textBrowser"))
                ->toPlainText()
                .contains(QLatin1String("->RX  f70306ff8503d4ff8256ed")));
    QCOMPARE(watcher.texts(), QStringList{});
}

QTEST_MAIN(tst_Crosscheck)
#include "tst_crosscheck.moc"
