// Where the measurement benchmarks draw: the Linux Win32 subset's headless front
// (step_window_subset.cpp) or the stand-in that draws nothing (step_window_null.cpp).
// The same benchmark source is linked with each.
#pragma once

#include "platform/win32.h"
#include "sim/sim.h"

namespace bench {

// A fresh run: the platform's state forgotten, the simulated counter set up with
// `scenario` on a virtual clock at 0, and a window the readout can draw on.
HWND startRun(const sim::Scenario& scenario);
// Moves the virtual clock forward to `micros` (never back).
void advanceTo(uint64_t micros);
// Which Win32 calls serve the program, for the report.
const char* drawingLabel();

}  // namespace bench
