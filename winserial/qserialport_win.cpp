#include "qserialport.h"
#include "qserialportinfo.h"

#include <QElapsedTimer>
#include <QMetaObject>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#ifndef NOMINMAX // libstdc++ of MinGW-w64 defines it already
#define NOMINMAX
#endif
#include <windows.h>

Q_LOGGING_CATEGORY(lcWinSerial, "quorvel.winserial", QtWarningMsg)

namespace {

QString systemMessage(DWORD code)
{
    return qt_error_string(int(code));
}

// A read waits for its first byte as long as it takes, then returns at the first gap this long
// between bytes. (Wine, unlike Windows, keeps a read with a total timeout pending past it, and
// aborts an overlapped WaitCommEvent: this is the one timeout setting that acts alike on both.)
constexpr DWORD readGapMs = 2;

} // namespace

// Reads on a thread of its own with overlapped I/O, so that a write never waits behind a read
// and close() cancels a read that waits for a byte that does not come.
class QSerialPort::Reader
{
public:
    Reader(QSerialPort *port, HANDLE handle)
        : m_port(port), m_handle(handle), m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_done(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~Reader()
    {
        SetEvent(m_stop);
        m_thread.join();
        CloseHandle(m_stop);
        CloseHandle(m_done);
    }

    qint64 available() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_buffer.size();
    }
    qint64 take(char *data, qint64 maxSize)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const qint64 n = qMin<qint64>(maxSize, m_buffer.size());
        memcpy(data, m_buffer.constData(), size_t(n));
        m_buffer.remove(0, int(n));
        return n;
    }
    void drop()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_buffer.clear();
    }
    // Called where the notice is handled: bytes that come from now on send a new one, whether
    // or not the reader took what had come.
    void noticed()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notified = false;
    }
    // The error that ended the reading, or 0 while it goes on.
    DWORD failure() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_failure;
    }
    bool waitForData(int msecs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto ready = [this] { return !m_buffer.isEmpty() || m_failure != 0; };
        if (msecs < 0)
            m_arrived.wait(lock, ready);
        else
            m_arrived.wait_for(lock, std::chrono::milliseconds(msecs), ready);
        return !m_buffer.isEmpty();
    }

private:
    void run()
    {
        char chunk[4096];
        OVERLAPPED overlapped = {};
        overlapped.hEvent = m_done;
        for (;;) {
            ResetEvent(m_done);
            DWORD got = 0;
            if (!ReadFile(m_handle, chunk, sizeof chunk, nullptr, &overlapped)) {
                const DWORD error = GetLastError();
                if (error != ERROR_IO_PENDING) {
                    fail(error);
                    return;
                }
                const HANDLE events[] = {m_done, m_stop};
                if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIoEx(m_handle, &overlapped);
                    GetOverlappedResult(m_handle, &overlapped, &got, TRUE);
                    return;
                }
            }
            if (!GetOverlappedResult(m_handle, &overlapped, &got, TRUE)) {
                fail(GetLastError());
                return;
            }
            if (WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0)
                return;
            if (got == 0) {
                // Not with these timeouts, unless the device has gone: a status query tells.
                DWORD errors = 0;
                if (!ClearCommError(m_handle, &errors, nullptr)) {
                    fail(GetLastError());
                    return;
                }
                continue;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_buffer.append(chunk, int(got));
            m_arrived.notify_all();
            if (!m_notified) {
                m_notified = true;
                QMetaObject::invokeMethod(
                    m_port, [port = m_port] { port->onReaderEvent(); }, Qt::QueuedConnection);
            }
        }
    }
    void fail(DWORD error)
    {
        qCDebug(lcWinSerial) << "read failed:" << error << systemMessage(error);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_failure = error ? error : ERROR_GEN_FAILURE;
            m_arrived.notify_all();
        }
        QMetaObject::invokeMethod(
            m_port, [port = m_port] { port->onReaderEvent(); }, Qt::QueuedConnection);
    }

    QSerialPort *m_port;
    HANDLE m_handle;
    HANDLE m_stop;
    HANDLE m_done;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    QByteArray m_buffer;
    bool m_notified = false;
    DWORD m_failure = 0;
    std::thread m_thread;
};

