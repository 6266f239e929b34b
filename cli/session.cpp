#include "cli/session.h"

#include "bus/serialnames.h"
#include "cli/format.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/scan.h"
#include "cli/watch.h"
#include "protocol/frames.h"
#include "protocol/tables.h"
#include "samples/csv.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonValue>
#include <QSerialPortInfo>

#include <algorithm>

namespace cli {

namespace {

using protocol::RequestKind;
using namespace std::chrono;

// After a line-speed change the window talks to the module at the new speed 500 ms after the
// request; the module must be listening by then. Read-backs are tried until this has passed.
constexpr auto speedSwitchOver = 500ms;
// The pause between read-back attempts at the new speed.
constexpr auto switchRetryPause = 20ms;

QString hexOfSerial(const QString &digits)
{
    const auto bytes = frames::serialNumberBytes(digits);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex());
}

} // namespace

Session::Session(const Invocation &invocation, Output &output)
    : m_invocation(invocation), m_output(output), m_link(invocation.margin)
{
    m_link.setTracing(invocation.verbose);
    QObject::connect(&m_link, &bus::Link::traced, &m_link,
                     [this](const QString &line) { m_output.trace(line); });
    // Ctrl-C cuts a wait short, except in watch, which finishes the slot under way.
    if (invocation.command != Command::Watch) {
        QObject::connect(&Interrupt::instance(), &Interrupt::triggered, &m_link,
                         &bus::Link::interrupt);
        if (Interrupt::instance().requested())
            m_link.interrupt();
    }
}

int Session::run()
{
    switch (m_invocation.command) {
    case Command::Ports:
        return ports();
    case Command::Probe:
        return probe();
    case Command::Info:
        return info();
    case Command::Read:
        return read();
    case Command::SetAddress:
        return singleStep(&Session::stepAddress);
    case Command::SetBaud:
        return singleStep(&Session::stepBaud);
    case Command::SetSerial:
        return singleStep(&Session::stepSerial);
    case Command::Record:
        return record();
    case Command::Scan:
        if (!m_link.open(m_invocation.port, m_invocation.scanSpeeds.first())) {
            m_output.message(m_link.openError());
            return exitPort;
        }
        return Scan(m_invocation, m_output, m_link).run();
    case Command::Provision:
        return provision();
    case Command::Watch:
        return watch();
    }
    return exitUsage;
}

int Session::watch()
{
    if (!m_link.open(m_invocation.port, *m_invocation.speed)) {
        m_output.message(m_link.openError());
        return exitPort;
    }
    return watchBus(m_invocation, m_output, m_link);
}

// --- finding the module ---------------------------------------------------------------------

bool Session::openLink(int speed)
{
    if (m_link.isLost() || m_link.speed() != 0 || m_link.open(m_invocation.port, speed))
        return true;
    fail({exitPort, QStringLiteral("port cannot be opened"), m_link.openError()});
    return false;
}

