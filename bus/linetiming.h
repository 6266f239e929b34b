#pragma once

#include "protocol/requestkind.h"

#include <chrono>

// How long the tool waits for a module on a line: what the line needs, plus a margin.
namespace bus {

using namespace std::chrono_literals;

// The module's share of a reply's wait, beyond the bits on the wire. It covers the module's own
// turnaround (a few milliseconds for a microcontroller to decode a request and start its
// transmitter), the receive latency of a USB serial adapter (an FTDI chip holds a short reply
// for up to its 16 ms latency timer) and the scheduling of two processes on a busy PC. 30 ms
// keeps a scan of 247 addresses at 9600 bit/s near ten seconds; slower links such as network
// serial servers need more.
inline constexpr std::chrono::milliseconds defaultMargin = 30ms;
// A serial device server adds the network's round trip and its own buffering: it may hold the
// line's bytes for tens of milliseconds before it sends a segment.
inline constexpr std::chrono::milliseconds networkMargin = 200ms;
// The line speed the waits are sized for on a network link when none is given: the converter
// sets the real one, which this program can neither set nor try.
inline constexpr int networkWaitSpeed = 9600;

// Ten bits a character on the wire: start bit, eight data bits, stop bit (8N1).
inline constexpr int bitsPerCharacter = 10;

constexpr std::chrono::microseconds wireTime(int characters, int speed)
{
    return std::chrono::microseconds(qint64(characters) * bitsPerCharacter * 1000000 / speed);
}

// Modbus-RTU ends a frame with 3.5 characters of silence, fixed at 1750 us above 19200 bit/s.
constexpr std::chrono::microseconds frameGap(int speed)
{
    return speed > 19200 ? std::chrono::microseconds(1750) : wireTime(7, speed) / 2;
}

// The two deadlines of one request. The reply must begin within `firstByte` of the request's
// write, and once it has begun it must be whole within `rest`: a module that does not answer
// costs only its request's line time and the margin, not the longest reply's.
struct ReplyWait
{
    std::chrono::microseconds firstByte;
    std::chrono::microseconds rest;
};

ReplyWait replyWait(protocol::RequestKind kind, int requestBytes, int speed,
                    std::chrono::milliseconds margin);

// The wait for the request nobody answers: what a scan spends on an empty address, and what a
// silent module costs a cycle of the bus.
std::chrono::microseconds silentAddressWait(int speed, std::chrono::milliseconds margin);

} // namespace bus
