// The measurement cycle: a five-state machine stepped by timer 1 and after every
// character key. It owns MeasurementState. It works on the counter and the window it
// is handed; finding, opening and closing the counter are not its business: a step that
// sees the counter gone says so, and the caller closes it.
#pragma once

#include <cstdint>

#include "platform/d2xx.h"
#include "platform/win32.h"

// 32 bits wide as stored: a value outside these makes a step do nothing.
enum class CycleState : int32_t { NoDevice = 0, Configure = 1, Drain = 2, Query = 3, Collect = 4 };
enum class RangePhase : int32_t { Measuring = 0, FirstSample = 1, SecondSample = 2 };

struct MeasurementState {
    CycleState cycleState;
    RangePhase rangePhase;
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

// The counter a step talks to: its handle, and where the status of each call goes.
struct CycleDevice {
    FT_HANDLE handle;
    FT_STATUS* lastStatus;
};

enum class CycleOutcome { Running, DeviceLost };

// The records as at the start of the program.
void resetMeasurementState();
// A counter was opened at start: configure it and range.
void startMeasuring();
// A counter came back (or came late): the cycle starts over as at start, except that
// the user's range mode stays and a fixed range keeps its divider. Nothing measured
// before the loss is carried over.
void resumeMeasuring();

int32_t settleTicks();
// One step for a tick of timer 1, on `device`, drawing on `window`. DeviceLost: a call
// reported the counter gone; the cycle has no device now and drew nothing more: the
// caller closes the counter, then calls showDeviceLost.
CycleOutcome runCycleStep(HWND window, CycleDevice device);
// One step right after a character key: the same step, but no tick of time.
CycleOutcome runCycleStepAfterKey(HWND window, CycleDevice device);
// Nothing of a lost counter's readout may stay on screen: the window is erased to its
// background and the no-device text drawn.
void showDeviceLost(HWND window);
void toggleRangeMode();
void stepRangeUp();
void stepRangeDown();
// The range command bound to a character: space, "+" or "-"; any other does nothing.
void applyRangeCommand(WPARAM character);