bool Session::find(Need need, std::optional<int> speed, bool writes)
{
    if (!openLink(speed.value_or(m_invocation.network ? networkWaitSpeed
                                                      : protocol::probeSpeeds.front())))
        return false;
    if (!speed && m_invocation.network) {
        if (!probeSpeeds({networkWaitSpeed}))
            return false;
        m_speed = 0; // the converter's, and not known here
    } else if (speed) {
        // A given speed is taken as it is: the command's own request finds out soon enough.
        if (!m_link.setSpeed(*speed)) {
            fail({exitPort, QStringLiteral("port cannot be set"), m_link.openError()});
            return false;
        }
        m_speed = *speed;
    } else if (!probeSpeeds(
                   QList<int>(protocol::probeSpeeds.begin(), protocol::probeSpeeds.end()))) {
        return false;
    }
    // Measurements go to -a as given: only that module's replies are taken, and they confirm it.
    if (need == Need::Address && m_invocation.address)
        return true;

    if (!m_addressRead) {
        const Exchange exchange = ask(RequestKind::ReadAddress, frames::readAddressRequest());
        if (exchange.outcome == Outcome::Damaged && need == Need::OneModule) {
            fail({exitFailed, QStringLiteral("several modules"),
                  QStringLiteral("the address read through address 0 brought a damaged reply: "
                                 "several modules on %1 seem to answer it. %2")
                      .arg(m_invocation.port,
                           writes ? QStringLiteral("This command writes through address 0 (or "
                                                   "in logger frames), which every module on "
                                                   "the line would take: connect the module "
                                                   "alone")
                                  : QStringLiteral("This command reads in logger frames, which "
                                                   "carry no address: every module on the line "
                                                   "answers at once and the replies merge. "
                                                   "Connect the module alone"))});
            return false;
        }
        if (!exchange.answered()) {
            fail(failedStep(exchange, QStringLiteral("the address read (through address 0)")));
            return false;
        }
        m_address = exchange.reply.address;
        m_addressRead = true;
    }
    if (need == Need::OneModule && m_invocation.address && *m_invocation.address != *m_address) {
        fail({exitFailed, QStringLiteral("other module"),
              QStringLiteral("the module on %1 has address %2, not %3 (-a): nothing was %4. "
                             "Leave -a out, or connect the module you meant")
                  .arg(m_invocation.port)
                  .arg(*m_address)
                  .arg(*m_invocation.address)
                  .arg(writes ? QStringLiteral("written") : QStringLiteral("read"))});
        return false;
    }
    return true;
}

// The probe: the read-address request (or, with -a, the measurement request, which only that
// module answers on a bus) at each speed, each with the shortest wait that speed allows.
bool Session::probeSpeeds(const QList<int> &speeds)
{
    const std::optional<int> given = m_invocation.address;
    Exchange last;
    for (int speed : speeds) {
        if (!m_link.setSpeed(speed)) {
            fail({exitPort, QStringLiteral("port cannot be set"), m_link.openError()});
            return false;
        }
        last = given ? ask(RequestKind::Measurement, frames::measurementRequest(quint8(*given)),
                           quint8(*given))
                     : ask(RequestKind::ReadAddress, frames::readAddressRequest());
        if (last.answered()) {
            m_speed = speed;
            m_address = given ? *given : int(last.reply.address);
            m_addressRead = !given;
            return true;
        }
        // At a wrong speed a module hears only garbage and stays silent: bytes that come are
        // replies at this speed, damaged on the way, and the probe ends here.
        if (last.outcome == Outcome::Damaged) {
            m_speed = speed;
            fail({exitFailed, QStringLiteral("damaged reply"),
                  QStringLiteral("only damaged replies at %1 bit/s: %2. Check the wiring and "
                                 "its termination%3")
                      .arg(speed)
                      .arg(given ? QStringLiteral("noise on the line, or two modules with "
                                                  "address %1 (scan shows collisions)")
                                       .arg(*given)
                                 : QStringLiteral("several modules answering address 0 at "
                                                  "once, or noise on the line"),
                           given ? QString()
                                 : QStringLiteral("; on a bus, name the module with -a (scan "
                                                  "lists them)"))});
            return false;
        }
        if (last.outcome != Outcome::NoReply)
            break;
    }
    if (last.outcome != Outcome::NoReply) {
        fail(failedStep(last, QStringLiteral("the probe")));
        return false;
    }
    QStringList tried;
    for (int speed : speeds)
        tried.append(QString::number(speed));
    const bool network = m_invocation.network;
    fail({exitFailed, QStringLiteral("no reply"),
          QStringLiteral("no module answered %1 %2: check its power and wiring (on RS-485, A "
                         "and B)%3")
              .arg(given ? QStringLiteral("at address %1").arg(*given)
                         : QStringLiteral("the address read"),
                   network ? QStringLiteral("through %1").arg(m_link.portName())
                           : QStringLiteral("at %1 bit/s").arg(tried.join(QStringLiteral(", "))),
                   given     ? QStringLiteral(", and the address (scan finds it)")
                   : network ? QStringLiteral(", and that the converter's serial side runs at the "
                                              "module's speed, 8N1")
                   : m_invocation.speed ? QStringLiteral(", and the speed (-b auto)")
                                        : QString())});
    return false;
}

