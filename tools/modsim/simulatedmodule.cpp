#include "simulatedmodule.h"

#include "protocol/frames.h"
#include "protocol/logging.h"
#include "pseudoterminal.h"
#include "tcpline.h"

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

SimulatedModule::SimulatedModule(QObject *parent) : QObject(parent), m_floodTimer(new QTimer(this))
{
    useLine(new PseudoTerminal(this));
    m_floodTimer->setInterval(floodTick);
    connect(m_floodTimer, &QTimer::timeout, this, &SimulatedModule::onFloodTick);
    reseed();
}

SimulatedModule::~SimulatedModule() = default;

void SimulatedModule::useLine(Line *line)
{
    delete m_line;
    m_line = line;
    connect(m_line, &Line::readyRead, this, &SimulatedModule::onReadyRead);
    connect(m_line, &Line::note, this, &SimulatedModule::lineNote);
}

bool SimulatedModule::start(const QString &linkPath)
{
    m_framer.discardPending();
    reseed();
    ++m_generation;
    m_sinceStart.start();
    auto *pty = new PseudoTerminal(this);
    useLine(pty);
    return pty->open(linkPath);
}

bool SimulatedModule::startTcp(const QHostAddress &address, quint16 port)
{
    m_framer.discardPending();
    reseed();
    ++m_generation;
    m_sinceStart.start();
    auto *tcp = new TcpLine(this);
    tcp->setSerialSpeed(module().lineSpeed());
    useLine(tcp);
    return tcp->listen(address, port);
}

void SimulatedModule::stop()
{
    stopNoiseFlood();
    ++m_generation;
    m_line->close();
}

bool SimulatedModule::isRunning() const
{
    return m_line->isOpen();
}

QString SimulatedModule::portName() const
{
    return m_line->portName();
}

QString SimulatedModule::errorString() const
{
    return m_line->errorString();
}

void SimulatedModule::vanish()
{
    qCDebug(lcWire) << "simulated module: line gone";
    stopNoiseFlood();
    ++m_generation; // replies still scheduled would go to a line that is no longer there
    m_line->close();
}

bool SimulatedModule::restore()
{
    qCDebug(lcWire) << "simulated module: line back";
    m_framer.discardPending();
    ++m_generation;
    return m_line->reopen();
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
    m_line->write(randomBytes(m_floodBytesPerTick));
}

void SimulatedModule::onReadyRead()
{
    const QByteArray bytes = m_line->readAll();
    if (bytes.isEmpty())
        return;
    if (m_sinceArrival.isValid() && m_sinceArrival.elapsed() >= requestGap.count())
        m_framer.discardPending();
    m_sinceArrival.start();

    // At a different speed a module's receiver sees only framing errors.
    const int farSpeed = m_line->lineSpeed();
    const bool anyoneListens =
        std::any_of(m_stations.begin(), m_stations.end(),
                    [&](const Station &station) { return station.module.lineSpeed() == farSpeed; });
    if (m_faults.honourLineSpeed && farSpeed != 0 && !anyoneListens) {
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

Station &SimulatedModule::addModule(const Module &module)
{
    m_stations.push_back(Station{module});
    return m_stations.back();
}

bool SimulatedModule::hears(const Station &station, const QByteArray &request, int farSpeed) const
{
    if (m_faults.honourLineSpeed && farSpeed != 0 && farSpeed != station.module.lineSpeed())
        return false;
    // A lone module keeps its habit of answering the address read whatever address it carries.
    if (m_stations.size() == 1 || !Module::isModbusRequest(request))
        return true;
    const quint8 slave = quint8(request.at(0));
    return slave == frames::broadcastAddress || slave == station.module.address();
}

void SimulatedModule::answer(const QByteArray &request)
{
    if (m_faults.silent)
        return;
    const int farSpeed = m_line->lineSpeed();

    struct Transmission
    {
        int startMs;
        QByteArray bytes;
    };
    QList<Transmission> transmissions;
    int speed = 0;
    for (Station &station : m_stations) {
        if (station.isQuietAt(m_sinceStart.elapsed()) || !hears(station, request, farSpeed))
            continue;
        Module &module = station.module;
        // The reply goes out at the speed the request came in at, even when it changes the speed.
        speed = module.lineSpeed();
        const bool addressed = Module::isModbusRequest(request) &&
                               (quint8(request.at(0)) == frames::broadcastAddress ||
                                quint8(request.at(0)) == module.address());
        QByteArray reply;
        if (m_faults.exceptionCode != 0 && addressed) {
            reply = Module::exceptionReply(request, quint8(m_faults.exceptionCode));
        } else if (m_faults.forgetWrites && Module::isWrite(request)) {
            Module forgetful = module;
            reply = forgetful.handle(request);
        } else {
            reply = module.handle(request);
        }
        if (!reply.isEmpty())
            transmissions.append({qMax(0, m_faults.lateMs) + qMax(0, station.lateMs), reply});
    }
    if (transmissions.isEmpty())
        return;

    // Replies that overlap in time collide: on RS-485 a driven 0 wins over a 1, so the line
    // carries the AND of the bytes on it at each moment. Replies apart in time stay apart.
    std::stable_sort(
        transmissions.begin(), transmissions.end(),
        [](const Transmission &a, const Transmission &b) { return a.startMs < b.startMs; });
    const auto bytesIn = [speed](int ms) {
        return speed > 0 ? int(qint64(ms) * speed / (1000 * bitsPerByte)) : 0;
    };
    Transmission burst = transmissions.takeFirst();
    for (const Transmission &next : transmissions) {
        const int offset = bytesIn(next.startMs - burst.startMs);
        if (offset >= burst.bytes.size()) {
            transmit(burst.bytes, burst.startMs, speed);
            burst = next;
            continue;
        }
        for (int i = 0; i < next.bytes.size(); ++i) {
            if (offset + i < burst.bytes.size())
                burst.bytes[offset + i] = char(burst.bytes.at(offset + i) & next.bytes.at(i));
            else
                burst.bytes.append(next.bytes.at(i));
        }
    }
    transmit(burst.bytes, burst.startMs, speed);
}

void SimulatedModule::transmit(QByteArray reply, int startMs, int speed)
{
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

    int delayMs = startMs;
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
        m_line->write(reply.mid(from, to - from));
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
