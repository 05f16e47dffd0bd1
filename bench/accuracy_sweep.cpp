// The readings the whole program shows across the automatic range, against the true
// input: for each frequency the program runs (WinMain, headless front, virtual clock,
// simulated counter without faults) for a fixed time, and every period and frequency
// it draws is compared with the truth. Writes one tab-separated line per frequency.
// Usage: accuracy_sweep [JITTER_PPM [BAUD [SECONDS]]]   (defaults 0, 0 and 30)
// BAUD 0: the counter's answers arrive at once; otherwise they come at BAUD/10 bytes per
// second. Each run lasts SECONDS, or longer for slow inputs: three gates of divider 4
// and 15 s more.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/menu.h"
#include "core/cycle.h"
#include "core/readout.h"
#include "device/connection.h"
#include "platform/linux/run/run.h"
#include "programs/launch.h"
#include "sim/sim.h"

namespace {

// A number as drawn: "_" stands for a digit that is not shown. The value is read with the
// hidden digits as 0; `unit` is the place value of the last digit shown.
struct ShownNumber {
    bool present = false;
    double value = 0.0;
    double unit = 0.0;
};

// The readout prints "%14.6f" (six decimals) and masks trailing characters, the decimal
// point too when the value is large: the point's place follows from the width alone.
ShownNumber parseShown(const std::string& text) {
    ShownNumber shown;
    const size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) {
        return shown;
    }
    const size_t end = text.find(' ', begin);
    const std::string field = text.substr(begin, end == std::string::npos ? end : end - begin);
    if (field.size() < 8 || field.find('-') != std::string::npos) {
        return shown;
    }
    const int point = static_cast<int>(field.size()) - 7;
    double value = 0.0;
    int lastShownPlace = 99;
    for (int i = 0; i < static_cast<int>(field.size()); ++i) {
        if (i == point) {
            continue;
        }
        const int place = i < point ? point - i - 1 : point - i;
        const char c = field[static_cast<size_t>(i)];
        if (c >= '0' && c <= '9') {
            value += (c - '0') * std::pow(10.0, place);
            lastShownPlace = place;
        } else if (c != '_') {
            return shown;
        }
    }
    if (lastShownPlace == 99) {
        return shown;
    }
    shown.present = true;
    shown.value = value;
    shown.unit = std::pow(10.0, lastShownPlace);
    return shown;
}

// The number after the label ("ｶｳﾝﾄ値 123", "分周値 1000").
long labelledNumber(const std::string& text) {
    const size_t space = text.find(' ');
    return space == std::string::npos ? 0 : std::strtol(text.c_str() + space + 1, nullptr, 10);
}

struct Reading {
    double micros;  // when it was drawn
    long periodCount;
    long divider;
    ShownNumber period;
    ShownNumber frequency;
};

struct Outcome {
    std::vector<Reading> readings;
    long lastDivider = 0;
    long lastCount = 0;
    int configurations = 0;
    int configurationsAfterFirstReading = 0;
};

Outcome runAt(double frequencyHz, double jitterPpm, double baud, double seconds) {
    resetMeasurementState();
    resetDeviceConnection();
    platform::FrontConfig config;
    config.front = platform::FrontKind::Headless;
    config.clock = platform::ClockKind::Virtual;
    config.recordTimerCalls = true;
    platform::platformStart(config);
    sim::Scenario scenario;
    scenario.frequencyHz = frequencyHz;
    scenario.jitterPpm = jitterPpm;
    scenario.baud = baud;
    sim::simConfigure(scenario,
                      sim::Clock{platform::platformNowMicros, platform::platformWaitUntilMicros});

    Outcome outcome;
    Reading current{};
    platform::setDrawHook([&](const platform::DrawnText& text) {
        if (text.y == 5) {
            current.periodCount = outcome.lastCount = labelledNumber(text.utf8);
        } else if (text.y == 55) {
            current.divider = outcome.lastDivider = labelledNumber(text.utf8);
        } else if (text.y == 150 && text.x == 0) {
            current.period = parseShown(text.utf8);
            current.micros = static_cast<double>(text.micros);
        } else if (text.y == 200 && text.x == 0) {
            current.frequency = parseShown(text.utf8);
            if (current.period.present && current.frequency.present) {
                outcome.readings.push_back(current);
            }
        }
    });
    platform::scheduleCommand(static_cast<uint64_t>(seconds * 1e6), PM_COMMAND_EXIT);
    platform::runWinMain();
    platform::setDrawHook(nullptr);

    for (const platform::TimerCall& call : platform::timerCalls()) {
        // The cycle's timer set to 50 ms: a configuration of the counter.
        if (call.set && call.elapseMs == cycleTickMs) {
            ++outcome.configurations;
            if (!outcome.readings.empty() &&
                static_cast<double>(call.micros) > outcome.readings.front().micros) {
                ++outcome.configurationsAfterFirstReading;
            }
        }
    }
    return outcome;
}

double ppm(double shown, double truth) {
    return (shown - truth) / truth * 1e6;
}

