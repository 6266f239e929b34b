#pragma once

#include "bus/linetiming.h"
#include "cli/feeds.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <optional>

// The command line, read and checked in full before anything touches the port: a usage error
// sends nothing.
namespace cli {

enum class Command {
    Ports,
    Probe,
    Info,
    Read,
    SetAddress,
    SetBaud,
    SetSerial,
    Record,
    Scan,
    Provision,
    Watch,
};

// Exit status a script can test.
enum ExitCode {
    exitDone = 0,          // done and verified
    exitFailed = 1,        // the module did not answer, or a read-back differed
    exitUsage = 2,         // nothing was sent
    exitPort = 3,          // the port cannot be opened or was lost
    exitOutput = 4,        // the results could not be written to standard output
    exitInterrupted = 130, // Ctrl-C, as shells report it
};

using bus::networkWaitSpeed;

inline constexpr int lowestAddress = 1;
inline constexpr int highestAddress = 247;

// Names of the module's sampling intervals, in the order of protocol::sampleIntervalSeconds.
// "24h" is what the module calls 45000 seconds.
inline constexpr std::array<const char *, 16> sampleIntervalNames{
    "1s",   "2s",    "5s",    "10s", "20s", "30s", "1min", "2min",
    "5min", "10min", "30min", "1h",  "2h",  "6h",  "12h",  "24h"};

// Recording modes by their command-line names; the module's mode is the index + 1.
inline constexpr std::array<const char *, 3> recordModeNames{"after-setup", "timing", "monitor"};

// Type names as the window lists them; index = model number - protocol::firstModelNumber.
inline constexpr std::array<const char *, 2> typeNames{"SHT2X", "SHT3X"};

// The recording configuration to write; what is not given is kept from the module.
struct RecordRequest
{
    std::optional<int> mode;          // 1..3
    std::optional<int> intervalIndex; // index into protocol::sampleIntervalSeconds
    std::optional<QDateTime> start;

    bool isWrite() const { return mode || intervalIndex || start; }
};

struct Invocation
{
    Command command = Command::Ports;
    QString port;
    bool network = false;     // HOST:PORT: -b only sizes the waits, and the margin is wider
    std::optional<int> speed; // nothing: probe the six speeds
    std::optional<int> address;
    bool json = false;
    bool verbose = false;
    std::chrono::milliseconds margin = bus::defaultMargin;

    // read
    int count = 1; // 0: until Ctrl-C
    std::chrono::milliseconds pollInterval = std::chrono::seconds(1);
    bool csv = false;

    // set-address, set-baud, provision
    int newAddress = 0;
    int newSpeed = 0;
    // set-serial, provision
    bool serialFromClock = false;
    QString serialDigits;
    std::optional<int> typeIndex; // nothing: the module's own type
    // record, provision
    RecordRequest record;

    // scan; watch polls scanAddresses, every pollInterval
    QList<int> scanSpeeds;
    QList<int> scanAddresses;

    // watch: the flags' limits, the line protocol, MQTT
    FeedOptions feed;
};

enum class ParseOutcome { Run, Help, Version, Error };

struct ParseResult
{
    ParseOutcome outcome = ParseOutcome::Error;
    QString error; // for Error: what is wrong, naming the option
};

// `arguments` as QCoreApplication::arguments() gives them, program name first. `now` is the
// time a start time must lie after.
ParseResult parseArguments(const QStringList &arguments, const QDateTime &now, Invocation &out);

QString helpText();

} // namespace cli
