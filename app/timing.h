#pragma once

#include "protocol/requestkind.h"

#include <chrono>

// The rhythm of the tool's conversation with the module.
namespace timing {
using namespace std::chrono_literals;

using protocol::describe;
using protocol::RequestKind;
// Address, baud, device info, record read.
inline constexpr auto replyDeadline = describe(RequestKind::ReadAddress).replyDeadline;
// The module writes its flash first.
inline constexpr auto serialNumberReplyDeadline =
    describe(RequestKind::WriteSerialNumber).replyDeadline;
// Recording-configuration write.
inline constexpr auto settingReplyDeadline = describe(RequestKind::WriteRecording).replyDeadline;
inline constexpr auto pollPeriod = 1000ms; // measurement poll
inline constexpr auto pollPauseAfterRecordCommand = 3000ms;
inline constexpr auto recordButtonsLockout = 2000ms;
inline constexpr auto probeStep = 300ms;           // one candidate speed of the automatic probe
inline constexpr auto silenceClearsBuffer = 500ms; // bytes that sat this long never complete

} // namespace timing
