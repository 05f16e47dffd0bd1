// Faults of the counter and of the input, end to end on the virtual clock: every step
// returns, and every number the program draws is either dashes or within one tick of
// the input that was really there while it was measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/measurement.h"
#include "core/cycle.h"
#include "device/connection.h"
#include "testing/program_run.h"

// The cycle's states and phases by their bare names.
using enum CycleState;
using enum RangePhase;

namespace {

using program_run::dashes;
using program_run::labelBytes;

struct Key {
    double atSeconds;
    char character;
};

struct Scenario {
    const char* name;
    double frequencyHz;
    double runSeconds;
    std::vector<sim::FrequencyChange> changes;
    double stopAtSeconds;
    std::vector<sim::FaultWindow> faults;
    std::vector<Key> keys;
    // Numeric readings must be shown after this time (the fault has cleared); negative
    // when the end of the run may rightly show none.
    double readingsResumeBy;
    // When not negative: a numeric reading is shown no later than this, after
    // readingsResumeBy.
    double firstReadingBy = -1;
    // When not negative: by this time the period line shows dashes (the fault began
    // about a second before).
    double dashesBy = -1;
    // When not negative: at this time the period line still shows the reading from
    // before the fault (too early for it to count as stale).
    double readingStillAt = -1;
};

std::ostream& operator<<(std::ostream& out, const Scenario& scenario) {
    return out << scenario.name;
}

struct Shown {
    double atSeconds;
    long periodCount;
    long divider;
    bool numericPeriod;
};

// The input frequency at a time, as the scenario sets it; 0 once stopped.
double frequencyAt(const Scenario& s, double seconds) {
    if (s.stopAtSeconds >= 0 && seconds >= s.stopAtSeconds) {
        return 0.0;
    }
    double f = s.frequencyHz;
    for (const sim::FrequencyChange& change : s.changes) {
        if (seconds >= change.atSeconds) {
            f = change.frequencyHz;
        }
    }
    return f;
}

// A gate ending by `seconds` began at most its own length earlier, plus the time the
// shown count may be old: the frequencies in that window bound what it may read.
bool withinTruth(const Scenario& s, const Shown& shown) {
    const double gateSeconds = static_cast<double>(shown.periodCount) / 1e6;
    const double from = shown.atSeconds - 2 * gateSeconds - 0.5;
    double lowest = INFINITY;
    double highest = 0;
    for (double t = from; t <= shown.atSeconds; t += 0.01) {
        const double f = frequencyAt(s, std::max(t, 0.0));
        if (f <= 0) {
            continue;
        }
        const double expected = static_cast<double>(shown.divider) * 1e6 / f;
        lowest = std::min(lowest, expected);
        highest = std::max(highest, expected);
    }
    const double count = static_cast<double>(shown.periodCount);
    return count >= lowest - 1.0 && count <= highest + 1.0;
}

class FaultScenario : public testing::TestWithParam<Scenario> {
protected:
    void TearDown() override { closeDevice(); }
};

TEST_P(FaultScenario, ShowsOnlyDashesOrTheTruth) {
    const Scenario& s = GetParam();
    sim::Scenario scenario;
    scenario.frequencyHz = s.frequencyHz;
    scenario.stopAtSeconds = s.stopAtSeconds;
    for (const sim::FrequencyChange& change : s.changes) {
        scenario.changes[scenario.changeCount++] = change;
    }
    for (const sim::FaultWindow& fault : s.faults) {
        scenario.faults[scenario.faultCount++] = fault;
    }
    program_run::start(scenario);
    ASSERT_EQ(measurementState.cycleState, Configure);

    std::vector<Shown> shown;
    // Every period line drawn: when, and whether it was a number.
    std::vector<std::pair<double, bool>> periodLines;
    long count = -1;
    long divider = -1;
    size_t seen = 0;
    size_t nextKey = 0;
    const uint64_t tick = uint64_t{cycleTickMs} * 1000;
    const uint64_t end = static_cast<uint64_t>(s.runSeconds * 1e6);
    for (uint64_t now = 0; now <= end; now += tick) {
        while (nextKey < s.keys.size() &&
               s.keys[nextKey].atSeconds * 1e6 <= static_cast<double>(now)) {
            // As the window routes a character: the range command, then one step.
            applyRangeCommand(static_cast<unsigned char>(s.keys[nextKey].character));
            runMeasurementStepAfterKey(program_run::window());
            ++nextKey;
        }
        program_run::runUntil(now);
        const std::vector<DrawnText>& drawn = program_run::drawn();
        for (; seen < drawn.size(); ++seen) {
            const DrawnText& text = drawn[seen];
            if (text.x == 10 && text.y == 5) {
                count = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
                // No answer of the counter in these runs carries a gate of half an hour:
                // a negative count is a number made up from a bad answer.
                EXPECT_GE(count, 0) << "count line at " << static_cast<double>(now) / 1e6 << " s";
            } else if (text.x == 10 && text.y == 55) {
                divider = std::strtol(text.bytes.c_str() + labelBytes, nullptr, 10);
            } else if (text.x == 0 && text.y == 150) {
                periodLines.emplace_back(static_cast<double>(now) / 1e6, text.bytes != dashes);
                if (text.bytes != dashes) {
                    shown.push_back({static_cast<double>(now) / 1e6, count, divider, true});
                }
            }
        }
    }

    for (const Shown& reading : shown) {
        EXPECT_TRUE(withinTruth(s, reading))
            << "at " << reading.atSeconds << " s: count " << reading.periodCount << " over "
            << reading.divider << " periods, input " << frequencyAt(s, reading.atSeconds) << " Hz";
    }
    if (s.readingsResumeBy >= 0) {
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                                [&](const Shown& r) { return r.atSeconds >= s.readingsResumeBy; }))
            << "no reading after " << s.readingsResumeBy << " s";
    }
    if (s.firstReadingBy >= 0) {
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                                [&](const Shown& r) {
                                    return r.atSeconds >= s.readingsResumeBy &&
                                           r.atSeconds <= s.firstReadingBy;
                                }))
            << "no reading between " << s.readingsResumeBy << " s and " << s.firstReadingBy << " s";
    }
    if (s.dashesBy >= 0) {
        bool numeric = false;
        for (const auto& [at, isNumber] : periodLines) {
            if (at <= s.dashesBy) {
                numeric = isNumber;
            }
        }
        EXPECT_FALSE(numeric) << "a reading still shown at " << s.dashesBy << " s";
    }
    if (s.readingStillAt >= 0) {
        bool numeric = false;
        for (const auto& [at, isNumber] : periodLines) {
            if (at <= s.readingStillAt) {
                numeric = isNumber;
            }
        }
        EXPECT_TRUE(numeric) << "the reading was blanked before " << s.readingStillAt << " s";
    }
}

