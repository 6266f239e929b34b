// The receive path: gathers the module's bytes, recognises replies and hands them over.
#include "app/widget.h"

#include "app/clock.h"
#include "app/timing.h"
#include "protocol/exchangelog.h"
#include "protocol/frames.h"
#include "protocol/logging.h"
#include "protocol/receivebuffer.h"
#include "protocol/uartdata.h"
#include "ui_widget.h"

#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace {
// A full pane drops its oldest lines this many at a time. Each removal at the top lays the whole
// pane out again (about 1 us a line of it): dropping one line per new one, as the document's own
// block limit does, would cost some 25 ms a line once 20000 lines are shown.
constexpr int exchangeLogTrimLines = 1000;
} // namespace

void Widget::my_readuart()
{
    clearTimer->start(timing::silenceClearsBuffer);
    const QByteArray chunk = linkDevice()->readAll();
    unclaimedBytes += chunk.size();
    emit bytesReceived(chunk.size());
    const protocol::Reply reply = protocol::receiveChunk(UartData.RxBuffer, chunk);

    using protocol::ReplyKind;
    if (reply.kind == ReplyKind::Wait)
        return;
    unclaimedBytes = 0;

    switch (reply.kind) {
    case ReplyKind::DeviceInfo:
        UartData.LoggerModel = reply.loggerModel;
        UartData.SerialNumber = reply.serialNumber;
        qCDebug(lcModule) << "UartData.LoggerModel" << UartData.LoggerModel;
        showDeviceInfo();
        UartData.ResponseFlag = true;
        break;
    case ReplyKind::RecordConfig:
        UartData.RecordMode = reply.recordMode;
        UartData.SampleInterval = reply.sampleInterval;
        showRecordSettings();
        UartData.SettingFlag = true;
        UartData.ResponseFlag = true;
        break;
    case ReplyKind::OtherLogger:
        UartData.ResponseFlag = true;
        break;
    case ReplyKind::Measurement:
    case ReplyKind::MeasurementWithWetBulb: {
        const bool withWetBulb = reply.kind == ReplyKind::MeasurementWithWetBulb;
        UartData.Temperature = reply.temperature;
        UartData.Humidity = reply.humidity;
        UartData.DewTemp = reply.dewTemp;
        if (withWetBulb)
            UartData.WetBulbTemp = reply.wetBulbTemp;
        UartData.ResponseFlag = true;
        showMeasurement(withWetBulb);
        noteMeasurementReply();
        break;
    }
    case ReplyKind::Address:
        UartData.Address = reply.address;
        UartData.ResponseFlag = true;
        showAddress();
        break;
    case ReplyKind::Acknowledge:
        UartData.ResponseFlag = true;
        break;
    case ReplyKind::OtherModbus:
    case ReplyKind::Wait:
        break;
    }

    // Logger frames are never logged; receiveChunk() has already taken a Modbus reply out of
    // the buffer.
    if (protocol::isModbus(reply.kind))
        appendExchangeLog(frames::hexText(reply.frame), true);
    emit replyRecognised(reply);
}

void Widget::TimerClearSlot()
{
    clearTimer->stop();
    UartData.RxBuffer.clear();
    if (unclaimedBytes > 0)
        emit bytesDiscarded(unclaimedBytes);
    unclaimedBytes = 0;
}

void Widget::TimerResponseSlot()
{
    responseTimer->stop();
    if (!UartData.ResponseFlag) {
        UartData.ReopenFlag = false;
        showMessage(tr("Error"), tr("Communication error!"));
        return;
    }
    if (UartData.ReopenFlag)
        openSerialLink();
    UartData.ReopenFlag = false;
}

void Widget::appendExchangeLog(const QString &text, bool received)
{
    QTextDocument *log = ui->textBrowser->document();
    if (log->blockCount() >= exchangeLogMaxLines) {
        QTextCursor oldest(log);
        oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, exchangeLogTrimLines);
        oldest.removeSelectedText();
    }
    ui->textBrowser->append(protocol::exchangeLogLine(appclock::now(), text, received));
}
