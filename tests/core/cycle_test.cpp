#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/measurement.h"
#include "core/cycle.h"
#include "core/protocol.h"
#include "device/connection.h"
#include "testing/fake_platform.h"

// The cycle's states and phases by their bare names.
using enum CycleState;
using enum RangePhase;

namespace {

using fake::state;

std::string sequenceText(const ConfigurationSequence& sequence) {
    std::string all;
    for (const CounterCommand& command : sequence.commands) {
        all += std::string(command.bytes, static_cast<size_t>(command.length));
    }
    return all;
}

class Cycle : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }

    void step() { runMeasurementStep(fake::testWindow()); }

    // A measuring cycle with this divider, configured and drained, as after ranging.
    void startMeasuring(int32_t divider, int32_t autoRange = 1) {
        fake::attachDevice();
        measurementState.rangePhase = Measuring;
        measurementState.divider = divider;
        measurementState.autoRange = autoRange;
        step();  // Configure
        step();  // Drain
        ASSERT_EQ(measurementState.cycleState, Query);
    }

    // As after a while of measuring: settled, with a gate of this divider completed.
    static void settle(int32_t ticks = 50) {
        measurementState.ticksSinceConfig = ticks;
        measurementState.gateComplete = 1;
    }

    // One Query and one Collect step; returns the texts drawn meanwhile.
    std::vector<fake::Drawn> evaluate() {
        const size_t before = state.drawn.size();
        step();
        step();
        return {state.drawn.begin() + static_cast<long>(before), state.drawn.end()};
    }

    static std::string drawnAt(const std::vector<fake::Drawn>& drawn, int x, int y) {
        std::string text;
        for (const fake::Drawn& d : drawn) {
            if (d.x == x && d.y == y) {
                text = d.bytes;
            }
        }
        return text;
    }

    std::string allWrites() const {
        std::string all;
        for (const std::string& w : state.writes) {
            all += w;
        }
        return all;
    }
};

const std::string dashes = "  ------------  ";

// A counter whose gates of `gateMicros` run back to back from the configuration, queried
// every 100 ms: its registers at the k-th query, as the counter would give them. The
// period register holds `earlierGate` until the first gate completes.
std::function<fake::FrameValues()> gatesOf(int32_t divider, uint32_t gateMicros,
                                           uint32_t earlierGate = 7) {
    return [divider, gateMicros, earlierGate, t = uint64_t{0}]() mutable {
        t += 100000;
        const uint64_t edges = t * static_cast<uint64_t>(divider) / gateMicros;
        const uint32_t period = t >= gateMicros ? gateMicros : earlierGate;
        return fake::FrameValues{static_cast<uint32_t>(t % gateMicros),
                                 static_cast<uint32_t>(5000 + edges), period};
    };
}

TEST_F(Cycle, StartsUpByConfiguringDrainingAndTakingTwoRangeSamples) {
    fake::attachDevice();
    uint32_t range = 5000;
    fake::answerWith([&range]() {
        range += 100;  // about 1 kHz over the 100 ms between samples
        return fake::FrameValues{0, range, 0};
    });
    std::vector<CycleState> states;
    for (int i = 0; i < 7; ++i) {
        states.push_back(measurementState.cycleState);
        step();
    }
    EXPECT_EQ(states, (std::vector<CycleState>{Configure, Drain, Query, Collect, Query, Collect,
                                               Configure}));
    // The first configuration carries 8000000, the second the divider the samples chose.
    ASSERT_EQ(state.writes.size(), 9u + 6u + 6u + 9u);
    std::string first;
    std::string second;
    for (size_t i = 0; i < 9; ++i) {
        first += state.writes[i];
        second += state.writes[21 + i];
    }
    EXPECT_EQ(first, sequenceText(configurationSequence(8000000)));
    EXPECT_EQ(second, sequenceText(configurationSequence(1000)));
    EXPECT_EQ(measurementState.divider, 1000);
    EXPECT_EQ(measurementState.rangePhase, Measuring);
    // Every write is one command with its carriage return and nothing more.
    for (const std::string& w : state.writes) {
        EXPECT_EQ(w.back(), '\r');
        EXPECT_EQ(w.find('\0'), std::string::npos);
    }
    // Configure moves the timer to 50 ms; nothing but the mode label was drawn while ranging.
    ASSERT_GE(state.timers.size(), 2u);
    EXPECT_FALSE(state.timers[0].set);
    EXPECT_TRUE(state.timers[1].set);
    EXPECT_EQ(state.timers[1].elapseMs, 50u);
    EXPECT_EQ(state.timers[1].id, 1u);
    for (const fake::Drawn& d : state.drawn) {
        EXPECT_EQ(d.y, 285) << d.bytes;
    }
}

