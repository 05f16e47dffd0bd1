// pulsemeter: the program against the counter on its USB-serial tty. A window when
// there is a display, otherwise the readout live in the terminal.
#include <cstdio>

#include "programs/launch.h"

int main(int argc, char** argv) {
    if (argc > 1) {
        std::fprintf(stderr, "pulsemeter: takes no arguments\nusage: pulsemeter\n");
        return 2;
    }
    platform::FrontKind front = platform::chooseFront(true, &argc, &argv, "pulsemeter");
    platform::FrontConfig config;
    config.front = front;
    config.clock = platform::ClockKind::Real;
    config.liveReadout = front == platform::FrontKind::Headless ? stdout : nullptr;
    platform::platformStart(config);
    return platform::finishRun(platform::runWinMain(), "pulsemeter");
}
