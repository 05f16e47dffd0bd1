// The benchmarks' window on the Linux Win32 subset, headless front, virtual clock: every
// text goes through TextOutA's conversion and into the screen the front keeps.
#include "bench/bench_window.h"
#include "platform/linux/run/run.h"

namespace bench {

HWND startRun(const sim::Scenario& scenario) {
    platform::FrontConfig config;
    config.front = platform::FrontKind::Headless;
    config.clock = platform::ClockKind::Virtual;
    platform::platformStart(config);
    sim::simConfigure(scenario,
                      sim::Clock{platform::platformNowMicros, platform::platformWaitUntilMicros});
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "BENCH";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "BENCH", "", 0, 0, 0, 500, 400, nullptr, nullptr, nullptr, nullptr);
}

void advanceTo(uint64_t micros) {
    platform::platformWaitUntilMicros(micros);
}

const char* drawingLabel() {
    return "Linux Win32 subset (headless front)";
}

}  // namespace bench
