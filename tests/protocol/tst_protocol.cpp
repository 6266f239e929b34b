#include "tst_protocol.h"

#include "protocol/crc.h"
#include "protocol/frames.h"

#include <QStringList>
#include <QtTest>

#include <iterator>

namespace testbytes {

QByteArray withCrc(const char *text)
{
    QByteArray frame = hex(text);
    protocol::appendCrc(frame);
    return frame;
}

QByteArray loggerFrame(quint8 code, int size, char fill)
{
    QByteArray frame = hex("7b 22");
    frame.append(char(code));
    frame.append(size - 5, fill);
    frame.append(hex("22 7d"));
    return frame;
}

QByteArray deviceInfoReply()
{
    return hex("7b 22 0c 0e 00 00") + "8133" + hex("00 00 15 03 05 0e 07 09 00 22 7d");
}

QByteArray recordConfigReply()
{
    return hex("7b 22 1c 1d 65 e6 d2 ad 00 00 40 00 00 00 00 ff ff 01 2c 03 20 01 40"
               " 03 20 01 40 65 e6 d3 d9 00 00 00 22 7d");
}

QByteArray longFrame(int size, bool closedAt133)
{
    QByteArray frame = loggerFrame(frames::codeLongFrameReply, size, '\x55');
    if (closedAt133 && size >= frames::longFrameSize)
        frame.replace(frames::longFrameSize - 2, 2, hex("22 7d"));
    return frame;
}

QString describe(const protocol::Reply &reply)
{
    static const char *const names[] = {
        "Wait",        "DeviceInfo",  "RecordConfig",
        "OtherLogger", "Measurement", "MeasurementWithWetBulb",
        "Address",     "Acknowledge", "OtherModbus",
    };
    static_assert(std::size(names) == std::size_t(protocol::ReplyKind::OtherModbus) + 1);
    QStringList parts{QLatin1String(names[int(reply.kind)])};
    auto add = [&parts](const char *name, qint64 value) {
        if (value != 0)
            parts << QLatin1String(name) + QLatin1Char('=') + QString::number(value);
    };
    add("D", reply.dataLength);
    add("t", reply.temperature);
    add("h", reply.humidity);
    add("dew", reply.dewTemp);
    add("wet", reply.wetBulbTemp);
    add("addr", reply.address);
    add("model", reply.loggerModel);
    if (!reply.serialNumber.isEmpty())
        parts << QLatin1String("sn=") + reply.serialNumber;
    add("mode", reply.recordMode);
    add("interval", reply.sampleInterval);
    return parts.join(QLatin1Char(' '));
}

} // namespace testbytes

QTEST_GUILESS_MAIN(tst_Protocol)
