// The options of pulsemeter: which counter it opens, and what it tells about itself.
#pragma once

#include <string>

namespace platform {

struct PulsemeterOptions {
    std::string serialNumber;  // empty: the first counter found
    std::string port;          // empty: the USB-serial ports of the system
};

enum class PulsemeterAction { Run, Help, Version, List, Error };

// On Error, `error` says what is wrong.
PulsemeterAction parsePulsemeterOptions(int argc, const char* const* argv,
                                        PulsemeterOptions& options, std::string& error);

extern const char pulsemeterUsage[];

}  // namespace platform
