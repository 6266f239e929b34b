#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Recognition and decoding of what the module sends, as a pure function of the receive buffer.
// Replies are recognised by their shape alone (logger code or Modbus data length), from any
// module address; nothing here knows which request is outstanding.
namespace protocol {

enum class ReplyKind {
    Wait,                   // nothing decodable (yet): keep the buffer
    DeviceInfo,             // logger 0x0C
    RecordConfig,           // logger 0x1C
    OtherLogger,            // any other logger frame, including a complete 0x2C frame
    Measurement,            // Modbus, three registers (D = 6)
    MeasurementWithWetBulb, // Modbus, four values (D = 9)
    Address,                // Modbus, read-address reply (D = 2)
    Acknowledge,            // Modbus, D = 3: the echo of a 0x06 write
    OtherModbus,            // Modbus with a valid CRC but any other length, e.g. an exception
};

struct Reply
{
    ReplyKind kind = ReplyKind::Wait;
    int dataLength = 0; // Modbus: D, the reply is D + 5 bytes

    // Measurement and MeasurementWithWetBulb
    qint16 temperature = 0;
    quint16 humidity = 0;
    qint16 dewTemp = 0;
    qint16 wetBulbTemp = 0;
    // Address
    quint8 address = 0;
    // DeviceInfo
    qint32 loggerModel = 0;
    QString serialNumber; // lower-case hex of the serial-number bytes present
    // RecordConfig
    quint8 recordMode = 0;
    qint32 sampleInterval = 0;

    // The buffer the reply was recognised in, as the exchange log shows it; empty for Wait.
    QByteArray frame;
};

constexpr bool isModbus(ReplyKind kind)
{
    return kind == ReplyKind::Measurement || kind == ReplyKind::MeasurementWithWetBulb ||
           kind == ReplyKind::Address || kind == ReplyKind::Acknowledge ||
           kind == ReplyKind::OtherModbus;
}

constexpr bool isLogger(ReplyKind kind)
{
    return kind == ReplyKind::DeviceInfo || kind == ReplyKind::RecordConfig ||
           kind == ReplyKind::OtherLogger;
}

// Whether the reply answers the outstanding request. A Modbus reply of an unexpected length
// (an exception, say) is accepted and logged but answers nothing.
constexpr bool answersRequest(ReplyKind kind)
{
    return kind != ReplyKind::Wait && kind != ReplyKind::OtherModbus;
}

// Examines the whole receive buffer. A logger frame is a buffer that begins with 0x7B 0x22 and
// ends with 0x22 0x7D; anything else is taken as a Modbus reply, which must fill the buffer
// exactly and carry a matching CRC.
Reply recognizeReply(const QByteArray &buffer);

} // namespace protocol
