// A stand-in for the timer and drawing calls the measurement cycle and the readout
// make: it records the texts drawn.
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

}  // namespace win32_recorder
