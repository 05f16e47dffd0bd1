// Between the Win32 emulation (platform/linux/win32) and the run harness (run.cpp): what
// the emulation asks of the run it takes part in. Internal to the Linux platform: the
// program, the launchers and the tests see only run.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/fronts/fronts.h"
#include "platform/linux/run/run.h"

namespace platform::detail {

// The run's configuration and its front, as platformStart set them (the headless front
// before any start).
const FrontConfig& runConfig();
Front& front();

// A user's action scheduled for the first window still open.
struct ScheduledInput {
    UINT message;
    WPARAM wParam;
};
// The actions due at `now`, in the order they were scheduled; each is handed out once.
std::vector<ScheduledInput> takeDueInputs(uint64_t now);
// When the next scheduled action falls due, if any.
std::optional<uint64_t> nextScheduledMicros();

// The screen model: a text drawn at (x, y), `width` × `height` pixels; an opaque one
// removes the texts it covers completely. True when the screen changed (the same text
// again in the same place, covering nothing else, leaves it as it was).
bool putScreenText(int x, int y, int width, int height, bool opaque, const std::string& utf8);
// A window was erased: nothing drawn stays.
void clearScreen();
// Every text drawn, for the draw hook.
void reportDrawn(int x, int y, const std::string& utf8);

// SetTimer and KillTimer calls, kept only when the run asked for them.
void recordTimerCall(bool set, HWND window, UINT_PTR id, UINT elapseMs, bool succeeded);

// Provided by the emulation: forgets every class, window, queued message, timer and
// drawing object. platformStart calls it.
void resetWin32();

}  // namespace platform::detail
