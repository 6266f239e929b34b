#pragma once

#include "protocol/frames.h"
#include "protocol/replydecoder.h"

#include <QMetaType>
#include <QtGlobal>

#include <array>
#include <chrono>
#include <cstddef>

namespace protocol {

// Every request the tool puts on the line, in the order the link statistics list them.
enum class RequestKind : quint8 {
    Measurement,
    ReadAddress, // also each step of the line-speed probe
    WriteAddress,
    WriteLineSpeed,
    DeviceInfo,
    WriteSerialNumber,
    ReadRecording,
    WriteRecording,
};

inline constexpr std::array<RequestKind, 8> allRequestKinds{
    RequestKind::Measurement,    RequestKind::ReadAddress,    RequestKind::WriteAddress,
    RequestKind::WriteLineSpeed, RequestKind::DeviceInfo,     RequestKind::WriteSerialNumber,
    RequestKind::ReadRecording,  RequestKind::WriteRecording,
};

// What every part of the tool needs to know of a request kind. The window's handlers, the
// monitor, the command line and the bus engine all read this one table, so they cannot disagree
// on how long a reply may take or how long it may be.
struct RequestKindInfo
{
    RequestKind kind;
    // How long the window waits for the reply before it reports a failure. A poll's reply may
    // come until the next poll, one period later.
    std::chrono::milliseconds replyDeadline;
    // Writes the module commits to its memory before it answers; a reply that comes sooner ends
    // the wait at once, so a generous commit time costs only a failure.
    std::chrono::milliseconds commit;
    // The longest reply the request may bring in bytes. Logger replies are given the longest
    // frame the module is known to send; a wait for it runs only once its first bytes have come.
    int longestReply;
    // Its name in the statistics, translated in the context below.
    const char *label;
};

namespace detail {
using std::chrono::milliseconds;
// A Modbus reply: address, function, byte count, the data, two bytes of CRC.
constexpr int modbusReply(int dataBytes)
{
    return dataBytes + 5;
}
} // namespace detail

inline constexpr std::array<RequestKindInfo, allRequestKinds.size()> requestKinds{{
    {RequestKind::Measurement, detail::milliseconds(1000), detail::milliseconds(0),
     detail::modbusReply(9), QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Measurement")},
    {RequestKind::ReadAddress, detail::milliseconds(500), detail::milliseconds(0),
     detail::modbusReply(2), QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Read address")},
    {RequestKind::WriteAddress, detail::milliseconds(500), detail::milliseconds(500), 8,
     QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Write address")},
    {RequestKind::WriteLineSpeed, detail::milliseconds(500), detail::milliseconds(500), 8,
     QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Write line speed")},
    {RequestKind::DeviceInfo, detail::milliseconds(500), detail::milliseconds(0),
     frames::longFrameSize, QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Device information")},
    {RequestKind::WriteSerialNumber, detail::milliseconds(1500), detail::milliseconds(1500),
     frames::longFrameSize, QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Write serial number")},
    {RequestKind::ReadRecording, detail::milliseconds(500), detail::milliseconds(0),
     frames::longFrameSize, QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Read recording")},
    {RequestKind::WriteRecording, detail::milliseconds(1000), detail::milliseconds(1000),
     frames::longFrameSize, QT_TRANSLATE_NOOP("monitor::StatisticsModel", "Write recording")},
}};

constexpr const RequestKindInfo &describe(RequestKind kind)
{
    return requestKinds[std::size_t(kind)];
}

// describe() indexes the table by the enum's value.
constexpr bool tableFollowsEnum()
{
    for (std::size_t i = 0; i < requestKinds.size(); ++i) {
        if (requestKinds[i].kind != allRequestKinds[i] || std::size_t(allRequestKinds[i]) != i)
            return false;
    }
    return true;
}
static_assert(tableFollowsEnum(), "requestKinds lists every RequestKind in the enum's order");

// Whether a reply of kind `reply` answers a request of kind `request`. The window's reply flag
// takes any recognised reply; a listener that counts per request needs the closer match.
constexpr bool answers(RequestKind request, ReplyKind reply)
{
    switch (request) {
    case RequestKind::Measurement:
        return reply == ReplyKind::Measurement || reply == ReplyKind::MeasurementWithWetBulb;
    case RequestKind::ReadAddress:
        return reply == ReplyKind::Address;
    case RequestKind::WriteAddress:
    case RequestKind::WriteLineSpeed:
        return reply == ReplyKind::Acknowledge;
    case RequestKind::DeviceInfo:
        return reply == ReplyKind::DeviceInfo;
    case RequestKind::WriteSerialNumber:
        // The module acknowledges with a logger frame of its own code.
        return isLogger(reply);
    case RequestKind::ReadRecording:
    case RequestKind::WriteRecording:
        return reply == ReplyKind::RecordConfig;
    }
    return false;
}

// A Modbus exception reply: function code with its top bit set (01 83 02 C0 F1).
inline bool isModbusException(const Reply &reply)
{
    return reply.kind == ReplyKind::OtherModbus && reply.frame.size() >= 2 &&
           (quint8(reply.frame.at(1)) & 0x80) != 0;
}

} // namespace protocol

Q_DECLARE_METATYPE(protocol::RequestKind)
Q_DECLARE_METATYPE(protocol::Reply)
