// The two clocks the simulated counter runs on, and the time stamp of its logs.
#include <chrono>

#include "sim/sim.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <thread>
#endif

namespace sim {

namespace {

uint64_t virtualNow = 0;

uint64_t virtualNowMicros() {
    return virtualNow;
}

void virtualWaitUntil(uint64_t when) {
    if (when > virtualNow) {
        virtualNow = when;
    }
}

std::chrono::steady_clock::time_point realStart() {
    static const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    return start;
}

uint64_t realNowMicros() {
    auto elapsed = std::chrono::steady_clock::now() - realStart();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void realWaitUntil(uint64_t when) {
    for (uint64_t now = realNowMicros(); now < when; now = realNowMicros()) {
#ifdef _WIN32
        // Sleep counts whole milliseconds; rounding up never wakes early.
        Sleep(static_cast<DWORD>((when - now + 999) / 1000));
#else
        std::this_thread::sleep_for(std::chrono::microseconds(when - now));
#endif
    }
}

}  // namespace

Clock virtualClock() {
    return {virtualNowMicros, virtualWaitUntil};
}

void setVirtualMicros(uint64_t now) {
    virtualNow = now;
}

std::string formatMillis(uint64_t micros) {
    return std::to_string(micros / 1000) + "." + std::to_string(1000 + micros % 1000).substr(1);
}

Clock realClock() {
    realStart();
    return {realNowMicros, realWaitUntil};
}

}  // namespace sim
