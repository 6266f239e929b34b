// quorvel-modsim: a simulated sensor module on a pseudo-terminal, for trying Quorvel without
// hardware and for the end-to-end tests.
#include "simulatedmodule.h"

#include "protocol/frames.h"
#include "protocol/portname.h"
#include "protocol/tables.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

const char defaultLink[] = "/tmp/ttyQuorvelSim";

// Signals are turned into a byte on a socket pair so that the event loop, not the handler,
// shuts down (and the link is removed by the normal destructors).
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void print(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

[[noreturn]] void fail(const QString &message)
{
    std::fputs(qPrintable(QStringLiteral("quorvel-modsim: ") + message + QLatin1Char('\n')),
               stderr);
    std::exit(2);
}

QString stamp()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

QString spaced(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

int wholeNumber(const QString &text, const QString &what, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        fail(QStringLiteral("%1 takes a whole number from %2 to %3").arg(what).arg(low).arg(high));
    return value;
}

int intOption(const QCommandLineParser &parser, const QString &name, int low, int high)
{
    return wholeNumber(parser.value(name), QStringLiteral("--") + name, low, high);
}

double shareOption(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0.0 || value > 1.0)
        fail(QStringLiteral("--%1 takes a share from 0 to 1").arg(name));
    return value;
}

bool allDigits(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

void setModel(modsim::Module &module, const QString &name, const QString &what)
{
    if (name.toLower() == QLatin1String("sht2x"))
        module.setModel(modsim::Model::Sht2x);
    else if (name.toLower() == QLatin1String("sht3x"))
        module.setModel(modsim::Model::Sht3x);
    else
        fail(what + QStringLiteral(" must be sht2x or sht3x"));
}

void setSerial(modsim::Module &module, const QString &digits, const QString &what)
{
    if (digits.size() != 12 || !allDigits(digits))
        fail(what + QStringLiteral(" takes twelve decimal digits"));
    module.setSerialNumber(frames::serialNumberBytes(digits));
}

// One --module: comma-separated keys, e.g. "address=17,model=sht2x,late=200,silent".
void applyModuleSpec(const QString &spec, modsim::Station &station)
{
    modsim::Module &module = station.module;
    for (const QString &item : spec.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString key = item.section(QLatin1Char('='), 0, 0);
        const QString value = item.section(QLatin1Char('='), 1);
        const QString what = QStringLiteral("--module %1=").arg(key);
        if (key == QLatin1String("address")) {
            module.setAddress(quint8(wholeNumber(value, what, 1, 247)));
        } else if (key == QLatin1String("model")) {
            setModel(module, value, what);
        } else if (key == QLatin1String("serial")) {
            setSerial(module, value, what);
        } else if (key == QLatin1String("temperature")) {
            module.setTemperature(qint16(wholeNumber(value, what, -400, 1250)));
            module.setFrozen(true);
        } else if (key == QLatin1String("humidity")) {
            module.setHumidity(quint16(wholeNumber(value, what, 0, 1000)));
            module.setFrozen(true);
        } else if (key == QLatin1String("dew-point")) {
            module.setDewPointOverride(qint16(wholeNumber(value, what, -400, 1250)));
        } else if (key == QLatin1String("late")) {
            station.lateMs = wholeNumber(value, what, 0, 600000);
        } else if (key == QLatin1String("quiet-after")) {
            station.quietAfterMs = wholeNumber(value, what, 0, 86400000);
        } else if (key == QLatin1String("quiet-for")) {
            station.quietForMs = wholeNumber(value, what, 0, 86400000);
        } else if (item == QLatin1String("wet-bulb")) {
            module.setWetBulbReply(true);
        } else if (item == QLatin1String("silent")) {
            station.silent = true;
        } else {
            fail(QStringLiteral("--module: unknown item \"%1\" (see --help)").arg(item));
        }
    }
}

// --tcp [HOST:]PORT. Only the loopback unless a host is named: the simulator is for this machine.
std::pair<QHostAddress, quint16> tcpEndpoint(const QString &text)
{
    const bool portOnly = allDigits(text) && !text.isEmpty();
    const protocol::PortName name = protocol::parsePortName(
        portOnly ? QStringLiteral("127.0.0.1:") + text
                 : (text.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive)
                        ? text
                        : QStringLiteral("tcp://") + text));
    if (!name.isNetwork())
        fail(QStringLiteral("--tcp %1: %2").arg(text, QString::fromLatin1(name.problem)));
    QHostAddress address(name.host);
    if (address.isNull()) {
        const QHostInfo found = QHostInfo::fromName(name.host);
        if (found.addresses().isEmpty())
            fail(QStringLiteral("--tcp %1: cannot resolve %2").arg(text, name.host));
        address = found.addresses().first();
    }
    return {address, name.port};
}

int secondsOptionMs(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0.0 || value > 86400.0)
        fail(QStringLiteral("--%1 takes seconds from 0 to 86400").arg(name));
    return int(value * 1000.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvel-modsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated temperature-and-humidity module on a pseudo-terminal, or on TCP behind a "
        "simulated serial device server. Open the printed link with Quorvel (or any Modbus-RTU "
        "master) at 8N1. Values are in tenths."));
    parser.addHelpOption();
    parser.addVersionOption();
    const auto option = [&parser](const QString &name, const QString &help,
                                  const QString &valueName = QString(),
                                  const QString &defaultValue = QString()) {
        parser.addOption(QCommandLineOption(name, help, valueName, defaultValue));
    };
    option(QStringLiteral("link"), QStringLiteral("Symbolic link to the port."),
           QStringLiteral("path"), QString::fromLatin1(defaultLink));
    option(QStringLiteral("tcp"),
           QStringLiteral("Serve over TCP instead, as a serial device server in transparent mode "
                          "with its serial side at --baud: one client at a time, on the "
                          "loopback unless a host is given."),
           QStringLiteral("[host:]port"));
    option(QStringLiteral("quiet"), QStringLiteral("No traffic trace."));
    option(QStringLiteral("address"), QStringLiteral("Bus address, 1 to 247."), QStringLiteral("n"),
           QStringLiteral("1"));
    option(QStringLiteral("baud"),
           QStringLiteral("Line speed: 1200, 2400, 4800, 9600, 19200 or 115200."),
           QStringLiteral("speed"), QStringLiteral("9600"));
    option(QStringLiteral("model"), QStringLiteral("sht2x (8132) or sht3x (8133)."),
           QStringLiteral("model"), QStringLiteral("sht3x"));
    option(QStringLiteral("serial"), QStringLiteral("Serial number as twelve decimal digits."),
           QStringLiteral("digits"));
    option(QStringLiteral("wet-bulb"),
           QStringLiteral("Four-value measurement reply (byte count 9, wet bulb last)."));
    option(QStringLiteral("temperature"),
           QStringLiteral("Fixed temperature in tenths of a degree; stops the drift."),
           QStringLiteral("tenths"));
    option(QStringLiteral("humidity"),
           QStringLiteral("Fixed relative humidity in tenths of a percent; stops the drift."),
           QStringLiteral("tenths"));
    option(QStringLiteral("module"),
           QStringLiteral("A module on the line; repeat it for an RS-485 bus of modules at one "
                          "speed. Comma-separated: address=N, model=sht2x|sht3x, serial=DIGITS, "
                          "temperature=TENTHS, humidity=TENTHS, dew-point=TENTHS, late=MS, "
                          "wet-bulb, silent, quiet-after=MS with quiet-for=MS (silent for a "
                          "while). Replaces --address, --model, --serial, --wet-bulb, "
                          "--temperature and --humidity."),
           QStringLiteral("spec"));
    option(QStringLiteral("drop"), QStringLiteral("Share of replies not sent."),
           QStringLiteral("p"));
    option(QStringLiteral("corrupt"), QStringLiteral("Share of replies with one bit flipped."),
           QStringLiteral("p"));
    option(QStringLiteral("split"),
           QStringLiteral("Share of replies written in two pieces (over TCP, two segments)."),
           QStringLiteral("p"));
    option(QStringLiteral("split-gap"),
           QStringLiteral("Pause between the pieces of a split reply."), QStringLiteral("ms"),
           QStringLiteral("100"));
    option(QStringLiteral("noise"), QStringLiteral("Random bytes written before every reply."),
           QStringLiteral("n"));
    option(QStringLiteral("late"), QStringLiteral("Delay before every reply."),
           QStringLiteral("ms"));
    option(QStringLiteral("exception"),
           QStringLiteral("Answer Modbus requests with this exception code."),
           QStringLiteral("code"));
    option(QStringLiteral("silent"), QStringLiteral("Answer nothing."));
    option(QStringLiteral("forget-writes"),
           QStringLiteral("Acknowledge every write, then keep nothing of it."));
    option(QStringLiteral("vanish-after"),
           QStringLiteral("Close the port after this long, as a pulled adapter (over TCP: reset "
                          "the connection and stop listening)."),
           QStringLiteral("s"));
    option(QStringLiteral("restore-after"),
           QStringLiteral("With --vanish-after: bring the port back this long after it vanished."),
           QStringLiteral("s"));
    option(QStringLiteral("noise-flood"),
           QStringLiteral("A pause-free stream of random bytes at this rate."),
           QStringLiteral("bytes/s"));
    option(QStringLiteral("no-speed-check"),
           QStringLiteral("Answer whatever line speed the other side set."));
    option(QStringLiteral("realistic-timing"),
           QStringLiteral("Hold each reply back as long as its bytes take on the wire."));
    option(QStringLiteral("seed"), QStringLiteral("Seed of the fault dice and the value drift."),
           QStringLiteral("n"), QStringLiteral("1"));
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument %1 (see --help)")
                 .arg(parser.positionalArguments().first()));

    modsim::SimulatedModule sim;
    modsim::Module &module = sim.module();
    modsim::Faults &faults = sim.faults();

    const int baud = intOption(parser, QStringLiteral("baud"), 1, 115200);
    if (!protocol::baudCodeOfSpeed(baud))
        fail(QStringLiteral("--baud must be one of 1200, 2400, 4800, 9600, 19200, 115200"));
    const QStringList moduleSpecs = parser.values(QStringLiteral("module"));
    if (moduleSpecs.isEmpty()) {
        module.setAddress(quint8(intOption(parser, QStringLiteral("address"), 1, 247)));
        setModel(module, parser.value(QStringLiteral("model")), QStringLiteral("--model"));
        if (parser.isSet(QStringLiteral("serial")))
            setSerial(module, parser.value(QStringLiteral("serial")), QStringLiteral("--serial"));
        module.setWetBulbReply(parser.isSet(QStringLiteral("wet-bulb")));
        if (parser.isSet(QStringLiteral("temperature"))) {
            module.setTemperature(
                qint16(intOption(parser, QStringLiteral("temperature"), -400, 1250)));
            module.setFrozen(true);
        }
        if (parser.isSet(QStringLiteral("humidity"))) {
            module.setHumidity(quint16(intOption(parser, QStringLiteral("humidity"), 0, 1000)));
            module.setFrozen(true);
        }
    } else {
        for (const char *single :
             {"address", "model", "serial", "wet-bulb", "temperature", "humidity"}) {
            if (parser.isSet(QString::fromLatin1(single)))
                fail(QStringLiteral("--%1 and --module do not mix: describe each module with "
                                    "--module")
                         .arg(QString::fromLatin1(single)));
        }
        applyModuleSpec(moduleSpecs.first(), sim.station(0));
        for (int i = 1; i < moduleSpecs.size(); ++i)
            applyModuleSpec(moduleSpecs.at(i), sim.addModule(modsim::Module()));
    }
    for (int i = 0; i < sim.moduleCount(); ++i)
        sim.station(i).module.setLineSpeed(baud);

    const quint32 seed = quint32(intOption(parser, QStringLiteral("seed"), 0, 0x7FFFFFFF));
    faults.seed = seed;
    // Modules of one bus wander each their own way.
    for (int i = 0; i < sim.moduleCount(); ++i)
        sim.station(i).module.setDriftSeed(seed + quint32(i));
    if (parser.isSet(QStringLiteral("drop")))
        faults.dropShare = shareOption(parser, QStringLiteral("drop"));
    if (parser.isSet(QStringLiteral("corrupt")))
        faults.corruptShare = shareOption(parser, QStringLiteral("corrupt"));
    if (parser.isSet(QStringLiteral("split")))
        faults.splitShare = shareOption(parser, QStringLiteral("split"));
    faults.splitGapMs = intOption(parser, QStringLiteral("split-gap"), 0, 60000);
    if (parser.isSet(QStringLiteral("noise")))
        faults.noiseBytes = intOption(parser, QStringLiteral("noise"), 0, 4096);
    if (parser.isSet(QStringLiteral("late")))
        faults.lateMs = intOption(parser, QStringLiteral("late"), 0, 600000);
    if (parser.isSet(QStringLiteral("exception")))
        faults.exceptionCode = intOption(parser, QStringLiteral("exception"), 1, 255);
    faults.silent = parser.isSet(QStringLiteral("silent"));
    faults.forgetWrites = parser.isSet(QStringLiteral("forget-writes"));
    faults.honourLineSpeed = !parser.isSet(QStringLiteral("no-speed-check"));
    faults.realisticTiming = parser.isSet(QStringLiteral("realistic-timing"));

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        fail(QStringLiteral("cannot create the signal socket pair"));
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    if (!parser.isSet(QStringLiteral("quiet"))) {
        QObject::connect(&sim, &modsim::SimulatedModule::requestReceived,
                         [](const QByteArray &bytes) {
                             print(stamp() + QStringLiteral(" RX ") + spaced(bytes));
                         });
        QObject::connect(&sim, &modsim::SimulatedModule::replySent, [](const QByteArray &bytes) {
            print(stamp() + QStringLiteral(" TX ") + spaced(bytes));
        });
        QObject::connect(&sim, &modsim::SimulatedModule::lineNote,
                         [](const QString &text) { print(stamp() + QLatin1Char(' ') + text); });
        QObject::connect(&sim, &modsim::SimulatedModule::bytesIgnored,
                         [&module](const QByteArray &bytes, int farSpeed) {
                             print(stamp() + QStringLiteral(" RX ") + spaced(bytes) +
                                   QStringLiteral("  (ignored: port at %1 bit/s, module at %2)")
                                       .arg(farSpeed)
                                       .arg(module.lineSpeed()));
                         });
    }

    QString where;
    if (parser.isSet(QStringLiteral("tcp"))) {
        if (parser.isSet(QStringLiteral("link")))
            fail(QStringLiteral("--link and --tcp do not mix: the module is on one line"));
        const auto [address, port] = tcpEndpoint(parser.value(QStringLiteral("tcp")));
        if (!sim.startTcp(address, port))
            fail(sim.errorString());
        where = QStringLiteral("listening on %1 (one client at a time)").arg(sim.portName());
    } else {
        const QString link = parser.value(QStringLiteral("link"));
        if (!sim.start(link))
            fail(sim.errorString());
        where = link + QStringLiteral(" -> ") + QFileInfo(link).symLinkTarget();
    }
    print(QStringLiteral("quorvel-modsim: %1, address %2, %3 bit/s, model %4")
              .arg(where)
              .arg(module.address())
              .arg(module.lineSpeed())
              .arg(int(module.model())));
    for (int i = 1; i < sim.moduleCount(); ++i) {
        const modsim::Station &other = sim.station(i);
        print(QStringLiteral("quorvel-modsim: on the same line: address %1, model %2%3%4")
                  .arg(other.module.address())
                  .arg(int(other.module.model()))
                  .arg(other.lateMs > 0 ? QStringLiteral(", %1 ms late").arg(other.lateMs)
                                        : QString())
                  .arg(other.silent ? QStringLiteral(", silent") : QString()));
    }

    if (parser.isSet(QStringLiteral("noise-flood")))
        sim.startNoiseFlood(intOption(parser, QStringLiteral("noise-flood"), 1, 1000000));

    if (parser.isSet(QStringLiteral("vanish-after"))) {
        const int vanishMs = secondsOptionMs(parser, QStringLiteral("vanish-after"));
        QTimer::singleShot(vanishMs, &sim, [&sim] {
            print(stamp() + QStringLiteral(" port vanished"));
            sim.vanish();
        });
        if (parser.isSet(QStringLiteral("restore-after"))) {
            const int backMs = secondsOptionMs(parser, QStringLiteral("restore-after"));
            QTimer::singleShot(vanishMs + backMs, &sim, [&sim] {
                if (sim.restore())
                    print(stamp() + QStringLiteral(" port back: ") + sim.portName());
                else
                    print(stamp() + QStringLiteral(" port could not come back: ") +
                          sim.errorString());
            });
        }
    }

    const int code = app.exec();
    sim.stop();
    return code;
}
