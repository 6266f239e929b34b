// What one arrival of bytes costs the receive path (protocol::receiveChunk, which my_readuart
// runs on every readyRead), for a reply trickling in a byte at a time and in the middle of a
// stream that never pauses. A buffer that grew with the stream would make every arrival dearer
// the longer the line talks; the figure after 60 s of stream must stay within 10 % of the one
// after 1 s. Time is simulated: the stream is fed as fast as the code takes it.
//
// Prints Google Benchmark's table, a summary, and key=value lines for scripts/bench; exits
// non-zero when the 60 s figure is off by more than 10 %.
#include "protocol/receivebuffer.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QLoggingCategory>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// 115200 bit/s with a start and a stop bit around each byte.
constexpr int lineBytesPerSecond = 115200 / 10;
// A 16550-type UART raises its receive interrupt every 8 bytes by default; the driver hands
// them on as one arrival.
constexpr int arrivalBytes = 8;
constexpr int arrivalsPerSecond = lineBytesPerSecond / arrivalBytes;
constexpr int repetitions = 30;

const QByteArray wetBulbReply = QByteArray::fromHex("01030900fa01f4006400c80084d5");

QByteArray deviceInfoReply()
{
    return QByteArray::fromHex("7b220c0e0000") + "8133" +
           QByteArray::fromHex("00001503050e070900227d");
}

// Replies back to back with no pause, cut into arrivals; the cut repeats every lcm(14, 8) bytes.
class Stream
{
public:
    Stream()
    {
        QByteArray bytes;
        while (bytes.size() < 14 * arrivalBytes)
            bytes += wetBulbReply;
        for (int i = 0; i < bytes.size(); i += arrivalBytes)
            m_cycle.push_back(bytes.mid(i, arrivalBytes));
    }
    const QByteArray &next() { return m_cycle[m_next++ % m_cycle.size()]; }

private:
    std::vector<QByteArray> m_cycle;
    std::size_t m_next = 0;
};

void replyByteAtATime(benchmark::State &state)
{
    std::vector<QByteArray> bytes;
    for (const char c : wetBulbReply)
        bytes.emplace_back(1, c);
    QByteArray buffer;
    for (auto _ : state) {
        for (const QByteArray &b : bytes)
            benchmark::DoNotOptimize(protocol::receiveChunk(buffer, b));
    }
    if (!buffer.isEmpty())
        state.SkipWithError("the reply was not recognised");
}

void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

// The hex trace of the buffer a technician turns on with QT_LOGGING_RULES: it is written at
// every arrival, so its cost follows the size of the buffer.
class WireTrace
{
public:
    WireTrace() : m_previous(qInstallMessageHandler(discardMessage))
    {
        QLoggingCategory::setFilterRules(QStringLiteral("quorvel.wire.debug=true"));
    }
    ~WireTrace()
    {
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(m_previous);
    }
    WireTrace(const WireTrace &) = delete;
    WireTrace &operator=(const WireTrace &) = delete;

private:
    QtMessageHandler m_previous;
};

enum class StreamKind { ModbusReplies, BehindLoggerFrame, Traced };

// One iteration is one arrival, taken after `seconds` of stream; behind a logger frame the
// buffer keeps the frame's head, as it must to decode it again.
void streamArrival(benchmark::State &state, int seconds, StreamKind kind)
{
    std::unique_ptr<WireTrace> trace;
    if (kind == StreamKind::Traced)
        trace = std::make_unique<WireTrace>();
    QByteArray buffer;
    Stream stream;
    if (kind == StreamKind::BehindLoggerFrame)
        protocol::receiveChunk(buffer, deviceInfoReply());
    for (int i = 0; i < seconds * arrivalsPerSecond; ++i)
        protocol::receiveChunk(buffer, stream.next());
    for (auto _ : state)
        benchmark::DoNotOptimize(protocol::receiveChunk(buffer, stream.next()));
    state.counters["buffer_bytes"] = double(buffer.size());
}

// Keeps the medians while printing the usual table.
class Reporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> medianNs; // CPU time an iteration
    std::map<std::string, double> bufferBytes;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            medianNs[run.run_name.function_name] = run.GetAdjustedCPUTime();
            const auto bytes = run.counters.find("buffer_bytes");
            if (bytes != run.counters.end())
                bufferBytes[run.run_name.function_name] = bytes->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    const auto measured = [](benchmark::internal::Benchmark *b) {
        b->Repetitions(repetitions)->ReportAggregatesOnly(true)->Unit(benchmark::kNanosecond);
    };
    measured(benchmark::RegisterBenchmark("reply_bytewise", replyByteAtATime));
    struct StreamCase
    {
        const char *name;
        const char *label;
        StreamKind kind;
    };
    const StreamCase streams[] = {
        {"stream_modbus", "stream of Modbus replies", StreamKind::ModbusReplies},
        {"stream_logger", "stream behind a logger frame", StreamKind::BehindLoggerFrame},
        {"stream_traced", "stream, wire trace on", StreamKind::Traced},
    };
    for (const StreamCase &s : streams) {
        for (const int seconds : {1, 60}) {
            const std::string name = std::string(s.name) + '_' + std::to_string(seconds) + 's';
            // Each run measures the next second of stream.
            auto *b = benchmark::RegisterBenchmark(name.c_str(), streamArrival, seconds, s.kind);
            measured(b);
            b->Iterations(arrivalsPerSecond);
        }
    }

    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto figure = [&reporter](const std::string &name) {
        const auto it = reporter.medianNs.find(name);
        return it == reporter.medianNs.end() ? std::nan("") : it->second;
    };
    bool flat = true;
    std::printf("\nReceive path: CPU time of one arrival, median of %d runs; %d-byte arrivals at "
                "115200 bit/s\n\n",
                repetitions, arrivalBytes);
    std::printf("%-32s %12s %12s %10s %10s\n", "case", "after 1 s", "after 60 s", "60 s / 1 s",
                "kept");
    const double bytewise = figure("reply_bytewise") / 14;
    std::printf("%-32s %9.1f ns %12s %10s %10s\n", "14-byte reply, a byte at a time", bytewise, "-",
                "-", "-");
    std::string values = "reply_bytewise_ns=" + std::to_string(bytewise) + '\n';
    for (const StreamCase &s : streams) {
        const double first = figure(std::string(s.name) + "_1s");
        const double later = figure(std::string(s.name) + "_60s");
        const double ratio = later / first;
        const bool within = std::fabs(ratio - 1) <= 0.10;
        flat = flat && within;
        std::printf("%-32s %9.1f ns %9.1f ns %10.3f %8.0f B%s\n", s.label, first, later, ratio,
                    reporter.bufferBytes[std::string(s.name) + "_60s"],
                    within ? "" : "  (more than 10 % apart)");
        values += std::string(s.name) + "_1s_ns=" + std::to_string(first) + '\n';
        values += std::string(s.name) + "_60s_ns=" + std::to_string(later) + '\n';
        values += std::string(s.name) + "_ratio=" + std::to_string(ratio) + '\n';
    }
    // For scripts/bench.
    std::printf("\n%s", values.c_str());
    return flat ? 0 : 1;
}
