#pragma once

#include "protocol/replydecoder.h"

#include <QByteArray>

// What one arrival of bytes does to the receive buffer. The receive path, the fuzz target and
// the benchmark all go through receiveChunk(), so what they exercise is what the tool runs.
namespace protocol {

// The longest frame the line can bring: a Modbus 0x03 reply that announces 255 data bytes.
inline constexpr int longestModbusReply = 255 + 5;

// A line that never falls silent would grow the buffer, and the cost of every arrival with it,
// without end. A buffer longer than any Modbus reply can only still become a logger frame, and
// of that only the first 135 bytes and the last two are ever read: keeping the first
// longestModbusReply bytes and the last two changes nothing that is or will be recognised.
inline constexpr int receiveBufferBound = longestModbusReply + 2;

// Cuts the middle out of a buffer longer than receiveBufferBound.
void boundReceiveBuffer(QByteArray &buffer);

// Whether `chunk` goes into a fresh buffer: it opens a logger frame (7B 22) while the buffer
// holds one already decoded. Otherwise a second logger reply that comes before the line falls
// silent would end the buffer in 22 7D again and decode as the first one once more.
bool startsNextLoggerFrame(const QByteArray &buffer, const QByteArray &chunk);

// Appends a chunk, bounds the buffer and examines it as a whole. A recognised Modbus reply is
// done and leaves the buffer; a logger frame stays, to be cleared when the line falls silent,
// so that one arriving in pieces (one of which may end in 22 7D) is still decoded once whole.
Reply receiveChunk(QByteArray &buffer, const QByteArray &chunk);

} // namespace protocol
