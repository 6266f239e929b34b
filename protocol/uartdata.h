#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The one record through which the settings dialog, the link control, the receive path and the
// module commands share state. Every field starts zero, false or empty.
struct UartRecord
{
    QString PortName;
    QByteArray RxBuffer;
    quint8 Address = 0;
    qint32 BaudRate = 0; // bit/s; 0 asks for the automatic probe
    qint32 DataBits = 0; // recorded from the dialog, never applied: the module speaks 8N1
    qint32 Parity = 0;
    qint32 StopBits = 0;
    qint32 NetworkMarginMs = 0; // a network link's allowance on top of each reply deadline
    qint32 BaudTable[6] = {};
    quint8 BaudIndex = 0; // probe speeds tried so far
    quint8 BaudCount = 0;
    qint32 LoggerModel = 0;
    bool ResponseFlag = false;
    bool SettingFlag = false;
    bool ReopenFlag = false;
    QString SerialNumber;
    quint8 ModelCode = 0;
    qint16 Temperature = 0; // 0.1 °C
    quint16 Humidity = 0;   // 0.1 %RH
    qint16 DewTemp = 0;     // 0.1 °C
    qint16 WetBulbTemp = 0; // 0.1 °C
    quint8 RecordMode = 0;
    qint32 SampleInterval = 0; // seconds
    QString StartTime;         // "yyyy-MM-dd hh:mm:ss", local time
};

// Static storage: exists before the application object and outlives the main window.
extern UartRecord UartData;