Exchange Session::ask(RequestKind kind, const QByteArray &request, quint8 address)
{
    Exchange exchange = m_link.exchange(kind, request, address);
    if (exchange.outcome == Outcome::Damaged)
        exchange = m_link.exchange(kind, request, address);
    return exchange;
}

// --- reporting ------------------------------------------------------------------------------

QString Session::describe(const Exchange &exchange, const QString &what) const
{
    const bool network = m_invocation.network;
    const QString at = network ? QStringLiteral("through %1").arg(m_link.portName())
                               : QStringLiteral("at %1 bit/s").arg(m_link.speed());
    switch (exchange.outcome) {
    case Outcome::NoReply:
        return QStringLiteral("no reply to %1 %2: check the module's power and wiring, %3 and "
                              "the address (probe)")
            .arg(what, at,
                 network ? QStringLiteral("the converter's serial speed (8N1, the module's speed)")
                         : QStringLiteral("the speed (-b auto finds it)"));
    case Outcome::Damaged:
        return QStringLiteral("%1 %2 brought only a damaged reply: noise on the line, or "
                              "several modules answering at once. Connect the module alone, or on "
                              "a bus name it with -a")
            .arg(what, at);
    case Outcome::Refused:
        return QStringLiteral("the module refused %1 (Modbus exception %2)")
            .arg(what)
            .arg(exchange.reply.frame.size() > 2 ? quint8(exchange.reply.frame.at(2)) : 0);
    case Outcome::PortLost:
        return m_link.lostMessage();
    case Outcome::Interrupted:
        return QStringLiteral("interrupted during %1").arg(what);
    case Outcome::Answered:
        break;
    }
    return QString();
}

Step Session::failedStep(const Exchange &exchange, const QString &what) const
{
    switch (exchange.outcome) {
    case Outcome::PortLost:
        return {exitPort, QStringLiteral("port lost"), describe(exchange, what)};
    case Outcome::Interrupted:
        return {exitInterrupted, QStringLiteral("interrupted"), describe(exchange, what)};
    case Outcome::Damaged:
        return {exitFailed, QStringLiteral("damaged reply"), describe(exchange, what)};
    case Outcome::Refused:
        return {exitFailed, QStringLiteral("refused"), describe(exchange, what)};
    default:
        return {exitFailed, QStringLiteral("no reply"), describe(exchange, what)};
    }
}

int Session::fail(const Step &step)
{
    m_lastFailure = step;
    if (m_quiet)
        return step.exit;
    m_output.message(step.message);
    if (m_output.json() && m_invocation.command != Command::Provision) {
        QJsonObject object = base();
        object.insert(QStringLiteral("status"), step.status);
        m_output.result(object);
    }
    return step.exit;
}

QJsonObject Session::base() const
{
    QJsonObject object{{QStringLiteral("port"), m_invocation.port}};
    if (m_speed != 0)
        object.insert(QStringLiteral("speed"), m_speed);
    object.insert(QStringLiteral("address"), m_address ? QJsonValue(*m_address) : QJsonValue());
    return object;
}

QString Session::lead() const
{
    QStringList text;
    if (m_speed != 0)
        text.append(QStringLiteral("speed %1").arg(m_speed));
    if (m_address)
        text.append(QStringLiteral("address %1").arg(*m_address));
    return text.join(QLatin1Char(' '));
}

void Session::addRecording(QJsonObject &object) const
{
    if (!m_recording)
        return;
    object.insert(QStringLiteral("mode"), recordModeName(m_recording->mode));
    object.insert(QStringLiteral("interval"), intervalName(m_recording->interval));
    object.insert(QStringLiteral("interval_s"), m_recording->interval);
    object.insert(QStringLiteral("start"),
                  m_recording->start.toString(QLatin1String(frames::startTimeFormat)));
    object.insert(QStringLiteral("start_verified"), false);
}

QString Session::recordingText() const
{
    if (!m_recording)
        return QString();
    return QStringLiteral(
               "mode %1 interval %2 read back and verified; start %3 sent but cannot be read back")
        .arg(recordModeName(m_recording->mode), intervalName(m_recording->interval),
             m_recording->start.toString(QLatin1String(frames::startTimeFormat)));
}

