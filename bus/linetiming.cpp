#include "bus/linetiming.h"

#include <algorithm>

namespace bus {

using protocol::RequestKind;

ReplyWait replyWait(RequestKind kind, int requestBytes, int speed, std::chrono::milliseconds margin)
{
    const protocol::RequestKindInfo &info = protocol::describe(kind);
    // The request on the wire, the silence that ends it, then the reply's first character.
    const auto firstByte = wireTime(requestBytes, speed) + frameGap(speed) + wireTime(1, speed) +
                           std::max(margin, info.commit);
    return {firstByte, wireTime(info.longestReply - 1, speed) + margin};
}

std::chrono::microseconds silentAddressWait(int speed, std::chrono::milliseconds margin)
{
    return replyWait(RequestKind::Measurement, 8, speed, margin).firstByte;
}

} // namespace bus
