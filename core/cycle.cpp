#include "core/cycle.h"

#include <cstring>

#include "core/protocol.h"
#include "core/readout.h"
#include "device/connection.h"
#include "platform/d2xx.h"

MeasurementState measurementState = {
    NoDevice,   // cycleState
    Measuring,  // rangePhase
    8000000,    // divider
    1,          // autoRange
    0,          // ticksSinceConfig
    0,          // refreshCounter
    0,          // previousPeriodCount
    0,          // firstRangeSample
    0,          // ticksWithoutFrame
    0,          // readingOnScreen
};

namespace {

constexpr int commandBufferSize = 128;
constexpr int32_t smallestDivider = 4;
constexpr int32_t largestRangedDivider = 100000;
constexpr int32_t restartDivider = 800000;
constexpr int32_t shortestGateMicros = 120000;
constexpr int32_t longestGateMicros = 1300000;
constexpr int32_t tickCap = 100;
constexpr int32_t refreshPeriod = 10;

// True when the whole command went out. One that did not (the link is gone, or the
// counter stopped taking bytes and the write waited out its time-out) ends the sequence:
// the rest would only wait as long again, with the window frozen meanwhile.
bool writeCommand(const CounterCommand& command) {
    char buffer[commandBufferSize];
    std::memcpy(buffer, command.bytes, static_cast<size_t>(command.length));
    DWORD written = 0;
    deviceConnection.lastStatus = FT_Write(deviceConnection.deviceHandle, buffer,
                                           static_cast<DWORD>(command.length), &written);
    return deviceConnection.lastStatus == FT_OK && written == static_cast<DWORD>(command.length);
}

// Bytes waiting, at most one read's worth. A failing status query reads as nothing
// pending, whatever the call left in its arguments.
DWORD pendingBytes() {
    DWORD rxBytes = 0;
    DWORD txBytes = 0;
    DWORD eventWord = 0;
    if (FT_GetStatus(deviceConnection.deviceHandle, &rxBytes, &txBytes, &eventWord) != FT_OK) {
        return 0;
    }
    return rxBytes > static_cast<DWORD>(readChunkBytes) ? static_cast<DWORD>(readChunkBytes)
                                                        : rxBytes;
}

DWORD readBytes(unsigned char* buffer, DWORD count) {
    DWORD got = 0;
    deviceConnection.lastStatus = FT_Read(deviceConnection.deviceHandle, buffer, count, &got);
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
    measurementState.rangePhase = FirstSample;
    measurementState.cycleState = Configure;
    measurementState.divider = restartDivider;
    measurementState.ticksSinceConfig = 0;
}

void evaluateRangeSample(const FrameCounts& counts) {
    if (measurementState.rangePhase == FirstSample) {
        measurementState.firstRangeSample = counts.rangeCount;
        measurementState.rangePhase = SecondSample;
        measurementState.cycleState = Query;
        return;
    }
    const int32_t difference =
        static_cast<int32_t>(static_cast<uint32_t>(counts.rangeCount) -
                             static_cast<uint32_t>(measurementState.firstRangeSample));
    measurementState.divider = dividerForDifference(difference);
    measurementState.rangePhase = Measuring;
    measurementState.cycleState = Configure;
}

void evaluateMeasurement(const FrameCounts& counts) {
    const int32_t periodCount = counts.periodCount;
    showCounts(periodCount, measurementState.divider);

    const int32_t threshold = settleTicks();
    const bool stalled = counts.liveCount > scaledCount(periodCount) &&
                         periodCount == measurementState.previousPeriodCount;

    double periodMicros = 0.0;
    if (!stalled && periodCount >= 0 && measurementState.ticksSinceConfig > threshold) {
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

    if (measurementState.ticksSinceConfig >= threshold && measurementState.autoRange == 1) {
        const bool gateTooLong =
            periodCount > longestGateMicros && measurementState.divider != smallestDivider;
        if (stalled || periodCount < shortestGateMicros || gateTooLong) {
            restartRanging();
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
    if (measurementState.rangePhase > 0) {
        evaluateRangeSample(counts);
    } else {
        evaluateMeasurement(counts);
    }
}

void stepNoDevice(HWND window) {
    KillTimer(window, cycleTimerId);
    beginDrawing();
    showNoDevice();
    endDrawing();
    measurementState.readingOnScreen = 0;
}

void stepConfigure(HWND window) {
    KillTimer(window, cycleTimerId);
    const ConfigurationSequence sequence = configurationSequence(measurementState.divider);
    for (const CounterCommand& command : sequence.commands) {
        if (!writeCommand(command)) {
            break;
        }
    }
    measurementState.cycleState = Drain;
    SetTimer(window, cycleTimerId, cycleTickMs, nullptr);
}

// Reads and throws away whatever is waiting; true once the link is empty. A counter
// that never stops sending must not freeze the window, so one call reads a bounded
// amount and the caller goes on at the next tick.
bool drainLink() {
    unsigned char buffer[readChunkBytes];
    for (int reads = 0;; ++reads) {
        const DWORD pending = pendingBytes();
        if (pending == 0) {
            return true;
        }
        if (reads == drainReadsPerStep) {
            return false;
        }
        readBytes(buffer, pending);
    }
}

// Throws away whatever the counter sent before the new configuration.
void stepDrain() {
    if (!drainLink()) {
        return;
    }
    measurementState.cycleState = Query;
    measurementState.ticksSinceConfig = 0;
}

void stepQuery() {
    const QuerySequence sequence = querySequence();
    for (const CounterCommand& command : sequence.commands) {
        if (!writeCommand(command)) {
            break;
        }
    }
    measurementState.cycleState = Collect;
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

void stepCollect() {
    beginDrawing();
    unsigned char buffer[readChunkBytes] = {};
    const DWORD pending = pendingBytes();
    DWORD got = 0;
    if (pending >= static_cast<DWORD>(responseFrameLength)) {
        got = readBytes(buffer, pending);
    }
    if (pending == static_cast<DWORD>(responseFrameLength) && got == pending &&
        isWellFormedFrame(buffer)) {
        measurementState.ticksWithoutFrame = 0;
        evaluateFrame(buffer);
        if (measurementState.cycleState == Collect) {
            measurementState.cycleState = Query;
        }
    } else if (pending >= static_cast<DWORD>(responseFrameLength)) {
        // Bytes came that are no measurement: an answer out of step, a garbled field,
        // stray bytes, a read cut short. They were read and dropped above; the reading
        // shown can no longer be trusted, and only an empty link brings the answers back
        // in step with the queries. An endless stream is drained on at the next tick.
        blankReading();
        if (drainLink()) {
            measurementState.cycleState = Query;
        }
    }
    showMode(measurementState.autoRange);
    measurementState.ticksSinceConfig += 1;
    if (measurementState.ticksSinceConfig > tickCap) {
        measurementState.ticksSinceConfig = tickCap;
    }
    endDrawing();
}

void runStep(HWND window) {
    switch (measurementState.cycleState) {
        case NoDevice:
            stepNoDevice(window);
            break;
        case Configure:
            stepConfigure(window);
            break;
        case Drain:
            stepDrain();
            break;
        case Query:
            stepQuery();
            break;
        case Collect:
            stepCollect();
            break;
        default:
            break;
    }
}

}  // namespace

int32_t settleTicks() {
    return measurementState.divider == smallestDivider ? 30 : 10;
}

// A counter that stopped answering must not leave its last reading on screen looking
// current, and an answer that was lost (a silent spell, a frame cut short) must not
// stall the measurement for good: after about a second of ticks without a frame the
// reading turns to dashes, and every such second the queries go out again. Time is
// counted in ticks: keys may step the cycle at any rate.
void runCycleStep(HWND window) {
    const int32_t state = measurementState.cycleState;
    const bool awaitingFrame = state == Drain || state == Query || state == Collect;
    if (awaitingFrame) {
        measurementState.ticksWithoutFrame += 1;
        if (measurementState.ticksWithoutFrame > 2 * staleTicks) {
            measurementState.ticksWithoutFrame = staleTicks + 1;
        }
    }
    runStep(window);
    if (!awaitingFrame || measurementState.ticksWithoutFrame < staleTicks) {
        return;
    }
    if (measurementState.readingOnScreen != 0) {
        beginDrawing();
        blankReading();
        endDrawing();
    }
    if (measurementState.ticksWithoutFrame % staleTicks == 0 &&
        measurementState.cycleState == Collect) {
        measurementState.cycleState = Query;
    }
}

void runCycleStepAfterKey(HWND window) {
    runStep(window);
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
    measurementState.cycleState = Configure;
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
    measurementState.cycleState = Configure;
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
