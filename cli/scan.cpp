#include "cli/scan.h"

#include "cli/format.h"
#include "cli/linetiming.h"
#include "cli/options.h"
#include "cli/output.h"
#include "protocol/frames.h"

#include <QJsonObject>
#include <QStringList>

namespace cli {

namespace {

using namespace std::chrono;
using protocol::RequestKind;

// Width of the progress bar in characters.
constexpr int barWidth = 16; // the whole line stays within 80 columns

QString secondsText(microseconds duration, int decimals)
{
    return QString::number(double(duration.count()) / 1e6, 'f', decimals);
}

} // namespace

QString durationText(microseconds duration)
{
    const auto whole = duration_cast<seconds>(duration);
    if (whole.count() < 60)
        return secondsText(duration, 1) + QStringLiteral(" s");
    return QStringLiteral("%1 min %2 s").arg(whole.count() / 60).arg(whole.count() % 60);
}

Scan::Scan(const Invocation &invocation, Output &output, ModuleLink &link)
    : m_invocation(invocation), m_output(output), m_link(link)
{
}

microseconds Scan::timeLeft(int speedIndex, int done) const
{
    // Every address unanswered: the longest the rest can take.
    microseconds left{0};
    const QList<int> &speeds = m_invocation.scanSpeeds;
    const int perSpeed = int(m_invocation.scanAddresses.size());
    for (int i = speedIndex; i < speeds.size(); ++i) {
        const int addresses = i == speedIndex ? perSpeed - done : perSpeed;
        left += addresses * silentAddressWait(speeds.at(i), m_link.margin());
    }
    return left;
}

int Scan::run()
{
    const QList<int> &speeds = m_invocation.scanSpeeds;
    const QList<int> &addresses = m_invocation.scanAddresses;
    QStringList speedTexts;
    for (int speed : speeds)
        speedTexts.append(QString::number(speed));
    m_output.message(QStringLiteral("scanning %1 address%2 at %3 bit/s: at most %4%5")
                         .arg(addresses.size())
                         .arg(addresses.size() == 1 ? QString() : QStringLiteral("es"))
                         .arg(speedTexts.join(QStringLiteral(", ")), durationText(timeLeft(0, 0)),
                              m_output.progressIsLive()
                                  ? QStringLiteral("; Ctrl-C stops and keeps what was found")
                                  : QString()));
    m_clock.start();

    for (int s = 0; s < speeds.size(); ++s) {
        const int speed = speeds.at(s);
        if (!m_link.setSpeed(speed)) {
            m_output.message(m_link.openError());
            return exitPort;
        }
        if (!m_output.progressIsLive())
            m_output.progress(QStringLiteral("scanning at %1 bit/s").arg(speed));
        for (int i = 0; i < addresses.size(); ++i) {
            const int address = addresses.at(i);
            if (m_output.progressIsLive())
                showProgress(s, i, address);
            m_sent.insert(address, {speed, steady_clock::now()});
            const Exchange exchange =
                m_link.exchange(RequestKind::Measurement,
                                frames::measurementRequest(quint8(address)), quint8(address));
            handle(address, exchange, silentAddressWait(speed, m_link.margin()));

            if (exchange.outcome == Outcome::PortLost) {
                m_output.message(
                    m_link.lostMessage() +
                    QStringLiteral(" (%1 module%2 found before)")
                        .arg(m_clean + m_troubled)
                        .arg(m_clean + m_troubled == 1 ? QString() : QStringLiteral("s")));
                return exitPort;
            }
            if (exchange.outcome == Outcome::Interrupted) {
                const int found = m_clean + m_troubled;
                m_output.message(QStringLiteral("scan interrupted at %1 bit/s, address %2, "
                                                "after %3: %4 module%5 found")
                                     .arg(speed)
                                     .arg(address)
                                     .arg(durationText(duration_cast<microseconds>(
                                         milliseconds(m_clock.elapsed()))))
                                     .arg(found)
                                     .arg(found == 1 ? QString() : QStringLiteral("s")));
                return exitInterrupted;
            }
        }
    }
    m_output.endProgress();

    const QString took = durationText(duration_cast<microseconds>(milliseconds(m_clock.elapsed())));
    if (m_clean + m_troubled == 0) {
        m_output.message(QStringLiteral("no module answered in %1: check the bus wiring (A, B and "
                                        "ground), its termination, and the modules' power")
                             .arg(took));
        return exitFailed;
    }
    m_output.message(QStringLiteral("scan done in %1: %2 module%3 found%4")
                         .arg(took)
                         .arg(m_clean)
                         .arg(m_clean == 1 ? QString() : QStringLiteral("s"))
                         .arg(m_troubled > 0
                                  ? QStringLiteral(", and %1 address%2 with a damaged or "
                                                   "refused reply")
                                        .arg(m_troubled)
                                        .arg(m_troubled == 1 ? QString() : QStringLiteral("es"))
                                  : QString()));
    return m_troubled > 0 ? exitFailed : exitDone;
}

void Scan::handle(int address, const Exchange &exchange, microseconds waited)
{
    // Replies of modules that answered after their wait: each carries its own address.
    for (const Stray &stray : exchange.strays) {
        const protocol::Reply &reply = stray.reply;
        if (reply.kind != protocol::ReplyKind::Measurement &&
            reply.kind != protocol::ReplyKind::MeasurementWithWetBulb)
            continue;
        const int from = quint8(reply.frame.at(0));
        const auto sent = m_sent.constFind(from);
        if (sent == m_sent.constEnd())
            continue;
        const auto after = duration_cast<microseconds>(stray.at - sent->at);
        found(sent->speed, from, sampleOf(&reply, from), QStringLiteral("late"),
              QStringLiteral("answered after %1 s, later than the %2 s waited: raise --margin "
                             "for this bus")
                  .arg(secondsText(after, 2), secondsText(waited, 3)));
    }

    const int speed = m_link.speed();
    switch (exchange.outcome) {
    case Outcome::Answered:
        found(speed, address, sampleOf(&exchange.reply, address), QStringLiteral("ok"), QString());
        break;
    case Outcome::Damaged:
        found(speed, address, sampleOf(nullptr, address), QStringLiteral("damaged reply"),
              QStringLiteral("possible address collision: several modules with address %1?")
                  .arg(address));
        break;
    case Outcome::Refused:
        found(speed, address, sampleOf(nullptr, address), QStringLiteral("refused"),
              QStringLiteral("a module is there but refused the measurement request (Modbus "
                             "exception %1)")
                  .arg(exchange.reply.frame.size() > 2 ? quint8(exchange.reply.frame.at(2)) : 0));
        break;
    default:
        break;
    }
}

void Scan::found(int speed, int address, const samples::Sample &sample, const QString &status,
                 const QString &note)
{
    if (m_reported.contains({speed, address}))
        return;
    m_reported.insert({speed, address});
    const bool clean = status == QLatin1String("ok") || status == QLatin1String("late");
    (clean ? m_clean : m_troubled) += 1;

    if (m_output.json()) {
        QJsonObject object{{QStringLiteral("port"), m_invocation.port},
                           {QStringLiteral("speed"), speed},
                           {QStringLiteral("address"), address}};
        addMeasurement(object, sample);
        object.insert(QStringLiteral("status"), status);
        if (!note.isEmpty())
            object.insert(QStringLiteral("note"), note);
        m_output.result(object);
        return;
    }
    QString line = QStringLiteral("speed %1 address %2  ").arg(speed).arg(address);
    line += sample.isGap() ? status : measurementText(sample);
    if (!note.isEmpty())
        line += QStringLiteral(" (%1)").arg(note);
    m_output.result(line);
}

void Scan::showProgress(int speedIndex, int done, int address)
{
    const int perSpeed = int(m_invocation.scanAddresses.size());
    const int total = perSpeed * int(m_invocation.scanSpeeds.size());
    const int doneAll = speedIndex * perSpeed + done;
    const int filled = total > 0 ? doneAll * barWidth / total : 0;
    m_output.progress(
        QStringLiteral("[%1%2] %3 %  %4 bit/s  address %5  %6 found  %7 left")
            .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('.')))
            .arg(total > 0 ? doneAll * 100 / total : 0, 3)
            .arg(m_invocation.scanSpeeds.at(speedIndex))
            .arg(address, 3)
            .arg(m_clean + m_troubled)
            .arg(durationText(timeLeft(speedIndex, done))));
}

} // namespace cli