// --- commands -------------------------------------------------------------------------------

int Session::ports()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty()) {
        m_output.message(QStringLiteral("no serial ports found: plug in the adapter (a port made "
                                        "by a simulator or socat is not listed, but -p takes its "
                                        "path)"));
        return exitDone;
    }
    const QHash<QString, QString> byId = bus::serialByIdNames();

    for (const QSerialPortInfo &port : ports) {
        const QString vidPid = port.hasVendorIdentifier() && port.hasProductIdentifier()
                                   ? QStringLiteral("%1:%2")
                                         .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                         .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'))
                                   : QString();
        const QString stable = byId.value(QFileInfo(port.systemLocation()).canonicalFilePath());
        if (m_output.json()) {
            m_output.result(QJsonObject{{QStringLiteral("port"), port.portName()},
                                        {QStringLiteral("path"), port.systemLocation()},
                                        {QStringLiteral("description"), port.description()},
                                        {QStringLiteral("manufacturer"), port.manufacturer()},
                                        {QStringLiteral("serial_number"), port.serialNumber()},
                                        {QStringLiteral("vid_pid"), vidPid},
                                        {QStringLiteral("by_id"), stable}});
            continue;
        }
        QStringList details;
        const auto add = [&details](const QString &label, const QString &value) {
            if (!value.isEmpty())
                details.append(label + value);
        };
        add(QString(), port.description());
        add(QStringLiteral("maker "), port.manufacturer());
        add(QStringLiteral("serial "), port.serialNumber());
        add(QStringLiteral("VID:PID "), vidPid);
        add(QStringLiteral("by-id "), stable);
        m_output.result(QStringLiteral("%1 (%2)%3")
                            .arg(port.portName(), port.systemLocation(),
                                 details.isEmpty()
                                     ? QString()
                                     : QStringLiteral(": ") + details.join(QStringLiteral(", "))));
    }
    return exitDone;
}

int Session::probe()
{
    // Unlike the other commands, a given speed (and address) is checked here too.
    const bool tries = !m_invocation.speed && !m_invocation.network;
    const QList<int> speeds =
        tries ? QList<int>(protocol::probeSpeeds.begin(), protocol::probeSpeeds.end())
              : QList<int>{m_invocation.speed.value_or(networkWaitSpeed)};
    if (!openLink(speeds.first()) || !probeSpeeds(speeds))
        return m_lastFailure.exit;
    if (m_invocation.network && !m_invocation.speed) {
        m_speed = 0;
        m_output.message(QStringLiteral("%1 is a network link: the line speed is set on the "
                                        "converter's serial side, so none was tried")
                             .arg(m_link.portName()));
    }
    if (m_output.json()) {
        QJsonObject object = base();
        object.insert(QStringLiteral("status"), QStringLiteral("ok"));
        m_output.result(object);
    } else {
        m_output.result(lead());
    }
    return exitDone;
}

int Session::info()
{
    if (!find(Need::OneModule, m_invocation.speed, false))
        return m_lastFailure.exit;
    const Exchange exchange = ask(RequestKind::DeviceInfo, frames::readDeviceInfoRequest());
    if (!exchange.answered())
        return fail(failedStep(exchange, QStringLiteral("the device-information read")));
    const QString type = typeName(exchange.reply.loggerModel);
    if (m_output.json()) {
        QJsonObject object = base();
        object.insert(QStringLiteral("type"), type);
        object.insert(QStringLiteral("serial"), exchange.reply.serialNumber);
        object.insert(QStringLiteral("status"), QStringLiteral("ok"));
        m_output.result(object);
    } else {
        const bool known = type != QString::number(exchange.reply.loggerModel);
        m_output.result(QStringLiteral("type %1%2 serial %3")
                            .arg(type, known ? QString() : QStringLiteral(" (unknown model)"),
                                 exchange.reply.serialNumber));
    }
    return exitDone;
}

