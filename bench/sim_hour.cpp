// One hour of a 1 MHz input, the measurement cycle stepped every 50 ms on the virtual
// clock against the simulated counter: what a long headless run costs.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "core/cycle.h"
#include "device/connection.h"
#include "testing/program_run.h"

namespace {

void simulatedHour(benchmark::State& state) {
    sim::Scenario scenario;
    scenario.frequencyHz = 1e6;
    const uint64_t hour = 3600ull * 1000000;
    for (auto _ : state) {
        program_run::start(scenario);
        program_run::runUntil(hour);
        closeDevice();
        benchmark::DoNotOptimize(program_run::drawn().size());
    }
    state.counters["steps"] = static_cast<double>(hour / (uint64_t{cycleTickMs} * 1000) + 1);
}

BENCHMARK(simulatedHour)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
