#pragma once

#include "bus/link.h"
#include "cli/options.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace cli {

using bus::Exchange;
using bus::Outcome;

class Output;

// The result of one verified step: written, then read back and compared.
struct Step
{
    int exit = exitDone;
    QString status = QStringLiteral("ok"); // for the report: "ok" or what went wrong, briefly
    QString message;                       // on failure: what failed and what to do

    bool ok() const { return exit == exitDone; }
};

// One run of the program: finds the module as the options say, then carries out the command.
class Session
{
public:
    Session(const Invocation &invocation, Output &output);

    int run();

private:
    enum class Need {
        Address, // to address measurements
        // Logger frames and writes through address 0 reach every module on the line: one
        // module must answer address 0, and it must be the one -a names.
        OneModule,
    };

    int ports();
    int probe();
    int info();
    int read();
    int record();
    int provision();
    int watch();
    int singleStep(Step (Session::*step)());

    bool openLink(int speed);
    bool find(Need need, std::optional<int> speed, bool writes = true);
    bool probeSpeeds(const QList<int> &speeds);

    Step stepAddress();
    Step stepBaud();
    Step stepSerial();
    Step stepRecord();

    // A read, asked again once if noise damaged the reply.
    Exchange ask(protocol::RequestKind kind, const QByteArray &request, quint8 address = 0);
    Step failedStep(const Exchange &exchange, const QString &what) const;
    int fail(const Step &step);
    QString describe(const Exchange &exchange, const QString &what) const;

    // The keys every JSON line starts with: port, speed, and the address the module confirmed
    // through Modbus (null until it has).
    QJsonObject base() const;
    QString lead() const; // the same as text: "speed 9600 address 1"
    // The recording configuration as read back, and the start time as sent.
    void addRecording(QJsonObject &object) const;
    QString recordingText() const;

    const Invocation &m_invocation;
    Output &m_output;
    bus::Link m_link;
    int m_speed = 0;
    std::optional<int> m_address; // only ever one the module answered from or reported
    bool m_addressRead = false;   // m_address came from the module, through address 0
    Step m_lastFailure{exitFailed, QString(), QString()};
    bool m_quiet = false; // failures are kept in m_lastFailure, not reported

    // What the steps learnt, for the report.
    QString m_type;
    QString m_serial;
    QString m_serialWritten;
    struct RecordingReadBack
    {
        int mode;
        int interval;
        QDateTime start; // sent only: the module's replies do not carry it
    };
    std::optional<RecordingReadBack> m_recording;
};

} // namespace cli