int Session::read()
{
    // The header first, so that a reader of the pipe knows the columns before the first poll.
    if (m_invocation.csv)
        m_output.resultBytes(samples::csv::header());
    if (!find(Need::Address, m_invocation.speed))
        return m_lastFailure.exit;
    const quint8 address = quint8(m_invocation.address ? *m_invocation.address : *m_address);
    const bool untilInterrupted = m_invocation.count == 0;
    const bool stamped = m_invocation.count != 1;
    int gaps = 0;

    QElapsedTimer clock;
    clock.start();
    milliseconds next{0};
    for (int done = 0; untilInterrupted || done < m_invocation.count; ++done) {
        if (done > 0) {
            // A fixed rhythm: a slow reply does not push every later poll back.
            next += m_invocation.pollInterval;
            const milliseconds wait = next - milliseconds(clock.elapsed());
            if (wait.count() < 0)
                next = milliseconds(clock.elapsed());
            const Outcome paused = m_link.pause(std::max(wait, 0ms));
            if (paused != Outcome::Answered) {
                Exchange stop;
                stop.outcome = paused;
                if (paused == Outcome::Interrupted && untilInterrupted)
                    return gaps > 0 ? exitFailed : exitDone;
                return fail(failedStep(stop, QStringLiteral("the readings")));
            }
        }
        const Exchange exchange =
            m_link.exchange(RequestKind::Measurement, frames::measurementRequest(address), address);
        if (exchange.outcome == Outcome::PortLost ||
            (exchange.outcome == Outcome::Interrupted && !untilInterrupted))
            return fail(failedStep(exchange, QStringLiteral("the readings")));
        if (exchange.outcome == Outcome::Interrupted)
            return gaps > 0 ? exitFailed : exitDone;

        if (exchange.answered())
            m_address = address;
        const samples::Sample sample =
            sampleOf(exchange.answered() ? &exchange.reply : nullptr, address);
        if (sample.isGap()) {
            ++gaps;
            m_output.message(describe(exchange, QStringLiteral("the measurement request")));
        }
        if (m_invocation.csv) {
            m_output.resultBytes(samples::csv::row(sample));
        } else if (m_output.json()) {
            QJsonObject object = base();
            object.insert(QStringLiteral("time_utc"),
                          QDateTime::fromMSecsSinceEpoch(sample.msecsSinceEpoch, Qt::UTC)
                              .toString(Qt::ISODateWithMs));
            addMeasurement(object, sample);
            m_output.result(object);
        } else {
            const QString time = QDateTime::fromMSecsSinceEpoch(sample.msecsSinceEpoch)
                                     .toString(QStringLiteral("hh:mm:ss  "));
            m_output.result((stamped ? time : QString()) + measurementText(sample));
        }
    }
    return gaps > 0 ? exitFailed : exitDone;
}

int Session::record()
{
    if (m_invocation.record.isWrite())
        return singleStep(&Session::stepRecord);
    if (!find(Need::OneModule, m_invocation.speed, false))
        return m_lastFailure.exit;
    const Exchange exchange = ask(RequestKind::ReadRecording, frames::readRecordConfigRequest());
    if (!exchange.answered())
        return fail(failedStep(exchange, QStringLiteral("the recording-configuration read")));
    const protocol::Reply &r = exchange.reply;
    if (m_output.json()) {
        QJsonObject object = base();
        object.insert(QStringLiteral("mode"), recordModeName(r.recordMode));
        object.insert(QStringLiteral("interval"), intervalName(r.sampleInterval));
        object.insert(QStringLiteral("interval_s"), r.sampleInterval);
        object.insert(QStringLiteral("status"), QStringLiteral("ok"));
        m_output.result(object);
    } else {
        m_output.result(QStringLiteral("mode %1 interval %2")
                            .arg(recordModeName(r.recordMode), intervalName(r.sampleInterval)));
    }
    return exitDone;
}

