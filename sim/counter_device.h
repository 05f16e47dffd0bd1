// One simulated counter at the byte level: what goes down the link to it and what comes
// back, at given times. The D2XX calls served on Linux, the Windows stand-in and the
// pseudo-terminal server all drive it through this class. Not thread-safe: a caller that
// uses it from several threads holds its own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace sim {

// The counter's registers as one consistent set, 32-bit counts wrapping at 2^32.
struct CounterRegisters {
    uint32_t liveCount;    // registers 1:0, ticks since the running gate began
    uint32_t rangeCount;   // registers 3:2, input edges since power-up
    uint32_t periodCount;  // registers 7:6, ticks of the last completed gate (0: none yet)
    uint32_t divider;      // registers 5:4, the division ratio register R in use (N = 2 (R + 1))
};

// The division ratio the counter powers up with: R = 0, so gates of 2 input periods.
constexpr uint32_t powerUpDividerRegister = 0;

class CounterDevice {
public:
    // Device `index` of the run: the scenario's faults for every device and its own.
    explicit CounterDevice(const Scenario& scenario, int index = 0);

    // Bytes sent by the host at `nowMicros`; each carriage return ends a command.
    // Ignored while the device is unplugged.
    void receive(const char* bytes, size_t n, uint64_t nowMicros);
    // Bytes the host could read at `nowMicros` (0 while unplugged).
    size_t readableBytes(uint64_t nowMicros);
    // Takes up to `max` readable bytes into `out`; returns how many.
    size_t read(char* out, size_t max, uint64_t nowMicros);
    // Whether the device is off the bus at `nowMicros`.
    bool unplugged(uint64_t nowMicros) const;
    // Whether it was off the bus at any time from `fromMicros` to `toMicros`.
    bool unpluggedBetween(uint64_t fromMicros, uint64_t toMicros) const;
    // When it leaves the bus (plugged false) and comes back (true), in order.
    struct PlugChange {
        uint64_t atMicros;
        bool plugged;
    };
    std::vector<PlugChange> plugChanges() const;
    // A line "<ms> <text>" in the device log, for events around the device.
    void logNote(uint64_t nowMicros, const std::string& text) const;
    // When the next byte not yet readable at `nowMicros` becomes readable; UINT64_MAX when
    // nothing more is on its way. For readers that wait with a time-out.
    uint64_t nextArrivalMicros(uint64_t nowMicros) const;

    // The registers as they stand at `nowMicros` (the queries answer from these).
    CounterRegisters registers(uint64_t nowMicros) const;
    // The division ratio N of the gates now running.
    uint64_t gateInputPeriods() const;
    // The commands taken so far, without their carriage returns, oldest first: all of them,
    // or in a long run at least the latest keptCommands.
    const std::vector<std::string>& receivedCommands() const { return commands_; }
    static constexpr size_t keptCommands = 4096;
    // Answers beyond this many unread bytes are lost, as in a full receive buffer.
    static constexpr size_t linkBufferBytes = 65536;

private:
    struct Chunk {
        uint64_t readyAt;
        std::string bytes;
    };

    bool faultActive(FaultKind kind, uint64_t nowMicros) const;
    bool faultDuring(FaultKind kind, uint64_t fromMicros, uint64_t toMicros) const;
    void loseLinkIfUnpluggedSince(uint64_t nowMicros);
    void takeCommand(const std::string& command, uint64_t nowMicros);
    void answerQuery(int reg, uint64_t nowMicros);
    void send(std::string bytes, uint64_t nowMicros);
    // Puts the flood's bytes up to now into the receive buffer.
    void flood(uint64_t nowMicros);
    void log(uint64_t nowMicros, char direction, const std::string& text) const;

    // The input signal in closed form: stretches of constant frequency, the phase (input
    // periods since power-up) continuous across them; a stopped input is a stretch at 0 Hz.
    struct Stretch {
        double fromMicros;
        double phase;  // at fromMicros
        double frequencyHz;
    };
    double phaseAt(double micros) const;
    double edgeTime(uint64_t k) const;           // edge k (k >= 1), µs; +inf if it never comes
    uint64_t edgesBy(uint64_t nowMicros) const;  // edges at or before nowMicros
    uint64_t latencyMicros() const;

    Scenario scenario_;
    struct Fault {
        FaultKind kind;
        uint64_t fromMicros;
        uint64_t untilMicros;  // UINT64_MAX: for ever
    };
    std::vector<Fault> faults_;
    std::vector<Stretch> stretches_;
    double jitterFraction_;  // edge displacement as a fraction of the period, at most

    // Configuration: the register value being loaded and the one in use.
    uint32_t pendingDivider_ = powerUpDividerRegister;
    uint32_t activeDivider_ = powerUpDividerRegister;
    uint64_t configuredAt_ = 0;   // when the gates in use were set up
    uint64_t gateStartEdge_ = 1;  // the edge that opens the first gate since then
    uint32_t earlierPeriod_ = 0;  // last completed gate before configuredAt_

    // Queries of one sequence answer from one snapshot.
    bool sequenceOpen_ = false;
    int lastQueried_ = -1;
    CounterRegisters snapshot_ = {};
    // Out of step: the last answer of a sequence, sent before the next one's first.
    std::string heldBack_;

    std::string partial_;
    std::deque<Chunk> outgoing_;
    size_t queuedBytes_ = 0;     // unread bytes in outgoing_
    size_t headOffset_ = 0;      // bytes of outgoing_.front() already read
    uint64_t streamOffset_ = 0;  // position in the endless stream's pattern
    uint64_t floodedUntil_ = 0;  // the flood's bytes are in the buffer up to this time
    uint64_t lineFreeAt_ = 0;    // when the last answer byte on the line has left
    uint64_t lastCallMicros_ = 0;
    std::vector<std::string> commands_;
};

}  // namespace sim
