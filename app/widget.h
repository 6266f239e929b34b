#pragma once

#include "protocol/requestkind.h"

#include <QDateTime>
#include <QSerialPort>
#include <QString>
#include <QWidget>

#include <chrono>
#include <optional>

class QButtonGroup;
class QIODevice;
class QTimer;
class Reconnector;
class TcpLink;

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

// The main window. Its slots are the tool's handlers: each runs to completion on the GUI thread,
// reads its controls, calls the protocol code, writes the port and shows the result.
class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

    // Bound of the message pane: the newest lines are kept, the oldest dropped. A poll writes two
    // lines a second, so this keeps the last 2.8 hours of it in about 16 MB.
    static constexpr int exchangeLogMaxLines = 20000;

public slots:
    // Lends the open port to another part of the tool: polling stops and the port closes as on
    // an unlink. resumePort() reopens it at the same speed and polls again if it did.
    void releasePort();
    void resumePort();

signals:
    // What happens on the line, for listeners such as the monitor. Emitted where the handlers
    // already act; nothing the window does depends on anyone listening.
    void requestSent(protocol::RequestKind kind, const QByteArray &frame);
    void replyRecognised(const protocol::Reply &reply);
    void bytesReceived(qint64 count);
    // Bytes the silence cleared out of the receive buffer without their forming a reply.
    void bytesDiscarded(qint64 count);
    void pollingChanged(bool polling);
    void portOpened(const QString &portName, qint32 speed);
    // The link stands at `speed`: the operator's choice, the probe's find, or the new speed the
    // module acknowledged. Not emitted for a probe step, which may yet prove wrong.
    void linkEstablished(const QString &portName, qint32 speed);
    void portClosed();
    void portLost(const QString &portName);
    // The lost port came back and was reopened without the operator's help.
    void portReconnected(const QString &portName, qint32 speed);
    // The operator asked for the monitor window (pushButtonMonitor); its owner shows it.
    void monitorRequested();

private slots:
    void PushButtonLinkSlot();
    void PushButtonCloseSlot();
    void my_readuart();
    void PushButtonReadSlot();
    void PushButtonAddressSlot();
    void PushButtonBaudRateSlot();
    void TimerClearSlot();
    void PushButtonAddressReadSlot();
    void TimerResponseSlot();
    void ReadHumitureOrder();
    void PushButtonReadSNSlot();
    void PushButtonAUTOSetupSlot();
    void PushButtonMANUSetupSlot();
    void PushButtonReadRecordSlot();
    void PushButtonSetupRecordSlot();
    void RecModeSelect();
    void ModeSelect(int index);
    void AUTOUartInit();
    void TimerDelaySlot();
    void timerSettingResponseSlot();

private:
    // link/linkcontrol.cpp
    void openSerialLink();
    bool openPort();
    void setUpReconnect();
    bool reopenLostPort(const QString &portName, qint32 speed, bool resumePolling);
    void handlePortError(QSerialPort::SerialPortError error);
    void dropLostPort();

    // link/networklink.cpp
    void setUpNetworkLink();
    bool openNetworkLink();
    bool closeNetworkLink();
    QIODevice *linkDevice() const;
    QString linkName() const;
    QString lostLinkMessage() const;
    std::chrono::milliseconds withLinkMargin(std::chrono::milliseconds deadline) const;
    bool confirmNetworkSpeedChange(int speed);

    // app/receivepath.cpp
    void appendExchangeLog(const QString &text, bool received);

    // operations/
    void writeRequest(protocol::RequestKind kind, const QByteArray &frame);
    void sendModbusRequest(protocol::RequestKind kind, const QByteArray &frame);
    bool addressFromField(quint8 &address, QString &rejection) const;
    void showMeasurement(bool withWetBulb);
    void notePollSent();
    void noteMeasurementReply();
    void showValuesStale(bool stale);
    void showAddress();
    void showDeviceInfo();
    void SendUartSNOrder();
    void SendUartRecordOrder();
    int currentSampleInterval() const;
    void initRecordControls();
    void showRecordSettings();

    void showMessage(const QString &title, const QString &text);

    QSerialPort *serialPort = nullptr;
    QTimer *clearTimer = nullptr;
    QTimer *responseTimer = nullptr;
    QTimer *humitureTimer = nullptr;
    QTimer *autoBaudTimer = nullptr;
    QTimer *delayTimer = nullptr;
    QTimer *settingResponseTimer = nullptr;
    QButtonGroup *workModeGroup = nullptr;
    Reconnector *reconnector = nullptr;
    TcpLink *tcpLink = nullptr;
    QString versionSuffix;
    Ui::Widget *ui = nullptr;

    bool portLossPending = false; // a lost port's error burst is reported once
    bool networkLinked = false;   // the link goes to a serial device server, not a serial port
    bool pollAfterNetworkReopen = false;
    bool pollWhenNetworkOpens = false;
    QString networkLossReason;
    qint64 unclaimedBytes = 0; // received since the last recognised reply
    // The live values go grey when the module stops answering the poll.
    bool pollAwaitingReply = false;
    int unansweredPolls = 0;
    QDateTime silentSince; // the last measurement reply, or before any the first poll

    // link/handover.cpp: the port while lent.
    struct Lent
    {
        QString portName;
        qint32 speed;
        bool polling;
    };
    std::optional<Lent> m_lent;
};
