#pragma once

#include "protocol/replydecoder.h"

#include <QMetaType>

#include <array>

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
