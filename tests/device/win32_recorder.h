// A stand-in for the window, timer and drawing calls the measurement cycle makes:
// it records the texts drawn and the timer's state.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace win32_recorder {

struct DrawnText {
    int x;
    int y;
    std::string bytes;
};

void reset();
const std::vector<DrawnText>& drawn();
// 0 when timer 1 is stopped.
UINT timerPeriodMs();

}  // namespace win32_recorder
