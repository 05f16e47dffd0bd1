// What every fuzz target that drives the measurement cycle checks: the input read as
// a sequence of events, and the texts drawn, each one of the readout's own at its own
// place, with a shown period that is the evaluated count divided by the divider.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/cycle.h"
#include "core/readout.h"
#include "testing/fake_platform.h"

namespace fuzz_checks {

using fake::state;

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;
    bool empty() const { return at >= size; }
    uint8_t next() { return at < size ? data[at++] : 0; }
    uint32_t next32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = value << 8 | next();
        }
        return value;
    }
};

inline void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

inline bool allowedDivider(int32_t divider) {
    static const int32_t allowed[] = {4,  10,  100,  1000,  10000,  100000, 1000000,
                                      80, 800, 8000, 80000, 800000, 8000000};
    for (int32_t d : allowed) {
        if (d == divider) {
            return true;
        }
    }
    return false;
}

inline std::string masked(const char* pattern, double value) {
    char text[128];
    const int length = std::snprintf(text, sizeof text, pattern, value);
    maskDigits(text, length, value);
    return text;
}

inline const std::string dashes = "  ------------  ";
// "ｶｳﾝﾄ値 " and "分周値 "
inline const std::string countLabel = "\xb6\xb3\xdd\xc4\x92\x6c ";
inline const std::string dividerLabel = "\x95\xaa\x8e\xfc\x92\x6c ";
// "接続デバイスなし     ", "μs    ", "自動   ", "固定   " (checked against their decoded
// forms in the readout's own tests)
inline const std::string noDeviceText =
    "\x90\xda\x91\xb1\x83\x66\x83\x6f\x83\x43\x83\x58\x82\xc8\x82\xb5     ";
inline const std::string periodUnit =
    "\x83\xca"
    "s    ";
inline const std::string automaticText = "\x8e\xa9\x93\xae   ";
inline const std::string fixedText = "\x8c\xc5\x92\xe8   ";

// The integer drawn after a label, or false if the text is not label, number, spaces.
inline bool numberAfter(const std::string& text, const std::string& label, size_t spaces,
                        long long& value) {
    if (text.compare(0, label.size(), label) != 0 || text.size() < label.size() + spaces + 1) {
        return false;
    }
    const std::string digits = text.substr(label.size(), text.size() - label.size() - spaces);
    char* end = nullptr;
    value = std::strtoll(digits.c_str(), &end, 10);
    return end != nullptr && *end == '\0' &&
           text.substr(text.size() - spaces) == std::string(spaces, ' ');
}

inline void checkDrawn(size_t from) {
    bool haveCounts = false;
    long long periodCount = 0;
    long long divider = 0;
    for (size_t i = from; i < state.drawn.size(); ++i) {
        const fake::Drawn& d = state.drawn[i];
        const std::string& t = d.bytes;
        if (d.x == 10 && d.y == 10) {
            check(t == noDeviceText, "no-device text");
        } else if (d.x == 10 && d.y == 5) {
            check(numberAfter(t, countLabel, 8, periodCount), "count line");
            check(periodCount >= INT32_MIN && periodCount <= INT32_MAX, "count in range");
        } else if (d.x == 10 && d.y == 55) {
            check(numberAfter(t, dividerLabel, 6, divider), "divider line");
            check(allowedDivider(static_cast<int32_t>(divider)), "divider drawn");
            haveCounts = true;
        } else if (d.x == 0 && d.y == 150) {
            if (t != dashes) {
                check(haveCounts, "a period drawn only with its counts");
                const double period =
                    static_cast<double>(periodCount) / static_cast<double>(divider);
                check(period > 1.0 && t == masked("%14.6f ", period), "period is count / divider");
                // In automatic mode only a gate inside its band is shown.
                check(measurementState.autoRange != 1 ||
                          (periodCount >= 120000 && (periodCount <= 1300000 || divider == 4)),
                      "an automatic reading comes from a gate in its band");
            }
        } else if (d.x == 0 && d.y == 200) {
            if (t != dashes) {
                check(haveCounts, "a frequency drawn only with its counts");
                const double period =
                    static_cast<double>(periodCount) / static_cast<double>(divider);
                const double frequency = 1000000.0 / period;
                check(t == masked("%14.6f        ", frequency), "frequency is 10^6 / period");
            }
        } else if (d.x == 370 && d.y == 150) {
            check(t == periodUnit, "period unit");
        } else if (d.x == 370 && d.y == 200) {
            check(t == "Hz    ", "frequency unit");
        } else if (d.x == 10 && d.y == 285) {
            check(t == automaticText || t == fixedText, "mode label");
        } else {
            check(false, "text at an unknown place");
        }
    }
}

// The program's own records after any step.
inline void checkState() {
    check(measurementState.cycleState >= CycleState::NoDevice &&
              measurementState.cycleState <= CycleState::Collect,
          "state is one of the five");
    check(allowedDivider(measurementState.divider), "divider allowed");
    check(measurementState.rangePhase >= RangePhase::Measuring &&
              measurementState.rangePhase <= RangePhase::SecondSample,
          "range phase");
    check(measurementState.refreshCounter >= 0 && measurementState.refreshCounter <= 10,
          "refresh counter");
    check(measurementState.ticksSinceConfig >= 0 && measurementState.ticksSinceConfig <= 100,
          "ticks capped");
    check(measurementState.ticksWithoutFrame >= 0 &&
              measurementState.ticksWithoutFrame <= 2 * slowestFrameTicks,
          "ticks without a frame bounded");
    check(measurementState.ticksWithoutProgress >= 0 &&
              measurementState.ticksWithoutProgress <= 2 * staleTicks,
          "ticks without progress bounded");
    check(state.contextsOpen == 0 && state.fontsAlive == 0, "drawing objects released");
}

}  // namespace fuzz_checks
