// The simulated module polled by an independent Modbus master, Debian's mbpoll.
#include "peer.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// mbpoll prints "[n]: \t65413 (-123)" for a negative register and "[n]: \t655" otherwise.
QList<int> registersPrinted(const QString &output)
{
    static const QRegularExpression line(
        QStringLiteral("^\\[(\\d+)\\]:\\s+(\\d+)(?:\\s+\\((-?\\d+)\\))?\\s*$"),
        QRegularExpression::MultilineOption);
    QList<int> values;
    auto matches = line.globalMatch(output);
    while (matches.hasNext()) {
        const QRegularExpressionMatch m = matches.next();
        values.append(m.captured(3).isEmpty() ? m.captured(2).toInt() : m.captured(3).toInt());
    }
    return values;
}

} // namespace

class TestCrosscheckMbpoll : public QObject
{
    Q_OBJECT

private slots:
    void pollsTheSimulator();
};

void TestCrosscheckMbpoll::pollsTheSimulator()
{
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    QVERIFY2(!mbpoll.isEmpty(), "mbpoll is not installed (Debian package mbpoll)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("ttySim"));

    // -5.5 °C and 80.0 %RH put a negative dew point (-8.4 °C) in the registers too.
    Peer sim;
    sim.start(QStringLiteral(QUORVEL_MODSIM_PROGRAM),
              QStringLiteral("--address 17 --temperature -55 --humidity 800 --quiet")
                      .split(QLatin1Char(' ')) +
                  QStringList{QStringLiteral("--link"), link});
    const auto listening = [&] {
        return sim.output().contains(QLatin1String("quorvel-modsim: ")) && QFileInfo::exists(link);
    };
    QVERIFY2(sim.waitUntil(listening), qPrintable(sim.errors()));

    // RTU at 9600 8N1, holding registers, one poll, a patient timeout for a busy machine.
    // mbpoll counts from 1: its reference 1 is register 0, and 257 the address register 0x0100.
    const QStringList common =
        QStringLiteral("-m rtu -b 9600 -P none -t 4 -1 -o 3 -a 17").split(QLatin1Char(' '));
    const auto poll = [&](const QString &reference, int count) {
        QString output;
        if (runToEnd(mbpoll,
                     common + QStringList{QStringLiteral("-r"), reference, QStringLiteral("-c"),
                                          QString::number(count), link},
                     &output) != 0)
            qWarning().noquote() << output;
        return registersPrinted(output);
    };
    QCOMPARE(poll(QStringLiteral("1"), 3), (QList<int>{-55, 800, -84}));
    QCOMPARE(poll(QStringLiteral("257"), 1), QList<int>{17});
}

QTEST_GUILESS_MAIN(TestCrosscheckMbpoll)
#include "tst_crosscheck_mbpoll.moc"
