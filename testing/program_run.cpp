#include "app/measurement.h"
#include "testing/program_run.h"

#include <algorithm>

#include "core/cycle.h"
#include "device/connection.h"
#include "sim/d2xx_sim.h"
#include "testing/fake_platform.h"

namespace {

// The window's timers as its calls left them: a set timer fires once its period has
// passed, again a period later, and missed expiries fold into one, as on Windows.
struct Timer {
    UINT_PTR id;
    bool running;
    uint64_t periodMicros;
    uint64_t dueMicros;
};
Timer timers[] = {{cycleTimerId, false, 0, 0}, {watchTimerId, false, 0, 0}};
size_t timerCallsSeen = 0;

uint64_t now() {
    return sim::virtualClock().nowMicros();
}

void takeTimerCalls() {
    const std::vector<fake::TimerCall>& calls = fake::state.timers;
    for (; timerCallsSeen < calls.size(); ++timerCallsSeen) {
        const fake::TimerCall& call = calls[timerCallsSeen];
        for (Timer& timer : timers) {
            if (timer.id == call.id) {
                timer.running = call.set;
                timer.periodMicros = uint64_t{call.elapseMs} * 1000;
                timer.dueMicros = now() + timer.periodMicros;
            }
        }
    }
}

}  // namespace

namespace program_run {

void start(const sim::Scenario& scenario) {
    sim::setVirtualMicros(0);
    sim::simConfigure(scenario, sim::virtualClock());
    fake::reset();
    for (Timer& timer : timers) {
        timer.running = false;
    }
    timerCallsSeen = 0;
    resetMeasurementState();
    resetDeviceConnection();
    openedSerialNumber[0] = '\0';
    searchAtStart();
    SetTimer(window(), cycleTimerId, 100, nullptr);
    watchIfNoDevice(window());
    takeTimerCalls();
}

void runUntil(uint64_t micros) {
    for (;;) {
        Timer* next = nullptr;
        for (Timer& timer : timers) {
            if (timer.running && (next == nullptr || timer.dueMicros < next->dueMicros)) {
                next = &timer;
            }
        }
        if (next == nullptr || next->dueMicros > micros) {
            break;
        }
        sim::setVirtualMicros(std::max(next->dueMicros, now()));
        // The next expiry a period on, or a period after now when the step ran late.
        next->dueMicros += next->periodMicros;
        if (next->dueMicros <= now()) {
            next->dueMicros = now() + next->periodMicros;
        }
        if (next->id == watchTimerId) {
            lookForDevice(window());
        } else {
            runMeasurementStep(window());
        }
        takeTimerCalls();
    }
    if (now() < micros) {
        sim::setVirtualMicros(micros);
    }
}

HWND window() {
    return fake::testWindow();
}

const std::vector<DrawnText>& drawn() {
    return fake::state.drawn;
}

std::string lastAt(int x, int y) {
    return fake::textAt(x, y);
}

int listingCalls() {
    return sim::simCountingCalls();
}

}  // namespace program_run
