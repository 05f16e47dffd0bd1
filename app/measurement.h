// What ties the counter to the measurement cycle: device/ finds, opens and closes the
// counter, core/ measures on what it is handed; these hand it over and act on what each
// side reports. A file of its own so that the tests drive the program's ties without its
// window or message loop.
#pragma once

#include "platform/win32.h"

// The device search of the window's creation: a counter found is measured.
void searchAtStart();
// A step of the measurement cycle for a tick of timer 1 on the open counter; a counter found gone
// is closed, the window cleared and the watch started.
void runMeasurementStep(HWND window);
// The same step right after a character key (no tick of time).
void runMeasurementStepAfterKey(HWND window);
// A tick of the watch: a counter found is measured as at start.
void lookForDevice(HWND window);
