// The program run headless against the simulated counter on the virtual clock: the
// timer and drawing calls of the cycle and the readout are recorded instead of shown,
// and the cycle is stepped every tick as timer 1 would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/sim.h"

#include "tests/support/fake_platform.h"

// The timer and drawing calls go to the recording Win32 stand-in of tests/support.
using DrawnText = fake::Drawn;

namespace program_run {

// A fresh run: the simulator set up with `scenario` on the virtual clock at 0, the
// program's records as before its first message, nothing recorded; then the device
// search as the main window's creation makes it.
void start(const sim::Scenario& scenario);
// Steps the cycle every tick up to `micros`; a read that waited moves the clock on.
void runUntil(uint64_t micros);
HWND window();

const std::vector<DrawnText>& drawn();
// The last text drawn at (x, y), or "" when none was.
std::string lastAt(int x, int y);

// The number in the count and divider lines follows a 7-byte label.
constexpr size_t labelBytes = 7;
// The period and frequency lines when there is no value.
inline const std::string dashes = "  ------------  ";

}  // namespace program_run
