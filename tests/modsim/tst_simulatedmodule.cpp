// What only the pseudo-terminal shows: the simulated module behind a real QSerialPort.
#include "simulatedmodule.h"

#include "protocol/frames.h"
#include "protocol/replydecoder.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using modsim::SimulatedModule;

namespace {

// Generous: the machine may be busy with other builds.
constexpr int replyTimeoutMs = 5000;
// Long enough that a reply that was going to come would have come.
constexpr int silenceMs = 1500;

} // namespace

class TestSimulatedModule : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void listensOnlyAtItsLineSpeed();
    void splitReplyArrivesInPieces();
    void faults();
    void vanishAndRestore();
    void linkReplacesOnlyASymbolicLink_data();
    void linkReplacesOnlyASymbolicLink();

private:
    bool open(const QString &portName);
    void send(const QByteArray &request);

    QTemporaryDir m_dir;
    std::unique_ptr<SimulatedModule> m_sim;
    std::unique_ptr<QSerialPort> m_port;
    QByteArray m_received;
    QByteArrayList m_arrivals;
};

void TestSimulatedModule::init()
{
    QVERIFY(m_dir.isValid());
    m_sim = std::make_unique<SimulatedModule>();
    m_sim->module().setFrozen(true);
    // Under a link of its own, so that vanish() and restore() keep the name.
    QVERIFY2(m_sim->start(m_dir.filePath(QStringLiteral("ttySim"))),
             qPrintable(m_sim->errorString()));
    QVERIFY2(open(m_sim->portName()), qPrintable(m_port->errorString()));
}

void TestSimulatedModule::cleanup()
{
    m_port.reset();
    m_sim.reset();
}

bool TestSimulatedModule::open(const QString &portName)
{
    m_port = std::make_unique<QSerialPort>(portName);
    m_port->setBaudRate(9600);
    connect(m_port.get(), &QSerialPort::readyRead, this, [this] {
        m_arrivals.append(m_port->readAll());
        m_received += m_arrivals.last();
    });
    return m_port->open(QIODevice::ReadWrite);
}

void TestSimulatedModule::send(const QByteArray &request)
{
    m_received.clear();
    m_arrivals.clear();
    m_port->write(request);
}

void TestSimulatedModule::listensOnlyAtItsLineSpeed()
{
    QVERIFY(m_port->setBaudRate(19200));
    send(frames::measurementRequest(1));
    QTest::qWait(silenceMs);
    QVERIFY(m_received.isEmpty());
    QVERIFY(m_sim->requests().isEmpty());

    // The speed change is echoed at the old speed; from then on only the new one is heard.
    QVERIFY(m_port->setBaudRate(9600));
    send(frames::writeBaudCodeRequest(5));
    QTRY_COMPARE_WITH_TIMEOUT(m_received, frames::writeBaudCodeRequest(5), replyTimeoutMs);
    send(frames::measurementRequest(1));
    QTest::qWait(silenceMs);
    QVERIFY(m_received.isEmpty());
    QVERIFY(m_port->setBaudRate(19200));
    send(frames::measurementRequest(1));
    QTRY_COMPARE_WITH_TIMEOUT(m_received, m_sim->module().measurementReply(), replyTimeoutMs);
}

void TestSimulatedModule::splitReplyArrivesInPieces()
{
    m_sim->faults().splitShare = 1.0;
    m_sim->faults().splitGapMs = 1500;
    const QByteArray whole = m_sim->module().deviceInfoFrame();
    send(frames::readDeviceInfoRequest());
    QTRY_COMPARE_WITH_TIMEOUT(m_received, whole, replyTimeoutMs);
    QVERIFY(m_arrivals.size() >= 2);
    QVERIFY2(m_arrivals.first().size() < whole.size(), "the whole reply came at once");
}

void TestSimulatedModule::faults()
{
    const QByteArray request = frames::measurementRequest(1);
    const QByteArray clean = m_sim->module().measurementReply();
    modsim::Faults &faults = m_sim->faults();

    faults.dropShare = 1.0;
    send(request);
    QTest::qWait(silenceMs);
    QVERIFY(m_received.isEmpty());
    QCOMPARE(m_sim->requests(), QByteArrayList{request}); // heard, but not answered
    faults.dropShare = 0.0;

    faults.corruptShare = 1.0;
    send(request);
    QTRY_COMPARE_WITH_TIMEOUT(m_received.size(), clean.size(), replyTimeoutMs);
    int flipped = 0;
    for (int i = 0; i < clean.size(); ++i)
        flipped += qPopulationCount(quint8(m_received.at(i) ^ clean.at(i)));
    QCOMPARE(flipped, 1);
    QVERIFY(!protocol::answersRequest(protocol::recognizeReply(m_received).kind));
    faults.corruptShare = 0.0;

    faults.exceptionCode = 2;
    send(request);
    QTRY_COMPARE_WITH_TIMEOUT(m_received.toHex(), QByteArray("018302c0f1"), replyTimeoutMs);
}

void TestSimulatedModule::vanishAndRestore()
{
    const QString link = m_sim->portName();
    QSet<int> errors;
    connect(m_port.get(), &QSerialPort::errorOccurred, this,
            [&errors](QSerialPort::SerialPortError error) { errors.insert(int(error)); });
    m_sim->vanish();
    QVERIFY(!QFileInfo::exists(link));
    // As with a pulled adapter: reads fail (the hung-up line reads as end of file), the next
    // write reports the resource gone, and the port cannot be opened again.
    QTRY_VERIFY_WITH_TIMEOUT(errors.contains(QSerialPort::ReadError), replyTimeoutMs);
    m_port->write(frames::readAddressRequest());
    QTRY_VERIFY_WITH_TIMEOUT(errors.contains(QSerialPort::ResourceError), replyTimeoutMs);
    m_port->close();
    QVERIFY(!m_port->open(QIODevice::ReadWrite));

    QVERIFY(m_sim->restore());
    QVERIFY2(open(link), qPrintable(m_port->errorString()));
    send(frames::readAddressRequest());
    QTRY_COMPARE_WITH_TIMEOUT(m_received.toHex(), QByteArray("01030200017984"), replyTimeoutMs);
}

void TestSimulatedModule::linkReplacesOnlyASymbolicLink_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("symbolic link") << "link" << true;
    QTest::newRow("regular file") << "file" << false;
    QTest::newRow("directory") << "dir" << false;
}

void TestSimulatedModule::linkReplacesOnlyASymbolicLink()
{
    QFETCH(QString, kind);
    QFETCH(bool, replaced);
    const QString path = m_dir.filePath(kind);
    QFile file(path);
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
    else if (kind == QLatin1String("dir"))
        QVERIFY(QDir().mkdir(path));
    else if (!file.open(QIODevice::WriteOnly) || file.write("keep me") != 7 || !file.flush())
        QFAIL("cannot write the file");
    file.close();

    SimulatedModule other;
    QCOMPARE(other.start(path), replaced);
    QCOMPARE(QFileInfo(path).symLinkTarget() != QLatin1String("/dev/null") &&
                 QFileInfo(path).isSymLink(),
             replaced);
    if (!replaced)
        QVERIFY2(other.errorString().contains(QLatin1String("not a symbolic link")),
                 qPrintable(other.errorString()));
    if (kind == QLatin1String("file")) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
    }
}

QTEST_GUILESS_MAIN(TestSimulatedModule)
#include "tst_simulatedmodule.moc"
