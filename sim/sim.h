// The simulated counter: a reciprocal counter with a 1 MHz time base that speaks the
// device's protocol. Used by the D2XX calls served on Linux (sim/d2xx_sim.cpp), the
// Windows stand-in FTD2XX.dll, the pseudo-terminal server and pulsemeter-sim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <cstdio>

namespace sim {

// Time in microseconds since the run started, on whichever clock is in use.
struct Clock {
    uint64_t (*nowMicros)();
    // Blocks until `when` on the real clock; advances a virtual clock to `when`.
    void (*waitUntilMicros)(uint64_t when);
};

enum class FaultKind {
    Unplugged,        // off the bus: its open handle fails for good, listing finds no device
    Silent,           // commands taken, nothing answered
    MalformedFields,  // answers carry lowercase or non-hexadecimal digits
    StrayBytes,       // extra bytes after a frame
    ShortFrame,       // a frame cut short
    EndlessStream,    // bytes arrive faster than any drain reads them
    OutOfStep,        // the answers run one behind the queries
    Flood,            // unasked answers as fast as the link goes; the backlog stays
};

struct FaultWindow {
    FaultKind kind;
    double fromSeconds;
    double untilSeconds;  // negative: for ever
    int device = -1;      // the device (0 the first) it applies to; negative: every one
};

struct FrequencyChange {
    double atSeconds;
    double frequencyHz;
};

constexpr int maxFrequencyChanges = 32;
constexpr int maxFaults = 16;

struct Scenario {
    int deviceCount = 1;           // 0: no device attached
    int appearAfterListCalls = 0;  // devices appear at this counting call (0: from the start)
    double frequencyHz = 1000.0;   // 0.01 Hz to 10 MHz
    double jitterPpm = 0.0;
    uint64_t seed = 1;
    FrequencyChange changes[maxFrequencyChanges] = {};
    int changeCount = 0;
    double stopAtSeconds = -1.0;  // negative: the input never stops
    FaultWindow faults[maxFaults] = {};
    int faultCount = 0;
    double linkLatencyMs = 1.0;
    // The line speed of the answers: they leave the counter one byte after another at
    // baud / 10 bytes per second (a start bit, 8 data bits, a stop bit), so a frame can
    // take several of the program's ticks to arrive. Below 1: each answer arrives whole.
    double baud = 0.0;
    FILE* deviceLog = nullptr;  // "<ms> > <command>" and "<ms> < <answer>" lines
};

// Adds Unplugged windows to `scenario` from the times (in seconds) at which the devices
// are pulled out and plugged back in. The devices start on the bus, or off it when
// `startUnplugged`; the times are taken in order, and one that would put a device where
// it already is changes nothing. False, with the scenario unchanged, when a time is
// negative or the windows do not fit beside the scenario's other faults.
bool addPlugWindows(Scenario& scenario, bool startUnplugged, const double* unplugAt,
                    int unplugCount, const double* plugAt, int plugCount);

// Sets up the simulated devices served by the D2XX calls for a new run; any handle
// of an earlier run is forgotten.
void simConfigure(const Scenario& scenario, Clock clock);

// A clock that only moves when told to, for tests and the headless program.
Clock virtualClock();
void setVirtualMicros(uint64_t now);
// The process's monotonic clock, counted from the first call.
Clock realClock();

// "<ms>.<µs>": the time stamp of the device log and the draw log, three digits of
// microseconds after the milliseconds.
std::string formatMillis(uint64_t micros);

}  // namespace sim
