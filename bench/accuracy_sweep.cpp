// The readings the whole program shows across the automatic range, against the true
// input: for each frequency the program runs (WinMain, headless front, virtual clock,
// simulated counter without faults) for a fixed time, and every period and frequency
// it draws is compared with the truth. Writes one tab-separated line per frequency.
// Usage: accuracy_sweep [JITTER_PPM [SECONDS]]   (defaults 0 and 120)
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
#include "platform/linux/front.h"
#include "platform/linux/launch.h"
#include "sim/sim.h"

namespace {

const MeasurementState initialState = measurementState;
const DeviceConnection initialConnection = deviceConnection;

// A number as drawn: "_" stands for a digit that is not shown. The value is read with the
// hidden digits as 0; `unit` is the place value of the last digit shown.
struct ShownNumber {
    bool present = false;
    double value = 0.0;
    double unit = 0.0;
};

ShownNumber parseShown(const std::string& text) {
    ShownNumber shown;
    std::string digits;
    int lastShownIndex = -1;
    int pointIndex = -1;
    for (char c : text) {
        if (c == '.') {
            pointIndex = static_cast<int>(digits.size());
            digits += c;
        } else if (c >= '0' && c <= '9') {
            lastShownIndex = static_cast<int>(digits.size());
            digits += c;
        } else if (c == '_') {
            digits += '0';
        }
    }
    if (lastShownIndex < 0) {
        return shown;
    }
    if (pointIndex < 0) {
        pointIndex = static_cast<int>(digits.size());
    }
    const int place =
        lastShownIndex < pointIndex ? pointIndex - lastShownIndex - 1 : pointIndex - lastShownIndex;
    shown.present = true;
    shown.value = std::strtod(digits.c_str(), nullptr);
    shown.unit = std::pow(10.0, place);
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

Outcome runAt(double frequencyHz, double jitterPpm, double seconds) {
    measurementState = initialState;
    deviceConnection = initialConnection;
    platform::FrontConfig config;
    config.front = platform::FrontKind::Headless;
    config.clock = platform::ClockKind::Virtual;
    config.recordTimerCalls = true;
    platform::platformStart(config);
    sim::Scenario scenario;
    scenario.frequencyHz = frequencyHz;
    scenario.jitterPpm = jitterPpm;
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
    // 30 points, evenly spaced on a log scale.
    for (int i = 0; i < 30; ++i) {
        frequencies.push_back(1.5 * std::pow(800000.0 / 1.5, i / 29.0));
    }
    // Where the automatic range changes its choice: each power of ten (a digit more in
    // the range count), each gate of 0.12 s with divider 10^k (8.33·10^k Hz), the gate of
    // 1.3 s with divider 10 (7.69 Hz), beyond the largest divider, and below the sweep,
    // where divider 4's gate outlasts the settling time.
    for (int k = 1; k <= 5; ++k) {
        const double decade = std::pow(10.0, k);
        const double shortestGate = decade / 0.12;
        for (double f :
             {decade * 0.995, decade * 1.005, shortestGate * 0.995, shortestGate * 1.005}) {
            frequencies.push_back(f);
        }
    }
    for (double f : {0.5, 1.0, 1.25, 1.4, 7.6, 7.8, 1e6}) {
        frequencies.push_back(f);
    }
    std::sort(frequencies.begin(), frequencies.end());
    return frequencies;
}

}  // namespace

int main(int argc, char** argv) {
    const double jitterPpm = argc > 1 ? std::atof(argv[1]) : 0.0;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 120.0;
    std::printf(
        "# frequency_hz\tdivider\tgate_s\tperiod_shown_us\tfrequency_shown_hz\t"
        "period_error_ppm\tfrequency_error_ppm\tcount_error_ppm\ttick_bound_ppm\t"
        "display_bound_ppm\tworst_error_ppm\tworst_bound_ppm\tfirst_reading_s\treadings\t"
        "configurations\tsettled\twithin\n");
    for (double frequency : sweepFrequencies()) {
        const Outcome outcome = runAt(frequency, jitterPpm, seconds);
        const double truePeriod = 1e6 / frequency;
        if (outcome.readings.empty()) {
            std::printf("%.6g\t%ld\t%.6f\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t0\t%d\tno\t-\n", frequency,
                        outcome.lastDivider, outcome.lastCount / 1e6, outcome.configurations);
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
        std::printf(
            "%.6g\t%ld\t%.6f\t%.6f\t%.6f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%zu\t%d\t"
            "%s\t%s\n",
            frequency, last.divider, last.periodCount / 1e6, last.period.value,
            last.frequency.value, ppm(last.period.value, truePeriod),
            ppm(last.frequency.value, frequency), ppm(countPeriod, truePeriod),
            1e6 / static_cast<double>(last.periodCount) +
                2.0 * jitterPpm / static_cast<double>(last.divider),
            std::max(last.period.unit / last.period.value,
                     last.frequency.unit / last.frequency.value) *
                1e6,
            worstError, worstBound, outcome.readings.front().micros / 1e6, outcome.readings.size(),
            outcome.configurations, outcome.configurationsAfterFirstReading == 0 ? "yes" : "no",
            within ? "yes" : "NO");
    }
    return 0;
}
