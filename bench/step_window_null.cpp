// The benchmarks' window for the floor: any handle, since the stand-in of
// null_win32.cpp ignores it; the simulated counter on its own virtual clock.
#include "bench/bench_window.h"

namespace bench {

HWND startRun(const sim::Scenario& scenario) {
    sim::setVirtualMicros(0);
    sim::simConfigure(scenario, sim::virtualClock());
    static char windowObject;
    return reinterpret_cast<HWND>(&windowObject);
}

void advanceTo(uint64_t micros) {
    if (micros > sim::virtualClock().nowMicros()) {
        sim::setVirtualMicros(micros);
    }
}

const char* drawingLabel() {
    return "drawing that does nothing";
}

}  // namespace bench
