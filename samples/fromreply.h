#pragma once

#include "protocol/replydecoder.h"
#include "samples/sample.h"

namespace samples {

// The sample a measurement reply carries, recognised at `msecsSinceEpoch` (UTC) from the module
// at `address`. Any other reply makes a gap: only a measurement holds values.
Sample sampleOfReply(const protocol::Reply &reply, quint8 address, qint64 msecsSinceEpoch);

// A poll of `address` sent at `msecsSinceEpoch` that nothing answered.
Sample noReplySample(quint8 address, qint64 msecsSinceEpoch);

} // namespace samples