int Session::singleStep(Step (Session::*step)())
{
    if (!find(Need::OneModule, m_invocation.speed))
        return m_lastFailure.exit;
    const Step result = (this->*step)();
    if (!result.ok())
        return fail(result);

    QString detail;
    QJsonObject object = base();
    if (!m_type.isEmpty()) {
        detail = QStringLiteral(" type %1 serial %2 (written as %3)")
                     .arg(m_type, m_serial, m_serialWritten);
        object.insert(QStringLiteral("type"), m_type);
        object.insert(QStringLiteral("serial"), m_serial);
        object.insert(QStringLiteral("serial_written"), m_serialWritten);
    }
    addRecording(object);
    object.insert(QStringLiteral("status"), QStringLiteral("ok"));
    if (m_output.json())
        m_output.result(object);
    else if (m_recording)
        m_output.result(lead() + QStringLiteral(": ") + recordingText());
    else
        m_output.result(lead() + detail + QStringLiteral(": verified"));
    return exitDone;
}

int Session::provision()
{
    // Safe order: what leaves the module reachable as it is first; the address next; the line
    // speed last, after which the module answers only at the new speed. The first failure
    // stops the run, so that a module is never left half-renamed at an unknown speed.
    struct Planned
    {
        const char *key;
        Step (Session::*step)();
        bool wanted;
    };
    const std::array<Planned, 4> plan{{
        {"set-serial", &Session::stepSerial, true},
        {"record", &Session::stepRecord, m_invocation.record.isWrite()},
        {"set-address", &Session::stepAddress, true},
        {"set-baud", &Session::stepBaud, true},
    }};

    // Run again on a module that is already set up, a given -b no longer reaches it: it is
    // looked for at the new speed too, and the first miss is not reported.
    const bool retry = m_invocation.speed && *m_invocation.speed != m_invocation.newSpeed;
    m_quiet = retry;
    bool found = find(Need::OneModule, m_invocation.speed);
    m_quiet = false;
    if (!found && retry && m_lastFailure.status == QLatin1String("no reply")) {
        m_output.message(QStringLiteral("no reply at %1 bit/s; looking for the module at %2 "
                                        "bit/s, the speed it is to be given")
                             .arg(*m_invocation.speed)
                             .arg(m_invocation.newSpeed));
        found = find(Need::OneModule, m_invocation.newSpeed);
    } else if (!found && retry) {
        fail(m_lastFailure);
    }

    // Not found, every step is "not done" and the report still has its line, so that a log of
    // reports holds one line per module tried.
    Step failed = found ? Step() : m_lastFailure;
    QList<QPair<QString, QString>> statuses;
    for (const Planned &planned : plan) {
        QString status = QStringLiteral("not done");
        if (!planned.wanted) {
            status = QStringLiteral("skipped");
        } else if (failed.ok()) {
            const Step step = (this->*planned.step)();
            status = step.status;
            if (!step.ok()) {
                failed = step;
                m_output.message(step.message);
            }
        }
        statuses.append({QString::fromLatin1(planned.key), status});
    }
    QJsonObject report = base();
    QStringList results;
    for (const auto &[key, status] : statuses) {
        report.insert(QString(key).replace(QLatin1Char('-'), QLatin1Char('_')), status);
        const bool recording = key == QLatin1String("record") && m_recording;
        results.append(key + QLatin1Char(' ') + status +
                       (recording ? QStringLiteral(" (%1)").arg(recordingText()) : QString()));
    }
    addRecording(report);
    if (!m_type.isEmpty()) {
        report.insert(QStringLiteral("type"), m_type);
        report.insert(QStringLiteral("serial"), m_serial);
    }
    report.insert(QStringLiteral("status"), failed.ok() ? QStringLiteral("ok") : failed.status);

    if (m_output.json())
        m_output.result(report);
    else
        m_output.result(QStringLiteral("%1 type %2 serial %3: %4")
                            .arg(lead(), m_type.isEmpty() ? QStringLiteral("-") : m_type,
                                 m_serial.isEmpty() ? QStringLiteral("-") : m_serial,
                                 results.join(QStringLiteral(", "))));
    return failed.exit;
}

// --- the verified steps ---------------------------------------------------------------------

