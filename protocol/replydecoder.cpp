#include "protocol/replydecoder.h"

#include "protocol/crc.h"
#include "protocol/frames.h"

#include <array>

namespace protocol {

namespace {

// Byte access that treats positions past the end as absent (zero). Modbus replies are checked
// as if copied into a zero-filled work array long enough for any CRC span (D + 3 <= 258), so
// neither a long buffer nor a large byte count can reach past real memory.
class Bytes
{
public:
    explicit Bytes(const QByteArray &data) : m_data(data) {}
    int size() const { return int(m_data.size()); }
    bool has(int pos) const { return pos >= 0 && pos < size(); }
    quint8 at(int pos) const { return has(pos) ? quint8(m_data.at(pos)) : 0; }
    quint16 word(int pos) const { return quint16(at(pos) << 8 | at(pos + 1)); }

private:
    const QByteArray &m_data;
};

bool isLoggerFrame(const Bytes &b)
{
    const int n = b.size();
    return n >= 3 && b.at(0) == quint8(frames::loggerOpen[0]) &&
           b.at(1) == quint8(frames::loggerOpen[1]) &&
           b.at(n - 2) == quint8(frames::loggerClose[0]) &&
           b.at(n - 1) == quint8(frames::loggerClose[1]);
}

// Bytes 6 to 9 as ASCII decimal text, 0 when they are not a number. Digits only:
// QByteArray::toInt() stops at an embedded NUL (reading "81\0" "3" as 81) and takes blanks
// and signs, none of which a model number has.
qint32 modelNumber(const QByteArray &buffer)
{
    const QByteArray text = buffer.mid(6, 4);
    if (text.isEmpty())
        return 0;
    qint32 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

Reply decodeLogger(const QByteArray &buffer, const Bytes &b)
{
    Reply reply;
    switch (b.at(2)) {
    case frames::codeDeviceInfoReply:
        reply.kind = ReplyKind::DeviceInfo;
        reply.loggerModel = modelNumber(buffer);
        reply.serialNumber = QString::fromLatin1(buffer.mid(12, 6).toHex());
        break;
    case frames::codeRecordConfigReply:
        reply.kind = ReplyKind::RecordConfig;
        reply.recordMode = quint8((b.at(10) >> 5) & 0x03);
        reply.sampleInterval = b.word(17);
        break;
    case frames::codeLongFrameReply: {
        // Only a whole 135-byte frame counts; a shorter one that happens to end in 22 7D is
        // the front of it still arriving.
        const int tail = frames::longFrameSize - 2;
        if (!(b.at(tail) == quint8(frames::loggerClose[0]) && b.has(tail + 1) &&
              b.at(tail + 1) == quint8(frames::loggerClose[1])))
            return reply;
        reply.kind = ReplyKind::OtherLogger;
        break;
    }
    default:
        reply.kind = ReplyKind::OtherLogger;
        break;
    }
    return reply;
}

Reply decodeModbus(const Bytes &b)
{
    Reply reply;
    const int n = b.size();
    const quint8 function = b.at(1);
    int dataLength = 0;
    if (function == frames::functionReadHolding)
        dataLength = b.at(2);
    else if (function == frames::functionWriteSingle)
        dataLength = 3;

    // More than one reply, or stray bytes: leave it for the silence timer.
    if (n > dataLength + 5)
        return reply;

    const int crcPos = dataLength + 3;
    quint16 received = 0;
    if (b.has(crcPos + 1))
        received = b.word(crcPos);
    else if (b.has(crcPos))
        received = b.at(crcPos);

    std::array<quint8, 258> work{}; // 255 data bytes + address, function, count
    for (int i = 0; i < n && i < crcPos; ++i)
        work[std::size_t(i)] = b.at(i);
    if (crc16Modbus(work.data(), quint16(crcPos)) != received)
        return reply;

    reply.dataLength = dataLength;
    switch (dataLength) {
    case 9:
        reply.wetBulbTemp = qint16(b.word(9));
        Q_FALLTHROUGH();
    case 6:
        reply.kind = dataLength == 9 ? ReplyKind::MeasurementWithWetBulb : ReplyKind::Measurement;
        reply.temperature = qint16(b.word(3));
        reply.humidity = b.word(5);
        reply.dewTemp = qint16(b.word(7));
        break;
    case 2:
        reply.kind = ReplyKind::Address;
        reply.address = b.at(4);
        break;
    case 3:
        reply.kind = ReplyKind::Acknowledge;
        break;
    default:
        reply.kind = ReplyKind::OtherModbus;
        break;
    }
    return reply;
}

} // namespace

Reply recognizeReply(const QByteArray &buffer)
{
    const Bytes bytes(buffer);
    Reply reply = isLoggerFrame(bytes) ? decodeLogger(buffer, bytes) : decodeModbus(bytes);
    if (reply.kind != ReplyKind::Wait)
        reply.frame = buffer;
    return reply;
}

} // namespace protocol