QSerialPort::QSerialPort(QObject *parent) : QIODevice(parent) {}

QSerialPort::QSerialPort(const QString &name, QObject *parent) : QIODevice(parent)
{
    setPortName(name);
}

QSerialPort::QSerialPort(const QSerialPortInfo &info, QObject *parent) : QIODevice(parent)
{
    setPort(info);
}

QSerialPort::~QSerialPort()
{
    close();
}

void QSerialPort::setPortName(const QString &name)
{
    m_portName = name;
}

QString QSerialPort::portName() const
{
    return m_portName;
}

void QSerialPort::setPort(const QSerialPortInfo &info)
{
    m_portName = info.portName();
}

bool QSerialPort::setBaudRate(qint32 baudRate, Directions)
{
    if (baudRate <= 0) {
        setError(UnsupportedOperationError, tr("Unsupported line speed"));
        return false;
    }
    m_baudRate = baudRate;
    return !isOpen() || applySettings();
}

qint32 QSerialPort::baudRate(Directions) const
{
    return m_baudRate;
}

bool QSerialPort::setDataBits(DataBits dataBits)
{
    m_dataBits = dataBits;
    return !isOpen() || applySettings();
}

QSerialPort::DataBits QSerialPort::dataBits() const
{
    return m_dataBits;
}

bool QSerialPort::setParity(Parity parity)
{
    m_parity = parity;
    return !isOpen() || applySettings();
}

QSerialPort::Parity QSerialPort::parity() const
{
    return m_parity;
}

bool QSerialPort::setStopBits(StopBits stopBits)
{
    m_stopBits = stopBits;
    return !isOpen() || applySettings();
}

QSerialPort::StopBits QSerialPort::stopBits() const
{
    return m_stopBits;
}

bool QSerialPort::setFlowControl(FlowControl flowControl)
{
    m_flowControl = flowControl;
    return !isOpen() || applySettings();
}

QSerialPort::FlowControl QSerialPort::flowControl() const
{
    return m_flowControl;
}

bool QSerialPort::open(OpenMode mode)
{
    if (isOpen()) {
        setError(OpenError, tr("The port is open already"));
        return false;
    }
    // "COM10" and above only open by their device path; a path given whole is taken as it is.
    const QString path = m_portName.startsWith(QLatin1String("\\\\"))
                             ? m_portName
                             : QLatin1String("\\\\.\\") + m_portName;
    DWORD access = 0;
    if (mode & ReadOnly)
        access |= GENERIC_READ;
    if (mode & WriteOnly)
        access |= GENERIC_WRITE;
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), access, 0,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        const SerialPortError error = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                                          ? DeviceNotFoundError
                                      : code == ERROR_ACCESS_DENIED ? PermissionError
                                                                    : OpenError;
        setError(error, systemMessage(code));
        return false;
    }
    m_handle = handle;
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = readGapMs;
    if (!applySettings() || !SetCommTimeouts(handle, &timeouts)) {
        if (m_error == NoError)
            setError(OpenError, systemMessage(GetLastError()));
        CloseHandle(handle);
        m_handle = nullptr;
        return false;
    }
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    QIODevice::open(mode | Unbuffered);
    clearError();
    m_reader = std::make_unique<Reader>(this, handle);
    return true;
}

void QSerialPort::close()
{
    if (!isOpen())
        return;
    QIODevice::close();
    m_reader.reset();
    CloseHandle(HANDLE(m_handle));
    m_handle = nullptr;
}

