#include "protocol/crc.h"

quint16 crc16Modbus(const quint8 *data, quint16 length)
{
    quint16 crc = 0xFFFF;
    for (quint16 i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool lowBit = crc & 1u;
            crc >>= 1;
            if (lowBit)
                crc ^= 0xA001;
        }
    }
    return quint16((crc << 8) | (crc >> 8));
}

namespace protocol {

void appendCrc(QByteArray &frame)
{
    const quint16 exchanged =
        crc16Modbus(reinterpret_cast<const quint8 *>(frame.constData()), quint16(frame.size()));
    frame.append(char(exchanged >> 8));
    frame.append(char(exchanged & 0xFF));
}

} // namespace protocol
