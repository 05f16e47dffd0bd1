// The program run headless against the simulated counter on the virtual clock: the
// timer and drawing calls of the cycle and the readout are recorded instead of shown,
// and the cycle is stepped every tick as timer 1 would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/sim.h"

struct DrawnText {
    int x;
    int y;
    std::string text;
};

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

}  // namespace program_run