std::vector<double> sweepFrequencies() {
    std::vector<double> frequencies;
    // 20 a decade, evenly spaced on a log scale from just above 0.1 Hz to just below
    // 1 MHz: exactly at the ends the readout's own limits (a frequency above 0.1 Hz, a
    // period above 1 µs) leave the line blank.
    constexpr int points = 141;
    const double lowest = 0.1001;
    const double highest = 999000.0;
    for (int i = 0; i < points; ++i) {
        frequencies.push_back(lowest * std::pow(highest / lowest, i / (points - 1.0)));
    }
    // Where ten to the digits of the range difference falls short (the top of each
    // decade, 8.33·10^k Hz and up) or changes (each power of ten), and the slowest
    // inputs that divider 4 had no time for.
    for (int k = 1; k <= 5; ++k) {
        const double decade = std::pow(10.0, k);
        for (double f :
             {decade * 0.85, decade * 0.9, decade * 0.95, decade * 0.995, decade * 1.005}) {
            frequencies.push_back(f);
        }
    }
    for (double f :
         {0.12, 0.5, 1.0, 1.25, 1.4, 7.6, 7.8, 833500.0, 850000.0, 900000.0, 950000.0, 990000.0}) {
        frequencies.push_back(f);
    }
    std::sort(frequencies.begin(), frequencies.end());
    return frequencies;
}

}  // namespace

int main(int argc, char** argv) {
    const double jitterPpm = argc > 1 ? std::atof(argv[1]) : 0.0;
    const double baud = argc > 2 ? std::atof(argv[2]) : 0.0;
    const double seconds = argc > 3 ? std::atof(argv[3]) : 30.0;
    std::printf(
        "# frequency_hz\tdivider\tgate_s\tperiod_shown_us\tfrequency_shown_hz\t"
        "period_error_ppm\tfrequency_error_ppm\tcount_error_ppm\ttick_bound_ppm\t"
        "display_bound_ppm\tworst_error_ppm\tworst_bound_ppm\tfirst_reading_s\treadings\t"
        "configurations\tsettled\twithin\tbudget_s\tin_budget\trun_s\n");
    std::printf(
        "# jitter %g ppm, %s\n", jitterPpm,
        baud > 0 ? (std::to_string(static_cast<long>(baud)) + " baud").c_str() : "answers at once");
    for (double frequency : sweepFrequencies()) {
        const double runSeconds = std::max(seconds, 3 * 4 / frequency + 15);
        const Outcome outcome = runAt(frequency, jitterPpm, baud, runSeconds);
        const double truePeriod = 1e6 / frequency;
        if (outcome.readings.empty()) {
            std::printf(
                "%.6g\t%ld\t%.6f\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t0\t%d\tno\t-\t-\tno\t%.0f\n",
                frequency, outcome.lastDivider, outcome.lastCount / 1e6, outcome.configurations,
                runSeconds);
            continue;
        }
        // Every reading shown must lie within one counter tick (and the input's jitter)
        // plus one unit of its last digit shown; the row shows the last one and the worst.
        double worstError = 0.0;
        double worstBound = 0.0;
        bool within = true;
        for (const Reading& r : outcome.readings) {
            // Jitter moves each of the gate's two edges by up to its share of a period.
            const double tick = 1e6 / static_cast<double>(r.periodCount) +
                                2.0 * jitterPpm / static_cast<double>(r.divider);
            const double display =
                std::max(r.period.unit / r.period.value, r.frequency.unit / r.frequency.value) *
                1e6;
            const double error = std::max(std::fabs(ppm(r.period.value, truePeriod)),
                                          std::fabs(ppm(r.frequency.value, frequency)));
            if (error > tick + display) {
                within = false;
            }
            if (error >= worstError) {
                worstError = error;
                worstBound = tick + display;
            }
        }
        const Reading& last = outcome.readings.back();
        const double countPeriod =
            static_cast<double>(last.periodCount) / static_cast<double>(last.divider);
        const double firstReading = outcome.readings.front().micros / 1e6;
        // Two gates of the divider that settled, and 2.5 s for ranging and settling.
        const double budget = 2 * static_cast<double>(last.periodCount) / 1e6 + 2.5;
        std::printf(
            "%.6g\t%ld\t%.6f\t%.6f\t%.6f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%zu\t%d\t"
            "%s\t%s\t%.3f\t%s\t%.0f\n",
            frequency, last.divider, last.periodCount / 1e6, last.period.value,
            last.frequency.value, ppm(last.period.value, truePeriod),
            ppm(last.frequency.value, frequency), ppm(countPeriod, truePeriod),
            1e6 / static_cast<double>(last.periodCount) +
                2.0 * jitterPpm / static_cast<double>(last.divider),
            std::max(last.period.unit / last.period.value,
                     last.frequency.unit / last.frequency.value) *
                1e6,
            worstError, worstBound, firstReading, outcome.readings.size(), outcome.configurations,
            outcome.configurationsAfterFirstReading == 0 ? "yes" : "no", within ? "yes" : "NO",
            budget, firstReading <= budget ? "yes" : "no", runSeconds);
    }
    return 0;
}
