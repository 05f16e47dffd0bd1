// Drives the measurement cycle with an arbitrary sequence of events — bytes arriving,
// frames, failing calls, keys, ticks — and checks after every step that the program
// stays within what it may do: a known state, an allowed divider, bounded reads, only
// the readout's own texts at their own places, and a shown period that is the
// evaluated count divided by the divider.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/cycle.h"
#include "core/readout.h"
#include "tests/support/fake_platform.h"

namespace {

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

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool allowedDivider(int32_t divider) {
    static const int32_t allowed[] = {4,  10,  100,  1000,  10000,  100000,
                                      80, 800, 8000, 80000, 800000, 8000000};
    for (int32_t d : allowed) {
        if (d == divider) {
            return true;
        }
    }
    return false;
}

std::string masked(const char* pattern, double value) {
    char text[128];
    const int length = std::snprintf(text, sizeof text, pattern, value);
    maskDigits(text, length, value);
    return text;
}

const std::string dashes = "  ------------  ";
// "ｶｳﾝﾄ値 " and "分周値 "
const std::string countLabel = "\xb6\xb3\xdd\xc4\x92\x6c ";
const std::string dividerLabel = "\x95\xaa\x8e\xfc\x92\x6c ";
// "接続デバイスなし     ", "μs    ", "自動   ", "固定   " (checked against their decoded
// forms in the readout's own tests)
const std::string noDeviceText =
    "\x90\xda\x91\xb1\x83\x66\x83\x6f\x83\x43\x83\x58\x82\xc8\x82\xb5     ";
const std::string periodUnit =
    "\x83\xca"
    "s    ";
const std::string automaticText = "\x8e\xa9\x93\xae   ";
const std::string fixedText = "\x8c\xc5\x92\xe8   ";

// The integer drawn after a label, or false if the text is not label, number, spaces.
bool numberAfter(const std::string& text, const std::string& label, size_t spaces,
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

void checkDrawn(size_t from) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fake::reset();
    Input input{data, size, 0};
    if ((input.next() & 1) != 0) {
        fake::attachDevice();
    }
    int steps = 0;
    while (!input.empty() && steps < 4000) {
        const uint8_t op = input.next();
        bool stepNow = false;
        bool afterKey = false;
        switch (op % 10) {
            case 0:
            case 1:
                stepNow = true;
                break;
            case 2: {  // raw bytes arrive
                const size_t n = input.next();
                for (size_t i = 0; i < n && !input.empty(); ++i) {
                    state.pending += static_cast<char>(input.next());
                }
                break;
            }
            case 3: {  // a well-formed frame arrives
                const uint32_t live = input.next32();
                const uint32_t range = input.next32();
                const uint32_t period = input.next32();
                state.pending += fake::frame({live, range, period});
                break;
            }
            case 4:  // a plausible frame: period near the previous one
                state.pending += fake::frame(
                    {input.next(), input.next32(),
                     static_cast<uint32_t>(measurementState.previousPeriodCount) + input.next()});
                break;
            case 5:
                state.getStatusResult = state.getStatusResult == FT_OK ? FT_IO_ERROR : FT_OK;
                break;
            case 6:
                state.readDeliversShort = !state.readDeliversShort;
                break;
            case 7:
                state.pending.clear();
                break;
            default: {
                const char keys[] = {' ', '+', '-', 'x', '\r', '0'};
                applyRangeCommand(static_cast<unsigned char>(keys[input.next() % sizeof keys]));
                stepNow = true;
                afterKey = true;
                break;
            }
        }
        if (!stepNow) {
            continue;
        }
        const size_t drawnBefore = state.drawn.size();
        const size_t readsBefore = state.readRequests.size();
        if (afterKey) {
            runCycleStepAfterKey(fake::testWindow());
        } else {
            runCycleStep(fake::testWindow());
        }
        ++steps;
        check(measurementState.cycleState >= NoDevice && measurementState.cycleState <= Collect,
              "state is one of the five");
        check(allowedDivider(measurementState.divider), "divider allowed");
        check(
            measurementState.rangePhase >= Measuring && measurementState.rangePhase <= SecondSample,
            "range phase");
        check(measurementState.refreshCounter >= 0 && measurementState.refreshCounter <= 10,
              "refresh counter");
        check(measurementState.ticksSinceConfig >= 0 && measurementState.ticksSinceConfig <= 100,
              "ticks capped");
        for (size_t i = readsBefore; i < state.readRequests.size(); ++i) {
            check(state.readRequests[i] >= 1 && state.readRequests[i] <= 128, "read size");
        }
        check(state.contextsOpen == 0 && state.fontsAlive == 0, "drawing objects released");
        checkDrawn(drawnBefore);
        if (state.drawn.size() > 4096) {
            state.drawn.clear();
        }
    }
    return 0;
}
