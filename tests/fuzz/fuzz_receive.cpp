// The module's side of the line is not to be trusted: any bytes, cut into any arrivals, go
// through protocol::receiveChunk() as my_readuart feeds it. Besides the sanitizers' findings, an
// arrival that the bounded buffer recognises differently from one that kept every byte since
// the last pause or the last logger frame that a new one followed, or a buffer beyond its
// bound, is a finding.
//
// Input: a control byte, then that many bytes of one arrival (fewer at the end of the input);
// a control byte of 0 is a pause long enough for the silence timer to clear the buffer.
#include "protocol/receivebuffer.h"

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool sameReply(const protocol::Reply &a, const protocol::Reply &b)
{
    // Logger frames are read from the buffer's head and tail, which the bound keeps; a Modbus
    // reply is never bounded, so its logged bytes must be the very bytes received.
    return a.kind == b.kind && a.dataLength == b.dataLength && a.temperature == b.temperature &&
           a.humidity == b.humidity && a.dewTemp == b.dewTemp && a.wetBulbTemp == b.wetBulbTemp &&
           a.address == b.address && a.loggerModel == b.loggerModel &&
           a.serialNumber == b.serialNumber && a.recordMode == b.recordMode &&
           a.sampleInterval == b.sampleInterval &&
           (!protocol::isModbus(a.kind) || a.frame == b.frame);
}

QByteArray view(const std::uint8_t *data, std::size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The whole input as one buffer, without a copy, so that a read past its end is caught.
    protocol::recognizeReply(view(data, size));

    QByteArray buffer;
    QByteArray unbounded;
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t control = data[pos++];
        if (control == 0) {
            buffer.clear();
            unbounded.clear();
            continue;
        }
        const std::size_t length = std::min(control, size - pos);
        const QByteArray chunk = view(data + pos, length);
        pos += length;

        const protocol::Reply got = protocol::receiveChunk(buffer, chunk);
        if (protocol::startsNextLoggerFrame(unbounded, chunk))
            unbounded.clear();
        unbounded.append(chunk);
        const protocol::Reply want = protocol::recognizeReply(unbounded);
        if (protocol::isModbus(want.kind))
            unbounded.clear();
        if (!sameReply(got, want) || buffer.size() > protocol::receiveBufferBound)
            std::abort();
    }
    return 0;
}
