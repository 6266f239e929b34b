#include "cli/scan.h"

#include "cli/format.h"
#include "cli/options.h"
#include "cli/output.h"

#include <QEventLoop>
#include <QJsonObject>
#include <QStringList>

namespace cli {

namespace {

using namespace std::chrono;

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

Scan::Scan(const Invocation &invocation, Output &output, bus::Link &link)
    : m_invocation(invocation), m_output(output), m_link(link), m_scanner(link)
{
}

int Scan::run()
{
    const QList<int> &speeds = m_invocation.scanSpeeds;
    const QList<int> &addresses = m_invocation.scanAddresses;
    QStringList speedTexts;
    for (int speed : speeds)
        speedTexts.append(QString::number(speed));

    QEventLoop loop;
    bus::Scanner::End end = bus::Scanner::End::Done;
    QObject::connect(&m_scanner, &bus::Scanner::found, &loop,
                     [this](const bus::ScanHit &hit) { found(hit); });
    QObject::connect(&m_scanner, &bus::Scanner::progress, &loop,
                     [this](int done) { showProgress(done); });
    QObject::connect(&m_scanner, &bus::Scanner::finished, &loop, [&](bus::Scanner::End how) {
        end = how;
        loop.quit();
    });
    m_scanner.setRange(addresses, speeds);
    m_output.message(QStringLiteral("scanning %1 address%2 at %3 bit/s: at most %4%5")
                         .arg(addresses.size())
                         .arg(addresses.size() == 1 ? QString() : QStringLiteral("es"))
                         .arg(speedTexts.join(QStringLiteral(", ")),
                              durationText(m_scanner.timeLeft(0)),
                              m_output.progressIsLive()
                                  ? QStringLiteral("; Ctrl-C stops and keeps what was found")
                                  : QString()));
    m_clock.start();
    m_scanner.start();
    if (m_scanner.isRunning())
        loop.exec();

    const int foundCount = m_clean + m_troubled;
    switch (end) {
    case bus::Scanner::End::SpeedRefused:
        m_output.message(m_link.openError());
        return exitPort;
    case bus::Scanner::End::PortLost:
        m_output.message(m_link.lostMessage() +
                         QStringLiteral(" (%1 module%2 found before)")
                             .arg(foundCount)
                             .arg(foundCount == 1 ? QString() : QStringLiteral("s")));
        return exitPort;
    case bus::Scanner::End::Cancelled:
        m_output.message(
            QStringLiteral("scan interrupted at %1 bit/s, address %2, after %3: %4 module%5 found")
                .arg(m_scanner.speed())
                .arg(m_scanner.address())
                .arg(durationText(duration_cast<microseconds>(milliseconds(m_clock.elapsed()))))
                .arg(foundCount)
                .arg(foundCount == 1 ? QString() : QStringLiteral("s")));
        return exitInterrupted;
    case bus::Scanner::End::Done:
        break;
    }
    m_output.endProgress();

    const QString took = durationText(duration_cast<microseconds>(milliseconds(m_clock.elapsed())));
    if (foundCount == 0) {
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

void Scan::found(const bus::ScanHit &hit)
{
    (hit.isClean() ? m_clean : m_troubled) += 1;
    QString status;
    QString note;
    switch (hit.status) {
    case bus::ScanHit::Status::Answered:
        status = QStringLiteral("ok");
        break;
    case bus::ScanHit::Status::Late:
        status = QStringLiteral("late");
        note = QStringLiteral("answered after %1 s, later than the %2 s waited: raise --margin "
                              "for this bus")
                   .arg(secondsText(hit.after, 2), secondsText(hit.waited, 3));
        break;
    case bus::ScanHit::Status::Damaged:
        status = QStringLiteral("damaged reply");
        note = QStringLiteral("possible address collision: several modules with address %1?")
                   .arg(hit.address);
        break;
    case bus::ScanHit::Status::Refused:
        status = QStringLiteral("refused");
        note = QStringLiteral("a module is there but refused the measurement request (Modbus "
                              "exception %1)")
                   .arg(hit.exceptionCode);
        break;
    }

    if (m_output.json()) {
        QJsonObject object{{QStringLiteral("port"), m_invocation.port},
                           {QStringLiteral("speed"), hit.speed},
                           {QStringLiteral("address"), hit.address}};
        addMeasurement(object, hit.sample);
        object.insert(QStringLiteral("status"), status);
        if (!note.isEmpty())
            object.insert(QStringLiteral("note"), note);
        m_output.result(object);
        return;
    }
    QString line = QStringLiteral("speed %1 address %2  ").arg(hit.speed).arg(hit.address);
    line += hit.sample.isGap() ? status : measurementText(hit.sample);
    if (!note.isEmpty())
        line += QStringLiteral(" (%1)").arg(note);
    m_output.result(line);
}

void Scan::showProgress(int done)
{
    if (!m_output.progressIsLive()) {
        // One line a speed where the progress cannot redraw itself.
        const int perSpeed = int(m_invocation.scanAddresses.size());
        if (perSpeed > 0 && done % perSpeed == 0)
            m_output.progress(QStringLiteral("scanning at %1 bit/s").arg(m_scanner.speed()));
        return;
    }
    const int total = m_scanner.requestsTotal();
    const int filled = total > 0 ? done * barWidth / total : 0;
    m_output.progress(
        QStringLiteral("[%1%2] %3 %  %4 bit/s  address %5  %6 found  %7 left")
            .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('.')))
            .arg(total > 0 ? done * 100 / total : 0, 3)
            .arg(m_scanner.speed())
            .arg(m_scanner.address(), 3)
            .arg(m_clean + m_troubled)
            .arg(durationText(m_scanner.timeLeft(done))));
}

} // namespace cli
