#include "protocol/receivebuffer.h"

#include "protocol/frames.h"
#include "protocol/logging.h"

namespace protocol {

void boundReceiveBuffer(QByteArray &buffer)
{
    const int excess = int(buffer.size()) - receiveBufferBound;
    if (excess > 0)
        buffer.remove(longestModbusReply, excess);
}

bool startsNextLoggerFrame(const QByteArray &buffer, const QByteArray &chunk)
{
    return chunk.startsWith(QByteArray::fromRawData(frames::loggerOpen, 2)) &&
           isLogger(recognizeReply(buffer).kind);
}

Reply receiveChunk(QByteArray &buffer, const QByteArray &chunk)
{
    if (startsNextLoggerFrame(buffer, chunk))
        buffer.clear();
    buffer.append(chunk);
    boundReceiveBuffer(buffer);
    qCDebug(lcWire) << "rx" << buffer.toHex();

    Reply reply = recognizeReply(buffer);
    if (isModbus(reply.kind))
        buffer.clear();
    return reply;
}

} // namespace protocol