using sim::FaultKind;

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultScenario,
    testing::Values(
        Scenario{"UnpluggedMidMeasurement",
                 1234.5,
                 30,
                 {},
                 -1,
                 {{FaultKind::Unplugged, 10.3, -1}},
                 {},
                 -1},
        Scenario{
            "SilentThenAnswersAgain", 1234.5, 40, {}, -1, {{FaultKind::Silent, 10, 15}}, {}, 20},
        Scenario{"MalformedFieldsForAWhile",
                 1234.5,
                 40,
                 {},
                 -1,
                 {{FaultKind::MalformedFields, 10, 15}},
                 {},
                 20},
        Scenario{
            "StrayBytesForAWhile", 1234.5, 40, {}, -1, {{FaultKind::StrayBytes, 10, 15}}, {}, 20},
        Scenario{
            "ShortFramesForAWhile", 1234.5, 40, {}, -1, {{FaultKind::ShortFrame, 10, 15}}, {}, 20},
        Scenario{"EndlessStreamForAWhile",
                 1234.5,
                 40,
                 {},
                 -1,
                 {{FaultKind::EndlessStream, 10, 15}},
                 {},
                 20},
        Scenario{"UnpluggedDuringRanging",
                 1234.5,
                 20,
                 {},
                 -1,
                 {{FaultKind::Unplugged, 0.2, -1}},
                 {},
                 -1},
        Scenario{"InputStops", 1234.5, 40, {}, 10, {}, {}, -1},
        Scenario{"InputStopsInFixedRange", 1234.5, 40, {}, 10, {}, {{5, ' '}}, -1},
        Scenario{
            "FrequencyJumpsUpAndDownBy1000", 100, 60, {{15, 100000}, {30, 100}}, -1, {}, {}, 45},
        Scenario{
            "FrequencyJumpsDownAndUpBy1000", 300000, 60, {{15, 300}, {30, 300000}}, -1, {}, {}, 45},
        // 2^32 edges at 500 kHz take 8590 s: the range count wraps mid-run.
        Scenario{"RegistersWrapPast2To32", 500000, 9000, {}, -1, {}, {}, 8800},
        // An answer out of step is no measurement: dashes, never numbers made from it.
        Scenario{
            "OutOfStepForAWhile", 1234.5, 40, {}, -1, {{FaultKind::OutOfStep, 10, 15}}, {}, 15, 17},
        Scenario{"OutOfStepInFixedRange",
                 1000,
                 30,
                 {},
                 -1,
                 {{FaultKind::OutOfStep, 10, 15}},
                 {{5, ' '}},
                 15,
                 17},
        // A garbled field: the reading turns to dashes at once, not after a refresh.
        Scenario{"MalformedFieldsInFixedRange",
                 1000,
                 30,
                 {},
                 -1,
                 {{FaultKind::MalformedFields, 10, -1}},
                 {{5, ' '}},
                 -1,
                 -1,
                 10.2},
        // Stray bytes after every frame are no frames: dashes within the second.
        Scenario{"StrayBytesFromNowOn",
                 1234.5,
                 20,
                 {},
                 -1,
                 {{FaultKind::StrayBytes, 10, -1}},
                 {},
                 -1,
                 -1,
                 11.05},
        // The counter goes quiet after streaming: readings are back within about a second.
        Scenario{
            "FloodThenQuiet", 1000, 30, {}, -1, {{FaultKind::Flood, 10, 13}}, {{5, ' '}}, 13, 14.2},
        // Silent in fixed range, with keys that step the cycle many times: only time makes
        // the reading stale, and it does within the second.
        Scenario{"SilentWithKeysPressed",
                 1000,
                 20,
                 {},
                 -1,
                 {{FaultKind::Silent, 10, -1}},
                 {{5, ' '},    {10.1, 'x'}, {10.1, 'x'}, {10.1, 'x'}, {10.1, 'x'}, {10.1, 'x'},
                  {10.1, 'x'}, {10.1, 'x'}, {10.1, 'x'}, {10.1, 'x'}, {10.1, 'x'}, {10.2, 'x'},
                  {10.2, 'x'}, {10.2, 'x'}, {10.2, 'x'}, {10.2, 'x'}, {10.2, 'x'}, {10.2, 'x'},
                  {10.2, 'x'}, {10.2, 'x'}, {10.2, 'x'}, {10.2, 'x'}, {10.2, 'x'}},
                 -1,
                 -1,
                 11.05,
                 10.5},
        // The count line still tells the truth where the period is below a microsecond.
        Scenario{"TenMegahertzInFixedRange", 1e7, 20, {}, -1, {}, {{1, ' '}, {1.5, '+'}}, -1}),
    [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
