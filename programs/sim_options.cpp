#include "programs/sim_options.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <cstdlib>
#include <cstring>

#include "platform/linux/fronts/fronts.h"
#include "programs/value_options.h"

namespace platform {

const char simUsage[] =
    "usage: pulsemeter-sim [OPTION]...\n"
    "Runs the pulse meter against a simulated counter.\n"
    "\n"
    "The signal:\n"
    "  --frequency HZ         input frequency, 0.01 to 10000000 (default 1000)\n"
    "  --jitter PPM           random period jitter in parts per million (default 0)\n"
    "  --change-at SECONDS:HZ the frequency becomes HZ at SECONDS (repeatable)\n"
    "  --stop-at SECONDS      the input stops at SECONDS\n"
    "  --no-device            no counter attached (until --plug-at)\n"
    "  --unplug-at SECONDS    the counter is pulled out at SECONDS (repeatable)\n"
    "  --plug-at SECONDS      the counter is plugged (back) in at SECONDS (repeatable)\n"
    "The link:\n"
    "  --baud BAUD            answers leave the counter at BAUD/10 bytes per second,\n"
    "                         50 to 10000000 (9600: 56 ms for a 54-byte answer);\n"
    "                         without it every answer arrives at once\n"
    "The run:\n"
    "  --headless             no window: the readout in the terminal\n"
    "  --virtual-time         with --headless: a clock that jumps to the next event\n"
    "  --run-for SECONDS      choose the menu's exit item at SECONDS\n"
    "  --key SECONDS:TEXT     type TEXT at SECONDS (repeatable)\n"
    "Output on standard output (times in milliseconds since the start):\n"
    "  --device-log           every command sent and answer received\n"
    "  --draw-log             every text drawn: <ms> (<x>,<y>) \"<text>\"\n"
    "  --screen               at exit, the last text at each position\n"
    "  --version              the program's version\n"
    "  --help                 this text\n"
    "\n"
    "Keys, in the window or (headless, real time) in the terminal: space switches\n"
    "between automatic and fixed range, + and - step the divider in fixed mode.\n"
    "In the terminal Esc ends the program like the menu's exit item.\n";

namespace {

constexpr size_t maxChanges = 32;
// Times are kept in microseconds of 64 bits, with room left for the deadlines computed
// from them: beyond this (about 31700 years) a time could not be held and would wrap.
constexpr double maxSeconds = 1e12;

bool parseNumber(const char* text, double& value) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text, &end);
    return *end == '\0' && std::isfinite(value);
}

bool parseSeconds(const char* text, double& value) {
    return parseNumber(text, value) && value >= 0 && value <= maxSeconds;
}

bool inFrequencyRange(double hz) {
    return hz >= 0.01 && hz <= 10e6;
}

// Splits "SECONDS:REST" at the first colon; false unless SECONDS is a time.
bool splitTimed(const std::string& text, double& seconds, std::string& rest) {
    size_t colon = text.find(':');
    if (colon == std::string::npos || !parseSeconds(text.substr(0, colon).c_str(), seconds)) {
        return false;
    }
    rest = text.substr(colon + 1);
    return true;
}

// Unplugs and plug-ins together: as many as the simulated counter takes.
constexpr size_t maxPlugTimes = 16;

const char* storePlugTime(const std::string& value, std::vector<double>& times,
                          const std::vector<double>& others) {
    double seconds = 0;
    if (!parseSeconds(value.c_str(), seconds)) {
        return "expected a time in seconds, 0 or more";
    }
    if (times.size() + others.size() == maxPlugTimes) {
        return "at most 16 unplugs and plug-ins together";
    }
    times.push_back(seconds);
    return nullptr;
}

}  // namespace

