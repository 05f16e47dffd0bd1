// The options of pulsemeter-sim: how the simulated counter behaves, which front and
// clock the program runs on, what the "user" does and what is written out.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct TimedText {
    double atSeconds;
    std::string cp932;
};

struct FrequencyStep {
    double atSeconds;
    double frequencyHz;
};

struct SimOptions {
    double frequencyHz = 1000.0;
    double jitterPpm = 0.0;
    std::vector<FrequencyStep> changes;
    double stopAtSeconds = -1.0;  // negative: the input never stops
    double baud = 0.0;            // 0: answers arrive at once
    bool noDevice = false;
    std::vector<double> unplugAt;  // the counter is pulled out at these times
    std::vector<double> plugAt;    // and plugged (back) in at these
    bool headless = false;
    bool virtualTime = false;
    double runForSeconds = -1.0;  // negative: until the user ends it
    std::vector<TimedText> keys;
    bool deviceLog = false;
    bool drawLog = false;
    bool screen = false;
};

enum class ParseOutcome { Run, Help, Version, Error };

// On Error, `error` says what is wrong.
ParseOutcome parseSimOptions(int argc, const char* const* argv, SimOptions& options,
                             std::string& error);

extern const char simUsage[];

}  // namespace platform
