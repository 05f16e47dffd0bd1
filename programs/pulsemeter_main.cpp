// pulsemeter: the program against the counter on its USB-serial tty. A window when
// there is a display, otherwise the readout live in the terminal.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/linux/tty/d2xx_tty.h"
#include "programs/launch.h"
#include "programs/pulsemeter_options.h"

namespace {

int listCounters() {
    const std::vector<tty::PortEntry> ports = tty::currentPorts();
    if (ports.empty()) {
        std::fprintf(stderr, "pulsemeter: no counter attached\n");
        return 1;
    }
    for (const tty::PortEntry& port : ports) {
        std::printf("%s %s\n", port.serial.c_str(), port.name.c_str());
    }
    return platform::finishRun(0, "pulsemeter");
}

}  // namespace

int main(int argc, char** argv) {
    platform::PulsemeterOptions options;
    std::string error;
    const platform::PulsemeterAction action =
        platform::parsePulsemeterOptions(argc, argv, options, error);
    // Told before anything is listed, so that --list shows the port chosen.
    if (action != platform::PulsemeterAction::Error && !options.port.empty()) {
        tty::usePort(options.port);
    }
    switch (action) {
        case platform::PulsemeterAction::Error:
            std::fprintf(stderr, "pulsemeter: %s\n%s", error.c_str(), platform::pulsemeterUsage);
            return 2;
        case platform::PulsemeterAction::Help:
            std::fputs(platform::pulsemeterUsage, stdout);
            return platform::finishRun(0, "pulsemeter");
        case platform::PulsemeterAction::Version:
            std::printf("pulsemeter %s\n", PULSEMETER_VERSION);
            return platform::finishRun(0, "pulsemeter");
        case platform::PulsemeterAction::List:
            return listCounters();
        case platform::PulsemeterAction::Run:
            break;
    }
    platform::FrontKind front = platform::chooseFront(true, &argc, &argv, "pulsemeter");
    platform::FrontConfig config;
    config.front = front;
    config.clock = platform::ClockKind::Real;
    config.liveReadout = front == platform::FrontKind::Headless ? stdout : nullptr;
    platform::platformStart(config);
    const std::string commandLine =
        options.serialNumber.empty() ? "" : "--serial " + options.serialNumber;
    return platform::finishRun(platform::runWinMain(commandLine), "pulsemeter");
}
