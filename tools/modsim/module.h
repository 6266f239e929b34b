#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <array>
#include <optional>
#include <random>

namespace modsim {

// Cuts whole requests out of the bytes the tool writes, however they are chunked. A Modbus
// request is eight bytes with function 0x03 or 0x06 and a matching CRC; a logger request opens
// with 7B 22, is L + 7 bytes long (7, 14 or 36) and closes with 22 7D. Anything else is skipped
// a byte at a time. At most one incomplete candidate is kept, so the buffer stays short.
class RequestFramer
{
public:
    void feed(const QByteArray &bytes);
    // The next whole request, or nothing while the buffer holds none.
    std::optional<QByteArray> next();
    // Bytes kept while a request may still be arriving.
    QByteArray pending() const { return m_buffer; }
    // A pause on the line ends whatever was half received.
    void discardPending() { m_buffer.clear(); }

private:
    QByteArray m_buffer;
};

enum class Model { Sht2x = 8132, Sht3x = 8133 };

// The module's behaviour with no I/O: a request in, the reply bytes out. Live values are held
// in tenths and drift with every measurement read unless frozen.
class Module
{
public:
    explicit Module(quint32 driftSeed = 1);

    // The reply to one whole request; empty when the module stays silent. Changes of address,
    // speed, serial number and recording configuration take effect for the next request.
    QByteArray handle(const QByteArray &request);

    // The Modbus exception reply to `request`: its address, function | 0x80, the code, CRC.
    static QByteArray exceptionReply(const QByteArray &request, quint8 code);
    static bool isModbusRequest(const QByteArray &request);
    // A request that changes what the module keeps: a Modbus single-register write, or a
    // logger frame longer than the two reads.
    static bool isWrite(const QByteArray &request);

    quint8 address() const { return m_address; }
    void setAddress(quint8 address) { m_address = address; }
    int lineSpeed() const { return m_lineSpeed; }
    void setLineSpeed(int bitsPerSecond) { m_lineSpeed = bitsPerSecond; }
    Model model() const { return m_model; }
    void setModel(Model model) { m_model = model; }
    std::array<quint8, 6> serialNumber() const { return m_serial; }
    void setSerialNumber(const std::array<quint8, 6> &bytes) { m_serial = bytes; }

    int recordMode() const { return m_recordMode; }
    int sampleInterval() const { return m_sampleInterval; }
    quint32 startTime() const { return m_startTime; }
    quint32 clockTime() const { return m_clockTime; }
    void setRecording(int mode, int sampleInterval, quint32 startTime = 0);

    // Measurement replies with four values (byte count 9, wet bulb last) instead of three.
    bool wetBulbReply() const { return m_wetBulbReply; }
    void setWetBulbReply(bool on) { m_wetBulbReply = on; }

    qint16 temperature() const { return m_temperature; }
    quint16 humidity() const { return m_humidity; }
    qint16 dewPoint() const;
    qint16 wetBulb() const;
    void setTemperature(qint16 tenths) { m_temperature = tenths; }
    void setHumidity(quint16 tenths) { m_humidity = tenths; }
    // A dew point the module reports whatever the air: a faulty sensor's, above the temperature.
    void setDewPointOverride(std::optional<qint16> tenths) { m_dewPointOverride = tenths; }
    bool frozen() const { return m_frozen; }
    void setFrozen(bool frozen) { m_frozen = frozen; }
    void setDriftSeed(quint32 seed) { m_drift.seed(seed); }
    // One step of the random walk the live values take.
    void drift();

    // The module's logger frames, also usable by tests to build expected bytes.
    QByteArray deviceInfoFrame() const;
    QByteArray recordConfigFrame() const;
    QByteArray measurementReply() const;

private:
    QByteArray handleModbus(const QByteArray &request);
    QByteArray handleLogger(const QByteArray &request);

    quint8 m_address = 1;
    int m_lineSpeed = 9600;
    Model m_model = Model::Sht3x;
    std::array<quint8, 6> m_serial{0x24, 0x05, 0x17, 0x10, 0x30, 0x01};
    int m_recordMode = 1;
    int m_sampleInterval = 60;
    quint32 m_startTime = 0;
    quint32 m_clockTime = 0;
    bool m_wetBulbReply = false;
    qint16 m_temperature = 235;
    quint16 m_humidity = 550;
    bool m_frozen = false;
    std::optional<qint16> m_dewPointOverride;
    std::mt19937 m_drift;
};

// Dew point (Magnus formula) and wet-bulb temperature (Stull's fit), all in tenths.
qint16 dewPointTenths(qint16 temperature, quint16 humidity);
qint16 wetBulbTenths(qint16 temperature, quint16 humidity);

} // namespace modsim
