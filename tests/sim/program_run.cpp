#include "tests/sim/program_run.h"

#include <algorithm>

#include "core/cycle.h"
#include "device/connection.h"
#include "tests/support/fake_platform.h"

namespace {

// The records as they stand before the program's first message (both are constant
// initialised, so these copies see their initial values).
const MeasurementState initialState = measurementState;
const DeviceConnection initialConnection = deviceConnection;

uint64_t nextStep = 0;

}  // namespace

namespace program_run {

void start(const sim::Scenario& scenario) {
    sim::setVirtualMicros(0);
    sim::simConfigure(scenario, sim::virtualClock());
    fake::reset();
    nextStep = 0;
    measurementState = initialState;
    deviceConnection = initialConnection;
    openFirstDevice();
}

void runUntil(uint64_t micros) {
    const uint64_t tick = uint64_t{cycleTickMs} * 1000;
    for (; nextStep <= micros; nextStep += tick) {
        sim::setVirtualMicros(std::max(nextStep, sim::virtualClock().nowMicros()));
        runCycleStep(window());
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

}  // namespace program_run
