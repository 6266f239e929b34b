#pragma once

#include "cli/modulelink.h"
#include "cli/options.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace cli {

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
        Speed,     // logger frames reach the module whatever its address
        Address,   // to address measurements
        OneModule, // writes through address 0 reach every module on the line
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
    bool find(Need need, std::optional<int> speed);
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

    // The keys every JSON line starts with: port, speed and address as far as they are known.
    QJsonObject base() const;
    QString lead() const; // the same as text: "speed 9600 address 1"

    const Invocation &m_invocation;
    Output &m_output;
    ModuleLink m_link;
    int m_speed = 0;
    std::optional<int> m_address;
    bool m_addressRead = false; // m_address came from the module, through address 0
    Step m_lastFailure{exitFailed, QString(), QString()};
    bool m_quiet = false; // failures are kept in m_lastFailure, not reported

    // What the steps learnt, for the report.
    QString m_type;
    QString m_serial;
    QString m_serialWritten;
    QString m_recordSummary;
};

} // namespace cli
