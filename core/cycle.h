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
    // Timer ticks since the last evaluated frame, and since the link last made progress
    // (a frame, or more bytes of one waiting than at the Collect step before); they drive
    // the blanking of a reading that has gone stale. Steps after a key do not count: they
    // are not time passing.
    int32_t ticksWithoutFrame;
    int32_t ticksWithoutProgress;
    int32_t pendingAtLastCollect;
    // 1 while the period or frequency line shows a number: only then is there a reading
    // to blank, and never over the no-device text.
    int32_t readingOnScreen;
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
// Timer ticks (about a second) without progress on the link after which the shown
// reading counts as stale and the queries are sent again.
constexpr int staleTicks = 20;
// A frame still arriving on a slow line keeps the reading, but not for longer than this
// (about 5 s, a frame at 110 baud): a counter that dribbles bytes that never make a frame
// does not keep an old reading on screen.
constexpr int slowestFrameTicks = 100;

int32_t settleTicks();
// One step for a tick of timer 1.
void runCycleStep(HWND window);
// One step right after a character key: the same step, but no tick of time.
void runCycleStepAfterKey(HWND window);
void toggleRangeMode();
void stepRangeUp();
void stepRangeDown();
// The range command bound to a character: space, "+" or "-"; any other does nothing.
void applyRangeCommand(WPARAM character);