TEST_F(Cycle, ChoosesTheDividerFromTheRangeDifference) {
    // Ten to the digits of the difference where that gives a gate of 0.125 s to 1.25 s;
    // otherwise the power of ten that does, up to 1000000. Without a usable interval
    // from the counter's clock (here liveCount stays 0) the samples are 100 ms apart.
    const struct {
        uint32_t first;
        uint32_t second;
        int32_t divider;
    } cases[] = {
        {1000, 1000, 4},          {1000, 1005, 10},         {1000, 1008, 10},
        {1000, 1009, 100},        {1000, 1099, 1000},       {1000, 1100, 1000},
        {1000, 1123, 1000},       {0, 800, 1000},           {0, 801, 10000},
        {0, 9999, 100000},        {0, 80000, 100000},       {0, 80001, 1000000},
        {0, 99999, 1000000},      {0, 2000000, 1000000},    {1000, 993, 4},
        {0xFFFFFFF0u, 0x10, 100}, {0, 0x7FFFFFFF, 1000000}, {0, 0x80000000u, 4},
    };
    for (const auto& c : cases) {
        fake::reset();
        fake::attachDevice();
        measurementState.rangePhase = SecondSample;
        measurementState.firstRangeSample = static_cast<int32_t>(c.first);
        measurementState.cycleState = Query;
        fake::answerWith([&c]() { return fake::FrameValues{0, c.second, 0}; });
        step();
        step();
        EXPECT_EQ(measurementState.divider, c.divider) << c.first << " -> " << c.second;
        EXPECT_EQ(measurementState.cycleState, Configure);
        EXPECT_EQ(measurementState.rangePhase, Measuring);
    }
}

TEST_F(Cycle, TimesTheIntervalBetweenTheRangeSamplesWithTheCountersClock) {
    const struct {
        uint32_t difference;
        uint32_t firstLive;
        uint32_t secondLive;
        int32_t divider;
    } cases[] = {
        {95, 5000, 100000, 1000},     // 1 kHz sampled 95 ms apart: 100 would give 0.1 s
        {110, 5000, 115000, 1000},    // 1 kHz, 110 ms
        {150, 20000, 170000, 1000},   // 1 kHz, 150 ms (a slow link)
        {105, 20000, 170000, 100},    // 700 Hz, 150 ms: 1000 would give 1.43 s
        {1, 20000, 170000, 10},       // one edge in 150 ms: 10 fits down to 7.7 Hz
        {1, 20000, 320000, 4},        // one edge in 300 ms: a gate of 10 would be 1.5 s or more
        {1, 100000, 30000, 10},       // the first edge came between: 100 ms assumed
        {100, 100000, 120000, 1000},  // 20 ms cannot be: 100 ms assumed
        {8, 0x7FFFFFF0u, 0x80000010u, 10},  // a count beyond 2^31: 100 ms assumed
    };
    for (const auto& c : cases) {
        fake::reset();
        fake::attachDevice();
        measurementState.rangePhase = FirstSample;
        measurementState.cycleState = Query;
        uint32_t range = 5000;
        uint32_t live = c.firstLive;
        fake::answerWith([&]() { return fake::FrameValues{live, range, 0}; });
        step();
        step();
        ASSERT_EQ(measurementState.rangePhase, SecondSample);
        range += c.difference;
        live = c.secondLive;
        step();
        step();
        EXPECT_EQ(measurementState.divider, c.divider)
            << c.difference << " in " << c.secondLive - c.firstLive;
        EXPECT_EQ(measurementState.cycleState, Configure);
    }
}

TEST_F(Cycle, AnyRangingPhaseAboveFirstCountsAsTheSecondSample) {
    fake::attachDevice();
    measurementState.rangePhase = static_cast<RangePhase>(7);
    measurementState.firstRangeSample = 0;
    measurementState.cycleState = Query;
    fake::answerWith([]() { return fake::FrameValues{0, 50, 0}; });
    step();
    step();
    EXPECT_EQ(measurementState.divider, 100);
    EXPECT_EQ(measurementState.rangePhase, Measuring);
}

TEST_F(Cycle, FixedModeStepsTheDividerByPowersOfTen) {
    const struct {
        int32_t start;
        void (*command)();
        std::vector<int32_t> expected;
    } cases[] = {
        {4, stepRangeUp, {10, 100, 1000, 10000, 100000, 100000}},
        {100000, stepRangeDown, {10000, 1000, 100, 10, 4, 4}},
        {8000000, stepRangeUp, {100000}},
        {8000000, stepRangeDown, {800000, 80000, 8000, 800, 80, 4}},
    };
    for (const auto& c : cases) {
        fake::reset();
        measurementState.autoRange = 0;
        measurementState.divider = c.start;
        std::vector<int32_t> seen;
        for (size_t i = 0; i < c.expected.size(); ++i) {
            measurementState.cycleState = Collect;
            measurementState.ticksSinceConfig = 50;
            c.command();
            seen.push_back(measurementState.divider);
            EXPECT_EQ(measurementState.cycleState, Configure);
            EXPECT_EQ(measurementState.ticksSinceConfig, 0);
        }
        EXPECT_EQ(seen, c.expected) << c.start;
    }
}

