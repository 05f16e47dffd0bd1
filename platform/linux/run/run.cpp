// The run harness: the clock (real or virtual), the user's actions scheduled by the
// launchers and the tests, the screen model the headless front shows and the tests read,
// and the record of timer calls kept only for tests. The Win32 emulation reaches it
// through harness.h.
#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <utility>

#include "platform/linux/run/harness.h"
#include "platform/run_clock.h"

namespace {

struct Scheduled {
    uint64_t at;
    uint64_t order;
    UINT message;
    WPARAM wParam;
};

struct ScreenEntry {
    std::string utf8;
    int width;
    int height;
};

struct Run {
    platform::FrontConfig config;
    std::unique_ptr<platform::detail::Front> front;
    std::vector<Scheduled> scheduled;
    uint64_t scheduleOrder = 0;
    RunClock clock;
    std::function<void(const platform::DrawnText&)> drawHook;
    std::map<std::pair<int, int>, ScreenEntry> screen;  // by (y, x)
    std::vector<platform::TimerCall> timerCalls;
};

Run& run() {
    static Run instance;
    return instance;
}

// Removes screen texts that a new opaque text at (x, y) covers completely.
void coverScreen(int x, int y, int width, int height) {
    auto& screen = run().screen;
    for (auto entry = screen.begin(); entry != screen.end();) {
        auto [ey, ex] = entry->first;
        bool covered = ex >= x && ey >= y && ex + entry->second.width <= x + width &&
                       ey + entry->second.height <= y + height;
        entry = covered ? screen.erase(entry) : std::next(entry);
    }
}

}  // namespace

namespace platform::detail {

uint64_t nowMicros() {
    return runClockNow(run().clock);
}

bool virtualClock() {
    return run().config.clock == ClockKind::Virtual;
}

const FrontConfig& runConfig() {
    return run().config;
}

Front& front() {
    Run& r = run();
    if (!r.front) {
        r.front = makeHeadlessFront(r.config);
    }
    return *r.front;
}

std::vector<ScheduledInput> takeDueInputs(uint64_t now) {
    Run& r = run();
    std::stable_sort(r.scheduled.begin(), r.scheduled.end(),
                     [](const Scheduled& a, const Scheduled& b) {
                         return a.at != b.at ? a.at < b.at : a.order < b.order;
                     });
    std::vector<ScheduledInput> due;
    size_t taken = 0;
    while (taken < r.scheduled.size() && r.scheduled[taken].at <= now) {
        due.push_back(ScheduledInput{r.scheduled[taken].message, r.scheduled[taken].wParam});
        ++taken;
    }
    r.scheduled.erase(r.scheduled.begin(), r.scheduled.begin() + static_cast<ptrdiff_t>(taken));
    return due;
}

std::optional<uint64_t> nextScheduledMicros() {
    std::optional<uint64_t> next;
    for (const Scheduled& event : run().scheduled) {
        if (!next || event.at < *next) {
            next = event.at;
        }
    }
    return next;
}

bool putScreenText(int x, int y, int width, int height, bool opaque, const std::string& utf8) {
    auto& screen = run().screen;
    auto before = screen.find({y, x});
    const bool sameAsBefore = before != screen.end() && before->second.utf8 == utf8 &&
                              before->second.width == width && before->second.height == height;
    const size_t textsBefore = screen.size();
    if (opaque) {
        coverScreen(x, y, width, height);
    }
    screen[{y, x}] = ScreenEntry{utf8, width, height};
    return !sameAsBefore || screen.size() != textsBefore;
}

void clearScreen() {
    run().screen.clear();
}

void reportDrawn(int x, int y, const std::string& utf8) {
    if (run().drawHook) {
        run().drawHook(DrawnText{nowMicros(), x, y, utf8});
    }
}

void recordTimerCall(bool set, HWND window, UINT_PTR id, UINT elapseMs, bool succeeded) {
    if (!run().config.recordTimerCalls) {
        return;
    }
    run().timerCalls.push_back(TimerCall{nowMicros(), set, window, id, elapseMs, succeeded});
}

}  // namespace platform::detail

namespace platform {

void platformStart(const FrontConfig& config) {
    Run& r = run();
    // The windows go before the front that shows them.
    detail::resetWin32();
    r.front.reset();
    r = Run{};
    r.config = config;
    r.clock = RunClock{config.clock == ClockKind::Virtual, 0, std::chrono::steady_clock::now()};
    r.front = config.front == FrontKind::Gtk ? detail::makeGtkFront(config)
                                             : detail::makeHeadlessFront(config);
}

uint64_t platformNowMicros() {
    return detail::nowMicros();
}

void platformWaitUntilMicros(uint64_t when) {
    runClockWaitUntil(run().clock, when);
}

void scheduleCommand(uint64_t atMicros, WORD commandId) {
    Run& r = run();
    r.scheduled.push_back(Scheduled{atMicros, r.scheduleOrder++, WM_COMMAND, commandId});
}

void scheduleText(uint64_t atMicros, const std::string& cp932Text) {
    Run& r = run();
    for (unsigned char byte : cp932Text) {
        r.scheduled.push_back(Scheduled{atMicros, r.scheduleOrder++, WM_CHAR, byte});
    }
}

void setDrawHook(std::function<void(const DrawnText&)> hook) {
    run().drawHook = std::move(hook);
}

std::vector<ScreenText> screenTexts() {
    std::vector<ScreenText> texts;
    for (const auto& [position, entry] : run().screen) {
        texts.push_back(ScreenText{position.second, position.first, entry.utf8});
    }
    return texts;
}

void writeScreen(FILE* out) {
    for (const ScreenText& text : screenTexts()) {
        std::fprintf(out, "(%d,%d) \"%s\"\n", text.x, text.y, text.utf8.c_str());
    }
    std::fflush(out);
}

std::vector<TimerCall> timerCalls() {
    return run().timerCalls;
}

}  // namespace platform
