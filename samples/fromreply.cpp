#include "samples/fromreply.h"

namespace samples {

Sample sampleOfReply(const protocol::Reply &reply, quint8 address, qint64 msecsSinceEpoch)
{
    const bool withWetBulb = reply.kind == protocol::ReplyKind::MeasurementWithWetBulb;
    if (reply.kind != protocol::ReplyKind::Measurement && !withWetBulb)
        return noReplySample(address, msecsSinceEpoch);
    Sample sample;
    sample.msecsSinceEpoch = msecsSinceEpoch;
    sample.address = address;
    sample.temperature = reply.temperature;
    sample.humidity = reply.humidity;
    sample.dewPoint = reply.dewTemp;
    sample.hasWetBulb = withWetBulb;
    sample.wetBulb = withWetBulb ? reply.wetBulbTemp : 0;
    return sample;
}

Sample noReplySample(quint8 address, qint64 msecsSinceEpoch)
{
    Sample sample;
    sample.msecsSinceEpoch = msecsSinceEpoch;
    sample.address = address;
    sample.status = Sample::Status::NoReply;
    return sample;
}

} // namespace samples
