#pragma once

#include <QtGlobal>

namespace samples {

// One poll of the live values: what the module answered, or that it did not. Values are in
// tenths as they travel. A run at 1 Hz keeps every sample for days, so the record stays small.
struct Sample
{
    enum class Status : quint8 { Ok, NoReply };

    qint64 msecsSinceEpoch = 0; // UTC; for a reply, when it was recognised
    qint16 temperature = 0;     // 0.1 °C
    quint16 humidity = 0;       // 0.1 %RH
    qint16 dewPoint = 0;        // 0.1 °C
    qint16 wetBulb = 0;         // 0.1 °C, when hasWetBulb
    quint8 address = 0;         // the polled address
    bool hasWetBulb = false;    // a four-value reply
    Status status = Status::Ok;

    bool isGap() const { return status == Status::NoReply; }
};

static_assert(sizeof(Sample) <= 32, "a week of samples at 1 Hz must stay within 20 MB");

} // namespace samples
