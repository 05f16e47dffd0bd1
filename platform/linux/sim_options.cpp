#include "platform/linux/sim_options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/linux/front_internal.h"

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
    "  --no-device            no counter attached\n"
    "The run:\n"
    "  --headless             no window: the readout in the terminal\n"
    "  --virtual-time         with --headless: a clock that jumps to the next event\n"
    "  --run-for SECONDS      choose the menu's exit item at SECONDS\n"
    "  --key SECONDS:TEXT     type TEXT at SECONDS (repeatable)\n"
    "Output on standard output (times in milliseconds since the start):\n"
    "  --device-log           every command sent and answer received\n"
    "  --draw-log             every text drawn: <ms> (<x>,<y>) \"<text>\"\n"
    "  --screen               at exit, the last text at each position\n"
    "  --help                 this text\n"
    "\n"
    "Keys, in the window or (headless, real time) in the terminal: space switches\n"
    "between automatic and fixed range, + and - step the divider in fixed mode.\n"
    "In the terminal Esc ends the program like the menu's exit item.\n";

namespace {

constexpr size_t maxChanges = 32;

bool parseNumber(const char* text, double& value) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text, &end);
    return *end == '\0' && std::isfinite(value);
}

bool parseSeconds(const char* text, double& value) {
    return parseNumber(text, value) && value >= 0;
}

bool inFrequencyRange(double hz) {
    return hz >= 0.01 && hz <= 10e6;
}

}  // namespace

ParseOutcome parseSimOptions(int argc, const char* const* argv, SimOptions& options,
                             std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needsValue = [&](const char* what) {
            if (value == nullptr) {
                error = option + " needs " + what;
                return false;
            }
            ++i;
            return true;
        };
        auto bad = [&](const std::string& why) {
            error = option + " " + value + ": " + why;
            return ParseOutcome::Error;
        };
        if (option == "--help" || option == "-h") {
            return ParseOutcome::Help;
        } else if (option == "--frequency") {
            if (!needsValue("a frequency in hertz")) {
                return ParseOutcome::Error;
            }
            if (!parseNumber(value, options.frequencyHz) ||
                !inFrequencyRange(options.frequencyHz)) {
                return bad("the frequency must be between 0.01 and 10000000 Hz");
            }
        } else if (option == "--jitter") {
            if (!needsValue("a jitter in ppm")) {
                return ParseOutcome::Error;
            }
            if (!parseNumber(value, options.jitterPpm) || options.jitterPpm < 0) {
                return bad("the jitter must be a number of ppm, 0 or more");
            }
        } else if (option == "--change-at") {
            if (!needsValue("SECONDS:HZ")) {
                return ParseOutcome::Error;
            }
            std::string text = value;
            size_t colon = text.find(':');
            FrequencyStep step{};
            if (colon == std::string::npos ||
                !parseSeconds(text.substr(0, colon).c_str(), step.atSeconds) ||
                !parseNumber(text.substr(colon + 1).c_str(), step.frequencyHz) ||
                !inFrequencyRange(step.frequencyHz)) {
                return bad("expected SECONDS:HZ, a time of 0 or more and 0.01 to 10000000 Hz");
            }
            if (options.changes.size() == maxChanges) {
                return bad("at most 32 frequency changes");
            }
            options.changes.push_back(step);
        } else if (option == "--stop-at") {
            if (!needsValue("a time in seconds")) {
                return ParseOutcome::Error;
            }
            if (!parseSeconds(value, options.stopAtSeconds)) {
                return bad("expected a time in seconds, 0 or more");
            }
        } else if (option == "--run-for") {
            if (!needsValue("a time in seconds")) {
                return ParseOutcome::Error;
            }
            if (!parseSeconds(value, options.runForSeconds)) {
                return bad("expected a time in seconds, 0 or more");
            }
        } else if (option == "--key") {
            if (!needsValue("SECONDS:TEXT")) {
                return ParseOutcome::Error;
            }
            std::string text = value;
            size_t colon = text.find(':');
            TimedText key{};
            if (colon == std::string::npos ||
                !parseSeconds(text.substr(0, colon).c_str(), key.atSeconds)) {
                return bad("expected SECONDS:TEXT, a time of 0 or more");
            }
            key.cp932 = detail::utf8ToCp932(text.substr(colon + 1));
            if (key.cp932.empty() && colon + 1 < text.size()) {
                return bad("the text has characters code page 932 cannot carry");
            }
            options.keys.push_back(key);
        } else if (option == "--no-device") {
            options.noDevice = true;
        } else if (option == "--headless") {
            options.headless = true;
        } else if (option == "--virtual-time") {
            options.virtualTime = true;
        } else if (option == "--device-log") {
            options.deviceLog = true;
        } else if (option == "--draw-log") {
            options.drawLog = true;
        } else if (option == "--screen") {
            options.screen = true;
        } else {
            error = "unknown option " + option;
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
