// The timer and drawing calls of the measurement cycle and the readout, recorded instead
// of shown: what was drawn where, and whether timer 1 runs.
#pragma once

#include <string>
#include <vector>

struct DrawnText {
    int x;
    int y;
    std::string text;
};

namespace win32_double {

void reset();
const std::vector<DrawnText>& drawn();
// The last text drawn at (x, y), or "" when none was.
std::string lastAt(int x, int y);
bool timerRunning();

}  // namespace win32_double