Step Session::stepAddress()
{
    const int wanted = m_invocation.newAddress;
    const Exchange written =
        m_link.exchange(RequestKind::WriteAddress, frames::writeAddressRequest(quint8(wanted)));
    if (written.outcome == Outcome::PortLost || written.outcome == Outcome::Interrupted ||
        written.outcome == Outcome::Refused)
        return failedStep(written, QStringLiteral("the address write"));
    const Exchange back = ask(RequestKind::ReadAddress, frames::readAddressRequest());
    if (!back.answered())
        return failedStep(back, QStringLiteral("the address read-back"));
    m_address = back.reply.address;
    if (back.reply.address != wanted)
        return {exitFailed, QStringLiteral("read back %1").arg(back.reply.address),
                QStringLiteral("the module reads back address %1, not %2: write it again; if it "
                               "keeps its address, the module does not take address writes")
                    .arg(back.reply.address)
                    .arg(wanted)};
    if (!written.answered())
        m_output.message(QStringLiteral("the address write was not acknowledged, but the module "
                                        "reads back %1")
                             .arg(wanted));
    return {};
}

Step Session::stepBaud()
{
    const int from = m_speed;
    const int to = m_invocation.newSpeed;
    const quint8 code = quint8(*protocol::baudCodeOfSpeed(to));
    QElapsedTimer sinceWrite;
    sinceWrite.start();
    // The module acknowledges at the old speed, then listens at the new one.
    const Exchange written =
        m_link.exchange(RequestKind::WriteLineSpeed, frames::writeBaudCodeRequest(code));
    if (written.outcome == Outcome::PortLost || written.outcome == Outcome::Interrupted ||
        written.outcome == Outcome::Refused)
        return failedStep(written, QStringLiteral("the line-speed write"));

    m_link.setSpeed(to);
    m_speed = to;
    Exchange back;
    for (;;) {
        back = m_link.exchange(RequestKind::ReadAddress, frames::readAddressRequest());
        if (back.answered() || back.outcome == Outcome::PortLost ||
            back.outcome == Outcome::Interrupted || sinceWrite.elapsed() > speedSwitchOver.count())
            break;
        if (m_link.pause(switchRetryPause) != Outcome::Answered)
            break;
    }
    if (back.answered()) {
        m_address = back.reply.address;
        if (!written.answered())
            m_output.message(QStringLiteral("the line-speed write was not acknowledged, but the "
                                            "module answers at %1 bit/s")
                                 .arg(to));
        return {};
    }
    if (back.outcome == Outcome::PortLost || back.outcome == Outcome::Interrupted)
        return failedStep(back, QStringLiteral("the read-back at the new speed"));

    // Where is it now? At the old speed, it did not take the change.
    m_link.setSpeed(from);
    const Exchange old = ask(RequestKind::ReadAddress, frames::readAddressRequest());
    if (old.answered()) {
        m_speed = from;
        return {exitFailed, QStringLiteral("still at %1").arg(from),
                QStringLiteral("the module still answers at %1 bit/s, not at %2: it did not take "
                               "the change; try again")
                    .arg(from)
                    .arg(to)};
    }
    m_speed = to;
    return {exitFailed, QStringLiteral("no reply at %1").arg(to),
            QStringLiteral("the module answers neither at %1 nor at %2 bit/s after the change. "
                           "Find it with: quorvel-cli -p %3 -b auto probe")
                .arg(to)
                .arg(from)
                .arg(m_invocation.port)};
}

