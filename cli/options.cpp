#include "cli/options.h"

#include "bus/addresses.h"

#include "protocol/frames.h"
#include "protocol/portname.h"
#include "protocol/tables.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>

namespace cli {

namespace {

struct CommandName
{
    const char *name;
    Command command;
};

constexpr std::array<CommandName, 11> commandNames{{
    {"ports", Command::Ports},
    {"probe", Command::Probe},
    {"info", Command::Info},
    {"read", Command::Read},
    {"set-address", Command::SetAddress},
    {"set-baud", Command::SetBaud},
    {"set-serial", Command::SetSerial},
    {"record", Command::Record},
    {"scan", Command::Scan},
    {"provision", Command::Provision},
    {"watch", Command::Watch},
}};

// Bounds of the values a script may give; beyond them a typing error is more likely than intent.
constexpr int longestCount = 100000000;
constexpr double shortestPollSeconds = 0.1;
constexpr double longestPollSeconds = 86400.0;
constexpr int longestMarginMs = 60000;
// A fresh start time lies this far ahead, as the window's does.
constexpr qint64 defaultStartDelaySeconds = 300;

QString text(const char *latin1)
{
    return QString::fromLatin1(latin1);
}

// A whole decimal number of at most nine digits: no sign, blank or other base.
std::optional<int> wholeNumber(const QString &value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(value).hasMatch())
        return std::nullopt;
    return value.toInt();
}

std::optional<int> speedOf(const QString &value)
{
    const std::optional<int> speed = wholeNumber(value);
    if (!speed || !protocol::baudCodeOfSpeed(*speed))
        return std::nullopt;
    return speed;
}

std::optional<int> addressOf(const QString &value)
{
    const std::optional<int> address = wholeNumber(value);
    if (!address || *address < lowestAddress || *address > highestAddress)
        return std::nullopt;
    return address;
}

template <std::size_t N>
std::optional<int> indexOfName(const std::array<const char *, N> &names, const QString &value)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (value.compare(text(names[i]), Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return std::nullopt;
}

template <std::size_t N> QString joined(const std::array<const char *, N> &names)
{
    QStringList list;
    for (const char *name : names)
        list.append(text(name).toLower());
    return list.join(QLatin1Char('|'));
}

const QString speedList = QStringLiteral("1200, 2400, 4800, 9600, 19200 or 115200");

QList<QCommandLineOption> globalOptions()
{
    return {
        {{QStringLiteral("p"), QStringLiteral("port")}, QString(), QStringLiteral("port")},
        {{QStringLiteral("b"), QStringLiteral("baud")}, QString(), QStringLiteral("speed")},
        {{QStringLiteral("a"), QStringLiteral("address")}, QString(), QStringLiteral("address")},
        {QStringLiteral("json"), QString()},
        {{QStringLiteral("v"), QStringLiteral("verbose")}, QString()},
        {QStringLiteral("margin"), QString(), QStringLiteral("ms")},
        {{QStringLiteral("h"), QStringLiteral("help")}, QString()},
        {{QStringLiteral("V"), QStringLiteral("version")}, QString()},
    };
}

QList<QCommandLineOption> recordOptions()
{
    return {
        {QStringLiteral("mode"), QString(), QStringLiteral("mode")},
        {QStringLiteral("start"), QString(), QStringLiteral("time")},
        {QStringLiteral("interval"), QString(), QStringLiteral("interval")},
    };
}

QList<QCommandLineOption> commandOptions(Command command)
{
    const QCommandLineOption type(QStringLiteral("type"), QString(), QStringLiteral("type"));
    switch (command) {
    case Command::Read:
        return {
            {{QStringLiteral("n"), QStringLiteral("count")}, QString(), QStringLiteral("count")},
            {{QStringLiteral("i"), QStringLiteral("interval")}, QString(), QStringLiteral("s")},
            {QStringLiteral("csv"), QString()},
        };
    case Command::Watch:
        return QList<QCommandLineOption>{
                   {{QStringLiteral("n"), QStringLiteral("count")},
                    QString(),
                    QStringLiteral("count")},
                   {QStringLiteral("period"), QString(), QStringLiteral("s")},
                   {QStringLiteral("csv"), QString()},
               } +
               feedOptions();
    case Command::SetSerial:
        return {type};
    case Command::Record:
        return recordOptions();
    case Command::Scan:
        return {
            {QStringLiteral("speeds"), QString(), QStringLiteral("speeds")},
            {QStringLiteral("addresses"), QString(), QStringLiteral("range")},
        };
    case Command::Provision:
        return QList<QCommandLineOption>{
                   {QStringLiteral("address"), QString(), QStringLiteral("address")},
                   {QStringLiteral("baud"), QString(), QStringLiteral("speed")},
                   {QStringLiteral("serial"), QString(), QStringLiteral("serial")},
                   type,
               } +
               recordOptions();
    default:
        return {};
    }
}

int positionalCount(Command command)
{
    return command == Command::SetAddress || command == Command::SetBaud ||
                   command == Command::SetSerial
               ? 1
               : 0;
}

// Reads the options after the command. Global options may stand there too, unless the command
// has an option of the same name (provision's --address and --baud are the module's new ones).
class CommandLine
{
public:
    bool parse(const QStringList &arguments, QString &error)
    {
        m_global.setOptionsAfterPositionalArgumentsMode(
            QCommandLineParser::ParseAsPositionalArguments);
        m_global.addOptions(globalOptions());
        if (!m_global.parse(arguments)) {
            error = m_global.errorText();
            return false;
        }
        m_help = m_global.isSet(QStringLiteral("help"));
        m_version = m_global.isSet(QStringLiteral("version"));
        if (m_help || m_version)
            return true;
        const QStringList rest = m_global.positionalArguments();
        if (rest.isEmpty()) {
            error = QStringLiteral("no command given");
            return false;
        }
        const auto found =
            std::find_if(commandNames.begin(), commandNames.end(),
                         [&](const CommandName &c) { return rest.first() == text(c.name); });
        if (found == commandNames.end()) {
            error = QStringLiteral("unknown command \"%1\"").arg(rest.first());
            return false;
        }
        m_command = found->command;

        const QList<QCommandLineOption> own = commandOptions(m_command);
        m_local.addOptions(own);
        for (const QCommandLineOption &option : globalOptions()) {
            const bool clashes = std::any_of(own.begin(), own.end(), [&](const auto &o) {
                for (const QString &name : option.names()) {
                    if (o.names().contains(name))
                        return true;
                }
                return false;
            });
            if (!clashes)
                m_local.addOption(option);
        }
        if (!m_local.parse(QStringList{arguments.first()} + rest.mid(1))) {
            error =
                m_local.errorText() + QStringLiteral(" (after the command %1)").arg(rest.first());
            if (m_command == Command::Provision &&
                (rest.contains(QLatin1String("-a")) || rest.contains(QLatin1String("-b"))))
                error = QStringLiteral("-a and -b go before the command provision: after it, "
                                       "--address and --baud are the module's new ones");
            return false;
        }
        m_help = m_local.isSet(QStringLiteral("help"));
        m_version = m_local.isSet(QStringLiteral("version"));
        if (m_help || m_version)
            return true;
        m_positional = m_local.positionalArguments();
        if (m_positional.size() != positionalCount(m_command)) {
            error = m_positional.size() > positionalCount(m_command)
                        ? QStringLiteral("unexpected argument \"%1\"").arg(m_positional.last())
                        : QStringLiteral("%1 needs a value: see --help").arg(rest.first());
            return false;
        }
        return true;
    }

    Command command() const { return m_command; }
    QStringList positional() const { return m_positional; }
    bool wantsHelp() const { return m_help; }
    bool wantsVersion() const { return m_version; }

    // The command's own options.
    bool isSetLocal(const QString &name) const { return commandHas(name) && m_local.isSet(name); }
    // Every value given, in order; a flag that is set gives one empty value.
    QStringList localValues(const QString &name) const
    {
        if (!isSetLocal(name))
            return {};
        const QStringList values = m_local.values(name);
        return values.isEmpty() ? QStringList{QString()} : values;
    }
    QString localValue(const QString &name) const
    {
        return commandHas(name) ? m_local.value(name) : QString();
    }
    // The global options, before or after the command.
    bool isSetGlobal(const QString &name) const
    {
        return m_global.isSet(name) || (!commandHas(name) && m_local.isSet(name));
    }
    QString globalValue(const QString &name) const
    {
        return !commandHas(name) && m_local.isSet(name) ? m_local.value(name)
                                                        : m_global.value(name);
    }

private:
    bool commandHas(const QString &name) const
    {
        const QList<QCommandLineOption> own = commandOptions(m_command);
        return std::any_of(own.begin(), own.end(),
                           [&](const QCommandLineOption &o) { return o.names().contains(name); });
    }

    QCommandLineParser m_global;
    QCommandLineParser m_local;
    Command m_command = Command::Ports;
    QStringList m_positional;
    bool m_help = false;
    bool m_version = false;
};

// Fills `out`; on failure returns what is wrong.
class Reader
{
public:
    Reader(const CommandLine &line, const QDateTime &now, Invocation &out)
        : m_line(line), m_now(now), m_out(out)
    {
    }

    QString read()
    {
        m_out.command = m_line.command();
        if (!readGlobal() || !readCommand())
            return m_error;
        return QString();
    }

private:
    bool fail(const QString &error)
    {
        m_error = error;
        return false;
    }

    // The module would move to the new speed and the converter would not: the link would be cut
    // with the module out of reach until someone sets the converter.
    bool failSpeedChange()
    {
        return fail(QStringLiteral("%1 changes the line speed, which cuts a network link until the "
                                   "converter's serial side is set to the same speed: change it "
                                   "on a serial port, or with the window, which asks first")
                        .arg(m_out.command == Command::SetBaud ? QStringLiteral("set-baud")
                                                               : QStringLiteral("provision")));
    }

    bool readGlobal()
    {
        m_out.port = m_line.globalValue(QStringLiteral("port"));
        m_out.json = m_line.isSetGlobal(QStringLiteral("json"));
        m_out.verbose = m_line.isSetGlobal(QStringLiteral("verbose"));
        if (m_out.command != Command::Ports && m_out.port.isEmpty())
            return fail(QStringLiteral("-p PORT is required: name the serial port (list them "
                                       "with \"quorvel-cli ports\") or a converter's HOST:PORT"));
        if (m_out.command != Command::Ports) {
            const protocol::PortName name = protocol::parsePortName(m_out.port);
            if (!name.isValid())
                return fail(QStringLiteral("%2 (-p %1)").arg(m_out.port, text(name.problem)));
            m_out.network = name.isNetwork();
            if (m_out.network)
                m_out.margin = bus::networkMargin;
        }
        if (m_line.isSetGlobal(QStringLiteral("baud"))) {
            const QString value = m_line.globalValue(QStringLiteral("baud"));
            if (value != QLatin1String("auto")) {
                m_out.speed = speedOf(value);
                if (!m_out.speed)
                    return fail(
                        QStringLiteral("-b %1: the speed is auto or %2").arg(value, speedList));
            }
        }
        if (m_line.isSetGlobal(QStringLiteral("address")) && m_out.command == Command::Watch) {
            const QString value = m_line.globalValue(QStringLiteral("address"));
            const std::optional<QList<int>> addresses = bus::parseAddressList(value);
            if (!addresses)
                return fail(QStringLiteral("-a %1: addresses from 1 to 247 as a list of numbers "
                                           "and ranges, e.g. 1,3,17-20")
                                .arg(value));
            m_out.scanAddresses = *addresses;
        } else if (m_line.isSetGlobal(QStringLiteral("address"))) {
            const QString value = m_line.globalValue(QStringLiteral("address"));
            m_out.address = addressOf(value);
            if (!m_out.address)
                return fail(
                    QStringLiteral("-a %1: the address is a number from 1 to 247").arg(value));
        }
        if (m_line.isSetGlobal(QStringLiteral("margin"))) {
            const QString value = m_line.globalValue(QStringLiteral("margin"));
            const std::optional<int> ms = wholeNumber(value);
            if (!ms || *ms < 1 || *ms > longestMarginMs)
                return fail(QStringLiteral("--margin %1: milliseconds from 1 to %2")
                                .arg(value)
                                .arg(longestMarginMs));
            m_out.margin = std::chrono::milliseconds(*ms);
        }
        return true;
    }

    bool readCommand()
    {
        switch (m_out.command) {
        case Command::Read:
            return readRead();
        case Command::SetAddress: {
            const std::optional<int> address = addressOf(m_line.positional().first());
            if (!address)
                return fail(QStringLiteral("set-address %1: the new address is a number from 1 "
                                           "to 247")
                                .arg(m_line.positional().first()));
            m_out.newAddress = *address;
            return true;
        }
        case Command::SetBaud: {
            if (m_out.network)
                return failSpeedChange();
            const std::optional<int> speed = speedOf(m_line.positional().first());
            if (!speed)
                return fail(QStringLiteral("set-baud %1: the new speed is %2")
                                .arg(m_line.positional().first(), speedList));
            m_out.newSpeed = *speed;
            return true;
        }
        case Command::SetSerial:
            return readSerial(m_line.positional().first(), QStringLiteral("set-serial"));
        case Command::Record:
            return readRecord();
        case Command::Scan:
            return readScan();
        case Command::Watch:
            return readWatch();
        case Command::Provision:
            return readProvision();
        default:
            return true;
        }
    }

    bool readRead()
    {
        if (m_line.isSetLocal(QStringLiteral("count"))) {
            const QString value = m_line.localValue(QStringLiteral("count"));
            const std::optional<int> count = wholeNumber(value);
            if (!count || *count > longestCount)
                return fail(QStringLiteral("-n %1: the count is a whole number from 0 (until "
                                           "Ctrl-C) to %2")
                                .arg(value)
                                .arg(longestCount));
            m_out.count = *count;
        }
        if (m_line.isSetLocal(QStringLiteral("interval"))) {
            static const QRegularExpression seconds(QStringLiteral("^[0-9]{1,5}(\\.[0-9]{1,3})?$"));
            const QString value = m_line.localValue(QStringLiteral("interval"));
            const double s = value.toDouble();
            if (!seconds.match(value).hasMatch() || s < shortestPollSeconds ||
                s > longestPollSeconds)
                return fail(QStringLiteral("-i %1: the interval is seconds from 0.1 to 86400, "
                                           "e.g. 0.5 or 60")
                                .arg(value));
            m_out.pollInterval = std::chrono::milliseconds(qRound64(s * 1000.0));
        }
        m_out.csv = m_line.isSetLocal(QStringLiteral("csv"));
        if (m_out.csv && m_out.json)
            return fail(QStringLiteral("--csv and --json: choose one output format"));
        return true;
    }

    bool readSerial(const QString &value, const QString &what)
    {
        static const QRegularExpression twelveDigits(QStringLiteral("^[0-9]{12}$"));
        if (value == QLatin1String("auto")) {
            m_out.serialFromClock = true;
        } else if (twelveDigits.match(value).hasMatch()) {
            m_out.serialDigits = value;
        } else {
            return fail(QStringLiteral("%1 %2: the serial number is auto (from the clock) or "
                                       "twelve digits, e.g. 240517103001")
                            .arg(what, value));
        }
        if (m_line.isSetLocal(QStringLiteral("type"))) {
            const QString type = m_line.localValue(QStringLiteral("type"));
            m_out.typeIndex = indexOfName(typeNames, type);
            if (!m_out.typeIndex)
                return fail(
                    QStringLiteral("--type %1: the type is %2").arg(type, joined(typeNames)));
        }
        return true;
    }

    bool readRecord()
    {
        RecordRequest &record = m_out.record;
        if (m_line.isSetLocal(QStringLiteral("mode"))) {
            const QString mode = m_line.localValue(QStringLiteral("mode"));
            const std::optional<int> index = indexOfName(recordModeNames, mode);
            if (!index)
                return fail(
                    QStringLiteral("--mode %1: the mode is %2").arg(mode, joined(recordModeNames)));
            record.mode = *index + 1;
        }
        if (m_line.isSetLocal(QStringLiteral("interval"))) {
            const QString interval = m_line.localValue(QStringLiteral("interval"));
            record.intervalIndex = indexOfName(sampleIntervalNames, interval);
            if (!record.intervalIndex)
                return fail(QStringLiteral("--interval %1: the interval is one of %2")
                                .arg(interval, joined(sampleIntervalNames)
                                                   .replace(QLatin1Char('|'), QLatin1Char(' '))));
        }
        const QString format = text(frames::startTimeFormat);
        if (m_line.isSetLocal(QStringLiteral("start"))) {
            const QString start = m_line.localValue(QStringLiteral("start"));
            const QDateTime when = QDateTime::fromString(start, format);
            if (!when.isValid())
                return fail(QStringLiteral("--start \"%1\": give the local start time as "
                                           "\"yyyy-MM-dd hh:mm:ss\", e.g. \"%2\"")
                                .arg(start, m_now.addSecs(3600).toString(format)));
            if (!frames::startTimeAccepted(when, m_now))
                return fail(QStringLiteral("--start \"%1\": the start time must lie in the future "
                                           "(it is %2 now) and before 2106")
                                .arg(start, m_now.toString(format)));
            record.start = when;
        } else if (record.mode == int(protocol::RecordTimingStart)) {
            return fail(QStringLiteral("--mode timing needs --start \"yyyy-MM-dd hh:mm:ss\""));
        } else if (record.isWrite()) {
            record.start = m_now.addSecs(defaultStartDelaySeconds);
        }
        return true;
    }

    bool readWatch()
    {
        if (m_out.scanAddresses.isEmpty())
            return fail(QStringLiteral("watch needs -a ADDRESSES, e.g. -a 1,3,17-20 (scan "
                                       "finds them)"));
        if (!m_out.speed && m_out.network)
            m_out.speed = networkWaitSpeed;
        if (!m_out.speed)
            return fail(QStringLiteral("watch needs -b SPEED, the line speed of the bus (scan "
                                       "finds it)"));
        m_out.count = 0;
        if (m_line.isSetLocal(QStringLiteral("count"))) {
            const QString value = m_line.localValue(QStringLiteral("count"));
            const std::optional<int> count = wholeNumber(value);
            if (!count || *count > longestCount)
                return fail(QStringLiteral("-n %1: the number of cycles is a whole number from "
                                           "0 (until Ctrl-C) to %2")
                                .arg(value)
                                .arg(longestCount));
            m_out.count = *count;
        }
        if (m_line.isSetLocal(QStringLiteral("period"))) {
            const QString value = m_line.localValue(QStringLiteral("period"));
            bool ok = false;
            const double s = value.toDouble(&ok);
            if (!ok || s < 0.1 || s > 3600)
                return fail(QStringLiteral("--period %1: the cycle period is seconds from 0.1 "
                                           "to 3600, e.g. 1 or 0.5")
                                .arg(value));
            m_out.pollInterval = std::chrono::milliseconds(qRound64(s * 1000.0));
        }
        m_out.csv = m_line.isSetLocal(QStringLiteral("csv"));
        if (m_out.csv && m_out.json)
            return fail(QStringLiteral("--csv and --json: choose one output format"));
        const QString error = readFeedOptions(
            [this](const QString &name) { return m_line.localValues(name); }, m_out.port,
            m_out.csv || m_out.json, QProcessEnvironment::systemEnvironment(), m_out.feed);
        return error.isEmpty() || fail(error);
    }

    bool readScan()
    {
        m_out.scanSpeeds.clear();
        const QString speeds = m_line.localValue(QStringLiteral("speeds"));
        if (m_out.network && m_line.isSetLocal(QStringLiteral("speeds")))
            return fail(QStringLiteral("--speeds: a network link has no speeds to try, the "
                                       "converter sets it; give it with -b to size the waits"));
        if (m_out.network) {
            m_out.scanSpeeds.append(m_out.speed.value_or(networkWaitSpeed));
        } else if (m_line.isSetLocal(QStringLiteral("speeds")) && speeds != QLatin1String("all")) {
            for (const QString &item : speeds.split(QLatin1Char(','))) {
                const std::optional<int> speed = speedOf(item);
                if (!speed)
                    return fail(QStringLiteral("--speeds %1: all, or speeds from %2 separated by "
                                               "commas")
                                    .arg(speeds, speedList));
                if (!m_out.scanSpeeds.contains(*speed))
                    m_out.scanSpeeds.append(*speed);
            }
        } else if (!m_line.isSetLocal(QStringLiteral("speeds")) && m_out.speed) {
            m_out.scanSpeeds.append(*m_out.speed);
        } else {
            for (int speed : protocol::probeSpeeds)
                m_out.scanSpeeds.append(speed);
        }

        if (m_line.isSetLocal(QStringLiteral("addresses"))) {
            const QString range = m_line.localValue(QStringLiteral("addresses"));
            const std::optional<QList<int>> addresses = bus::parseAddressList(range);
            if (!addresses)
                return fail(QStringLiteral("--addresses %1: addresses from 1 to 247 as a list "
                                           "of numbers and ranges, e.g. 1-32,100")
                                .arg(range));
            m_out.scanAddresses = *addresses;
        } else if (m_out.address) {
            m_out.scanAddresses = {*m_out.address};
        } else {
            m_out.scanAddresses = *bus::parseAddressList(QStringLiteral("1-247"));
        }
        return true;
    }

    bool readProvision()
    {
        if (m_out.network)
            return failSpeedChange();
        for (const char *required : {"address", "baud", "serial"}) {
            if (!m_line.isSetLocal(text(required)))
                return fail(QStringLiteral("provision needs --address N, --baud SPEED and "
                                           "--serial auto|DIGITS"));
        }
        const QString address = m_line.localValue(QStringLiteral("address"));
        const std::optional<int> newAddress = addressOf(address);
        if (!newAddress)
            return fail(QStringLiteral("--address %1: the new address is a number from 1 to 247")
                            .arg(address));
        m_out.newAddress = *newAddress;
        const QString baud = m_line.localValue(QStringLiteral("baud"));
        const std::optional<int> newSpeed = speedOf(baud);
        if (!newSpeed)
            return fail(QStringLiteral("--baud %1: the new speed is %2").arg(baud, speedList));
        m_out.newSpeed = *newSpeed;
        return readSerial(m_line.localValue(QStringLiteral("serial")),
                          QStringLiteral("--serial")) &&
               readRecord();
    }

    const CommandLine &m_line;
    const QDateTime m_now;
    Invocation &m_out;
    QString m_error;
};

} // namespace

ParseResult parseArguments(const QStringList &arguments, const QDateTime &now, Invocation &out)
{
    CommandLine line;
    QString error;
    if (!line.parse(arguments, error))
        return {ParseOutcome::Error, error};
    if (line.wantsHelp())
        return {ParseOutcome::Help, QString()};
    if (line.wantsVersion())
        return {ParseOutcome::Version, QString()};
    error = Reader(line, now, out).read();
    if (!error.isEmpty())
        return {ParseOutcome::Error, error};
    return {ParseOutcome::Run, QString()};
}

} // namespace cli