TEST_F(Cycle, AutomaticModeIgnoresThePlusAndMinusKeys) {
    measurementState.cycleState = Collect;
    measurementState.ticksSinceConfig = 42;
    stepRangeUp();
    stepRangeDown();
    EXPECT_EQ(measurementState.divider, 8000000);
    EXPECT_EQ(measurementState.cycleState, Collect);
    EXPECT_EQ(measurementState.ticksSinceConfig, 42);
}

TEST_F(Cycle, SpaceOnlyFlipsTheModeAndTheNextCollectDrawsIt) {
    startMeasuring(1000);
    step();  // Query
    const MeasurementState before = measurementState;
    toggleRangeMode();
    EXPECT_EQ(measurementState.autoRange, 0);
    EXPECT_EQ(measurementState.divider, before.divider);
    EXPECT_EQ(measurementState.cycleState, before.cycleState);
    EXPECT_EQ(measurementState.rangePhase, before.rangePhase);
    step();  // Collect, nothing pending
    EXPECT_EQ(fake::utf8(fake::textAt(10, 285)), "固定   ");
    toggleRangeMode();
    EXPECT_EQ(measurementState.autoRange, 1);
    step();
    EXPECT_EQ(fake::utf8(fake::textAt(10, 285)), "自動   ");
}

TEST_F(Cycle, ShowsTheFirstValidPeriodOnlyAfterSettling) {
    // The evaluation whose refresh counter is 0 is the only one that draws; start the
    // counter so that it lands on the evaluation under test.
    const struct {
        int32_t divider;
        uint32_t periodCount;
        int evaluation;
        bool valid;
    } cases[] = {
        {1000, 150000, 11, false},
        {1000, 150000, 12, true},
        {4, 2000000, 31, false},
        {4, 2000000, 32, true},
    };
    for (const auto& c : cases) {
        fake::reset();
        startMeasuring(c.divider);
        measurementState.refreshCounter = (11 - (c.evaluation - 1) % 11) % 11;
        fake::answerWith(gatesOf(c.divider, c.periodCount));
        std::vector<fake::Drawn> drawn;
        for (int n = 1; n <= c.evaluation; ++n) {
            drawn = evaluate();
            if (n < c.evaluation) {
                const std::string early = drawnAt(drawn, 0, 150);
                EXPECT_TRUE(early.empty() || early == dashes) << n << " " << early;
            }
        }
        const std::string period = drawnAt(drawn, 0, 150);
        EXPECT_EQ(period == dashes, !c.valid) << c.divider << " at " << c.evaluation;
        EXPECT_EQ(measurementState.cycleState, Query);
    }
}

// Until a gate with the new divider has ended, the period register still holds the last
// gate of the one before: that count is neither shown nor judged, however many
// evaluations have passed; a gate longer than its band is given up once it is known
// to be too long.
TEST_F(Cycle, JudgesOnlyAGateMeasuredWithTheCurrentDivider) {
    const struct {
        const char* what;
        int32_t divider;
        uint32_t gateMicros;
        int latest;  // the evaluation by which the reading is shown or the divider changed
        bool shown;
        int32_t nextDivider;  // 0: no new configuration
    } cases[] = {
        {"a 1.2 s gate settles", 100, 1200000, 12, true, 0},
        {"a 0.85 s gate settles", 1000, 850000, 12, true, 0},
        {"a 20 s gate with divider 4 settles", 4, 20000000, 200, true, 0},
        {"a 2 s gate with divider 10 goes to 4", 10, 2000000, 14, false, 4},
        {"a 1.6 s gate with divider 100 ranges again", 100, 1600000, 14, false, 800000},
        {"a 0.08 s gate chooses from its period", 100, 80000, 2, false, 1000},
    };
    for (const auto& c : cases) {
        fake::reset();
        startMeasuring(c.divider);
        fake::answerWith(gatesOf(c.divider, c.gateMicros));
        bool shown = false;
        bool configured = false;
        int n = 1;
        for (; n <= c.latest && !shown && !configured; ++n) {
            measurementState.refreshCounter = 0;
            const std::string period = drawnAt(evaluate(), 0, 150);
            shown = period != dashes;
            configured = measurementState.cycleState == Configure;
        }
        EXPECT_EQ(shown, c.shown) << c.what << ", evaluation " << n - 1;
        EXPECT_EQ(configured ? measurementState.divider : 0, c.nextDivider) << c.what;
        if (shown) {
            // The count shown is the gate's, not the earlier divider's left in the register.
            EXPECT_EQ(fake::textAt(10, 5).substr(7, std::to_string(c.gateMicros).size()),
                      std::to_string(c.gateMicros));
        }
    }
}

