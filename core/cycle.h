// The measurement cycle: a five-state machine stepped by timer 1 and after every
// character key. It owns MeasurementState.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Stored as plain integers: a value outside these makes a step do nothing.
enum CycleState : int32_t { NoDevice = 0, Configure = 1, Drain = 2, Query = 3, Collect = 4 };
enum RangePhase : int32_t { Measuring = 0, FirstSample = 1, SecondSample = 2 };

struct MeasurementState {
    int32_t cycleState;
    int32_t rangePhase;
    int32_t divider;
    int32_t autoRange;
    // Frames evaluated since the last drain (capped at 100): the settle thresholds count
    // evaluations, however many ticks a frame takes to arrive over a slow link.
    int32_t ticksSinceConfig;
    int32_t refreshCounter;
    int32_t previousPeriodCount;
    int32_t firstRangeSample;
    // Collect steps since the last evaluated frame; drives the blanking of a reading
    // that has gone stale.
    int32_t collectsWithoutFrame;
    // liveCount at the first range sample: the counter's own clock times the interval
    // between the two samples.
    int32_t firstRangeLive;
    // What the frames since the last configuration tell about its gates. periodCount keeps
    // the previous configuration's last gate until a gate with the new divider completes,
    // so nothing is judged before one has.
    int32_t gateComplete;       // 1 once a gate with the current divider has completed
    int32_t configRangeCount;   // rangeCount of the first frame after the configuration
    int32_t previousLiveCount;  // liveCount and rangeCount of the previous frame
    int32_t previousRangeCount;
    int32_t referenceLiveCount;  // the frame since which the running gate has not restarted
    int32_t referenceRangeCount;
};

extern MeasurementState measurementState;

constexpr UINT_PTR cycleTimerId = 1;
constexpr UINT cycleTickMs = 50;
constexpr int readChunkBytes = 128;
// Reads one Drain step may make before it yields to the message loop.
constexpr int drainReadsPerStep = 64;
// Collect steps without a frame after which the shown reading counts as stale and the
// queries are sent again.
constexpr int staleCollectSteps = 20;

int32_t settleTicks();
void runCycleStep(HWND window);
void toggleRangeMode();
void stepRangeUp();
void stepRangeDown();
// The range command bound to a character: space, "+" or "-"; any other does nothing.
void applyRangeCommand(WPARAM character);