bool QSerialPort::applySettings()
{
    const HANDLE handle = HANDLE(m_handle);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        setError(UnsupportedOperationError, systemMessage(GetLastError()));
        return false;
    }
    dcb.BaudRate = DWORD(m_baudRate);
    dcb.ByteSize = BYTE(m_dataBits);
    dcb.fBinary = TRUE;
    dcb.fParity = m_parity != NoParity;
    switch (m_parity) {
    case NoParity:
        dcb.Parity = NOPARITY;
        break;
    case EvenParity:
        dcb.Parity = EVENPARITY;
        break;
    case OddParity:
        dcb.Parity = ODDPARITY;
        break;
    case SpaceParity:
        dcb.Parity = SPACEPARITY;
        break;
    case MarkParity:
        dcb.Parity = MARKPARITY;
        break;
    }
    dcb.StopBits = m_stopBits == TwoStop          ? TWOSTOPBITS
                   : m_stopBits == OneAndHalfStop ? ONE5STOPBITS
                                                  : ONESTOPBIT;
    dcb.fOutxCtsFlow = m_flowControl == HardwareControl;
    dcb.fRtsControl = m_flowControl == HardwareControl ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = m_flowControl == SoftwareControl;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb)) {
        setError(UnsupportedOperationError, systemMessage(GetLastError()));
        return false;
    }
    return true;
}

bool QSerialPort::isSequential() const
{
    return true;
}

qint64 QSerialPort::bytesAvailable() const
{
    return (m_reader ? m_reader->available() : 0) + QIODevice::bytesAvailable();
}

qint64 QSerialPort::bytesToWrite() const
{
    // Writes complete before write() returns.
    return 0;
}

bool QSerialPort::waitForReadyRead(int msecs)
{
    if (!m_reader)
        return false;
    if (!m_reader->waitForData(msecs))
        return false;
    emit readyRead();
    return true;
}

bool QSerialPort::waitForBytesWritten(int)
{
    return false;
}

bool QSerialPort::clear(Directions directions)
{
    if (!isOpen()) {
        setError(NotOpenError, tr("The port is not open"));
        return false;
    }
    DWORD flags = 0;
    if (directions & Input) {
        flags |= PURGE_RXCLEAR;
        m_reader->drop();
    }
    if (directions & Output)
        flags |= PURGE_TXCLEAR;
    return PurgeComm(HANDLE(m_handle), flags) != 0;
}

bool QSerialPort::flush()
{
    return isOpen() && FlushFileBuffers(HANDLE(m_handle)) != 0;
}

QSerialPort::SerialPortError QSerialPort::error() const
{
    return m_error;
}

void QSerialPort::clearError()
{
    m_error = NoError;
    setErrorString(QString());
}

void QSerialPort::setError(SerialPortError error, const QString &text)
{
    m_error = error;
    setErrorString(text);
    emit errorOccurred(error);
}

qint64 QSerialPort::readData(char *data, qint64 maxSize)
{
    return m_reader ? m_reader->take(data, maxSize) : -1;
}

qint64 QSerialPort::writeData(const char *data, qint64 maxSize)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    const HANDLE handle = HANDLE(m_handle);
    bool ok = WriteFile(handle, data, DWORD(maxSize), nullptr, &overlapped) ||
              GetLastError() == ERROR_IO_PENDING;
    ok = ok && GetOverlappedResult(handle, &overlapped, &written, TRUE);
    const DWORD code = ok ? 0 : GetLastError();
    CloseHandle(overlapped.hEvent);
    if (!ok) {
        setError(WriteError, systemMessage(code));
        return -1;
    }
    QMetaObject::invokeMethod(
        this, [this, written] { emit bytesWritten(written); }, Qt::QueuedConnection);
    return written;
}

void QSerialPort::onReaderEvent()
{
    if (!m_reader)
        return;
    m_reader->noticed();
    if (m_reader->available() > 0)
        emit readyRead();
    if (const DWORD code = m_reader->failure(); code != 0 && m_error == NoError) {
        // The port went while open: a pulled adapter, or a driver that gave up on it.
        setError(ResourceError, systemMessage(code));
    }
}