TEST_F(Cycle, DrawsAValidReadingWithItsCountsUnitsAndMode) {
    startMeasuring(1000);
    measurementState.refreshCounter = 0;
    settle(11);
    fake::answerWith([]() { return fake::FrameValues{1000, 0, 150000}; });
    const std::vector<fake::Drawn> drawn = evaluate();
    EXPECT_EQ(fake::utf8(drawnAt(drawn, 10, 5)), "ｶｳﾝﾄ値 150000        ");
    EXPECT_EQ(fake::utf8(drawnAt(drawn, 10, 55)), "分周値 1000      ");
    EXPECT_EQ(drawnAt(drawn, 0, 150), "    150.0000__ ");
    EXPECT_EQ(fake::utf8(drawnAt(drawn, 370, 150)), "μs    ");
    EXPECT_EQ(drawnAt(drawn, 0, 200), "   6666.66____        ");
    EXPECT_EQ(drawnAt(drawn, 370, 200), "Hz    ");
    EXPECT_EQ(fake::utf8(drawnAt(drawn, 10, 285)), "自動   ");
    // The order of the lines: counts, period, frequency, mode.
    ASSERT_EQ(drawn.size(), 7u);
    EXPECT_EQ(drawn[0].y, 5);
    EXPECT_EQ(drawn[2].y, 150);
    EXPECT_EQ(drawn[4].y, 200);
    EXPECT_EQ(drawn[6].y, 285);
    EXPECT_EQ(state.contextsOpen, 0);
    EXPECT_EQ(state.fontsAlive, 0);
}

TEST_F(Cycle, AStalledMeasurementShowsDashesAndReranges) {
    const struct {
        int32_t autoRange;
        uint32_t live;
        uint32_t period;
        uint32_t previous;
        bool dashed;
        bool reranged;
    } cases[] = {
        {1, 200000, 150000, 150000, true, true},    // stalled
        {0, 200000, 150000, 150000, true, false},   // stalled, fixed range
        {1, 170000, 150000, 150000, false, false},  // live within 1.2 × period
        {1, 200000, 150000, 149999, false, false},  // period still moving
    };
    for (const auto& c : cases) {
        fake::reset();
        startMeasuring(1000, c.autoRange);
        measurementState.refreshCounter = 0;
        settle(11);
        measurementState.previousPeriodCount = static_cast<int32_t>(c.previous);
        fake::answerWith([&c]() { return fake::FrameValues{c.live, 0, c.period}; });
        const std::vector<fake::Drawn> drawn = evaluate();
        EXPECT_EQ(drawnAt(drawn, 0, 150) == dashes, c.dashed) << c.live << " " << c.previous;
        EXPECT_EQ(drawnAt(drawn, 0, 200) == dashes, c.dashed);
        EXPECT_EQ(measurementState.cycleState == Configure, c.reranged);
        if (c.reranged) {
            EXPECT_EQ(measurementState.divider, 800000);
            EXPECT_EQ(measurementState.rangePhase, FirstSample);
        }
    }
}

TEST_F(Cycle, RerangesWhenTheGateLeavesItsBand) {
    // A complete gate out of its band is exact, so its period chooses the next divider at
    // once (drawn as dashes); a negative count ranges again once settled, as does a
    // divider that cannot do better.
    const struct {
        int32_t divider;
        uint32_t period;
        int32_t ticks;
        int32_t nextDivider;  // 0: measuring goes on; 800000: ranging again
    } cases[] = {
        {4, 5000000, 30, 0},
        {10, 5000000, 10, 4},
        {10, 1300000, 10, 0},
        {10, 1300001, 10, 4},
        {1000, 120000, 10, 0},
        {1000, 119999, 10, 10000},
        {1000, 119999, 1, 10000},
        {100, 1250000, 10, 0},
        {100, 1300001, 10, 10},
        {1000, 0xFFFFFFFF, 9, 0},
        {1000, 0xFFFFFFFF, 10, 800000},  // negative count
        {4, 100000, 29, 10},
        {4, 100000, 30, 10},
        {1000000, 100000, 10, 800000},
        {100000, 100000, 10, 1000000},
    };
    for (const auto& c : cases) {
        fake::reset();
        startMeasuring(c.divider);
        settle(c.ticks);
        measurementState.refreshCounter = 0;
        fake::answerWith([&c]() { return fake::FrameValues{0, 0, c.period}; });
        const std::vector<fake::Drawn> drawn = evaluate();
        const bool configured = measurementState.cycleState == Configure;
        EXPECT_EQ(configured ? measurementState.divider : 0, c.nextDivider)
            << c.divider << " " << c.period << " " << c.ticks;
        if (c.nextDivider != 0) {
            EXPECT_EQ(drawnAt(drawn, 0, 150), dashes);
            EXPECT_EQ(measurementState.rangePhase,
                      c.nextDivider == 800000 ? FirstSample : Measuring);
        }
    }
}