ParseOutcome parseSimOptions(int argc, const char* const* argv, SimOptions& options,
                             std::string& error) {
    const std::pair<const char*, bool SimOptions::*> flags[] = {
        {"--no-device", &SimOptions::noDevice},       {"--headless", &SimOptions::headless},
        {"--virtual-time", &SimOptions::virtualTime}, {"--device-log", &SimOptions::deviceLog},
        {"--draw-log", &SimOptions::drawLog},         {"--screen", &SimOptions::screen},
    };
    const char* const seconds = "expected a time in seconds, from 0 to 1e12";
    // Each option with a value: what it takes, and how it is stored (the reason it is
    // refused, or nullptr).
    const ValueOption valueOptions[] = {
        {"--frequency", "a frequency in hertz",
         [&](const std::string& value) {
             return parseNumber(value.c_str(), options.frequencyHz) &&
                            inFrequencyRange(options.frequencyHz)
                        ? nullptr
                        : "the frequency must be between 0.01 and 10000000 Hz";
         }},
        {"--jitter", "a jitter in ppm",
         [&](const std::string& value) {
             return parseNumber(value.c_str(), options.jitterPpm) && options.jitterPpm >= 0
                        ? nullptr
                        : "the jitter must be a number of ppm, 0 or more";
         }},
        {"--change-at", "SECONDS:HZ",
         [&](const std::string& value) -> const char* {
             FrequencyStep step{};
             std::string hz;
             if (!splitTimed(value, step.atSeconds, hz) ||
                 !parseNumber(hz.c_str(), step.frequencyHz) ||
                 !inFrequencyRange(step.frequencyHz)) {
                 return "expected SECONDS:HZ, a time from 0 to 1e12 s and 0.01 to 10000000 Hz";
             }
             if (options.changes.size() == maxChanges) {
                 return "at most 32 frequency changes";
             }
             options.changes.push_back(step);
             return nullptr;
         }},
        {"--baud", "a line speed in baud",
         [&](const std::string& value) {
             return parseNumber(value.c_str(), options.baud) && options.baud >= 50 &&
                            options.baud <= 10e6
                        ? nullptr
                        : "the line speed must be between 50 and 10000000 baud";
         }},
        {"--stop-at", "a time in seconds",
         [&](const std::string& value) {
             return parseSeconds(value.c_str(), options.stopAtSeconds) ? nullptr : seconds;
         }},
        {"--unplug-at", "a time in seconds",
         [&](const std::string& value) -> const char* {
             return storePlugTime(value, options.unplugAt, options.plugAt);
         }},
        {"--plug-at", "a time in seconds",
         [&](const std::string& value) -> const char* {
             return storePlugTime(value, options.plugAt, options.unplugAt);
         }},
        {"--run-for", "a time in seconds",
         [&](const std::string& value) {
             return parseSeconds(value.c_str(), options.runForSeconds) ? nullptr : seconds;
         }},
        {"--key", "SECONDS:TEXT",
         [&](const std::string& value) -> const char* {
             TimedText key{};
             std::string text;
             if (!splitTimed(value, key.atSeconds, text)) {
                 return "expected SECONDS:TEXT, a time from 0 to 1e12 s";
             }
             key.cp932 = detail::utf8ToCp932(text);
             if (key.cp932.empty() && !text.empty()) {
                 return "the text has characters code page 932 cannot carry";
             }
             options.keys.push_back(key);
             return nullptr;
         }},
    };

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            return ParseOutcome::Help;
        }
        if (option == "--version") {
            return ParseOutcome::Version;
        }
        auto flag = std::find_if(std::begin(flags), std::end(flags),
                                 [&](const auto& f) { return option == f.first; });
        if (flag != std::end(flags)) {
            options.*(flag->second) = true;
            continue;
        }
        const ValueTaken taken = takeValueOption(valueOptions, argc, argv, i, error);
        if (taken == ValueTaken::NotInTable) {
            error = "unknown option " + option;
            return ParseOutcome::Error;
        }
        if (taken == ValueTaken::Refused) {
            return ParseOutcome::Error;
        }
    }
    if (options.virtualTime && !options.headless) {
        error = "--virtual-time needs --headless";
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

}  // namespace platform
