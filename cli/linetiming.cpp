#include "cli/linetiming.h"

#include "protocol/frames.h"

#include <algorithm>
#include <array>

namespace cli {

namespace {

using protocol::RequestKind;

struct RequestTiming
{
    RequestKind kind;
    // The longest reply the request may bring. Logger replies are given the longest frame the
    // module is known to send; the wait for it only runs once its first bytes have come.
    int longestReply;
    // Writes the module commits to its memory before it answers. The window allows them these
    // deadlines; a reply that comes sooner ends the wait at once, so they cost only a failure.
    std::chrono::milliseconds commit;
};

constexpr std::array<RequestTiming, 8> requestTimings{{
    {RequestKind::Measurement, 9 + 5, 0ms},
    {RequestKind::ReadAddress, 2 + 5, 0ms},
    {RequestKind::WriteAddress, 8, 500ms},
    {RequestKind::WriteLineSpeed, 8, 500ms},
    {RequestKind::DeviceInfo, frames::longFrameSize, 0ms},
    {RequestKind::WriteSerialNumber, frames::longFrameSize, 1500ms},
    {RequestKind::ReadRecording, frames::longFrameSize, 0ms},
    {RequestKind::WriteRecording, frames::longFrameSize, 1000ms},
}};

const RequestTiming &timingOf(RequestKind kind)
{
    return *std::find_if(requestTimings.begin(), requestTimings.end(),
                         [kind](const RequestTiming &t) { return t.kind == kind; });
}

} // namespace

ReplyWait replyWait(RequestKind kind, int requestBytes, int speed, std::chrono::milliseconds margin)
{
    const RequestTiming &timing = timingOf(kind);
    // The request on the wire, the silence that ends it, then the reply's first character.
    const auto firstByte = wireTime(requestBytes, speed) + frameGap(speed) + wireTime(1, speed) +
                           std::max(margin, timing.commit);
    return {firstByte, wireTime(timing.longestReply - 1, speed) + margin};
}

std::chrono::microseconds silentAddressWait(int speed, std::chrono::milliseconds margin)
{
    return replyWait(RequestKind::Measurement, 8, speed, margin).firstByte;
}

} // namespace cli