TEST_F(Cycle, ANegativeOrHugePeriodIsNoReading) {
    startMeasuring(1000, 0);
    measurementState.refreshCounter = 0;
    measurementState.ticksSinceConfig = 50;
    // live above 1.2 × period only through the out-of-range product
    fake::answerWith([]() { return fake::FrameValues{5, 0, 0x80000000u}; });
    const std::vector<fake::Drawn> drawn = evaluate();
    EXPECT_EQ(drawnAt(drawn, 0, 150), dashes);
    EXPECT_EQ(fake::utf8(drawnAt(drawn, 10, 5)), "ｶｳﾝﾄ値 -2147483648        ");
}

TEST_F(Cycle, TheStallTestTruncatesAnOutOfRangeProductToTheMostNegativeValue) {
    // 1.2 × 1900000000 does not fit 32 bits: any live count is then above it, so an
    // unchanged period counts as stalled and is no reading.
    const struct {
        int32_t previous;
        bool dashed;
    } cases[] = {{1900000000, true}, {1899999999, false}};
    for (const auto& c : cases) {
        fake::reset();
        startMeasuring(100000, 0);
        measurementState.refreshCounter = 0;
        settle();
        measurementState.previousPeriodCount = c.previous;
        fake::answerWith([]() { return fake::FrameValues{0, 0, 1900000000u}; });
        const std::vector<fake::Drawn> drawn = evaluate();
        EXPECT_EQ(drawnAt(drawn, 0, 150) == dashes, c.dashed) << c.previous;
    }
}

TEST_F(Cycle, AnOversizedAnswerIsReadAndDroppedAndTheQueriesSentAgain) {
    startMeasuring(1000);
    step();  // Query
    state.pending = std::string(60, 'x');
    const size_t writesBefore = state.writes.size();
    step();  // Collect
    EXPECT_EQ(state.readRequests, (std::vector<DWORD>{60}));
    EXPECT_TRUE(state.pending.empty());
    EXPECT_EQ(measurementState.cycleState, Query);
    step();
    EXPECT_EQ(state.writes.size(), writesBefore + 6);
    EXPECT_EQ(measurementState.cycleState, Collect);
}

TEST_F(Cycle, AShortAnswerWaitsForTheRestAndReadsNeverExceed128Bytes) {
    startMeasuring(1000);
    step();  // Query
    state.pending = std::string(53, 'x');
    step();
    EXPECT_TRUE(state.readRequests.empty());
    EXPECT_EQ(measurementState.cycleState, Collect);
    // Out of step: the whole backlog goes at once, in reads of at most 128 bytes.
    state.pending = std::string(1000, 'x');
    step();
    EXPECT_EQ(state.readRequests, (std::vector<DWORD>{128, 128, 128, 128, 128, 128, 128, 104}));
    EXPECT_EQ(measurementState.cycleState, Query);
}

// Answers that are not six well-formed answers in query order; each is as long as a
// frame, and none may be taken for a measurement.
TEST_F(Cycle, AFrameThatIsNotSixWellFormedAnswersIsNoMeasurement) {
    const std::string good = fake::frame({0, 0, 150000});
    const std::string lastAnswer = good.substr(45);
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"one answer out of step", lastAnswer + good.substr(0, 45)},
        {"lowercase field", fake::frameFields("0000", "0000", "0000", "0000", "49f0", "0002")},
        {"non-hexadecimal field",
         fake::frameFields("0000", "0000", "0000", "0000", "49F0", "0G02")},
        {"registers swapped",
         good.substr(0, 9) + good.substr(18, 9) + good.substr(9, 9) + good.substr(27)},
        {"line feed for a carriage return", good.substr(0, 53) + "\n"},
        {"no register letter", "X" + good.substr(1)},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.bytes.size(), static_cast<size_t>(responseFrameLength)) << c.name;
        fake::reset();
        startMeasuring(1000, 0);
        measurementState.refreshCounter = 0;
        settle();
        fake::answerWith([]() { return fake::FrameValues{0, 0, 150000}; });
        evaluate();
        ASSERT_EQ(fake::textAt(0, 150), "    150.0000__ ") << c.name;
        state.onQueries = nullptr;
        step();  // Query
        const size_t drawnBefore = state.drawn.size();
        state.pending = c.bytes + "M00=";  // and the start of what follows
        step();                            // Collect
        const std::vector<fake::Drawn> drawn(state.drawn.begin() + static_cast<long>(drawnBefore),
                                             state.drawn.end());
        EXPECT_EQ(drawnAt(drawn, 10, 5), "") << c.name << ": no count line from it";
        EXPECT_EQ(drawnAt(drawn, 0, 150), dashes) << c.name;
        EXPECT_EQ(drawnAt(drawn, 0, 200), dashes) << c.name;
        EXPECT_TRUE(state.pending.empty()) << c.name << ": the link is drained";
        EXPECT_EQ(measurementState.cycleState, Query) << c.name;
        // The next good frame is drawn at once, not on the refresh's next turn.
        fake::answerWith([]() { return fake::FrameValues{0, 0, 160000}; });
        evaluate();
        EXPECT_EQ(fake::textAt(0, 150), "    160.0000__ ") << c.name;
    }
}

