#pragma once

#include "protocol/replydecoder.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// Frame builders, recognition and the receive buffer: the bytes of the line with no window.
class tst_Protocol : public QObject
{
    Q_OBJECT

private slots:
    // tst_frames.cpp
    void crc16Modbus_data();
    void crc16Modbus();
    void appendCrcPutsLowByteFirst();
    void requestFrames_data();
    void requestFrames();
    void serialNumberBytes_data();
    void serialNumberBytes();
    void recordConfigRequest_data();
    void recordConfigRequest();
    void toModuleSeconds_data();
    void toModuleSeconds();
    void exchangeLogLine_data();
    void exchangeLogLine();

    // tst_replies.cpp
    void dispatch_data();
    void dispatch();
    void truncatedLoggerFrames_data();
    void truncatedLoggerFrames();
    void requestsNeverReadPastTheBuffer_data();
    void requestsNeverReadPastTheBuffer();

    // tst_receivebuffer.cpp
    void boundKeepsHeadAndTail_data();
    void boundKeepsHeadAndTail();
    void splitReplies_data();
    void splitReplies();
    void loggerFrameStaysAndDecodesAgain();
    void pauseFreeStreamStaysBounded_data();
    void pauseFreeStreamStaysBounded();
    void longestModbusReplyStillRecognised();
    void boundChangesNoRecognition();
};

namespace testbytes {

// "01 03 06" -> bytes; blanks are for the reader.
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// The bytes with their Modbus CRC appended, low byte first.
QByteArray withCrc(const char *text);

// A logger frame of `size` bytes: 7B 22, code, `fill` up to the closing 22 7D.
QByteArray loggerFrame(quint8 code, int size, char fill = '\0');

// Device information of an SHT3X (model 8133) with the serial-number bytes 15 03 05 0E 07 09.
QByteArray deviceInfoReply();
// Recording configuration: mode 2 in bits 5 and 6 of byte 10, 300 s at bytes 17 and 18.
QByteArray recordConfigReply();
// A 0x2C frame of `size` bytes, with or without the 22 7D it needs at bytes 133 and 134.
QByteArray longFrame(int size, bool closedAt133);

// Everything a reply carries, in one line, so that a table row can state it whole.
QString describe(const protocol::Reply &reply);

} // namespace testbytes
