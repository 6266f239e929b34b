#pragma once

#include <QByteArray>
#include <QtGlobal>

// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF, no final XOR) over the
// first `length` bytes of `data`. The result holds the CRC with its two bytes exchanged: the
// CRC's low byte in the upper half, its high byte in the lower half. Senders therefore put the
// upper half on the line first, which is the low-byte-first order Modbus-RTU requires.
quint16 crc16Modbus(const quint8 *data, quint16 length);

namespace protocol {

// Appends the CRC of everything in `frame` so far, low byte first.
void appendCrc(QByteArray &frame);

} // namespace protocol
