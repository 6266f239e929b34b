#pragma once

#include <chrono>

// The rhythm of the tool's conversation with the module.
namespace timing {
using namespace std::chrono_literals;

inline constexpr auto replyDeadline = 500ms;              // address, baud, device info, record read
inline constexpr auto serialNumberReplyDeadline = 1500ms; // the module writes its flash first
inline constexpr auto settingReplyDeadline = 1000ms;      // recording-configuration write
inline constexpr auto pollPeriod = 1000ms;                // measurement poll
inline constexpr auto pollPauseAfterRecordCommand = 3000ms;
inline constexpr auto recordButtonsLockout = 2000ms;
inline constexpr auto probeStep = 300ms;           // one candidate speed of the automatic probe
inline constexpr auto silenceClearsBuffer = 500ms; // bytes that sat this long never complete

} // namespace timing
