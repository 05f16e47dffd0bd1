// One hour of a 1 MHz input, the measurement cycle stepped every 50 ms on the virtual
// clock against the simulated counter: what a long headless run costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>

#include "core/cycle.h"
#include "device/connection.h"
#include "sim/d2xx_sim.h"
#include "tests/sim/win32_double.h"

namespace {

const MeasurementState initialState = measurementState;
const DeviceConnection initialConnection = deviceConnection;

void simulatedHour(benchmark::State& state) {
    const uint64_t hour = 3600ull * 1000000;
    const uint64_t tick = uint64_t{cycleTickMs} * 1000;
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000));
    int64_t steps = 0;
    for (auto _ : state) {
        sim::Scenario scenario;
        scenario.frequencyHz = 1e6;
        sim::setVirtualMicros(0);
        sim::simConfigure(scenario, sim::virtualClock());
        win32_double::reset();
        measurementState = initialState;
        deviceConnection = initialConnection;
        openFirstDevice();
        for (uint64_t t = 0; t <= hour; t += tick) {
            sim::setVirtualMicros(std::max(t, sim::virtualClock().nowMicros()));
            runCycleStep(window);
            ++steps;
        }
        closeDevice();
        benchmark::DoNotOptimize(win32_double::drawn().size());
    }
    state.counters["steps"] =
        benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kAvgIterations);
}

BENCHMARK(simulatedHour)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
