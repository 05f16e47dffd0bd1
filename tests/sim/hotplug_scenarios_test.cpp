// The counter pulled out and plugged back in, plugged in late, or one of two lost, end
// to end on the virtual clock with the window's timers as they are set: the no-device
// text comes within a second of the loss with nothing of the old readout, the watch
// makes one listing call a second, and readings within one tick of the truth come back
// within a few seconds of the return, from the counter that was lost when it is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "app/measurement.h"
#include "core/cycle.h"
#include "device/connection.h"
#include "sim/d2xx_sim.h"
#include "testing/program_run.h"

// The cycle's states and phases by their bare names.
using enum CycleState;
using enum RangePhase;

namespace {

using program_run::dashes;
using program_run::labelBytes;

constexpr double hz = 1234.5;

// What the cycle was doing when the counter went.
enum class During { Measuring, Ranging, Drain, Nothing };

struct Key {
    double atSeconds;
    char character;
};

struct Hotplug {
    const char* name;
    int deviceCount;
    std::vector<sim::FaultWindow> faults;
    std::vector<Key> keys;
    double lostAt;    // when the open counter goes; negative: none is lost
    During during;    // what the cycle is doing then
    double returnAt;  // when a counter is there again to be opened
    double runSeconds;
    const char* servedBy;  // the serial number the program reads from at the end
    int32_t fixedDivider;  // in fixed range, the divider kept across the loss; 0: automatic
};

std::ostream& operator<<(std::ostream& out, const Hotplug& h) {
    return out << h.name;
}

struct Drawn {
    double atSeconds;
    int x;
    int y;
    std::string bytes;
};

bool isNoDeviceText(const Drawn& d) {
    return d.x == 10 && d.y == 10 && fake::utf8(d.bytes) == "接続デバイスなし     ";
}

class HotplugScenario : public testing::TestWithParam<Hotplug> {
protected:
    void TearDown() override { closeDevice(); }
};

TEST_P(HotplugScenario, LossReturnAndWatch) {
    const Hotplug& h = GetParam();
    sim::Scenario scenario;
    scenario.deviceCount = h.deviceCount;
    scenario.frequencyHz = hz;
    for (const sim::FaultWindow& fault : h.faults) {
        scenario.faults[scenario.faultCount++] = fault;
    }
    program_run::start(scenario);
    const int listingAfterStart = program_run::listingCalls();

    std::vector<Drawn> drawn;
    size_t seen = 0;
    size_t nextKey = 0;
    bool open = deviceConnection.deviceHandle != nullptr;
    CycleState stateBefore = measurementState.cycleState;
    RangePhase phaseBefore = measurementState.rangePhase;
    double noticedAt = -1;
    int erasuresAtLoss = -1;
    size_t drawnAtLoss = 0;
    const uint64_t tick = 10000;  // finer than the timers, to see the state before a loss
    const uint64_t end = static_cast<uint64_t>(h.runSeconds * 1e6);
    for (uint64_t now = 0; now <= end; now += tick) {
        while (nextKey < h.keys.size() &&
               h.keys[nextKey].atSeconds * 1e6 <= static_cast<double>(now)) {
            applyRangeCommand(static_cast<unsigned char>(h.keys[nextKey].character));
            runMeasurementStep(program_run::window());
            ++nextKey;
        }
        program_run::runUntil(now);
        const std::vector<DrawnText>& texts = program_run::drawn();
        for (; seen < texts.size(); ++seen) {
            drawn.push_back(
                {static_cast<double>(now) / 1e6, texts[seen].x, texts[seen].y, texts[seen].bytes});
        }
        const bool openNow = deviceConnection.deviceHandle != nullptr;
        if (open && !openNow && noticedAt < 0) {
            noticedAt = static_cast<double>(now) / 1e6;
            erasuresAtLoss = fake::state.erasures;
            drawnAtLoss = drawn.size();
            switch (h.during) {
                case During::Measuring:
                    EXPECT_EQ(phaseBefore, Measuring);
                    EXPECT_TRUE(stateBefore == Query || stateBefore == Collect)
                        << static_cast<int32_t>(stateBefore);
                    break;
                case During::Ranging:
                    EXPECT_GT(phaseBefore, Measuring);
                    break;
                case During::Drain:
                    EXPECT_EQ(stateBefore, Drain);
                    break;
                case During::Nothing:
                    ADD_FAILURE() << "no counter should be lost";
                    break;
            }
        }
        open = openNow;
        stateBefore = measurementState.cycleState;
        phaseBefore = measurementState.rangePhase;
    }

    if (h.lostAt >= 0) {
        ASSERT_GE(noticedAt, h.lostAt) << "the loss was not noticed";
        // The no-device text within about a second, on a window erased just before it.
        EXPECT_LE(noticedAt, h.lostAt + 1.0);
        EXPECT_EQ(erasuresAtLoss, 1);
        ASSERT_GT(drawnAtLoss, 0u);
        EXPECT_TRUE(isNoDeviceText(drawn[drawnAtLoss - 1]));
        // Until the return, nothing but the no-device text.
        for (const Drawn& d : drawn) {
            if (d.atSeconds > noticedAt && d.atSeconds < h.returnAt) {
                EXPECT_TRUE(isNoDeviceText(d)) << "at " << d.atSeconds << " s: " << d.bytes;
            }
        }
    }

    // Every number after the return comes from the returned counter: within a tick of
    // the input, and the first within about 3 s of the return.
    long count = -1;
    long divider = -1;
    double firstReading = -1;
    for (const Drawn& d : drawn) {
        if (d.atSeconds < h.returnAt) {
            continue;
        }
        if (d.x == 10 && d.y == 5) {
            count = std::strtol(d.bytes.c_str() + labelBytes, nullptr, 10);
        } else if (d.x == 10 && d.y == 55) {
            divider = std::strtol(d.bytes.c_str() + labelBytes, nullptr, 10);
            if (h.fixedDivider > 0) {
                EXPECT_EQ(divider, h.fixedDivider) << "at " << d.atSeconds << " s";
            }
        } else if (d.x == 0 && d.y == 150 && d.bytes != dashes) {
            ASSERT_GT(divider, 0);
            EXPECT_NEAR(static_cast<double>(count), 1e6 / hz * static_cast<double>(divider), 1.0)
                << "at " << d.atSeconds << " s";
            if (firstReading < 0) {
                firstReading = d.atSeconds;
            }
        }
    }
    ASSERT_GE(firstReading, 0) << "no reading after the return";
    // The no-device text was erased when the counter came back, not left half covered by
    // the count line.
    EXPECT_EQ(fake::textAt(10, 10), "");
    EXPECT_LE(firstReading, h.returnAt + 3.0);
    EXPECT_STREQ(openedSerialNumber, h.servedBy);
    EXPECT_NE(deviceConnection.deviceHandle, nullptr);

    // No listing storm: one counting call per second without a counter, and a few for
    // the opens.
    const double withoutCounter = h.returnAt - std::max(h.lostAt, 0.0);
    const int listings = program_run::listingCalls() - listingAfterStart;
    EXPECT_LE(listings, static_cast<int>(withoutCounter) + 3);
    EXPECT_GE(listings, static_cast<int>(withoutCounter) - 1);
}

using sim::FaultKind;

INSTANTIATE_TEST_SUITE_P(
    Hotplug, HotplugScenario,
    testing::Values(
        Hotplug{"BackAfterHalfASecond",
                1,
                {{FaultKind::Unplugged, 10.3, 10.8}},
                {},
                10.3,
                During::Measuring,
                10.8,
                16,
                "SIM00001",
                0},
        Hotplug{"BackAfterTenSeconds",
                1,
                {{FaultKind::Unplugged, 10.3, 20.3}},
                {},
                10.3,
                During::Measuring,
                20.3,
                26,
                "SIM00001",
                0},
        Hotplug{"BackAfterAnHour",
                1,
                {{FaultKind::Unplugged, 10.3, 3610.3}},
                {},
                10.3,
                During::Measuring,
                3610.3,
                3616,
                "SIM00001",
                0},
        Hotplug{"LostWhileRanging",
                1,
                {{FaultKind::Unplugged, 0.32, 3}},
                {},
                0.32,
                During::Ranging,
                3,
                9,
                "SIM00001",
                0},
        // Fixed range, then "+" reconfigures while an endless stream keeps the drain
        // going: the counter goes in the middle of it.
        Hotplug{"LostDuringADrain",
                1,
                {{FaultKind::EndlessStream, 6, 9}, {FaultKind::Unplugged, 6.5, 7}},
                {{5, ' '}, {5, '-'}, {6.2, '+'}},
                6.5,
                During::Drain,
                9,
                16,
                "SIM00001",
                1000},
        Hotplug{"FixedRangeKeepsItsDivider",
                1,
                {{FaultKind::Unplugged, 10.3, 12}},
                {{5, ' '}, {5, '-'}},
                10.3,
                During::Measuring,
                12,
                18,
                "SIM00001",
                100},
        Hotplug{"PluggedInAfterTheStart",
                1,
                {{FaultKind::Unplugged, 0, 5}},
                {},
                -1,
                During::Nothing,
                5,
                11,
                "SIM00001",
                0},
        // The other counter takes over at the next look.
        Hotplug{"OneOfTwoLost",
                2,
                {{FaultKind::Unplugged, 10.3, -1, 0}},
                {},
                10.3,
                During::Measuring,
                10.3,
                16,
                "SIM00002",
                0},
        // Both gone, both back: the one that was in use is taken again, though listed second.
        Hotplug{"TheLostOneOfTwoIsPreferred",
                2,
                {{FaultKind::Unplugged, 0, 8, 0}, {FaultKind::Unplugged, 5.3, 8, 1}},
                {},
                5.3,
                During::Measuring,
                8,
                14,
                "SIM00002",
                0}),
    [](const testing::TestParamInfo<Hotplug>& info) { return info.param.name; });

}  // namespace
