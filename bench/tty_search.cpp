// The start-up device search over the tty backend: the program asks for the device
// count up to 20001 times back to back before its window appears, so with no counter
// attached the whole search must take well under 50 ms.
#include <benchmark/benchmark.h>

#include "app/measurement.h"
#include "device/connection.h"
#include "platform/d2xx.h"
#include "platform/linux/tty/d2xx_tty.h"

namespace {

// The program's own search, with nothing attached: every counting call is made.
void noDeviceSearch(benchmark::State& state) {
    if (!tty::systemUsbPorts().empty()) {
        // The search would find it and open it, which is not this figure.
        state.SkipWithError("a USB serial port is attached; unplug it to measure");
        return;
    }
    for (auto _ : state) {
        // Start cold, as the program does: the first call scans the system's ports.
        state.PauseTiming();
        tty::setPortLister(nullptr);
        deviceConnection = DeviceConnection{nullptr, 0, FT_OK};
        state.ResumeTiming();
        searchAtStart();
    }
}
BENCHMARK(noDeviceSearch)->Unit(benchmark::kMillisecond);

// One scan of the system's serial ports, which the kept list saves most calls.
void portScan(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(tty::systemUsbPorts());
    }
}
BENCHMARK(portScan)->Unit(benchmark::kMicrosecond);

// One counting call answered from the kept list.
void keptCount(benchmark::State& state) {
    tty::setPortLister(nullptr);
    DWORD count = 0;
    for (auto _ : state) {
        FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(keptCount);

}  // namespace

BENCHMARK_MAIN();
