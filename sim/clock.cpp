// The two clocks the simulated counter runs on, and the time stamp of its logs.
#include "platform/run_clock.h"
#include "sim/sim.h"

namespace sim {

namespace {

RunClock virtualTime{true, 0, {}};

RunClock& realTime() {
    static RunClock clock{false, 0, std::chrono::steady_clock::now()};
    return clock;
}

uint64_t virtualNowMicros() {
    return runClockNow(virtualTime);
}

void virtualWaitUntil(uint64_t when) {
    runClockWaitUntil(virtualTime, when);
}

uint64_t realNowMicros() {
    return runClockNow(realTime());
}

void realWaitUntil(uint64_t when) {
    runClockWaitUntil(realTime(), when);
}

}  // namespace

Clock virtualClock() {
    return {virtualNowMicros, virtualWaitUntil};
}

void setVirtualMicros(uint64_t now) {
    virtualTime.virtualNow = now;
}

std::string formatMillis(uint64_t micros) {
    return std::to_string(micros / 1000) + "." + std::to_string(1000 + micros % 1000).substr(1);
}

Clock realClock() {
    realTime();
    return {realNowMicros, realWaitUntil};
}

}  // namespace sim
