#include "core/cycle.h"

#include <cstring>

#include "core/protocol.h"
#include "core/readout.h"
#include "platform/d2xx.h"

namespace {

constexpr MeasurementState initialMeasurementState = {
    CycleState::NoDevice,   // cycleState
    RangePhase::Measuring,  // rangePhase
    8000000,                // divider
    1,                      // autoRange
    0,                      // ticksSinceConfig
    0,                      // refreshCounter
    0,                      // previousPeriodCount
    0,                      // firstRangeSample
    0,                      // ticksWithoutFrame
    0,                      // ticksWithoutProgress
    0,                      // pendingAtLastCollect
    0,                      // readingOnScreen
    0,                      // firstRangeLive
    0,                      // gateComplete
    0,                      // configRangeCount
    0,                      // previousLiveCount
    0,                      // previousRangeCount
    0,                      // referenceLiveCount
    0,                      // referenceRangeCount
};

}  // namespace

MeasurementState measurementState = initialMeasurementState;

namespace {

constexpr int commandBufferSize = 128;
constexpr int32_t smallestDivider = 4;
constexpr int32_t largestRangedDivider = 100000;
constexpr int32_t restartDivider = 800000;
constexpr int32_t shortestGateMicros = 120000;
constexpr int32_t longestGateMicros = 1300000;
constexpr int32_t tickCap = 100;
constexpr int32_t refreshPeriod = 10;
// Only automatic ranging goes beyond the keys' cap: it lets inputs from 833 kHz to 1 MHz
// have gates of 1 s to 1.2 s.
constexpr int32_t largestAutoDivider = 1000000;
// The range samples are two ticks apart, 100 ms, when the counter answers at once.
constexpr int32_t nominalSampleMicros = 100000;
// A chosen divider aims at a gate in [0.125 s, 1.25 s): one power of ten wide, so exactly
// one divider lands there, with about 4 % to spare at either edge of the band.
constexpr double aimedShortestGate = 125000.0;
constexpr double aimedLongestGate = 1250000.0;
// With divider 4 a gate may last any time, but the slowest input measured is 0.1 Hz:
// a period beyond 10.5 s means the input has stopped or is too slow.
constexpr double longestPeriodMicros = 10500000.0;
// How far an edge-count estimate of a gate's length must pass the band before it counts
// as too long: room for an input's jitter.
constexpr double estimateMargin = 1.05;

// The counter of the step being run, as runCycleStep was given it.
FT_STATUS unusedStatus = FT_OK;
CycleDevice device = {nullptr, &unusedStatus};

// Set by a device call that reports the counter gone (unplugged, or its driver lost
// it); the step that made the call then gives the device up.
bool deviceGone = false;

void noteStatus(FT_STATUS status) {
    // Calls on a handle that was never opened fail too, but nothing was lost then.
    if ((status == FT_IO_ERROR || status == FT_DEVICE_NOT_FOUND) && device.handle != nullptr) {
        deviceGone = true;
    }
}

// True when the whole command went out. One that did not (the link is gone, or the
// counter stopped taking bytes and the write waited out its time-out) ends the sequence:
// the rest would only wait as long again, with the window frozen meanwhile.
bool writeCommand(const CounterCommand& command) {
    char buffer[commandBufferSize];
    std::memcpy(buffer, command.bytes, static_cast<size_t>(command.length));
    DWORD written = 0;
    *device.lastStatus =
        FT_Write(device.handle, buffer, static_cast<DWORD>(command.length), &written);
    noteStatus(*device.lastStatus);
    return *device.lastStatus == FT_OK && written == static_cast<DWORD>(command.length);
}

// Bytes waiting, at most one read's worth. A failing status query reads as nothing
// pending, whatever the call left in its arguments.
DWORD pendingBytes() {
    DWORD rxBytes = 0;
    DWORD txBytes = 0;
    DWORD eventWord = 0;
    const FT_STATUS status = FT_GetStatus(device.handle, &rxBytes, &txBytes, &eventWord);
    if (status != FT_OK) {
        noteStatus(status);
        return 0;
    }
    return rxBytes > static_cast<DWORD>(readChunkBytes) ? static_cast<DWORD>(readChunkBytes)
                                                        : rxBytes;
}

DWORD readBytes(unsigned char* buffer, DWORD count) {
    DWORD got = 0;
    *device.lastStatus = FT_Read(device.handle, buffer, count, &got);
    noteStatus(*device.lastStatus);
    return got;
}

// 10 to the number of decimal digits of the difference, within the ranged dividers.
int32_t dividerForDifference(int32_t difference) {
    if (difference <= 0) {
        return smallestDivider;
    }
    int32_t divider = 10;
    for (int32_t rest = difference; rest >= 10 && divider < largestRangedDivider; rest /= 10) {
        divider *= 10;
    }
    return divider;
}

// trunc(count × 1.2) as a signed 32-bit value; a product outside that range becomes
// the most negative value, as the hardware-era conversion did.
int32_t scaledCount(int32_t count) {
    const double product = static_cast<double>(count) * 1.2;
    if (!(product > -2147483649.0 && product < 2147483648.0)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(product);
}

void restartRanging() {
    measurementState.rangePhase = RangePhase::FirstSample;
    measurementState.cycleState = CycleState::Configure;
    measurementState.divider = restartDivider;
    measurementState.ticksSinceConfig = 0;
}

// The power of ten (or 4) whose gate for an input of this period, in microseconds, lies
// in the aimed band.
int32_t dividerForPeriod(double periodMicros) {
    for (int32_t divider = largestAutoDivider; divider >= 10; divider /= 10) {
        if (divider * periodMicros < aimedLongestGate) {
            return divider;
        }
    }
    return smallestDivider;
}

// The divider for `difference` edges counted over `intervalMicros`. Where ten to the
// number of digits of the difference gives a gate inside the aimed band it is kept, so
// that an input it suits is measured just as before. It misses the band just below each
// power of ten (8.33·10^k Hz and up: a gate under 0.125 s), beyond 100000, and when the
// samples are not 100 ms apart; there the edge rate decides.
int32_t dividerForSample(int32_t difference, int32_t intervalMicros) {
    const int32_t byDigits = dividerForDifference(difference);
    if (difference <= 0) {
        return byDigits;
    }
    const double periodMicros = static_cast<double>(intervalMicros) / difference;
    const double gate = byDigits * periodMicros;
    if (gate >= aimedShortestGate && gate <= aimedLongestGate) {
        return byDigits;
    }
    // A single edge only says that the period is below the interval, or up to twice it:
    // divider 10 still fits where the interval allows a gate inside the band, and a gate
    // that turns out too long is given up as soon as it shows.
    if (difference == 1 && byDigits * periodMicros / 2 <= aimedLongestGate) {
        return byDigits;
    }
    return dividerForPeriod(periodMicros);
}

// The time between the two range samples on the counter's clock. While no gate of the
// ranging divider completes, liveCount runs on from the gate's first edge (or from the
// configuration, before any edge), so it grows by exactly the interval. An edge that
// opened the gate between the samples restarts it: then the interval is assumed.
int32_t sampleInterval(int32_t firstLive, int32_t secondLive) {
    const int32_t interval =
        static_cast<int32_t>(static_cast<uint32_t>(secondLive) - static_cast<uint32_t>(firstLive));
    if (firstLive < 0 || secondLive < 0 || interval < nominalSampleMicros / 2 ||
        interval > 20 * nominalSampleMicros) {
        return nominalSampleMicros;
    }
    return interval;
}

void evaluateRangeSample(const FrameCounts& counts) {
    if (measurementState.rangePhase == RangePhase::FirstSample) {
        measurementState.firstRangeSample = counts.rangeCount;
        measurementState.firstRangeLive = counts.liveCount;
        measurementState.rangePhase = RangePhase::SecondSample;
        measurementState.cycleState = CycleState::Query;
        return;
    }
    const int32_t difference =
        static_cast<int32_t>(static_cast<uint32_t>(counts.rangeCount) -
                             static_cast<uint32_t>(measurementState.firstRangeSample));
    measurementState.divider = dividerForSample(
        difference, sampleInterval(measurementState.firstRangeLive, counts.liveCount));
    measurementState.rangePhase = RangePhase::Measuring;
    measurementState.cycleState = CycleState::Configure;
}

// Configures a divider chosen from a measured gate, without ranging again.
void configureDivider(int32_t divider) {
    measurementState.divider = divider;
    measurementState.rangePhase = RangePhase::Measuring;
    measurementState.cycleState = CycleState::Configure;
    measurementState.ticksSinceConfig = 0;
}

int32_t countsSince(int32_t later, int32_t earlier) {
    return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

// Follows the gates of the current configuration from frame to frame. A gate with the
// current divider has completed once N + 1 edges came after the first frame (the first
// gate opens at the first edge after the configuration), or once the running gate
// restarted (liveCount fell) after an edge had come since the first frame: by then the
// first gate had opened, so the restart ends a gate.
void followGates(const FrameCounts& counts) {
    MeasurementState& s = measurementState;
    if (s.ticksSinceConfig == 0) {
        s.gateComplete = 0;
        s.configRangeCount = counts.rangeCount;
        s.referenceLiveCount = counts.liveCount;
        s.referenceRangeCount = counts.rangeCount;
    } else {
        // Both counts below 2^31: a wrap of the count is no restart.
        const bool restarted = counts.liveCount >= 0 && s.previousLiveCount >= 0 &&
                               counts.liveCount < s.previousLiveCount;
        const uint32_t edges =
            static_cast<uint32_t>(countsSince(counts.rangeCount, s.configRangeCount));
        if (edges >= static_cast<uint32_t>(s.divider) + 1u ||
            (restarted && countsSince(s.previousRangeCount, s.configRangeCount) > 0)) {
            s.gateComplete = 1;
        }
        if (restarted) {
            s.referenceLiveCount = counts.liveCount;
            s.referenceRangeCount = counts.rangeCount;
        }
    }
    s.previousLiveCount = counts.liveCount;
    s.previousRangeCount = counts.rangeCount;
}

// Whether the first gate, not yet complete, is already known to be too long: it has run
// past the band's upper limit, or the edges counted since the gate last restarted show
// a period that makes N of them longer. With divider 4 the limit is four periods of the
// slowest input.
bool firstGateTooLong(const FrameCounts& counts) {
    const MeasurementState& s = measurementState;
    const double longest = s.divider == smallestDivider ? smallestDivider * longestPeriodMicros
                                                        : static_cast<double>(longestGateMicros);
    if (counts.liveCount < 0 || s.referenceLiveCount < 0) {
        return false;
    }
    if (counts.liveCount > longest) {
        return true;
    }
    // No restart since the reference frame: liveCount grew by the exact time between the
    // two frames, and more than `edges` + 1 periods cannot fit into it.
    const double elapsed = static_cast<double>(counts.liveCount) - s.referenceLiveCount;
    const double edges =
        static_cast<uint32_t>(countsSince(counts.rangeCount, s.referenceRangeCount));
    const double shortestPeriod = elapsed / (edges + 1.0);
    return s.divider * shortestPeriod > longest * estimateMargin;
}

void evaluateMeasurement(const FrameCounts& counts) {
    const int32_t periodCount = counts.periodCount;
    showCounts(periodCount, measurementState.divider);
    followGates(counts);
    const bool complete = measurementState.gateComplete == 1;

    const int32_t threshold = settleTicks();
    // A count left from an earlier divider says nothing about the input now.
    const bool stalled = complete && counts.liveCount > scaledCount(periodCount) &&
                         periodCount == measurementState.previousPeriodCount;
    const bool inBand =
        periodCount >= shortestGateMicros &&
        (periodCount <= longestGateMicros || measurementState.divider == smallestDivider);
    // In automatic mode a gate out of its band is about to be replaced: its reading,
    // exact as it may look, is not the one the range is meant to give.
    const bool rejected = measurementState.autoRange == 1 && complete && !inBand;

    double periodMicros = 0.0;
    if (!stalled && !rejected && complete && periodCount >= 0 &&
        measurementState.ticksSinceConfig > threshold) {
        periodMicros = static_cast<double>(periodCount) / measurementState.divider;
    }
    if (measurementState.refreshCounter == 0) {
        showPeriod(periodMicros);
    }
    const double frequencyHertz = periodMicros > 1.0 ? 1000000.0 / periodMicros : 0.0;
    if (measurementState.refreshCounter == 0) {
        showFrequency(frequencyHertz);
        measurementState.readingOnScreen = periodMicros > 0.0 ? 1 : 0;
    }

    if (measurementState.autoRange == 1) {
        const bool settled = measurementState.ticksSinceConfig >= threshold;
        if (settled && (stalled || periodCount < 0)) {
            restartRanging();
        } else if (rejected && periodCount >= 0) {
            // A complete gate is exact: its period chooses the divider at once.
            const int32_t next =
                dividerForPeriod(static_cast<double>(periodCount) / measurementState.divider);
            if (next == measurementState.divider) {
                restartRanging();
            } else {
                configureDivider(next);
            }
        } else if (!complete && firstGateTooLong(counts)) {
            // Divider 4 takes any long gate; otherwise the input may have changed.
            if (measurementState.divider == 10) {
                configureDivider(smallestDivider);
            } else {
                restartRanging();
            }
        }
    }

    measurementState.previousPeriodCount = periodCount;
    measurementState.refreshCounter += 1;
    if (measurementState.refreshCounter > refreshPeriod) {
        measurementState.refreshCounter = 0;
    }
}

void evaluateFrame(const unsigned char* frame) {
    const FrameCounts counts = decodeFrame(frame);
    if (static_cast<int32_t>(measurementState.rangePhase) > 0) {
        evaluateRangeSample(counts);
    } else {
        evaluateMeasurement(counts);
    }
}

void stepNoDevice(HWND window) {
    KillTimer(window, cycleTimerId);
    beginDrawing(window);
    showNoDevice();
    endDrawing();
    // Nothing of a reading is left to blank, and no frame is awaited.
    measurementState.readingOnScreen = 0;
    measurementState.ticksWithoutFrame = 0;
    measurementState.ticksWithoutProgress = 0;
}

// The counter has gone: the cycle has no device, and the caller, told so, closes the
// counter and clears the window (showDeviceLost).
void dropDevice() {
    measurementState.cycleState = CycleState::NoDevice;
}

void stepConfigure(HWND window) {
    KillTimer(window, cycleTimerId);
    const ConfigurationSequence sequence = configurationSequence(measurementState.divider);
    for (const CounterCommand& command : sequence.commands) {
        if (!writeCommand(command)) {
            if (deviceGone) {
                dropDevice();
                return;
            }
            break;
        }
    }
    measurementState.cycleState = CycleState::Drain;
    SetTimer(window, cycleTimerId, cycleTickMs, nullptr);
}

// Reads and throws away whatever is waiting; true once the link is empty. A counter
// that never stops sending must not freeze the window, so one call reads a bounded
// amount and the caller goes on at the next tick.
bool drainLink() {
    unsigned char buffer[readChunkBytes];
    for (int reads = 0; !deviceGone; ++reads) {
        const DWORD pending = pendingBytes();
        if (pending == 0) {
            return true;
        }
        if (reads == drainReadsPerStep) {
            return false;
        }
        readBytes(buffer, pending);
    }
    return false;
}

// Throws away whatever the counter sent before the new configuration.
void stepDrain() {
    const bool empty = drainLink();
    if (deviceGone) {
        dropDevice();
        return;
    }
    if (!empty) {
        return;
    }
    measurementState.cycleState = CycleState::Query;
    measurementState.ticksSinceConfig = 0;
}

void stepQuery() {
    // Whatever was waiting has been read or drained: the answers start from nothing.
    measurementState.pendingAtLastCollect = 0;
    const QuerySequence sequence = querySequence();
    for (const CounterCommand& command : sequence.commands) {
        if (!writeCommand(command)) {
            if (deviceGone) {
                dropDevice();
                return;
            }
            break;
        }
    }
    measurementState.cycleState = CycleState::Collect;
}

// Dashes in place of a reading that can no longer be trusted, drawn once. The next
// evaluation draws its lines at once rather than waiting for its turn, so a reading
// comes back as soon as the counter answers well again.
void blankReading() {
    if (measurementState.readingOnScreen == 0) {
        return;
    }
    showPeriod(0.0);
    showFrequency(0.0);
    measurementState.readingOnScreen = 0;
    measurementState.refreshCounter = 0;
}

void stepCollect(HWND window) {
    beginDrawing(window);
    unsigned char buffer[readChunkBytes] = {};
    const DWORD pending = pendingBytes();
    DWORD got = 0;
    if (pending >= static_cast<DWORD>(responseFrameLength)) {
        got = readBytes(buffer, pending);
    }
    if (deviceGone) {
        endDrawing();
        dropDevice();
        return;
    }
    // An answer still coming in over a slow line is progress, not silence.
    if (static_cast<int32_t>(pending) > measurementState.pendingAtLastCollect) {
        measurementState.ticksWithoutProgress = 0;
    }
    measurementState.pendingAtLastCollect = static_cast<int32_t>(pending);
    if (pending == static_cast<DWORD>(responseFrameLength) && got == pending &&
        isWellFormedFrame(buffer)) {
        measurementState.ticksWithoutFrame = 0;
        measurementState.ticksWithoutProgress = 0;
        evaluateFrame(buffer);
        if (measurementState.cycleState == CycleState::Collect) {
            measurementState.cycleState = CycleState::Query;
        }
        // Only evaluations count towards settling: on a slow link a frame spans several
        // Collect steps, and counting those would judge a gate before it can have ended.
        measurementState.ticksSinceConfig += 1;
        if (measurementState.ticksSinceConfig > tickCap) {
            measurementState.ticksSinceConfig = tickCap;
        }
    } else if (pending >= static_cast<DWORD>(responseFrameLength)) {
        // Bytes came that are no measurement: an answer out of step, a garbled field,
        // stray bytes, a read cut short. They were read and dropped above; the reading
        // shown can no longer be trusted, and only an empty link brings the answers back
        // in step with the queries. An endless stream is drained on at the next tick.
        blankReading();
        const bool empty = drainLink();
        if (deviceGone) {
            endDrawing();
            dropDevice();
            return;
        }
        if (empty) {
            measurementState.cycleState = CycleState::Query;
        }
    }
    showMode(measurementState.autoRange);
    endDrawing();
}

// One more tick, kept within [0, 2 × period]: past that it comes back to period + 1,
// which keeps it past the period and its multiples in step.
int32_t countTick(int32_t ticks, int32_t period) {
    ticks += 1;
    return ticks > 2 * period ? period + 1 : ticks;
}

// One step on `stepDevice`; true when the counter was found gone.
bool runStep(HWND window, CycleDevice stepDevice) {
    device = stepDevice;
    if (device.lastStatus == nullptr) {
        device.lastStatus = &unusedStatus;
    }
    deviceGone = false;
    switch (measurementState.cycleState) {
        case CycleState::NoDevice:
            stepNoDevice(window);
            break;
        case CycleState::Configure:
            stepConfigure(window);
            break;
        case CycleState::Drain:
            stepDrain();
            break;
        case CycleState::Query:
            stepQuery();
            break;
        case CycleState::Collect:
            stepCollect(window);
            break;
        default:
            break;
    }
    const bool lost = deviceGone;
    deviceGone = false;
    device = CycleDevice{nullptr, &unusedStatus};
    return lost;
}

}  // namespace

void resetMeasurementState() {
    measurementState = initialMeasurementState;
    deviceGone = false;
    device = CycleDevice{nullptr, &unusedStatus};
}

void startMeasuring() {
    measurementState.cycleState = CycleState::Configure;
    measurementState.rangePhase = RangePhase::FirstSample;
    measurementState.ticksSinceConfig = 0;
}

void resumeMeasuring() {
    measurementState.cycleState = CycleState::Configure;
    measurementState.rangePhase =
        measurementState.autoRange == 1 ? RangePhase::FirstSample : RangePhase::Measuring;
    measurementState.ticksSinceConfig = 0;
    measurementState.refreshCounter = 0;
    measurementState.previousPeriodCount = 0;
    measurementState.ticksWithoutFrame = 0;
    measurementState.ticksWithoutProgress = 0;
}

int32_t settleTicks() {
    return measurementState.divider == smallestDivider ? 30 : 10;
}

// A counter that stopped answering must not leave its last reading on screen looking
// current, and an answer that was lost (a silent spell, a frame cut short) must not
// stall the measurement for good: after about a second of ticks in which nothing came
// the reading turns to dashes, and every such second the queries go out again. An
// answer still arriving on a slow line is waited for, up to about 5 s. Time is counted
// in ticks: keys may step the cycle at any rate.
CycleOutcome runCycleStep(HWND window, CycleDevice counter) {
    const CycleState state = measurementState.cycleState;
    const bool awaitingFrame =
        state == CycleState::Drain || state == CycleState::Query || state == CycleState::Collect;
    if (awaitingFrame) {
        measurementState.ticksWithoutFrame =
            countTick(measurementState.ticksWithoutFrame, slowestFrameTicks);
        measurementState.ticksWithoutProgress =
            countTick(measurementState.ticksWithoutProgress, staleTicks);
    }
    if (runStep(window, counter)) {
        return CycleOutcome::DeviceLost;
    }
    const bool silent = measurementState.ticksWithoutProgress >= staleTicks;
    const bool tooSlow = measurementState.ticksWithoutFrame >= slowestFrameTicks;
    if (!awaitingFrame || !(silent || tooSlow)) {
        return CycleOutcome::Running;
    }
    if (measurementState.readingOnScreen != 0) {
        beginDrawing(window);
        blankReading();
        endDrawing();
    }
    const bool askAgain = (silent && measurementState.ticksWithoutProgress % staleTicks == 0) ||
                          (tooSlow && measurementState.ticksWithoutFrame % slowestFrameTicks == 0);
    if (askAgain && measurementState.cycleState == CycleState::Collect) {
        measurementState.cycleState = CycleState::Query;
    }
    return CycleOutcome::Running;
}

CycleOutcome runCycleStepAfterKey(HWND window, CycleDevice counter) {
    return runStep(window, counter) ? CycleOutcome::DeviceLost : CycleOutcome::Running;
}

void showDeviceLost(HWND window) {
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    stepNoDevice(window);
}

void toggleRangeMode() {
    measurementState.autoRange =
        static_cast<int32_t>((static_cast<uint32_t>(measurementState.autoRange) + 1u) & 1u);
}

void stepRangeUp() {
    if (measurementState.autoRange != 0) {
        return;
    }
    if (measurementState.divider == smallestDivider) {
        measurementState.divider = 10;
    } else {
        const int64_t raised = static_cast<int64_t>(measurementState.divider) * 10;
        measurementState.divider =
            raised > largestRangedDivider ? largestRangedDivider : static_cast<int32_t>(raised);
    }
    measurementState.cycleState = CycleState::Configure;
    measurementState.ticksSinceConfig = 0;
}

void stepRangeDown() {
    if (measurementState.autoRange != 0) {
        return;
    }
    measurementState.divider /= 10;
    if (measurementState.divider < 10) {
        measurementState.divider = smallestDivider;
    }
    measurementState.cycleState = CycleState::Configure;
    measurementState.ticksSinceConfig = 0;
}

void applyRangeCommand(WPARAM character) {
    switch (character) {
        case ' ':
            toggleRangeMode();
            break;
        case '+':
            stepRangeUp();
            break;
        case '-':
            stepRangeDown();
            break;
        default:
            break;
    }
}
