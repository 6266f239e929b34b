#pragma once

namespace bus {
class Link;
}

namespace cli {

struct Invocation;
class Output;

// watch: the modules of -a polled round robin by the bus engine, a row per module per cycle.
// Ctrl-C ends it after the slot under way. The exit status is exitDone only when every poll of
// every module was answered and, with --mqtt, every reading reached the broker.
int watchBus(const Invocation &invocation, Output &output, bus::Link &link);

} // namespace cli
