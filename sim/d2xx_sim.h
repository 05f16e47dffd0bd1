// A look inside the simulated devices that the D2XX calls serve, for tests and tools.
#pragma once

#include "sim/counter_device.h"

namespace sim {

// Device `index` of the current run (in listing order when all are attached), or null.
CounterDevice* simDevice(int index);
// The counting listing calls made since simConfigure.
int simCountingCalls();

}  // namespace sim
