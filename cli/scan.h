#pragma once

#include "cli/modulelink.h"
#include "samples/sample.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>

#include <chrono>

namespace cli {

struct Invocation;
class Output;

// A bus scan: the measurement request to each address at each speed, one wait each, the
// modules found printed as they come, progress on standard error.
class Scan
{
public:
    Scan(const Invocation &invocation, Output &output, ModuleLink &link);

    int run();

private:
    struct Sent
    {
        int speed;
        std::chrono::steady_clock::time_point at;
    };

    void handle(int address, const Exchange &exchange, std::chrono::microseconds waited);
    void found(int speed, int address, const samples::Sample &sample, const QString &status,
               const QString &note);
    void showProgress(int speedIndex, int done, int address);
    std::chrono::microseconds timeLeft(int speedIndex, int done) const;

    const Invocation &m_invocation;
    Output &m_output;
    ModuleLink &m_link;
    QHash<int, Sent> m_sent;          // address: the latest request to it
    QSet<QPair<int, int>> m_reported; // (speed, address)
    int m_clean = 0;
    int m_troubled = 0;
    QElapsedTimer m_clock;
};

// "1 min 10 s", "10.4 s"
QString durationText(std::chrono::microseconds duration);

} // namespace cli