TEST_F(Cycle, AWellFormedFrameStillDecodesAsTheCounterSays) {
    startMeasuring(1000, 0);
    measurementState.refreshCounter = 0;
    settle();
    step();  // Query
    state.pending = fake::frameFields("FFFF", "0000", "0000", "0000", "49F0", "0002");
    step();
    EXPECT_EQ(fake::utf8(fake::textAt(10, 5)), "ｶｳﾝﾄ値 150000        ");
}

TEST_F(Cycle, AReadThatDeliversLessThanAFrameIsNotEvaluated) {
    startMeasuring(1000);
    measurementState.refreshCounter = 0;
    measurementState.ticksSinceConfig = 50;
    state.readDeliversShort = true;
    fake::answerWith([]() { return fake::FrameValues{0, 0, 150000}; });
    const std::vector<fake::Drawn> drawn = evaluate();
    EXPECT_EQ(drawnAt(drawn, 10, 5), "");
    EXPECT_EQ(measurementState.cycleState, Collect);
}

TEST_F(Cycle, DrainEmptiesTheLinkInOneStepAndStaysBoundedOnAnEndlessStream) {
    fake::attachDevice();
    step();  // Configure
    state.pending = std::string(300, 'x');
    step();
    EXPECT_EQ(state.readRequests, (std::vector<DWORD>{128, 128, 44}));
    EXPECT_EQ(measurementState.cycleState, Query);

    fake::reset();
    fake::attachDevice();
    step();
    state.pending = std::string(drainReadsPerStep * 128 * 3 + 10, 'x');
    step();
    EXPECT_EQ(state.readRequests.size(), static_cast<size_t>(drainReadsPerStep));
    EXPECT_EQ(measurementState.cycleState, Drain);
    for (int i = 0; i < 3 && measurementState.cycleState == Drain; ++i) {
        step();
    }
    EXPECT_EQ(measurementState.cycleState, Query);
    EXPECT_EQ(measurementState.ticksSinceConfig, 0);
}

TEST_F(Cycle, AFailingStatusQueryReadsAsNothingPending) {
    startMeasuring(1000);
    step();  // Query
    state.pending = fake::frame({0, 0, 150000});
    state.getStatusResult = FT_OTHER_ERROR;
    step();
    EXPECT_TRUE(state.readRequests.empty());
    EXPECT_EQ(measurementState.cycleState, Collect);
}

TEST_F(Cycle, AStaleReadingTurnsToDashesOnceAndTheQueriesGoOutAgain) {
    startMeasuring(1000);
    measurementState.refreshCounter = 0;
    settle();
    fake::answerWith([]() { return fake::FrameValues{0, 0, 150000}; });
    evaluate();
    EXPECT_EQ(fake::textAt(0, 150), "    150.0000__ ");
    state.onQueries = nullptr;  // the counter falls silent
    step();                     // Query: the first tick without a frame
    const size_t queriesSent = state.writes.size();
    for (int i = 2; i < staleTicks; ++i) {
        step();
    }
    EXPECT_EQ(fake::textAt(0, 150), "    150.0000__ ");
    EXPECT_EQ(measurementState.cycleState, Collect);
    step();
    EXPECT_EQ(fake::textAt(0, 150), dashes);
    EXPECT_EQ(fake::textAt(0, 200), dashes);
    // About a second without an answer: the queries are sent again, and again each
    // second, but the dashes are drawn only once.
    EXPECT_EQ(measurementState.cycleState, Query);
    const size_t drawnBefore = state.drawn.size();
    for (int i = 0; i < 3 * staleTicks; ++i) {
        step();
    }
    EXPECT_EQ(state.writes.size(), queriesSent + 3 * 6);
    for (size_t i = drawnBefore; i < state.drawn.size(); ++i) {
        EXPECT_EQ(state.drawn[i].y, 285);
    }
    // Only evaluated frames count towards settling.
    EXPECT_EQ(measurementState.ticksSinceConfig, 51);
    // The counter answers again.
    fake::answerWith([]() { return fake::FrameValues{0, 0, 160000}; });
    for (int i = 0; i <= staleTicks + 1 && measurementState.cycleState != Query; ++i) {
        step();
    }
    step();  // Query
    step();  // Collect
    EXPECT_EQ(fake::utf8(fake::textAt(10, 5)), "ｶｳﾝﾄ値 160000        ");
}

