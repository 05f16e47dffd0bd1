#include "programs/pulsemeter_options.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <utility>

#include "platform/d2xx.h"
#include "programs/value_options.h"

namespace platform {

const char pulsemeterUsage[] =
    "usage: pulsemeter [OPTION]...\n"
    "Measures the period and frequency of a pulse signal with the counter on its\n"
    "USB-serial port. A window when there is a display, otherwise the readout in the\n"
    "terminal.\n"
    "\n"
    "The counter (without these: the first one found):\n"
    "  --serial SN            the counter of USB serial number SN\n"
    "  --port PATH            the counter on the tty PATH (a USB-serial port, a\n"
    "                         pseudo-terminal, any serial device that answers as one)\n"
    "  --list                 print the counters attached, one a line: serial number\n"
    "                         and tty; ends with status 1 when there is none\n"
    "  --version              the program's version\n"
    "  --help                 this text\n"
    "\n"
    "A counter asked for that is not there is waited for: the program shows that no\n"
    "device is connected and opens the counter when it appears.\n"
    "\n"
    "Keys, in the window or in the terminal: space switches between automatic and\n"
    "fixed range, + and - step the divider in fixed mode. In the terminal Esc ends the\n"
    "program like the menu's exit item.\n";

namespace {

// What the library hands out as a serial number: printable, no spaces (the program's
// command line separates words with them), and short enough to be compared whole.
const char* checkSerialNumber(const std::string& value) {
    static_assert(d2xxSerialNumberSize == 64, "the reason below names the longest");
    if (value.empty() || value.size() >= d2xxSerialNumberSize) {
        return "a serial number has 1 to 63 characters";
    }
    const bool printable = std::all_of(value.begin(), value.end(), [](char c) {
        return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x7f;
    });
    return printable ? nullptr : "a serial number has printable characters and no spaces";
}

}  // namespace

PulsemeterAction parsePulsemeterOptions(int argc, const char* const* argv,
                                        PulsemeterOptions& options, std::string& error) {
    const std::pair<const char*, PulsemeterAction> actions[] = {
        {"--help", PulsemeterAction::Help},
        {"-h", PulsemeterAction::Help},
        {"--version", PulsemeterAction::Version},
        {"--list", PulsemeterAction::List},
    };
    const ValueOption valueOptions[] = {
        {"--serial", "a serial number",
         [&](const std::string& value) -> const char* {
             if (const char* why = checkSerialNumber(value)) {
                 return why;
             }
             options.serialNumber = value;
             return nullptr;
         }},
        {"--port", "the path of a tty",
         [&](const std::string& value) -> const char* {
             if (value.empty()) {
                 return "the path is empty";
             }
             options.port = value;
             return nullptr;
         }},
    };

    PulsemeterAction action = PulsemeterAction::Run;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto named = std::find_if(std::begin(actions), std::end(actions),
                                  [&](const auto& a) { return option == a.first; });
        if (named != std::end(actions)) {
            // Help wins over everything; of the others, the first given.
            if (named->second == PulsemeterAction::Help) {
                return PulsemeterAction::Help;
            }
            if (action == PulsemeterAction::Run) {
                action = named->second;
            }
            continue;
        }
        const ValueTaken taken = takeValueOption(valueOptions, argc, argv, i, error);
        if (taken == ValueTaken::NotInTable) {
            error = "unknown option " + option;
            return PulsemeterAction::Error;
        }
        if (taken == ValueTaken::Refused) {
            return PulsemeterAction::Error;
        }
    }
    if (!options.serialNumber.empty() && !options.port.empty()) {
        error = "--serial and --port both choose the counter: give one of them";
        return PulsemeterAction::Error;
    }
    return action;
}

}  // namespace platform
