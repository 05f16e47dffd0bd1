// Drives the measurement cycle with an arbitrary sequence of events — bytes arriving,
// frames, failing calls (the counter lost among them), looks of the watch, keys,
// ticks — and checks after every step that the program
// stays within what it may do: a known state, an allowed divider, bounded reads, only
// the readout's own texts at their own places, and a shown period that is the
// evaluated count divided by the divider.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/measurement.h"
#include "core/cycle.h"
#include "device/connection.h"
#include "tests/fuzz/drawn_checks.h"
#include "testing/fake_platform.h"

// The cycle's states and phases by their bare names.
using enum CycleState;
using enum RangePhase;

using namespace fuzz_checks;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fake::reset();
    Input input{data, size, 0};
    if ((input.next() & 1) != 0) {
        fake::attachDevice();
    }
    int steps = 0;
    while (!input.empty() && steps < 4000) {
        const uint8_t op = input.next();
        bool stepNow = false;
        bool afterKey = false;
        switch (op % 10) {
            case 0:
                stepNow = true;
                break;
            case 1:  // the watch's timer, then a tick
                if (deviceConnection.deviceHandle == nullptr) {
                    lookForDevice(fake::testWindow());
                }
                stepNow = true;
                break;
            case 2: {  // raw bytes arrive
                const size_t n = input.next();
                for (size_t i = 0; i < n && !input.empty(); ++i) {
                    state.pending += static_cast<char>(input.next());
                }
                break;
            }
            case 3: {  // a well-formed frame arrives
                const uint32_t live = input.next32();
                const uint32_t range = input.next32();
                const uint32_t period = input.next32();
                state.pending += fake::frame({live, range, period});
                break;
            }
            case 4:  // a plausible frame: period near the previous one
                state.pending += fake::frame(
                    {input.next(), input.next32(),
                     static_cast<uint32_t>(measurementState.previousPeriodCount) + input.next()});
                break;
            case 5:  // status queries fail, then report the counter gone, then work again
                state.getStatusResult = state.getStatusResult == FT_OK            ? FT_OTHER_ERROR
                                        : state.getStatusResult == FT_OTHER_ERROR ? FT_IO_ERROR
                                                                                  : FT_OK;
                break;
            case 6:
                state.readDeliversShort = !state.readDeliversShort;
                break;
            case 7:
                state.pending.clear();
                break;
            default: {
                const char keys[] = {' ', '+', '-', 'x', '\r', '0'};
                applyRangeCommand(static_cast<unsigned char>(keys[input.next() % sizeof keys]));
                stepNow = true;
                afterKey = true;
                break;
            }
        }
        if (!stepNow) {
            continue;
        }
        const size_t drawnBefore = state.drawn.size();
        const size_t readsBefore = state.readRequests.size();
        if (afterKey) {
            runMeasurementStepAfterKey(fake::testWindow());
        } else {
            runMeasurementStep(fake::testWindow());
        }
        ++steps;
        checkState();
        for (size_t i = readsBefore; i < state.readRequests.size(); ++i) {
            check(state.readRequests[i] >= 1 && state.readRequests[i] <= 128, "read size");
        }
        checkDrawn(drawnBefore);
        if (state.drawn.size() > 4096) {
            state.drawn.clear();
        }
    }
    return 0;
}
