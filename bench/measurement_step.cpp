// What measuring costs the program: one measurement (a Query step and the Collect step
// that evaluates the counter's answer and draws the readout) and an hour of steps, against
// the simulated counter on the virtual clock. Built twice, drawing through the Linux
// Win32 subset (measurement_bench) and through a stand-in that draws nothing
// (measurement_floor_bench): the difference is what the drawing costs.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench/bench_window.h"
#include "app/measurement.h"
#include "core/cycle.h"
#include "core/readout.h"
#include "device/connection.h"

namespace {

constexpr uint64_t tickMicros = uint64_t{cycleTickMs} * 1000;

struct Run {
    HWND window;
    uint64_t now;

    void step() {
        now += tickMicros;
        bench::advanceTo(now);
        runMeasurementStep(window);
    }
};

// The program as its window's creation leaves it, the device found and opened.
Run startProgram(double frequencyHz) {
    resetMeasurementState();
    resetDeviceConnection();
    sim::Scenario scenario;
    scenario.frequencyHz = frequencyHz;
    Run run{bench::startRun(scenario), 0};
    searchAtStart();
    return run;
}

// One measurement at 1 kHz, once the automatic range has settled (divider 1000) and the
// reading is valid: the same work as every measurement of a long run, the numeric lines
// drawn on every eleventh.
void measurement(benchmark::State& state) {
    Run run = startProgram(1000.0);
    for (int i = 0; i < 400; ++i) {
        run.step();
    }
    if (measurementState.rangePhase != RangePhase::Measuring || measurementState.divider != 1000 ||
        measurementState.cycleState != CycleState::Query) {
        state.SkipWithError("the automatic range did not settle on divider 1000");
        return;
    }
    for (auto _ : state) {
        run.step();  // Query
        run.step();  // Collect: evaluate, draw
    }
    if (measurementState.cycleState != CycleState::Query ||
        measurementState.rangePhase != RangePhase::Measuring) {
        state.SkipWithError("a measurement did not complete in its two steps");
    }
    state.SetLabel(bench::drawingLabel());
}
BENCHMARK(measurement);

// One hour of steps every 50 ms from the start (72000 steps), at the frequency given in
// hertz.
void simulatedHour(benchmark::State& state) {
    const uint64_t hour = 3600ull * 1000000;
    for (auto _ : state) {
        Run run = startProgram(static_cast<double>(state.range(0)));
        while (run.now < hour) {
            run.step();
        }
        closeDevice();
    }
    state.SetLabel(bench::drawingLabel());
}
BENCHMARK(simulatedHour)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
