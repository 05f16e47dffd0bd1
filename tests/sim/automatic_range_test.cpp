// The automatic range end to end on the virtual clock: the whole measurement cycle
// against the simulated counter, over the span of inputs it is meant for, over a slow
// link, through changes of the input, and with the range samples not 100 ms apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/measurement.h"
#include "core/cycle.h"
#include "device/connection.h"
#include "testing/program_run.h"
#include "testing/fake_platform.h"

// The cycle's states and phases by their bare names.
using enum CycleState;
using enum RangePhase;

namespace {

using program_run::dashes;
using program_run::labelBytes;

// One evaluation that drew a number in the period line.
struct Reading {
    double atSeconds;
    long periodCount;
    long divider;
    std::string period;
    int configurationsBefore;  // counter configurations up to this reading
};

struct ProgramRun {
    std::vector<Reading> readings;
    int configurations = 0;
};

// The counter configurations so far: each one sets the cycle's timer to 50 ms.
int configurationsSoFar() {
    int n = 0;
    for (const fake::TimerCall& call : fake::state.timers) {
        n += call.set && call.elapseMs == cycleTickMs ? 1 : 0;
    }
    return n;
}

// Runs the program for `seconds`, a timer tick every 50 ms; `late` tells how late the
// next tick fires (µs), given the state it will find.
ProgramRun runProgram(const sim::Scenario& scenario, double seconds,
                      const std::function<uint64_t()>& late = {}) {
    program_run::start(scenario);
    ProgramRun run;
    long count = -1;
    long divider = -1;
    size_t seen = 0;
    const uint64_t tick = uint64_t{cycleTickMs} * 1000;
    const uint64_t end = static_cast<uint64_t>(seconds * 1e6);
    for (uint64_t due = 0; due <= end; due += tick) {
        const uint64_t at = due + (late ? late() : 0);
        sim::setVirtualMicros(std::max(at, sim::virtualClock().nowMicros()));
        runMeasurementStep(program_run::window());
        const std::vector<DrawnText>& drawn = program_run::drawn();
        for (; seen < drawn.size(); ++seen) {
            const DrawnText& text = drawn[seen];
            if (text.x == 10 && text.y == 5) {
                count = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
            } else if (text.x == 10 && text.y == 55) {
                divider = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
            } else if (text.x == 0 && text.y == 150 && text.bytes != dashes) {
                run.readings.push_back({static_cast<double>(at) / 1e6, count, divider, text.bytes,
                                        configurationsSoFar()});
            }
        }
    }
    run.configurations = configurationsSoFar();
    closeDevice();
    return run;
}

// The value of a period line and the place value of its last digit shown. The line is
// "%14.6f" with trailing characters masked by "_", the decimal point too on long periods.
bool parsePeriod(const std::string& text, double& value, double& unit) {
    const size_t begin = text.find_first_not_of(' ');
    const size_t end = text.find(' ', begin);
    if (begin == std::string::npos) {
        return false;
    }
    const std::string field = text.substr(begin, end == std::string::npos ? end : end - begin);
    const int point = static_cast<int>(field.size()) - 7;
    value = 0;
    unit = 0;
    for (int i = 0; i < static_cast<int>(field.size()); ++i) {
        const char c = field[static_cast<size_t>(i)];
        if (i == point || c == '_') {
            continue;
        }
        if (c < '0' || c > '9') {
            return false;
        }
        const int place = i < point ? point - i - 1 : point - i;
        value += (c - '0') * std::pow(10.0, place);
        unit = std::pow(10.0, place);
    }
    return unit > 0;
}

// In automatic mode a number comes only from a gate inside the band the range keeps.
bool inBand(const Reading& r) {
    return r.periodCount >= 120000 && (r.periodCount <= 1300000 || r.divider == 4);
}

// Shown for an input of `hz`: the count within one tick of N true periods, and the
// period line within one tick of its N periods plus a unit of its last digit.
void expectTruth(const Reading& r, double hz, const std::string& where) {
    const double truth = 1e6 / hz;
    EXPECT_NEAR(static_cast<double>(r.periodCount), truth * static_cast<double>(r.divider), 1.0)
        << where << ", divider " << r.divider;
    double shown = 0;
    double unit = 0;
    ASSERT_TRUE(parsePeriod(r.period, shown, unit)) << r.period;
    EXPECT_NEAR(shown, truth, 1.0 / static_cast<double>(r.divider) + unit)
        << where << ": " << r.period;
}

// Long enough for ranging, three gates of divider 4 and settling; on a line slower than
// 2400 baud every frame takes that much longer to come.
double runLength(double hz, double baud = 0) {
    const double length = std::max(20.0, 3 * 4 / hz + 15);
    return baud > 0 && baud < 2400 ? length * 2400 / baud : length;
}

struct Steady {
    double hz;
    double baud;
};

std::ostream& operator<<(std::ostream& out, const Steady& s) {
    return out << s.hz << " Hz, " << (s.baud > 0 ? std::to_string(s.baud) : "instant");
}

class SteadyInput : public testing::TestWithParam<Steady> {};

// Every input from 0.1 Hz to 1 MHz gets a true reading and keeps its range once shown;
// among them the tops of each decade and the slow inputs no range used to fit.
TEST_P(SteadyInput, ReadsTheTruthAndKeepsItsRange) {
    const Steady s = GetParam();
    sim::Scenario scenario;
    scenario.frequencyHz = s.hz;
    scenario.baud = s.baud;
    const ProgramRun run = runProgram(scenario, runLength(s.hz, s.baud));
    ASSERT_FALSE(run.readings.empty()) << "no reading";
    for (const Reading& r : run.readings) {
        expectTruth(r, s.hz, "at " + std::to_string(r.atSeconds) + " s");
        EXPECT_TRUE(inBand(r)) << r.periodCount << " over " << r.divider;
    }
    EXPECT_EQ(run.configurations, run.readings.front().configurationsBefore)
        << "ranged again after the first reading";
}

std::vector<Steady> steadyInputs() {
    std::vector<Steady> inputs;
    for (double baud : {0.0, 9600.0}) {
        for (double hz : {0.1001, 0.3,     1.2,     1.4,      5.0,      9.5,      12.0,
                          85.0,   95.0,    850.0,   900.0,    990.0,    1234.5,   8500.0,
                          9000.0, 95000.0, 99500.0, 833500.0, 850000.0, 920000.0, 999000.0}) {
            inputs.push_back({hz, baud});
        }
    }
    // Lines so slow that a frame takes about a second or more to arrive: an answer still
    // coming in is waited for rather than asked for again.
    for (double baud : {600.0, 300.0}) {
        for (double hz : {0.5, 12.0, 1234.5, 95000.0}) {
            inputs.push_back({hz, baud});
        }
    }
    return inputs;
}

std::string caseName(double hz, double baud) {
    char text[32];
    std::snprintf(text, sizeof text, "Hz%g", hz);
    std::string name = text;
    std::replace(name.begin(), name.end(), '.', '_');
    return baud > 0 ? name + "_baud" + std::to_string(static_cast<long>(baud)) : name;
}

INSTANTIATE_TEST_SUITE_P(Span, SteadyInput, testing::ValuesIn(steadyInputs()),
                         [](const testing::TestParamInfo<Steady>& info) {
                             return caseName(info.param.hz, info.param.baud);
                         });

// A change of the input: a jump, or a stop and a restart 10 s later.
struct Change {
    const char* name;
    double fromHz;
    double atSeconds;
    double toHz;  // 0: the input stops, and restarts at fromHz
    double baud;
};

std::ostream& operator<<(std::ostream& out, const Change& c) {
    return out << c.name;
}

class InputChange : public testing::TestWithParam<Change> {};

// Each change settles on the new input, ranging again where the divider no longer fits
// it; no number drawn meanwhile is outside what the input was during its gate, or from
// a gate out of its band.
TEST_P(InputChange, RerangesAndSettles) {
    const Change c = GetParam();
    sim::Scenario scenario;
    scenario.frequencyHz = c.fromHz;
    scenario.baud = c.baud;
    scenario.changes[scenario.changeCount++] = {c.atSeconds, c.toHz};
    const bool stops = c.toHz <= 0;
    const double finalHz = stops ? c.fromHz : c.toHz;
    const double newFrom = stops ? c.atSeconds + 10 : c.atSeconds;
    if (stops) {
        scenario.changes[scenario.changeCount++] = {newFrom, c.fromHz};
    }
    const ProgramRun run = runProgram(scenario, newFrom + runLength(finalHz));

    ASSERT_FALSE(run.readings.empty());
    EXPECT_LT(run.readings.front().atSeconds, c.atSeconds) << "the first input was read";
    const Reading* lastOld = nullptr;
    const Reading* firstNew = nullptr;
    for (const Reading& r : run.readings) {
        EXPECT_TRUE(inBand(r)) << r.periodCount << " over " << r.divider;
        const std::string where = "at " + std::to_string(r.atSeconds) + " s";
        if (r.atSeconds < newFrom) {
            // Before the change, or a gate that ended before the input stopped: the stall
            // rule turns it to dashes once 1.2 gates have passed without a new one.
            expectTruth(r, c.fromHz, where);
            EXPECT_LT(r.atSeconds, c.atSeconds + 1.2 * static_cast<double>(r.periodCount) / 1e6 + 2)
                << where << ": an old reading stays";
            lastOld = &r;
            continue;
        }
        // A gate that began before a jump reads between the two inputs.
        const double before = static_cast<double>(r.divider) * 1e6 / c.fromHz;
        const double after = static_cast<double>(r.divider) * 1e6 / finalHz;
        const double count = static_cast<double>(r.periodCount);
        if (std::fabs(count - after) > 1.0) {
            EXPECT_FALSE(stops) << where << ": only the new input is read after a restart, "
                                << count << " over " << r.divider;
            EXPECT_GE(count, std::min(before, after) - 1.0) << where;
            EXPECT_LE(count, std::max(before, after) + 1.0) << where;
            EXPECT_TRUE(firstNew == nullptr) << where << ": an old reading after a new one";
            continue;
        }
        expectTruth(r, finalHz, where);
        if (firstNew == nullptr) {
            firstNew = &r;
        }
    }
    ASSERT_NE(lastOld, nullptr);
    ASSERT_NE(firstNew, nullptr) << "the new input was never read";
    // The old divider's gate for the new input, where it leaves the band, ranges again.
    const double gate = static_cast<double>(lastOld->divider) * 1e6 / finalHz;
    if (stops || gate < 120000 || (gate > 1300000 && lastOld->divider != 4)) {
        EXPECT_GT(firstNew->configurationsBefore, lastOld->configurationsBefore)
            << "it did not range again";
    }
    EXPECT_EQ(run.configurations, firstNew->configurationsBefore)
        << "ranged again after the first reading of the new input";
}

INSTANTIATE_TEST_SUITE_P(
    Changes, InputChange,
    testing::Values(Change{"Up300HzTo850kHz", 300, 10, 850000, 0},
                    Change{"Up95kHzTo950kHz", 95000, 10, 950000, 0},
                    Change{"Down950kHzTo95kHz", 950000, 10, 95000, 0},
                    Change{"Up900HzTo9kHz", 900, 10, 9000, 0},
                    Change{"Down9kHzTo900Hz", 9000, 10, 900, 0},
                    Change{"Up9HzTo90Hz", 9, 10, 90, 0}, Change{"Down90HzTo9Hz", 90, 10, 9, 0},
                    Change{"Up1_2HzTo12Hz", 1.2, 15, 12, 0},
                    Change{"Down12HzTo1_2Hz", 12, 10, 1.2, 0},
                    Change{"Up900HzTo9kHzSlowLink", 900, 10, 9000, 9600},
                    Change{"Down9kHzTo900HzSlowLink", 9000, 10, 900, 9600},
                    Change{"Down90HzTo9HzSlowLink", 90, 10, 9, 9600},
                    Change{"StopsAndRestarts1kHz", 1000, 10, 0, 0},
                    Change{"StopsAndRestarts85Hz", 85, 10, 0, 0},
                    Change{"StopsAndRestarts0_5Hz", 0.5, 30, 0, 0},
                    Change{"StopsAndRestarts950kHzSlowLink", 950000, 10, 0, 9600}),
    [](const testing::TestParamInfo<Change>& info) { return info.param.name; });

// The interval between the two range samples, on the real clock one timer period, is
// not always 100 ms: the counter's clock times it, and the divider still fits at once.
struct Interval {
    const char* name;
    double hz;
    // How late each tick fires, given the state it finds.
    uint64_t (*late)();
};

std::ostream& operator<<(std::ostream& out, const Interval& i) {
    return out << i.name;
}

uint64_t firstSampleLate() {
    // The first sample's queries go out 10 ms late: the samples are 90 ms apart.
    return measurementState.cycleState == Query && measurementState.rangePhase == FirstSample
               ? 10000
               : 0;
}

uint64_t secondSampleLate() {
    // The second sample's queries go out 10 ms late: the samples are 110 ms apart.
    return measurementState.cycleState == Query && measurementState.rangePhase == SecondSample
               ? 10000
               : 0;
}

uint64_t everyTickLate() {
    // Every tick late by 0 to 29 ms, the same way in every run.
    static uint32_t state = 12345;
    state = state * 1103515245u + 12345u;
    return (state >> 16) % 30 * 1000;
}

class SampleInterval : public testing::TestWithParam<Interval> {};

TEST_P(SampleInterval, StillSettlesAtOnce) {
    const Interval i = GetParam();
    sim::Scenario scenario;
    scenario.frequencyHz = i.hz;
    const ProgramRun run = runProgram(scenario, 20, i.late);
    ASSERT_FALSE(run.readings.empty()) << "no reading";
    for (const Reading& r : run.readings) {
        expectTruth(r, i.hz, "at " + std::to_string(r.atSeconds) + " s");
        EXPECT_TRUE(inBand(r)) << r.periodCount << " over " << r.divider;
    }
    // The start-up configuration and the ranged one, nothing more.
    EXPECT_EQ(run.readings.front().configurationsBefore, 2);
    EXPECT_EQ(run.configurations, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Intervals, SampleInterval,
    testing::Values(Interval{"Just above 1 kHz, 90 ms", 1005, firstSampleLate},
                    Interval{"Just above 100 Hz, 90 ms", 100.5, firstSampleLate},
                    Interval{"Just above 100 kHz, 90 ms", 100500, firstSampleLate},
                    Interval{"Just below 1 kHz, 110 ms", 995, secondSampleLate},
                    Interval{"8.4 kHz, 110 ms", 8400, secondSampleLate},
                    Interval{"830 Hz, 110 ms", 830, secondSampleLate},
                    Interval{"Just above 1 kHz, every tick late", 1005, everyTickLate},
                    Interval{"Just below 10 kHz, every tick late", 9950, everyTickLate}),
    [](const testing::TestParamInfo<Interval>& info) {
        std::string name = info.param.name;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) {
                ch = '_';
            }
        }
        return name;
    });

}  // namespace