Step Session::stepSerial()
{
    int typeIndex = 0;
    if (m_invocation.typeIndex) {
        typeIndex = *m_invocation.typeIndex;
    } else {
        const Exchange info = ask(RequestKind::DeviceInfo, frames::readDeviceInfoRequest());
        if (!info.answered())
            return failedStep(info, QStringLiteral("the device-information read (for the type)"));
        typeIndex = info.reply.loggerModel - protocol::firstModelNumber;
        if (typeIndex < 0 || typeIndex >= protocol::modelCount)
            return {exitFailed, QStringLiteral("unknown type"),
                    QStringLiteral("the module reports model %1, which has no type code: give "
                                   "--type sht2x or --type sht3x")
                        .arg(info.reply.loggerModel)};
    }
    const QString digits = m_invocation.serialFromClock
                               ? frames::clockSerialNumber(QDateTime::currentDateTime())
                               : m_invocation.serialDigits;
    m_serialWritten = digits;
    const Exchange written = m_link.exchange(
        RequestKind::WriteSerialNumber,
        frames::writeSerialNumberRequest(quint8(protocol::modelCodeBase + typeIndex), digits));
    if (written.outcome == Outcome::PortLost || written.outcome == Outcome::Interrupted)
        return failedStep(written, QStringLiteral("the serial-number write"));

    const Exchange back = ask(RequestKind::DeviceInfo, frames::readDeviceInfoRequest());
    if (!back.answered())
        return failedStep(back, QStringLiteral("the device-information read-back"));
    m_type = typeName(back.reply.loggerModel);
    m_serial = back.reply.serialNumber;
    const int wantedModel = protocol::firstModelNumber + typeIndex;
    // The module keeps the six bytes the digits were read into as decimal pairs, and reports
    // them as hexadecimal, as the window shows them.
    if (back.reply.serialNumber != hexOfSerial(digits) || back.reply.loggerModel != wantedModel)
        return {exitFailed, QStringLiteral("read back %1 %2").arg(m_type, m_serial),
                QStringLiteral("the module reads back type %1 serial %2, not %3 serial %4 "
                               "(%5 as written): write it again")
                    .arg(m_type, m_serial, typeName(wantedModel), hexOfSerial(digits), digits)};
    if (!written.answered())
        m_output.message(QStringLiteral("the serial-number write was not acknowledged, but the "
                                        "module reads it back"));
    return {};
}

Step Session::stepRecord()
{
    const RecordRequest &wanted = m_invocation.record;
    int mode = wanted.mode.value_or(0);
    int interval = wanted.intervalIndex
                       ? protocol::sampleIntervalSeconds[std::size_t(*wanted.intervalIndex)]
                       : 0;
    if (!wanted.mode || !wanted.intervalIndex) {
        // What is not given is kept as the module has it.
        const Exchange current = ask(RequestKind::ReadRecording, frames::readRecordConfigRequest());
        if (!current.answered())
            return failedStep(current, QStringLiteral("the recording-configuration read"));
        if (!wanted.mode)
            mode = current.reply.recordMode;
        if (!wanted.intervalIndex)
            interval = current.reply.sampleInterval;
        if (mode < 1 || mode > 3)
            return {exitFailed, QStringLiteral("no mode"),
                    QStringLiteral("the module has no recording mode set: give --mode")};
    }

    const QDateTime now = QDateTime::currentDateTime();
    if (!frames::startTimeAccepted(*wanted.start, now))
        return {exitFailed, QStringLiteral("start time passed"),
                QStringLiteral("the start time %1 is no longer in the future: give a later one")
                    .arg(wanted.start->toString(QLatin1String(frames::startTimeFormat)))};
    const QByteArray request =
        frames::writeRecordConfigRequest(quint32(frames::toModuleSeconds(now)), quint8(mode),
                                         interval, quint32(frames::toModuleSeconds(*wanted.start)));
    const Exchange written = m_link.exchange(RequestKind::WriteRecording, request);
    if (written.outcome == Outcome::PortLost || written.outcome == Outcome::Interrupted)
        return failedStep(written, QStringLiteral("the recording-configuration write"));

    const Exchange back = ask(RequestKind::ReadRecording, frames::readRecordConfigRequest());
    if (!back.answered())
        return failedStep(back, QStringLiteral("the recording-configuration read-back"));
    const int gotMode = back.reply.recordMode;
    const int gotInterval = back.reply.sampleInterval;
    if (gotMode != mode || gotInterval != interval)
        return {exitFailed,
                QStringLiteral("read back %1 %2")
                    .arg(recordModeName(gotMode), intervalName(gotInterval)),
                QStringLiteral("the module reads back mode %1 interval %2, not %3 %4: write it "
                               "again")
                    .arg(recordModeName(gotMode), intervalName(gotInterval), recordModeName(mode),
                         intervalName(interval))};
    if (!written.answered())
        m_output.message(QStringLiteral("the recording write was not acknowledged, but the module "
                                        "reads back its mode and interval"));
    // The reply's known bytes hold the mode and the interval: the start time goes unchecked.
    m_recording = RecordingReadBack{gotMode, gotInterval, *wanted.start};
    return {};
}

} // namespace cli
