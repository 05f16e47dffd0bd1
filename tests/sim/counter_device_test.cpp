// The simulated counter against the truth of its input, through its bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "core/protocol.h"
#include "sim/counter_device.h"
#include "tests/sim/read_back.h"

namespace {

using sim::CounterDevice;
using sim::FaultKind;
using sim::Scenario;

constexpr uint64_t ms = 1000;
constexpr uint64_t second = 1000000;

Scenario signalAt(double hz, uint64_t seed = 1) {
    Scenario scenario;
    scenario.frequencyHz = hz;
    scenario.seed = seed;
    return scenario;
}

void send(CounterDevice& device, const CounterCommand& command, uint64_t now) {
    device.receive(command.bytes, static_cast<size_t>(command.length), now);
}

void configure(CounterDevice& device, int32_t divider, uint64_t now) {
    for (const CounterCommand& command : configurationSequence(divider).commands) {
        send(device, command, now);
    }
}

std::string drain(CounterDevice& device, uint64_t now) {
    std::string bytes(device.readableBytes(now), '\0');
    bytes.resize(device.read(bytes.data(), bytes.size(), now));
    return bytes;
}

// Sends the program's six queries at `now` and returns what is readable 1 ms later.
std::string queryFrame(CounterDevice& device, uint64_t now) {
    for (const CounterCommand& command : querySequence().commands) {
        send(device, command, now);
    }
    return drain(device, now + ms);
}

FrameCounts decode(const std::string& frame) {
    EXPECT_EQ(frame.size(), static_cast<size_t>(responseFrameLength)) << frame;
    if (frame.size() != static_cast<size_t>(responseFrameLength)) {
        return {-2, -2, -2};
    }
    return decodeFrame(reinterpret_cast<const unsigned char*>(frame.data()));
}

double truePeriodCount(int32_t divider, double hz) {
    return divider * 1e6 / hz;
}

struct GateCase {
    double hz;
    int32_t divider;
};

std::ostream& operator<<(std::ostream& out, const GateCase& c) {
    return out << c.hz << " Hz, N " << c.divider;
}

class GateLength : public testing::TestWithParam<GateCase> {};

// Whatever the input's phase, the gate is the true length quantised to the clock.
TEST_P(GateLength, PeriodCountIsWithinOneTickOfTheTruth) {
    const GateCase c = GetParam();
    const double truth = truePeriodCount(c.divider, c.hz);
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        CounterDevice device(signalAt(c.hz, seed));
        const uint64_t configuredAt = 10 * ms + seed * 37;
        configure(device, c.divider, configuredAt);
        EXPECT_EQ(device.gateInputPeriods(), static_cast<uint64_t>(c.divider));
        // Two gates and the wait for the first edge have certainly passed by then.
        const uint64_t later = configuredAt + static_cast<uint64_t>(2 * truth + 1e6 / c.hz) + 2;
        const FrameCounts counts = decode(queryFrame(device, later));
        EXPECT_NEAR(counts.periodCount, truth, 1.0) << "seed " << seed;
        EXPECT_EQ(static_cast<uint32_t>(counts.periodCount), device.registers(later).periodCount);
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, GateLength,
                         testing::Values(GateCase{1234.5, 1000}, GateCase{10e6, 100000},
                                         GateCase{0.5, 4}, GateCase{3.3, 10},
                                         GateCase{98765.4, 100000}, GateCase{1e6, 800000},
                                         GateCase{0.01, 4}, GateCase{7777777.7, 8000000}));

TEST(CounterDevice, PeriodCountIsZeroUntilTheFirstGateCompletes) {
    CounterDevice device(signalAt(1234.5));
    configure(device, 1000, 0);
    EXPECT_EQ(device.registers(100 * ms).periodCount, 0u);
    EXPECT_EQ(device.registers(809 * ms).periodCount, 0u);
    EXPECT_NE(device.registers(812 * ms).periodCount, 0u);
}

TEST(CounterDevice, ANewConfigurationKeepsTheLastGateUntilANewOneCompletes) {
    CounterDevice device(signalAt(1000.0));
    configure(device, 100, 0);
    const uint32_t first = device.registers(500 * ms).periodCount;
    EXPECT_NEAR(first, 100000.0, 1.0);
    configure(device, 1000, 500 * ms);
    EXPECT_EQ(device.registers(600 * ms).periodCount, first);
    EXPECT_EQ(device.registers(1400 * ms).periodCount, first);
    EXPECT_NEAR(device.registers(1600 * ms).periodCount, 1000000.0, 1.0);
}

TEST(CounterDevice, GatesRestartAtTheFirstEdgeAfterTheConfiguration) {
    CounterDevice device(signalAt(1.0));
    const uint64_t configuredAt = 600 * ms;
    configure(device, 4, configuredAt);
    const uint32_t edgesAtConfiguration = device.registers(configuredAt).rangeCount;
    uint64_t t = configuredAt;
    // Until the next edge the live count runs from the configuration itself.
    for (; device.registers(t).rangeCount == edgesAtConfiguration; t += 10 * ms) {
        ASSERT_EQ(device.registers(t).liveCount, t - configuredAt);
    }
    EXPECT_LT(device.registers(t).liveCount, 10 * ms) << "a gate began at that edge";
    EXPECT_EQ(device.registers(t + 3 * second).periodCount, 0u);
    EXPECT_NEAR(device.registers(t + 4 * second).periodCount, 4e6, 1.0);
}

TEST(CounterDevice, RangeCountGrowsWithTheInputEdges) {
    for (double hz : {1234.5, 10e6, 0.01, 3.3}) {
        CounterDevice device(signalAt(hz));
        const uint64_t from = 250 * ms;
        const uint64_t to = from + 3700 * ms;
        const uint32_t grown = device.registers(to).rangeCount - device.registers(from).rangeCount;
        EXPECT_NEAR(grown, hz * 3.7, 1.0) << hz << " Hz";
    }
}

TEST(CounterDevice, RangeCountIsReadThroughRegistersThreeAndTwo) {
    CounterDevice device(signalAt(10e6));
    const uint64_t now = 2 * second;
    const FrameCounts counts = decode(queryFrame(device, now));
    EXPECT_NEAR(counts.rangeCount, 2e7, 1.0);
}

TEST(CounterDevice, AStoppedInputLetsTheLiveCountRunPastTheLastGate) {
    Scenario scenario = signalAt(1234.5);
    scenario.stopAtSeconds = 3.0;
    CounterDevice device(scenario);
    configure(device, 1000, 0);
    const sim::CounterRegisters before = device.registers(3 * second);
    EXPECT_NEAR(before.periodCount, 810045.6, 1.0);
    for (uint64_t t = 3 * second; t < 6 * second; t += 50 * ms) {
        const sim::CounterRegisters now = device.registers(t);
        EXPECT_EQ(now.periodCount, before.periodCount);
        EXPECT_EQ(now.rangeCount, before.rangeCount);
    }
    const sim::CounterRegisters stalled = device.registers(6 * second);
    EXPECT_GT(stalled.liveCount, 1.2 * stalled.periodCount);
    EXPECT_EQ(stalled.periodCount, before.periodCount);
    // The same seen through a frame, as the program sees it.
    const FrameCounts counts = decode(queryFrame(device, 6 * second));
    EXPECT_GT(counts.liveCount, static_cast<int32_t>(counts.periodCount * 1.2));
}

TEST(CounterDevice, FrequencyChangesAreMeasuredAfterTheFollowingGate) {
    Scenario scenario = signalAt(1000.0);
    scenario.changes[0] = {2.0, 4000.0};
    scenario.changes[1] = {4.0, 250.0};
    scenario.changeCount = 2;
    CounterDevice device(scenario);
    configure(device, 100, 0);
    EXPECT_NEAR(device.registers(1900 * ms).periodCount, 100000.0, 1.0);
    EXPECT_NEAR(device.registers(3 * second).periodCount, 25000.0, 1.0);
    EXPECT_NEAR(device.registers(5 * second).periodCount, 400000.0, 1.0);
    // Edges: 2 s at 1 kHz, 2 s at 4 kHz, then 1 s at 250 Hz.
    EXPECT_NEAR(device.registers(5 * second).rangeCount, 2000 + 8000 + 250, 1.0);
}

TEST(CounterDevice, RegistersWrapAt32Bits) {
    // Range: 10 MHz for 500 s is 5e9 edges.
    CounterDevice fast(signalAt(10e6));
    const double edges = 5e9;
    const uint32_t wrapped = static_cast<uint32_t>(static_cast<uint64_t>(edges));
    EXPECT_LE(std::llabs(static_cast<long long>(fast.registers(500 * second).rangeCount) -
                         static_cast<long long>(wrapped)),
              1);

    // Live: a stopped input, 5000 s after its last gate began.
    Scenario stopped = signalAt(1000.0);
    stopped.stopAtSeconds = 0.5;
    CounterDevice idle(stopped);
    configure(idle, 4, 0);
    const uint32_t liveLate = idle.registers(5000 * second).liveCount;
    const uint32_t liveEarly = idle.registers(1 * second).liveCount;
    EXPECT_EQ(static_cast<uint32_t>(liveLate - liveEarly), static_cast<uint32_t>(4999 * second));
    EXPECT_LT(liveLate, 4999 * second) << "5000 s is past 2^32 µs";

    // Period: 8000000 periods of 1 Hz span 8e12 ticks.
    CounterDevice slow(signalAt(1.0));
    configure(slow, 8000000, 0);
    const uint64_t gate = 8000000ull * second;
    const uint32_t expected = static_cast<uint32_t>(gate);
    const uint32_t period = slow.registers(2 * gate + 2 * second).periodCount;
    EXPECT_LE(static_cast<uint32_t>(period - expected + 1), 2u);
}

TEST(CounterDevice, OneSequenceIsAnsweredFromOneSnapshot) {
    CounterDevice device(signalAt(1234.5));
    configure(device, 1000, 0);
    const uint64_t first = 2 * second;
    const QuerySequence queries = querySequence();
    // The queries trickle in over 30 ms; all answers still belong to the first moment.
    for (int i = 0; i < queryCommandCount; ++i) {
        send(device, queries.commands[i], first + i * 6 * ms);
    }
    const FrameCounts counts = decode(drain(device, first + 40 * ms));
    const sim::CounterRegisters expected = device.registers(first);
    EXPECT_EQ(static_cast<uint32_t>(counts.liveCount), expected.liveCount);
    EXPECT_EQ(static_cast<uint32_t>(counts.rangeCount), expected.rangeCount);
    EXPECT_EQ(static_cast<uint32_t>(counts.periodCount), expected.periodCount);

    // A query for register 0 again starts the next snapshot.
    const FrameCounts next = decode(queryFrame(device, first + 500 * ms));
    EXPECT_EQ(static_cast<uint32_t>(next.rangeCount),
              device.registers(first + 500 * ms).rangeCount);
}

TEST(CounterDevice, AnswersAreUppercaseAndComeAfterTheLinkLatency) {
    Scenario scenario = signalAt(1000.0);
    scenario.linkLatencyMs = 2.0;
    CounterDevice device(scenario);
    configure(device, 100, 0);
    EXPECT_EQ(device.readableBytes(0), 0u) << "configuration commands are not answered";
    const CounterCommand query = querySequence().commands[5];
    send(device, query, 1 * second);
    EXPECT_EQ(device.readableBytes(1 * second + 1999), 0u);
    EXPECT_EQ(device.nextArrivalMicros(1 * second), 1 * second + 2000);
    const std::string answer = drain(device, 1 * second + 2000);
    ASSERT_EQ(answer.size(), static_cast<size_t>(answerLength));
    EXPECT_EQ(answer.substr(0, 4), "M07=");
    EXPECT_EQ(answer.back(), '\r');
    for (char c : answer.substr(4, 4)) {
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << answer;
    }
    EXPECT_EQ(device.nextArrivalMicros(2 * second), UINT64_MAX);
}

// At a line speed the answers trickle in, one byte per ten bit times, behind each other:
// a frame of six answers at 9600 baud takes 56.25 ms, more than one 50 ms tick.
TEST(CounterDevice, AtALineSpeedAnswersArriveOneByteAfterAnother) {
    Scenario scenario = signalAt(1000.0);
    scenario.baud = 9600;
    CounterDevice device(scenario);
    for (const CounterCommand& query : querySequence().commands) {
        send(device, query, 1 * second);
    }
    const uint64_t start = 1 * second + 1 * ms;  // the link latency
    EXPECT_EQ(device.readableBytes(start), 0u);
    EXPECT_EQ(device.nextArrivalMicros(start), start + 1042);
    EXPECT_EQ(device.readableBytes(start + 1042), 1u);
    EXPECT_EQ(device.readableBytes(start + 49 * ms), 47u);
    EXPECT_EQ(device.readableBytes(start + 50 * ms), 48u);
    EXPECT_EQ(device.readableBytes(start + 56249), 53u);
    EXPECT_EQ(device.readableBytes(start + 56250), static_cast<size_t>(responseFrameLength));
    // Partly read, the rest still comes at the line's pace.
    EXPECT_EQ(drain(device, start + 10 * ms).size(), 9u);
    EXPECT_EQ(device.readableBytes(start + 10 * ms), 0u);
    EXPECT_EQ(drain(device, start + 60 * ms).size(), static_cast<size_t>(responseFrameLength - 9));
    // The line is free again: the next answer starts at its own latency.
    send(device, querySequence().commands[0], 2 * second);
    EXPECT_EQ(device.readableBytes(2 * second + 1 * ms + 9374), 8u);
    EXPECT_EQ(device.readableBytes(2 * second + 1 * ms + 9375), static_cast<size_t>(answerLength));
}

TEST(CounterDevice, UnknownCommandsAreIgnoredAndRecorded) {
    CounterDevice device(signalAt(1000.0));
    const char bytes[] = "M09\rhello\rM0200\rM0\r\r";
    device.receive(bytes, sizeof bytes - 1, 0);
    EXPECT_EQ(device.readableBytes(1 * second), 0u);
    EXPECT_EQ(device.gateInputPeriods(), 2u) << "power-up ratio unchanged";
    const std::vector<std::string> expected = {"M09", "hello", "M0200", "M0", ""};
    EXPECT_EQ(device.receivedCommands(), expected);
}

TEST(CounterDevice, ARatioTakesEffectOnlyWithTheLastConfigurationCommand) {
    CounterDevice device(signalAt(1000.0));
    const ConfigurationSequence sequence = configurationSequence(8000000);
    for (int i = 0; i < configurationCommandCount - 1; ++i) {
        send(device, sequence.commands[i], 0);
    }
    EXPECT_EQ(device.gateInputPeriods(), 2u);
    send(device, sequence.commands[configurationCommandCount - 1], 0);
    EXPECT_EQ(device.gateInputPeriods(), 8000000u);
    EXPECT_EQ(device.registers(0).divider, 3999999u);
}

TEST(CounterDevice, CommandsSplitAcrossWritesAreJoined) {
    CounterDevice device(signalAt(1000.0));
    device.receive("M0", 2, 0);
    device.receive("7\rM0", 4, 0);
    EXPECT_EQ(device.receivedCommands(), std::vector<std::string>{"M07"});
    EXPECT_EQ(device.readableBytes(1 * second), static_cast<size_t>(answerLength));
}

TEST(CounterDevice, AHostThatNeverReadsFillsTheLinkAndNoMore) {
    CounterDevice device(signalAt(1000.0));
    const CounterCommand query = querySequence().commands[0];
    const size_t answers = CounterDevice::linkBufferBytes / answerLength;
    for (size_t i = 0; i < answers + 100; ++i) {
        send(device, query, i);
    }
    EXPECT_EQ(device.readableBytes(1 * second), answers * answerLength);
    EXPECT_EQ(drain(device, 1 * second).size(), answers * answerLength);
    send(device, query, 1 * second);
    EXPECT_EQ(device.readableBytes(2 * second), static_cast<size_t>(answerLength));
}

TEST(CounterDevice, ALongRunKeepsTheLatestCommands) {
    CounterDevice device(signalAt(1000.0));
    const size_t total = 3 * CounterDevice::keptCommands + 5;
    for (size_t i = 0; i < total; ++i) {
        const std::string command = "X" + std::to_string(i) + "\r";
        device.receive(command.data(), command.size(), 0);
    }
    const std::vector<std::string>& kept = device.receivedCommands();
    ASSERT_GE(kept.size(), CounterDevice::keptCommands);
    EXPECT_LE(kept.size(), 2 * CounterDevice::keptCommands);
    EXPECT_EQ(kept.back(), "X" + std::to_string(total - 1));
    EXPECT_EQ(kept.front(), "X" + std::to_string(total - kept.size()));
}

// A scenario out of range gives some answer, never a crash or a hang.
TEST(CounterDevice, OutlandishScenariosStillAnswer) {
    const double nan = std::nan("");
    std::vector<Scenario> scenarios(6);
    scenarios[0].frequencyHz = nan;
    scenarios[1].frequencyHz = 1e300;
    scenarios[2].frequencyHz = -5;
    scenarios[3].jitterPpm = 1e12;
    scenarios[3].stopAtSeconds = nan;
    scenarios[4].changes[0] = {nan, 1e7};
    scenarios[4].changes[1] = {1e30, nan};
    scenarios[4].changeCount = 1000;
    scenarios[5].faults[0] = {FaultKind::Silent, nan, 1e300};
    scenarios[5].faultCount = -3;
    scenarios[5].linkLatencyMs = nan;
    for (const Scenario& scenario : scenarios) {
        CounterDevice device(scenario);
        configure(device, 8000000, 0);
        for (uint64_t t : {uint64_t{0}, 3 * second, uint64_t{1} << 62}) {
            EXPECT_EQ(queryFrame(device, t).size(), static_cast<size_t>(responseFrameLength));
        }
    }
}

TEST(CounterDevice, JitterIsReproducibleAndBounded) {
    Scenario scenario = signalAt(1000.0, 7);
    scenario.jitterPpm = 2000;
    auto periods = [](const Scenario& s) {
        CounterDevice device(s);
        configure(device, 100, 0);
        std::vector<uint32_t> seen;
        for (uint64_t t = 1 * second; t < 3 * second; t += 100 * ms) {
            seen.push_back(device.registers(t).periodCount);
        }
        return seen;
    };
    const std::vector<uint32_t> once = periods(scenario);
    EXPECT_EQ(periods(scenario), once);
    // Each edge moves by at most 0.2 % of a period: a gate by at most two such moves.
    for (uint32_t period : once) {
        EXPECT_NEAR(period, 100000.0, 2 * 2.0 + 1.0);
    }
    Scenario other = scenario;
    other.seed = 8;
    EXPECT_NE(periods(other), once);
}

// --- Faults ---------------------------------------------------------------------------

Scenario withFault(FaultKind kind, double from, double until) {
    Scenario scenario = signalAt(1234.5);
    scenario.faults[0] = {kind, from, until};
    scenario.faultCount = 1;
    return scenario;
}

// Inside the window [1 s, 2 s) the frame is damaged; before and after it is whole.
struct FaultCase {
    FaultKind kind;
    const char* name;
    size_t readableInside;  // bytes readable 1 ms after the queries
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) {
    return out << c.name;
}

class FaultWindowTest : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultWindowTest, DamagesOnlyFramesInsideItsWindow) {
    const FaultCase c = GetParam();
    CounterDevice device(withFault(c.kind, 1.0, 2.0));
    configure(device, 1000, 0);
    EXPECT_EQ(queryFrame(device, 900 * ms).size(), static_cast<size_t>(responseFrameLength));
    const std::string inside = queryFrame(device, 1500 * ms);
    EXPECT_EQ(inside.size(), c.readableInside);
    const std::string after = queryFrame(device, 2500 * ms);
    ASSERT_EQ(after.size(), static_cast<size_t>(responseFrameLength));
    EXPECT_NEAR(decode(after).periodCount, 810045.6, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FaultWindowTest,
    testing::Values(FaultCase{FaultKind::Unplugged, "Unplugged", 0},
                    FaultCase{FaultKind::Silent, "Silent", 0},
                    FaultCase{FaultKind::MalformedFields, "MalformedFields", 54},
                    FaultCase{FaultKind::StrayBytes, "StrayBytes", 57},
                    FaultCase{FaultKind::ShortFrame, "ShortFrame", 50},
                    FaultCase{FaultKind::EndlessStream, "EndlessStream", 54 + 4096},
                    // The answer to register 7 waits for the next sequence.
                    FaultCase{FaultKind::OutOfStep, "OutOfStep", 45}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST(CounterDeviceFaults, UnpluggedTakesNothingAndLosesWhatWasOnItsWay) {
    CounterDevice device(withFault(FaultKind::Unplugged, 1.0, 2.0));
    configure(device, 1000, 0);
    for (const CounterCommand& command : querySequence().commands) {
        send(device, command, 999900);
    }
    EXPECT_FALSE(device.unplugged(999 * ms));
    EXPECT_TRUE(device.unplugged(1 * second));
    EXPECT_TRUE(device.unplugged(1999999));
    EXPECT_FALSE(device.unplugged(2 * second));
    EXPECT_EQ(device.readableBytes(1500 * ms), 0u);
    EXPECT_EQ(device.receivedCommands().size(), 9u + 6u);
    send(device, querySequence().commands[0], 1500 * ms);
    EXPECT_EQ(device.receivedCommands().size(), 9u + 6u) << "nothing reaches an unplugged device";
    EXPECT_EQ(device.readableBytes(2500 * ms), 0u) << "answers in flight are lost";
}

TEST(CounterDeviceFaults, MalformedFieldsNeverDecode) {
    CounterDevice device(withFault(FaultKind::MalformedFields, 0.0, -1.0));
    configure(device, 1000, 0);
    for (uint64_t t = 1 * second; t < 10 * second; t += 700 * ms) {
        const std::string frame = queryFrame(device, t);
        ASSERT_EQ(frame.size(), static_cast<size_t>(responseFrameLength));
        for (int k = 0; k < queryCommandCount; ++k) {
            EXPECT_EQ(parseHexField(4, frame.data() + 9 * k + 4), -1) << frame;
        }
    }
}

TEST(CounterDeviceFaults, OutOfStepFramesHaveTheLengthOfAFrameButBeginOneAnswerLate) {
    CounterDevice device(withFault(FaultKind::OutOfStep, 0.0, -1.0));
    configure(device, 1000, 0);
    EXPECT_EQ(queryFrame(device, 1 * second).size(), 45u);
    for (uint64_t t = 2 * second; t < 5 * second; t += 700 * ms) {
        const std::string frame = queryFrame(device, t);
        ASSERT_EQ(frame.size(), static_cast<size_t>(responseFrameLength));
        EXPECT_EQ(frame.substr(0, 4), "M07=");
        EXPECT_EQ(frame.substr(9, 4), "M00=");
    }
}

TEST(CounterDeviceFaults, AFloodLeavesAFullBufferBehind) {
    CounterDevice device(withFault(FaultKind::Flood, 1.0, 2.0));
    configure(device, 1000, 0);
    EXPECT_GT(device.readableBytes(1500 * ms), 40000u);
    EXPECT_EQ(device.readableBytes(2500 * ms), CounterDevice::linkBufferBytes);
    std::string all(CounterDevice::linkBufferBytes, '\0');
    EXPECT_EQ(device.read(all.data(), all.size(), 2500 * ms), all.size());
    EXPECT_EQ(all.substr(0, 18), "M00=FFFF\rM00=FFFF\r");
    const std::string frame = queryFrame(device, 3 * second);
    ASSERT_EQ(frame.size(), static_cast<size_t>(responseFrameLength));
    EXPECT_NEAR(decode(frame).periodCount, 810045.6, 1.0);
}

TEST(CounterDeviceFaults, SilentStillTakesTheConfiguration) {
    CounterDevice device(withFault(FaultKind::Silent, 0.0, -1.0));
    configure(device, 1000, 0);
    EXPECT_EQ(device.gateInputPeriods(), 1000u);
    EXPECT_EQ(queryFrame(device, 1 * second).size(), 0u);
    EXPECT_EQ(device.receivedCommands().size(), 9u + 6u);
}

TEST(CounterDeviceFaults, AnEndlessStreamOutrunsAnyDrain) {
    CounterDevice device(withFault(FaultKind::EndlessStream, 1.0, -1.0));
    EXPECT_EQ(device.nextArrivalMicros(0), 1 * second);
    char buffer[128];
    for (int i = 0; i < 1000; ++i) {
        ASSERT_GT(device.readableBytes(1 * second), 0u);
        ASSERT_EQ(device.read(buffer, sizeof buffer, 1 * second), sizeof buffer);
    }
    EXPECT_GT(device.readableBytes(1 * second), 128u);
}

TEST(CounterDeviceFaults, AnyBytesFromTheHostAreTakenSafely) {
    CounterDevice device(signalAt(1234.5));
    uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    };
    // Mostly pieces of real commands, glued with arbitrary bytes.
    const char* pieces[] = {"M0", "M00", "M07", "M008", "M020", "M03000", "\r", "ff", "\n"};
    char buffer[256];
    for (uint64_t t = 0; t < 2000; ++t) {
        std::string bytes;
        for (uint32_t i = next() % 8; i > 0; --i) {
            if (next() % 2 == 0) {
                bytes += pieces[next() % (sizeof pieces / sizeof *pieces)];
            } else {
                bytes += static_cast<char>(next());
            }
        }
        device.receive(bytes.data(), bytes.size(), t * ms);
        const size_t readable = device.readableBytes(t * ms);
        EXPECT_EQ(device.read(buffer, sizeof buffer, t * ms), std::min(readable, sizeof buffer));
    }
    EXPECT_LE(device.registers(2 * second).divider, 0xFFFFFFu);
}

// --- The device log -------------------------------------------------------------------

std::string logOf(void (*drive)(FILE*)) {
    FILE* log = std::tmpfile();
    drive(log);
    const std::string text = readBack(log);
    std::fclose(log);
    return text;
}

void driveARun(FILE* log) {
    Scenario scenario = signalAt(1234.5);
    scenario.jitterPpm = 50;
    scenario.deviceLog = log;
    scenario.faults[0] = {FaultKind::MalformedFields, 2.0, 2.2};
    scenario.faultCount = 1;
    CounterDevice device(scenario);
    configure(device, 1000, 1500);
    for (uint64_t t = 100 * ms; t < 3 * second; t += 100 * ms) {
        queryFrame(device, t);
    }
}

TEST(CounterDeviceLog, RecordsCommandsAndAnswersWithTheirTimes) {
    const std::string text = logOf(driveARun);
    const std::string opening = "1.500 > M024\n1.500 > M02001f3\n1.500 > M0300000\n";
    EXPECT_EQ(text.substr(0, opening.size()), opening);
    EXPECT_NE(text.find("\n100.000 > M00\n100.000 < M00="), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(CounterDeviceLog, TheSameRunGivesTheSameLog) {
    const std::string first = logOf(driveARun);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(logOf(driveARun), first);
}

}  // namespace