namespace cli {

QString helpText()
{
    return QStringLiteral(
        R"(Usage: quorvel-cli [-p PORT] [-b auto|SPEED] [-a ADDRESS] [--json] [-v] COMMAND [ARGS]

Sets up and reads a temperature-and-humidity module (SHT2X, SHT3X) on a serial line:
Modbus-RTU and the module's logger frames, 8 data bits, no parity, one stop bit.

Options:
  -p, --port PORT      the serial port: a name from "ports" (ttyUSB0, COM3) or a device
                       path; or HOST:PORT (tcp://HOST:PORT, IPv6 in brackets) of a serial
                       device server in transparent mode; required by every command but ports
  -b, --baud SPEED     auto (default): try 115200, 19200, 9600, 4800, 2400 and 1200 bit/s in
                       turn; or one of 1200 2400 4800 9600 19200 115200. Over HOST:PORT the
                       converter's serial side sets the speed: nothing is tried, and -b
                       (default 9600) only sizes the waits
  -a, --address N      the module's address, 1 to 247; by default it is read from the module
                       through address 0, which needs the module alone on the line
      --json           one JSON object per line on standard output
  -v, --verbose        trace every frame on standard error, as the window's message pane
      --margin MS      time the module may take beyond the line time (default 30; 200
                       over HOST:PORT)
  -h, --help           this text
  -V, --version        the version

Commands:
  ports                list the serial ports
  probe                find the module's speed and address: "speed 9600 address 1"
  info                 the module's type (SHT2X, SHT3X, or its model number) and serial number
  read [-n COUNT] [-i SECONDS] [--csv]
                       COUNT measurements (default 1; 0: until Ctrl-C), SECONDS apart (default
                       1); --csv writes the monitor window's CSV format, with a "no reply"
                       row for a reading the module did not answer
  set-address N        give the module address N (1 to 247), then read it back
  set-baud SPEED       change the module's line speed, then read its address at SPEED (not
                       over HOST:PORT, where it would cut the link)
  set-serial auto|DIGITS [--type sht2x|sht3x]
                       write the serial number (auto: from the clock, yyMMddhhmmss; or twelve
                       digits) with the type (default: the module's own), then read both back
  record               read the recording configuration
  record [--mode after-setup|timing|monitor] [--start "yyyy-MM-dd hh:mm:ss"]
         [--interval 1s|2s|5s|10s|20s|30s|1min|2min|5min|10min|30min|1h|2h|6h|12h|24h]
                       write it, then read back mode and interval and compare them (the
                       module does not report the start time: it is sent, not verified);
                       what is not given is kept; the start time is local, must lie in the
                       future (default: in 5 minutes), and is required by timing
  scan [--speeds all|LIST] [--addresses RANGE]
                       find every module on an RS-485 bus: each address (default 1-247) at
                       each speed (default all six, or -b), e.g. --speeds 9600,19200
                       --addresses 1-32,100; Ctrl-C stops and prints what was found
  watch [-n CYCLES] [--period S] [--csv]
                       poll the modules of -a (a list, e.g. -a 1,3,17-20) at -b SPEED round
                       robin, every S seconds (default 1; longer when the line needs it),
                       CYCLES times (default 0: until Ctrl-C, which ends after the request
                       under way); a row per module per cycle, "no reply" or "offline"
                       included. A module silent three times in a row is offline and asked
                       again after 2, 4, 8 ... cycles, at most a minute apart. Exit status 0
                       only when every poll of every module was answered and, with
                       --mqtt, every reading reached the broker
        [--limit NAME=VALUE] [--format influx] [--mqtt URL [--ca-file FILE]
        [--mqtt-user NAME [--mqtt-password-file FILE]] [--mqtt-prefix PREFIX]
        [--ha-discovery] [--mqtt-queue N]]
                       every reading is flagged range, dew_point, step or flat when it is
                       implausible (JSON, line protocol, MQTT; --limit sets a threshold,
                       e.g. --limit step-temperature=3); --format influx writes InfluxDB line
                       protocol for Telegraf; --mqtt mqtt://HOST[:PORT] (mqtts:// with
                       --ca-file) publishes each module's state and availability, QoS 1,
                       keeping up to N readings (default 100000) while the broker is away;
                       the password comes from the file or QUORVEL_MQTT_PASSWORD;
                       --ha-discovery announces the modules to Home Assistant
  provision --address N --baud SPEED --serial auto|DIGITS [--type sht2x|sht3x]
            [--mode MODE [--start TIME] [--interval INTERVAL]]
                       set up one module in a safe order (serial number, recording, address,
                       line speed last), verify each step by reading it back, and print one
                       report line; running it again gives the same outcome

Logger frames (info, set-serial, record) and the address 0 of set-address, set-baud and
provision reach every module on a line: these commands refuse a line where several modules
answer address 0, or where the one that answers is not -a. On a bus, read with -a and scan
address one module each. An address printed is one the module confirmed (JSON: null if none).

Exit status:
  0    done and verified
  1    the module did not answer, a read-back differed, or other modules share
       the line
  2    usage error: nothing was sent
  3    the port cannot be opened or was lost
  4    the results could not be written to standard output (disk full, pipe closed)
  130  interrupted by Ctrl-C; what was done so far is printed

Examples:
  quorvel-cli ports
  quorvel-cli -p /dev/ttyUSB0 probe
  quorvel-cli -p COM3 -b 9600 -a 1 read -n 60 --csv > readings.csv
  quorvel-cli -p /dev/ttyUSB0 -b 9600 scan --addresses 1-32
  quorvel-cli -p /dev/ttyUSB0 -b 9600 -a 1-32 watch --csv > bus.csv
  quorvel-cli -p 192.168.1.200:4196 -a 1 read -n 10
  quorvel-cli -p /dev/ttyUSB0 --json provision --address 17 --baud 19200 --serial auto
)");
}

} // namespace cli
