#include "module.h"

#include "protocol/crc.h"
#include "protocol/frames.h"
#include "protocol/logging.h"
#include "protocol/tables.h"

#include <algorithm>
#include <cmath>

namespace modsim {

namespace {

constexpr int modbusRequestSize = 8;
// Logger requests are L + 7 bytes: the two reads, the serial-number write, the recording write.
constexpr std::array<int, 3> loggerRequestSizes{7, 14, 36};
constexpr int longestRequest = 36;

// Registers 0..3 hold the live values; the measurement read asks for the first three.
constexpr quint16 liveRegisterCount = 4;

constexpr quint8 exceptionIllegalAddress = 0x02;
constexpr quint8 exceptionIllegalValue = 0x03;

constexpr quint8 codeSerialNumberAck = frames::codeWriteSerialNumber + 1;
constexpr quint8 firmwareMajor = 1;
constexpr quint8 firmwareMinor = 4;
constexpr quint8 highestAddress = 247;

// Where the live values wander back to, and how far a step may go.
constexpr int restingTemperature = 235;
constexpr int restingHumidity = 550;
constexpr int temperatureStep = 2;
constexpr int humidityStep = 5;

quint8 byteAt(const QByteArray &bytes, int i)
{
    return quint8(bytes.at(i));
}

quint16 wordAt(const QByteArray &bytes, int i)
{
    return quint16(byteAt(bytes, i) << 8 | byteAt(bytes, i + 1));
}

quint32 longAt(const QByteArray &bytes, int i)
{
    return quint32(wordAt(bytes, i)) << 16 | wordAt(bytes, i + 2);
}

void appendWord(QByteArray &frame, quint16 value)
{
    frame.append(char(value >> 8));
    frame.append(char(value & 0xFF));
}

void appendLong(QByteArray &frame, quint32 value)
{
    appendWord(frame, quint16(value >> 16));
    appendWord(frame, quint16(value & 0xFFFF));
}

bool hasValidCrc(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const quint16 crc =
        crc16Modbus(reinterpret_cast<const quint8 *>(frame.constData()), quint16(frame.size() - 2));
    return wordAt(frame, frame.size() - 2) == crc;
}

bool isLoggerOpen(const QByteArray &bytes, int i)
{
    return byteAt(bytes, i) == quint8(frames::loggerOpen[0]) &&
           byteAt(bytes, i + 1) == quint8(frames::loggerOpen[1]);
}

bool endsWithLoggerClose(const QByteArray &frame)
{
    const int n = frame.size();
    return n >= 4 && byteAt(frame, n - 2) == quint8(frames::loggerClose[0]) &&
           byteAt(frame, n - 1) == quint8(frames::loggerClose[1]);
}

// The check byte of a recording frame: the mode byte counted twice, as the tool computes it.
quint8 recordCheckByte(const QByteArray &frame)
{
    quint8 check = byteAt(frame, 10);
    for (int i = 2; i <= 32; ++i)
        check = quint8(check + byteAt(frame, i));
    return check;
}

enum class Candidate { Valid, Invalid, Incomplete };

Candidate modbusCandidate(const QByteArray &bytes, int at)
{
    const int available = bytes.size() - at;
    if (available < 2)
        return Candidate::Incomplete;
    const quint8 function = byteAt(bytes, at + 1);
    if (function != frames::functionReadHolding && function != frames::functionWriteSingle)
        return Candidate::Invalid;
    if (available < modbusRequestSize)
        return Candidate::Incomplete;
    return hasValidCrc(bytes.mid(at, modbusRequestSize)) ? Candidate::Valid : Candidate::Invalid;
}

// Returns the frame size through `size` when valid.
Candidate loggerCandidate(const QByteArray &bytes, int at, int &size)
{
    const int available = bytes.size() - at;
    if (available < 2)
        return byteAt(bytes, at) == quint8(frames::loggerOpen[0]) ? Candidate::Incomplete
                                                                  : Candidate::Invalid;
    if (!isLoggerOpen(bytes, at))
        return Candidate::Invalid;
    if (available < 4)
        return Candidate::Incomplete;
    size = byteAt(bytes, at + 3) + 7;
    if (std::find(loggerRequestSizes.begin(), loggerRequestSizes.end(), size) ==
        loggerRequestSizes.end())
        return Candidate::Invalid;
    if (available < size)
        return Candidate::Incomplete;
    return endsWithLoggerClose(bytes.mid(at, size)) ? Candidate::Valid : Candidate::Invalid;
}

} // namespace

void RequestFramer::feed(const QByteArray &bytes)
{
    m_buffer.append(bytes);
}

std::optional<QByteArray> RequestFramer::next()
{
    // The earliest position that may start a request wins; a position is given up only when
    // enough bytes have arrived to rule it out, which never needs more than the longest request.
    for (int at = 0; at < m_buffer.size(); ++at) {
        int loggerSize = 0;
        const Candidate logger = loggerCandidate(m_buffer, at, loggerSize);
        if (logger == Candidate::Valid) {
            const QByteArray request = m_buffer.mid(at, loggerSize);
            m_buffer.remove(0, at + loggerSize);
            return request;
        }
        const Candidate modbus = modbusCandidate(m_buffer, at);
        if (modbus == Candidate::Valid) {
            const QByteArray request = m_buffer.mid(at, modbusRequestSize);
            m_buffer.remove(0, at + modbusRequestSize);
            return request;
        }
        if (logger == Candidate::Incomplete || modbus == Candidate::Incomplete) {
            m_buffer.remove(0, at);
            Q_ASSERT(m_buffer.size() < longestRequest);
            return std::nullopt;
        }
    }
    m_buffer.clear();
    return std::nullopt;
}

Module::Module(quint32 driftSeed) : m_drift(driftSeed) {}

bool Module::isModbusRequest(const QByteArray &request)
{
    return request.size() == modbusRequestSize && !isLoggerOpen(request, 0);
}

bool Module::isWrite(const QByteArray &request)
{
    if (isModbusRequest(request))
        return byteAt(request, 1) == frames::functionWriteSingle;
    return request.size() > loggerRequestSizes.front();
}

QByteArray Module::exceptionReply(const QByteArray &request, quint8 code)
{
    QByteArray reply;
    reply.append(request.isEmpty() ? char(0) : request.at(0));
    reply.append(char((request.size() > 1 ? byteAt(request, 1) : 0) | 0x80));
    reply.append(char(code));
    protocol::appendCrc(reply);
    return reply;
}

QByteArray Module::handle(const QByteArray &request)
{
    if (isModbusRequest(request) && hasValidCrc(request))
        return handleModbus(request);
    if (request.size() >= 7 && isLoggerOpen(request, 0) && endsWithLoggerClose(request) &&
        byteAt(request, 3) + 7 == request.size())
        return handleLogger(request);
    return {};
}

QByteArray Module::handleModbus(const QByteArray &request)
{
    const quint8 slave = byteAt(request, 0);
    const quint8 function = byteAt(request, 1);
    const quint16 reg = wordAt(request, 2);
    const quint16 value = wordAt(request, 4);
    const bool toUs = slave == frames::broadcastAddress || slave == m_address;

    if (function == frames::functionReadHolding && reg == frames::addressRegister) {
        // Answered whatever address it was sent to: this is how the tool finds the module.
        if (value != 1 && value != 2)
            return exceptionReply(request, exceptionIllegalValue);
        QByteArray reply;
        reply.append(char(m_address));
        reply.append(char(frames::functionReadHolding));
        reply.append(char(value * 2));
        appendWord(reply, m_address);
        if (value == 2)
            appendWord(reply, quint16(protocol::baudCodeOfSpeed(m_lineSpeed).value_or(0)));
        protocol::appendCrc(reply);
        return reply;
    }

    if (function == frames::functionReadHolding) {
        if (slave != m_address)
            return {};
        if (reg == frames::measurementRegister && value == frames::measurementRegisterCount) {
            if (!m_frozen)
                drift();
            return measurementReply();
        }
        if (value == 0 || value > liveRegisterCount || reg + value > liveRegisterCount)
            return exceptionReply(request, exceptionIllegalAddress);
        if (!m_frozen)
            drift();
        const std::array<quint16, liveRegisterCount> live{quint16(m_temperature), m_humidity,
                                                          quint16(dewPoint()), quint16(wetBulb())};
        QByteArray reply;
        reply.append(char(m_address));
        reply.append(char(function));
        reply.append(char(value * 2));
        for (int i = reg; i < reg + value; ++i)
            appendWord(reply, live[std::size_t(i)]);
        protocol::appendCrc(reply);
        return reply;
    }

    // Write single register.
    if (!toUs)
        return {};
    if (reg == frames::addressRegister) {
        if (value < 1 || value > highestAddress)
            return exceptionReply(request, exceptionIllegalValue);
        m_address = quint8(value);
        qCDebug(lcModule) << "simulated module: address now" << m_address;
        return request;
    }
    if (reg == frames::baudCodeRegister) {
        const std::optional<int> speed = protocol::speedOfBaudCode(value);
        if (!speed)
            return exceptionReply(request, exceptionIllegalValue);
        // The echo still goes out at the old speed; the caller reads lineSpeed() beforehand.
        m_lineSpeed = *speed;
        qCDebug(lcModule) << "simulated module: line speed now" << m_lineSpeed;
        return request;
    }
    return exceptionReply(request, exceptionIllegalAddress);
}

QByteArray Module::handleLogger(const QByteArray &request)
{
    const quint8 code = byteAt(request, 2);
    const int length = byteAt(request, 3);

    if (code == frames::codeReadDeviceInfo && length == 0)
        return deviceInfoFrame();
    if (code == frames::codeReadRecordConfig && length == 0)
        return recordConfigFrame();

    if (code == frames::codeWriteSerialNumber && length == 7) {
        const int modelIndex = byteAt(request, 4) - protocol::modelCodeBase;
        if (modelIndex < 0 || modelIndex >= protocol::modelCount)
            return {};
        m_model = Model(protocol::firstModelNumber + modelIndex);
        for (std::size_t i = 0; i < m_serial.size(); ++i)
            m_serial[i] = byteAt(request, 5 + int(i));
        QByteArray ack(frames::loggerOpen, sizeof frames::loggerOpen);
        ack.append(char(codeSerialNumberAck));
        ack.append('\0');
        ack.append(char(codeSerialNumberAck));
        ack.append(frames::loggerClose, sizeof frames::loggerClose);
        return ack;
    }

    if (code == frames::codeWriteRecordConfig && length == 0x1D) {
        if (recordCheckByte(request) != byteAt(request, 33)) {
            qCDebug(lcModule) << "simulated module: recording write with a bad check byte";
            return {};
        }
        const int mode = byteAt(request, 10) >> 5 & 3;
        const int interval = wordAt(request, 17);
        if (mode == 0 || interval == 0)
            return {};
        m_clockTime = longAt(request, 4);
        setRecording(mode, interval, longAt(request, 27));
        return recordConfigFrame();
    }
    return {};
}

void Module::setRecording(int mode, int sampleInterval, quint32 startTime)
{
    m_recordMode = mode;
    m_sampleInterval = sampleInterval;
    m_startTime = startTime;
}

QByteArray Module::deviceInfoFrame() const
{
    // 7B 22 0C 0E, firmware (2), model as four ASCII digits (bytes 6..9), address, baud code,
    // serial number (bytes 12..17), check byte (sum of bytes 2..17), 22 7D.
    QByteArray frame(frames::loggerOpen, sizeof frames::loggerOpen);
    frame.append(char(frames::codeDeviceInfoReply));
    frame.append(char(14));
    frame.append(char(firmwareMajor));
    frame.append(char(firmwareMinor));
    frame.append(QByteArray::number(int(m_model)).rightJustified(4, '0', true));
    frame.append(char(m_address));
    frame.append(char(protocol::baudCodeOfSpeed(m_lineSpeed).value_or(0)));
    for (quint8 byte : m_serial)
        frame.append(char(byte));
    quint8 check = 0;
    for (int i = 2; i < frame.size(); ++i)
        check = quint8(check + byteAt(frame, i));
    frame.append(char(check));
    frame.append(frames::loggerClose, sizeof frames::loggerClose);
    return frame;
}

QByteArray Module::recordConfigFrame() const
{
    // The layout of the tool's recording write, with the reply code: clock at 4..7, mode in
    // bits 5-6 of byte 10, interval at 17..18, start time at 27..30.
    static constexpr char fixedRange[] = {'\x03', '\x20', '\x01', '\x40'};
    QByteArray frame(frames::loggerOpen, sizeof frames::loggerOpen);
    frame.append(char(frames::codeRecordConfigReply));
    frame.append(char(0x1D));
    appendLong(frame, m_clockTime);
    frame.append(2, '\0');
    frame.append(char((m_recordMode & 3) << 5));
    frame.append(4, '\0');
    frame.append(2, '\xFF');
    appendWord(frame, quint16(m_sampleInterval));
    frame.append(fixedRange, sizeof fixedRange);
    frame.append(fixedRange, sizeof fixedRange);
    appendLong(frame, m_startTime);
    frame.append(2, '\0');
    frame.append(char(recordCheckByte(frame)));
    frame.append(frames::loggerClose, sizeof frames::loggerClose);
    return frame;
}

QByteArray Module::measurementReply() const
{
    QByteArray reply;
    reply.append(char(m_address));
    reply.append(char(frames::functionReadHolding));
    reply.append(char(m_wetBulbReply ? 9 : 6));
    appendWord(reply, quint16(m_temperature));
    appendWord(reply, m_humidity);
    appendWord(reply, quint16(dewPoint()));
    if (m_wetBulbReply) {
        appendWord(reply, quint16(wetBulb()));
        reply.append('\0'); // status byte: no sensor fault
    }
    protocol::appendCrc(reply);
    return reply;
}

qint16 Module::dewPoint() const
{
    return m_dewPointOverride.value_or(dewPointTenths(m_temperature, m_humidity));
}

qint16 Module::wetBulb() const
{
    return wetBulbTenths(m_temperature, m_humidity);
}

void Module::drift()
{
    // A mean-reverting random walk: each step moves a little, biased back towards rest.
    // The raw generator output is used so that a seed gives the same walk on every platform.
    const auto step = [this](int value, int rest, int width) {
        int delta = int(m_drift() % quint32(2 * width + 1)) - width;
        if (value > rest + 10 * width)
            delta -= 1;
        else if (value < rest - 10 * width)
            delta += 1;
        return value + delta;
    };
    m_temperature =
        qint16(std::clamp(step(m_temperature, restingTemperature, temperatureStep), -400, 1250));
    m_humidity = quint16(std::clamp(step(m_humidity, restingHumidity, humidityStep), 0, 1000));
}

qint16 dewPointTenths(qint16 temperature, quint16 humidity)
{
    constexpr double b = 17.62;
    constexpr double c = 243.12;
    const double t = temperature / 10.0;
    const double rh = std::clamp(humidity / 10.0, 0.1, 100.0); // ln(0) has no dew point
    const double gamma = std::log(rh / 100.0) + b * t / (c + t);
    return qint16(std::lround(10.0 * c * gamma / (b - gamma)));
}

qint16 wetBulbTenths(qint16 temperature, quint16 humidity)
{
    const double t = temperature / 10.0;
    const double rh = std::clamp(humidity / 10.0, 0.0, 100.0);
    const double tw = t * std::atan(0.151977 * std::sqrt(rh + 8.313659)) + std::atan(t + rh) -
                      std::atan(rh - 1.676331) +
                      0.00391838 * std::pow(rh, 1.5) * std::atan(0.023101 * rh) - 4.686035;
    // The fit strays a little above the dry bulb near saturation; wet bulb never exceeds it.
    return qint16(std::min(std::lround(10.0 * tw), long(temperature)));
}

} // namespace modsim