TEST_F(Cycle, AWriteThatTimesOutEndsItsSequence) {
    // Each write to a counter that stopped reading waits out its time-out: one of them
    // per step, not one per command, keeps the window answering.
    startMeasuring(1000, 0);
    state.writesStall = true;
    step();  // Query
    EXPECT_EQ(state.stalledWrites, 1);
    EXPECT_EQ(measurementState.cycleState, Collect);
    applyRangeCommand('-');
    runMeasurementStepAfterKey(fake::testWindow());  // Configure
    EXPECT_EQ(state.stalledWrites, 2);
    EXPECT_EQ(measurementState.cycleState, Drain);
    // The counter reads again: whole sequences go out.
    state.writesStall = false;
    step();  // Drain
    step();  // Query
    EXPECT_EQ(state.writes.size(), 9u + 6u);
}

TEST_F(Cycle, StepsAfterKeysAreNoTimePassing) {
    startMeasuring(1000, 0);
    measurementState.refreshCounter = 0;
    settle();
    fake::answerWith([]() { return fake::FrameValues{0, 0, 150000}; });
    evaluate();
    state.onQueries = nullptr;  // the counter falls silent
    for (int i = 0; i < 5 * staleTicks; ++i) {
        applyRangeCommand('x');
        runMeasurementStepAfterKey(fake::testWindow());
    }
    EXPECT_EQ(fake::textAt(0, 150), "    150.0000__ ");
    for (int i = 1; i < staleTicks; ++i) {
        step();
    }
    EXPECT_EQ(fake::textAt(0, 150), "    150.0000__ ");
    step();
    EXPECT_EQ(fake::textAt(0, 150), dashes);
}

TEST_F(Cycle, WithoutADeviceTheTimerStopsAndTheMessageIsShown) {
    step();
    ASSERT_EQ(state.timers.size(), 1u);
    EXPECT_FALSE(state.timers[0].set);
    EXPECT_EQ(state.timers[0].id, 1u);
    EXPECT_EQ(fake::utf8(fake::textAt(10, 10)), "接続デバイスなし     ");
    EXPECT_EQ(fake::textAt(10, 10).size(), 21u);
    EXPECT_EQ(measurementState.cycleState, NoDevice);
}

TEST_F(Cycle, NothingButTheModeIsDrawnBeneathTheNoDeviceText) {
    step();  // NoDevice: the message, the timer stopped
    applyRangeCommand(' ');
    runMeasurementStepAfterKey(fake::testWindow());
    applyRangeCommand('-');
    runMeasurementStepAfterKey(fake::testWindow());  // Configure: the timer runs again
    const size_t drawnBefore = state.drawn.size();
    for (int i = 0; i < 10 * staleTicks; ++i) {
        step();
    }
    for (size_t i = drawnBefore; i < state.drawn.size(); ++i) {
        EXPECT_EQ(state.drawn[i].y, 285) << fake::utf8(state.drawn[i].bytes);
    }
}

TEST_F(Cycle, ARangeCommandWithoutADeviceSettlesInCollect) {
    toggleRangeMode();
    stepRangeDown();
    for (int i = 0; i < 10; ++i) {
        step();
    }
    EXPECT_EQ(measurementState.cycleState, Collect);
    EXPECT_TRUE(state.writes.empty());
    EXPECT_FALSE(state.deviceOpen);
}

// A device call that reports the counter gone, in the step that made it.
struct Loss {
    const char* name;
    CycleState inState;
    FT_STATUS status;
    enum Call { Write, GetStatus, Read } call;
};

std::ostream& operator<<(std::ostream& out, const Loss& loss) {
    return out << loss.name;
}

class CycleLoss : public Cycle, public testing::WithParamInterface<Loss> {};

