// The one clock of a run, shared by the Linux run harness (platform/linux/run) and the
// simulated counter (sim/): microseconds since the clock's start, either the process's
// monotonic clock or a virtual one that moves only when a wait moves it. Header-only and
// portable: it includes nothing of the program.
#pragma once

#include <chrono>
#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <thread>
#endif

struct RunClock {
    bool isVirtual = true;
    uint64_t virtualNow = 0;
    std::chrono::steady_clock::time_point realStart = std::chrono::steady_clock::now();
};

inline uint64_t runClockNow(const RunClock& clock) {
    if (clock.isVirtual) {
        return clock.virtualNow;
    }
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now() - clock.realStart)
                                     .count());
}

// Sleeps until `when` on the real clock; moves the virtual clock forward to `when`
// (never back).
inline void runClockWaitUntil(RunClock& clock, uint64_t when) {
    if (clock.isVirtual) {
        if (when > clock.virtualNow) {
            clock.virtualNow = when;
        }
        return;
    }
    for (uint64_t now = runClockNow(clock); now < when; now = runClockNow(clock)) {
#ifdef _WIN32
        // Sleep counts whole milliseconds; rounding up never wakes early.
        Sleep(static_cast<DWORD>((when - now + 999) / 1000));
#else
        std::this_thread::sleep_for(std::chrono::microseconds(when - now));
#endif
    }
}
