#pragma once

#include <QSerialPort>
#include <QString>
#include <QWidget>

class QButtonGroup;
class QTimer;

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
    void handlePortError(QSerialPort::SerialPortError error);
    void dropLostPort();

    // app/receivepath.cpp
    void appendExchangeLog(const QString &text, bool received);

    // operations/
    void sendModbusRequest(const QByteArray &frame);
    bool addressFromField(quint8 &address, QString &rejection) const;
    void showMeasurement(bool withWetBulb);
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
    QString versionSuffix;
    Ui::Widget *ui = nullptr;

    bool portLossPending = false; // a lost port's error burst is reported once
};
