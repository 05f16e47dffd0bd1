// The program run headless against the simulated counter on the virtual clock: the
// timer and drawing calls of the cycle and the readout are recorded instead of shown,
// and the window's timers fire as they were set: timer 1 steps the cycle, the watch
// timer looks for a counter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/sim.h"

#include "testing/fake_platform.h"

// The timer and drawing calls go to the recording Win32 stand-in of testing/.
using DrawnText = fake::Drawn;

namespace program_run {

// A fresh run: the simulator set up with `scenario` on the virtual clock at 0, the
// program's records as before its first message, nothing recorded; then what the main
// window's creation does: the device search, timer 1 at 100 ms, and the watch when no
// counter was found.
void start(const sim::Scenario& scenario);
// Fires the timers that fall due up to `micros`, in order; a read that waited moves
// the clock on.
void runUntil(uint64_t micros);
HWND window();

const std::vector<DrawnText>& drawn();
// The last text drawn at (x, y) and not erased since, or "" when none is.
std::string lastAt(int x, int y);
// Counting listing calls the program made since start().
int listingCalls();

// The number in the count and divider lines follows a 7-byte label.
constexpr size_t labelBytes = 7;
// The period and frequency lines when there is no value.
inline const std::string dashes = "  ------------  ";

}  // namespace program_run
