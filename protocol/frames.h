#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

class QDateTime;

// Builders of every request the tool puts on the line. Modbus requests are eight bytes with
// the CRC low byte first; logger frames open with 0x7B 0x22 and close with 0x22 0x7D.
namespace frames {

inline constexpr char loggerOpen[] = {'\x7B', '\x22'};
inline constexpr char loggerClose[] = {'\x22', '\x7D'};

// Modbus register map of the module.
inline constexpr quint16 measurementRegister = 0x0000;
inline constexpr quint16 measurementRegisterCount = 3;
inline constexpr quint16 addressRegister = 0x0100;
inline constexpr quint16 baudCodeRegister = 0x0101;
// Address and baud-rate commands go to the broadcast address, which every module answers.
inline constexpr quint8 broadcastAddress = 0x00;

inline constexpr quint8 functionReadHolding = 0x03;
inline constexpr quint8 functionWriteSingle = 0x06;

// Logger command codes of the requests and of the module's replies.
inline constexpr quint8 codeReadDeviceInfo = 0x0A;
inline constexpr quint8 codeReadRecordConfig = 0x1A;
inline constexpr quint8 codeWriteSerialNumber = 0xAA;
inline constexpr quint8 codeWriteRecordConfig = 0x4A;
inline constexpr quint8 codeDeviceInfoReply = 0x0C;
inline constexpr quint8 codeRecordConfigReply = 0x1C;
inline constexpr quint8 codeLongFrameReply = 0x2C;
inline constexpr int longFrameSize = 135;

// Any Modbus request: address, function, two 16-bit fields (most significant byte first), CRC.
QByteArray modbusRequest(quint8 address, quint8 function, quint16 registerNumber, quint16 value);

QByteArray readAddressRequest();                  // 00 03 01 00 00 01 84 27
QByteArray writeAddressRequest(quint8 address);   // 00 06 01 00 00 A CRC
QByteArray writeBaudCodeRequest(quint8 baudCode); // 00 06 01 01 00 C CRC
QByteArray measurementRequest(quint8 address);    // A 03 00 00 00 03 CRC

QByteArray readDeviceInfoRequest();   // 7B 22 0A 00 0A 22 7D
QByteArray readRecordConfigRequest(); // 7B 22 1A 00 1A 22 7D

// The six bytes of a serial number typed or generated as twelve decimal digits: each pair of
// characters is read as a decimal number (0 when it is not one, also for pairs past the end of
// a short text) and sent as its low eight bits. Characters after the twelfth are ignored.
std::array<quint8, 6> serialNumberBytes(const QString &serialNumber);

// 7B 22 AA 07, model code, the six serial-number bytes, check byte 00, 22 7D.
QByteArray writeSerialNumberRequest(quint8 modelCode, const QString &serialNumber);

// The 36-byte recording-configuration write. `now` and `startTime` are seconds since
// 1970-01-01 00:00:00 UTC. The check byte counts the mode byte twice, as the module expects.
QByteArray writeRecordConfigRequest(quint32 now, quint8 recordMode, int sampleInterval,
                                    quint32 startTime);

// Seconds since the epoch as the module's unsigned 32-bit field, or -1 when the date and time
// lie outside what that field can hold (before 1970 or after 2106-02-07 06:28:15 UTC).
qint64 toModuleSeconds(const QDateTime &dateTime);

// A serial number generated from the clock: two digits each of year, month, day, hour (24 h),
// minute and second, which the module takes as six decimal pairs.
QString clockSerialNumber(const QDateTime &when);

// How a recording start time is written: local time, whole seconds.
inline constexpr char startTimeFormat[] = "yyyy-MM-dd hh:mm:ss";

// Whether a recording may start at `start`: both times fit the module's 32-bit seconds and the
// start lies strictly after `now`. A time the field cannot hold would travel as FF FF FF FF and
// start recording at a time long past.
bool startTimeAccepted(const QDateTime &start, const QDateTime &now);

// The hexadecimal text of a frame as it is logged: two lower-case digits a byte, no separators.
QString hexText(const QByteArray &frame);

} // namespace frames
