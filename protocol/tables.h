#pragma once

#include <array>
#include <cstddef>
#include <optional>

// The fixed tables of the module's protocol. The combo boxes of the forms list their entries in
// the same order, so an entry's index is its position in these tables.
namespace protocol {

// Line speeds of the main window's baud-rate box; the module's baud code is index + 1.
inline constexpr std::array<int, 6> baudCodeSpeeds{1200, 2400, 4800, 9600, 19200, 115200};

// Speeds the automatic probe tries, fastest first.
inline constexpr std::array<int, 6> probeSpeeds{115200, 19200, 9600, 4800, 2400, 1200};

// Speed of a baud code 1..6; nothing for any other code.
constexpr std::optional<int> speedOfBaudCode(int code)
{
    if (code < 1 || code > int(baudCodeSpeeds.size()))
        return std::nullopt;
    return baudCodeSpeeds[std::size_t(code - 1)];
}

// Baud code of a line speed; nothing when the module has no code for it.
constexpr std::optional<int> baudCodeOfSpeed(int speed)
{
    for (std::size_t i = 0; i < baudCodeSpeeds.size(); ++i) {
        if (baudCodeSpeeds[i] == speed)
            return int(i + 1);
    }
    return std::nullopt;
}

// Seconds of each entry of the sampling-interval box ("1S" .. "24h"). The module takes the
// last entry, labelled "24h", as 45000 seconds and reports it back as such.
inline constexpr std::array<int, 16> sampleIntervalSeconds{
    1, 2, 5, 10, 20, 30, 60, 120, 300, 600, 1800, 3600, 7200, 21600, 43200, 45000};

constexpr std::optional<int> sampleIntervalIndex(int seconds)
{
    for (std::size_t i = 0; i < sampleIntervalSeconds.size(); ++i) {
        if (sampleIntervalSeconds[i] == seconds)
            return int(i);
    }
    return std::nullopt;
}

// Model numbers in the device-information reply: firstModelNumber is the first entry of the
// type box ("SHT2X"), the next number the second ("SHT3X").
inline constexpr int firstModelNumber = 8132;
inline constexpr int modelCount = 2;
// Model byte of the serial-number write: modelCodeBase + index of the type box.
inline constexpr int modelCodeBase = 0x20;

// Recording modes as the module encodes them in bits 5 and 6 of the mode byte.
enum RecordMode : unsigned char {
    RecordAfterSetup = 1,
    RecordTimingStart = 2,
    RealtimeMonitoringOnly = 3,
};

} // namespace protocol
