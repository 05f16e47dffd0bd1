// The readout: the cycle's results drawn as large Shift-JIS text at fixed positions
// of the main window. Nothing is remembered for repainting.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// The lines are drawn between beginDrawing and endDrawing, on the window given to
// beginDrawing.
void beginDrawing(HWND window);
void endDrawing();
void showNoDevice();
void showCounts(int32_t periodCount, int32_t divider);
void showPeriod(double value);
void showFrequency(double value);
void showMode(int32_t autoRange);
// Replaces trailing digits of the number in `text` (of `length` bytes) by "_" so that
// about seven significant digits stay visible.
void maskDigits(char* text, int length, double value);
