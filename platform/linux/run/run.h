// The launchers' and tests' handle on the Linux Win32 subset: which front shows the
// window (a GTK window or none), which clock drives the timers, what the "user" does
// at given times, and what was drawn.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace platform {

enum class FrontKind { Headless, Gtk };

// Real: the process's monotonic clock, waits sleep. Virtual: the clock only moves when
// the program has nothing to do, straight to the next due timer or scheduled event.
enum class ClockKind { Real, Virtual };

struct FrontConfig {
    FrontKind front = FrontKind::Headless;
    ClockKind clock = ClockKind::Virtual;
    // Headless only: the terminal on which the screen's lines are redrawn in place
    // whenever they change; null for none.
    FILE* liveReadout = nullptr;
    // Headless on the virtual clock only: when no timer runs and nothing is scheduled,
    // nothing can ever happen again; GetMessageA then returns 0 as if PostQuitMessage
    // had been called with this code.
    int idleQuitCode = 3;
    // Keep every SetTimer and KillTimer call for timerCalls(): for tests and benchmarks
    // only, since the record grows with every configuration of the counter.
    bool recordTimerCalls = false;
};

// Whether a GTK window can be opened: a display is named and GTK initialises on it.
// On false, `why` says what is missing.
bool gtkAvailable(int* argc, char*** argv, std::string* why);

// Starts a fresh run: forgets every class, window, queued message, timer, drawing
// object, scheduled injection and screen text, and sets the clock to 0.
void platformStart(const FrontConfig& config);

// Microseconds since platformStart on the clock in use; with platformWaitUntilMicros a
// sim::Clock for the simulated counter.
uint64_t platformNowMicros();
// Sleeps until `when` on the real clock; moves the virtual clock forward to `when`.
void platformWaitUntilMicros(uint64_t when);

// Injections into the first window still open, as if the user did them at that time:
// a menu command (WM_COMMAND), or each byte of a code-page-932 text as a WM_CHAR.
void scheduleCommand(uint64_t atMicros, WORD commandId);
void scheduleText(uint64_t atMicros, const std::string& cp932Text);

struct DrawnText {
    uint64_t micros;
    int x;
    int y;
    std::string utf8;
};
// Called for every text drawn by TextOutA (null: none).
void setDrawHook(std::function<void(const DrawnText&)> hook);

// The screen: the last text drawn at each position still showing, sorted by y, then x.
struct ScreenText {
    int x;
    int y;
    std::string utf8;
};
std::vector<ScreenText> screenTexts();
// `(<x>,<y>) "<text>"`, one line per screen text.
void writeScreen(FILE* out);

// Every SetTimer and KillTimer call made on a window, in order, when the run was started
// with recordTimerCalls.
struct TimerCall {
    uint64_t micros;
    bool set;  // SetTimer; false: KillTimer
    HWND window;
    UINT_PTR id;
    UINT elapseMs;  // SetTimer only
    bool succeeded;
};
std::vector<TimerCall> timerCalls();

}  // namespace platform
