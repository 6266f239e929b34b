#include "simulatedmodule.h"

#include "protocol/frames.h"
#include "protocol/logging.h"
#include "pseudoterminal.h"

#include <QTimer>

#include <algorithm>
#include <chrono>

namespace modsim {

namespace {

using namespace std::chrono_literals;

// A pause this long ends a half-received request, as silence on a Modbus line does.
constexpr auto requestGap = 300ms;
// The noise flood writes this often, far below the tool's 500 ms clear-out.
constexpr auto floodTick = 10ms;
// Ten bits a byte on the wire: start, eight data, stop.
constexpr int bitsPerByte = 10;

} // namespace

SimulatedModule::SimulatedModule(QObject *parent)
    : QObject(parent), m_pty(new PseudoTerminal(this)), m_floodTimer(new QTimer(this))
{
    connect(m_pty, &PseudoTerminal::readyRead, this, &SimulatedModule::onReadyRead);
    m_floodTimer->setInterval(floodTick);
    connect(m_floodTimer, &QTimer::timeout, this, &SimulatedModule::onFloodTick);
    reseed();
}

SimulatedModule::~SimulatedModule() = default;

bool SimulatedModule::start(const QString &linkPath)
{
    m_linkPath = linkPath;
    m_framer.discardPending();
    reseed();
    ++m_generation;
    return m_pty->open(linkPath);
}

void SimulatedModule::stop()
{
    stopNoiseFlood();
    ++m_generation;
    m_pty->close();
}

bool SimulatedModule::isRunning() const
{
    return m_pty->isOpen();
}

QString SimulatedModule::portName() const
{
    return m_pty->portName();
}

QString SimulatedModule::errorString() const
{
    return m_pty->errorString();
}

void SimulatedModule::vanish()
{
    qCDebug(lcWire) << "simulated module: line gone";
    stopNoiseFlood();
    ++m_generation; // replies still scheduled would go to a line that is no longer there
    m_pty->close();
}

bool SimulatedModule::restore()
{
    qCDebug(lcWire) << "simulated module: line back";
    m_framer.discardPending();
    ++m_generation;
    return m_pty->open(m_linkPath);
}

void SimulatedModule::reseed()
{
    m_random.seed(m_faults.seed);
}

void SimulatedModule::clearLog()
{
    m_requests.clear();
    m_replies.clear();
}

void SimulatedModule::startNoiseFlood(int bytesPerSecond)
{
    const qint64 perTick = qint64(bytesPerSecond) * qint64(floodTick.count()) / 1000;
    m_floodBytesPerTick = int(std::clamp<qint64>(perTick, 1, 65536));
    m_floodTimer->start();
}

void SimulatedModule::stopNoiseFlood()
{
    m_floodTimer->stop();
}

void SimulatedModule::onFloodTick()
{
    m_pty->write(randomBytes(m_floodBytesPerTick));
}

void SimulatedModule::onReadyRead()
{
    const QByteArray bytes = m_pty->readAll();
    if (bytes.isEmpty())
        return;
    if (m_sinceArrival.isValid() && m_sinceArrival.elapsed() >= requestGap.count())
        m_framer.discardPending();
    m_sinceArrival.start();

    // At a different speed the module's receiver sees only framing errors.
    const int farSpeed = m_pty->lineSpeed();
    if (m_faults.honourLineSpeed && farSpeed != 0 && farSpeed != m_module.lineSpeed()) {
        qCDebug(lcWire) << "simulated module: ignored at" << farSpeed << "bit/s" << bytes.toHex();
        m_framer.discardPending();
        emit bytesIgnored(bytes, farSpeed);
        return;
    }

    m_framer.feed(bytes);
    while (const std::optional<QByteArray> request = m_framer.next()) {
        qCDebug(lcWire) << "simulated module RX" << request->toHex();
        m_requests.append(*request);
        emit requestReceived(*request);
        answer(*request);
    }
}

void SimulatedModule::answer(const QByteArray &request)
{
    if (m_faults.silent)
        return;
    // The reply goes out at the speed the request came in at, even when it changes the speed.
    const int speed = m_module.lineSpeed();

    QByteArray reply;
    const bool addressed =
        Module::isModbusRequest(request) && (quint8(request.at(0)) == frames::broadcastAddress ||
                                             quint8(request.at(0)) == m_module.address());
    if (m_faults.exceptionCode != 0 && addressed)
        reply = Module::exceptionReply(request, quint8(m_faults.exceptionCode));
    else
        reply = m_module.handle(request);
    if (reply.isEmpty())
        return;

    if (roll(m_faults.dropShare)) {
        qCDebug(lcWire) << "simulated module: reply dropped" << reply.toHex();
        return;
    }
    if (roll(m_faults.corruptShare)) {
        const auto at = int(m_random() % quint32(reply.size()));
        reply[at] = char(reply.at(at) ^ char(1 << (m_random() % 8)));
    }
    if (m_faults.noiseBytes > 0)
        reply.prepend(randomBytes(m_faults.noiseBytes));

    int delayMs = qMax(0, m_faults.lateMs);
    if (m_faults.realisticTiming && speed > 0)
        delayMs += int(qint64(reply.size()) * bitsPerByte * 1000 / speed);
    send(reply, delayMs);
}

void SimulatedModule::send(const QByteArray &reply, int delayMs)
{
    int cut = reply.size();
    if (reply.size() >= 2 && roll(m_faults.splitShare))
        cut = 1 + int(m_random() % quint32(reply.size() - 1));

    const quint64 generation = m_generation;
    const auto writePiece = [this, generation, reply](int from, int to) {
        if (generation != m_generation)
            return;
        m_pty->write(reply.mid(from, to - from));
        if (to == reply.size()) {
            qCDebug(lcWire) << "simulated module TX" << reply.toHex();
            m_replies.append(reply);
            emit replySent(reply);
        }
    };

    if (delayMs == 0)
        writePiece(0, cut);
    else
        QTimer::singleShot(delayMs, this, [writePiece, cut] { writePiece(0, cut); });
    if (cut < reply.size()) {
        const int size = int(reply.size());
        QTimer::singleShot(delayMs + qMax(0, m_faults.splitGapMs), this,
                           [writePiece, cut, size] { writePiece(cut, size); });
    }
}

bool SimulatedModule::roll(double share)
{
    if (share <= 0.0)
        return false;
    if (share >= 1.0)
        return true;
    // The raw generator keeps a seed's dice the same on every platform.
    return double(m_random()) / double(std::mt19937::max()) < share;
}

QByteArray SimulatedModule::randomBytes(int count)
{
    QByteArray bytes;
    bytes.reserve(count);
    for (int i = 0; i < count; ++i)
        bytes.append(char(m_random() & 0xFF));
    return bytes;
}

} // namespace modsim