TEST_P(CycleLoss, ClosesTheDeviceErasesTheReadoutAndStartsTheWatch) {
    const Loss loss = GetParam();
    startMeasuring(1000);
    measurementState.refreshCounter = 0;
    settle();
    fake::answerWith([]() { return fake::FrameValues{0, 0, 150000}; });
    evaluate();
    ASSERT_EQ(fake::textAt(0, 150), "    150.0000__ ");
    state.onQueries = nullptr;
    measurementState.cycleState = loss.inState;
    state.pending = fake::frame({0, 0, 150000});
    switch (loss.call) {
        case Loss::Write:
            state.writeResult = loss.status;
            break;
        case Loss::GetStatus:
            state.getStatusResult = loss.status;
            break;
        case Loss::Read:
            state.readResult = loss.status;
            break;
    }
    const size_t writesBefore = state.writes.size();
    state.timers.clear();
    step();

    EXPECT_EQ(state.closeCalls, 1);
    EXPECT_EQ(state.closedHandle, state.openHandle);
    EXPECT_EQ(deviceConnection.deviceHandle, nullptr);
    EXPECT_EQ(measurementState.cycleState, NoDevice);
    EXPECT_LE(state.writes.size(), writesBefore + 1) << "no more commands to a lost device";
    EXPECT_EQ(state.contextsOpen, 0);
    EXPECT_EQ(state.fontsAlive, 0);
    // Erased, then the no-device text alone.
    EXPECT_EQ(state.erasures, 1);
    ASSERT_EQ(state.drawn.size(), state.erasedBefore + 1);
    EXPECT_EQ(fake::utf8(state.drawn.back().bytes), "接続デバイスなし     ");
    EXPECT_EQ(fake::textAt(0, 150), "");
    EXPECT_EQ(fake::textAt(10, 5), "");
    // Timer 1 stopped, the watch started.
    bool cycleTimerStopped = false;
    bool watchStarted = false;
    for (const fake::TimerCall& call : state.timers) {
        if (call.id == cycleTimerId) {
            cycleTimerStopped = !call.set;
        }
        if (call.id == watchTimerId && call.set) {
            watchStarted = call.elapseMs == watchPeriodMs;
        }
    }
    EXPECT_TRUE(cycleTimerStopped);
    EXPECT_TRUE(watchStarted);
    // Further ticks and keys draw the no-device text and call nothing on the device.
    const size_t writesAfter = state.writes.size();
    step();
    EXPECT_EQ(state.writes.size(), writesAfter);
    EXPECT_EQ(state.closeCalls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Losses, CycleLoss,
    testing::Values(Loss{"ConfigureWriteIoError", Configure, FT_IO_ERROR, Loss::Write},
                    Loss{"ConfigureWriteNotFound", Configure, FT_DEVICE_NOT_FOUND, Loss::Write},
                    Loss{"DrainStatusIoError", Drain, FT_IO_ERROR, Loss::GetStatus},
                    Loss{"DrainReadIoError", Drain, FT_IO_ERROR, Loss::Read},
                    Loss{"QueryWriteIoError", Query, FT_IO_ERROR, Loss::Write},
                    Loss{"QueryWriteNotFound", Query, FT_DEVICE_NOT_FOUND, Loss::Write},
                    Loss{"CollectStatusIoError", Collect, FT_IO_ERROR, Loss::GetStatus},
                    Loss{"CollectStatusNotFound", Collect, FT_DEVICE_NOT_FOUND, Loss::GetStatus},
                    Loss{"CollectReadIoError", Collect, FT_IO_ERROR, Loss::Read},
                    Loss{"CollectReadNotFound", Collect, FT_DEVICE_NOT_FOUND, Loss::Read}),
    [](const testing::TestParamInfo<Loss>& info) { return info.param.name; });

// Other failures are no sign of a lost counter: the cycle carries on as before.
TEST_F(Cycle, OtherFailingCallsKeepTheDevice) {
    for (FT_STATUS status : {FT_OTHER_ERROR, FT_INSUFFICIENT_RESOURCES, FT_INVALID_PARAMETER}) {
        SCOPED_TRACE(status);
        fake::reset();
        startMeasuring(1000);
        state.writeResult = status;
        state.getStatusResult = status;
        state.readResult = status;
        state.pending = fake::frame({0, 0, 150000});
        for (int i = 0; i < 30; ++i) {
            step();
        }
        EXPECT_EQ(state.closeCalls, 0);
        EXPECT_NE(deviceConnection.deviceHandle, nullptr);
        EXPECT_NE(measurementState.cycleState, NoDevice);
        EXPECT_EQ(state.erasures, 0);
    }
}

TEST_F(Cycle, AnUnknownStateDoesNothing) {
    measurementState.cycleState = static_cast<CycleState>(9);
    step();
    measurementState.cycleState = static_cast<CycleState>(-1);
    step();
    EXPECT_TRUE(state.drawn.empty());
    EXPECT_TRUE(state.timers.empty());
    EXPECT_TRUE(state.writes.empty());
}

}  // namespace
