// Qt Serial Port's interface, as much of it as Quorvel uses, over the Win32 communications API.
// Built instead of Qt Serial Port where that module is missing: Debian ships no source of it that
// a cross-build could use. The classes keep Qt's names and enumerator values so that the link and
// command-line code build unchanged against either.
#pragma once

#include <QIODevice>
#include <QLoggingCategory>

#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcWinSerial)

class QSerialPortInfo;

class QSerialPort : public QIODevice
{
    Q_OBJECT
public:
    enum Direction { Input = 1, Output = 2, AllDirections = Input | Output };
    Q_DECLARE_FLAGS(Directions, Direction)
    enum BaudRate {
        Baud1200 = 1200,
        Baud2400 = 2400,
        Baud4800 = 4800,
        Baud9600 = 9600,
        Baud19200 = 19200,
        Baud38400 = 38400,
        Baud57600 = 57600,
        Baud115200 = 115200,
    };
    enum DataBits { Data5 = 5, Data6 = 6, Data7 = 7, Data8 = 8 };
    enum Parity { NoParity = 0, EvenParity = 2, OddParity = 3, SpaceParity = 4, MarkParity = 5 };
    enum StopBits { OneStop = 1, OneAndHalfStop = 3, TwoStop = 2 };
    enum FlowControl { NoFlowControl, HardwareControl, SoftwareControl };
    enum SerialPortError {
        NoError,
        DeviceNotFoundError,
        PermissionError,
        OpenError,
        ParityError,
        FramingError,
        BreakConditionError,
        WriteError,
        ReadError,
        ResourceError,
        UnsupportedOperationError,
        UnknownError,
        TimeoutError,
        NotOpenError,
    };
    Q_ENUM(SerialPortError)

    explicit QSerialPort(QObject *parent = nullptr);
    explicit QSerialPort(const QString &name, QObject *parent = nullptr);
    explicit QSerialPort(const QSerialPortInfo &info, QObject *parent = nullptr);
    ~QSerialPort() override;

    void setPortName(const QString &name);
    QString portName() const;
    void setPort(const QSerialPortInfo &info);

    bool setBaudRate(qint32 baudRate, Directions directions = AllDirections);
    qint32 baudRate(Directions directions = AllDirections) const;
    bool setDataBits(DataBits dataBits);
    DataBits dataBits() const;
    bool setParity(Parity parity);
    Parity parity() const;
    bool setStopBits(StopBits stopBits);
    StopBits stopBits() const;
    bool setFlowControl(FlowControl flowControl);
    FlowControl flowControl() const;

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override;
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool waitForReadyRead(int msecs = 30000) override;
    bool waitForBytesWritten(int msecs = 30000) override;

    bool clear(Directions directions = AllDirections);
    bool flush();
    SerialPortError error() const;
    void clearError();

signals:
    void errorOccurred(QSerialPort::SerialPortError error);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    class Reader;
    void setError(SerialPortError error, const QString &text = QString());
    bool applySettings();
    void onReaderEvent();

    QString m_portName;
    qint32 m_baudRate = Baud9600;
    DataBits m_dataBits = Data8;
    Parity m_parity = NoParity;
    StopBits m_stopBits = OneStop;
    FlowControl m_flowControl = NoFlowControl;
    SerialPortError m_error = NoError;
    void *m_handle = nullptr;
    std::unique_ptr<Reader> m_reader;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(QSerialPort::Directions)
