#include "protocol/receivebuffer.h"

#include "protocol/logging.h"

namespace protocol {

void boundReceiveBuffer(QByteArray &buffer)
{
    const int excess = int(buffer.size()) - receiveBufferBound;
    if (excess > 0)
        buffer.remove(longestModbusReply, excess);
}

Reply receiveChunk(QByteArray &buffer, const QByteArray &chunk)
{
    buffer.append(chunk);
    boundReceiveBuffer(buffer);
    qCDebug(lcWire) << "rx" << buffer.toHex();

    Reply reply = recognizeReply(buffer);
    if (isModbus(reply.kind))
        buffer.clear();
    return reply;
}

} // namespace protocol
