#include "protocol/frames.h"

#include "protocol/crc.h"

#include <QDateTime>

#include <limits>

namespace frames {

namespace {

void appendBigEndian32(QByteArray &frame, quint32 value)
{
    frame.append(char(value >> 24));
    frame.append(char(value >> 16));
    frame.append(char(value >> 8));
    frame.append(char(value));
}

QByteArray loggerReadRequest(quint8 code)
{
    QByteArray frame(loggerOpen, sizeof loggerOpen);
    frame.append(char(code));
    frame.append('\0');
    frame.append(char(code)); // check byte: code + zero length
    frame.append(loggerClose, sizeof loggerClose);
    return frame;
}

} // namespace

QByteArray modbusRequest(quint8 address, quint8 function, quint16 registerNumber, quint16 value)
{
    QByteArray frame;
    frame.reserve(8);
    frame.append(char(address));
    frame.append(char(function));
    frame.append(char(registerNumber >> 8));
    frame.append(char(registerNumber & 0xFF));
    frame.append(char(value >> 8));
    frame.append(char(value & 0xFF));
    protocol::appendCrc(frame);
    return frame;
}

QByteArray readAddressRequest()
{
    return modbusRequest(broadcastAddress, functionReadHolding, addressRegister, 1);
}

QByteArray writeAddressRequest(quint8 address)
{
    return modbusRequest(broadcastAddress, functionWriteSingle, addressRegister, address);
}

QByteArray writeBaudCodeRequest(quint8 baudCode)
{
    return modbusRequest(broadcastAddress, functionWriteSingle, baudCodeRegister, baudCode);
}

QByteArray measurementRequest(quint8 address)
{
    return modbusRequest(address, functionReadHolding, measurementRegister,
                         measurementRegisterCount);
}

QByteArray readDeviceInfoRequest()
{
    return loggerReadRequest(codeReadDeviceInfo);
}

QByteArray readRecordConfigRequest()
{
    return loggerReadRequest(codeReadRecordConfig);
}

std::array<quint8, 6> serialNumberBytes(const QString &serialNumber)
{
    std::array<quint8, 6> bytes{};
    for (int i = 0; i < int(bytes.size()); ++i) {
        bool ok = false;
        const int value = serialNumber.mid(2 * i, 2).toInt(&ok, 10);
        bytes[std::size_t(i)] = ok ? quint8(value & 0xFF) : 0;
    }
    return bytes;
}

QByteArray writeSerialNumberRequest(quint8 modelCode, const QString &serialNumber)
{
    QByteArray frame(loggerOpen, sizeof loggerOpen);
    frame.append(char(codeWriteSerialNumber));
    frame.append(char(7)); // payload: model code and six serial-number bytes
    frame.append(char(modelCode));
    for (quint8 byte : serialNumberBytes(serialNumber))
        frame.append(char(byte));
    frame.append('\0'); // the module ignores the check byte of this command
    frame.append(loggerClose, sizeof loggerClose);
    return frame;
}

QByteArray writeRecordConfigRequest(quint32 now, quint8 recordMode, int sampleInterval,
                                    quint32 startTime)
{
    static constexpr char fixedRange[] = {'\x03', '\x20', '\x01', '\x40'};
    const quint8 modeByte = quint8(recordMode << 5);

    QByteArray frame(loggerOpen, sizeof loggerOpen);
    frame.append(char(codeWriteRecordConfig));
    frame.append(char(0x1D)); // payload: bytes 4 to 32
    appendBigEndian32(frame, now);
    frame.append(2, '\0');
    frame.append(char(modeByte));
    frame.append(4, '\0');
    frame.append(2, '\xFF');
    frame.append(char((sampleInterval >> 8) & 0xFF));
    frame.append(char(sampleInterval & 0xFF));
    frame.append(fixedRange, sizeof fixedRange);
    frame.append(fixedRange, sizeof fixedRange);
    appendBigEndian32(frame, startTime);
    frame.append(2, '\0');

    // The module's check: the mode byte once more, plus every byte from the code on.
    quint8 check = modeByte;
    for (int i = 2; i < frame.size(); ++i)
        check = quint8(check + quint8(frame.at(i)));
    frame.append(char(check));
    frame.append(loggerClose, sizeof loggerClose);
    return frame;
}

qint64 toModuleSeconds(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return -1;
    const qint64 seconds = dateTime.toSecsSinceEpoch();
    if (seconds < 0 || seconds > qint64(std::numeric_limits<quint32>::max()))
        return -1;
    return seconds;
}

QString clockSerialNumber(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyMMddhhmmss"));
}

bool startTimeAccepted(const QDateTime &start, const QDateTime &now)
{
    const qint64 startSeconds = toModuleSeconds(start);
    const qint64 nowSeconds = toModuleSeconds(now);
    return startSeconds >= 0 && nowSeconds >= 0 && startSeconds > nowSeconds;
}

QString hexText(const QByteArray &frame)
{
    return QString::fromLatin1(frame.toHex());
}

} // namespace frames
