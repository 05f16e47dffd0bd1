// pulsemeter-sim: the program against the simulated counter, with the "user" and the
// outputs set up from the command line. The program itself still reads nothing.
#include <cstdio>

#include "app/menu.h"
#include "programs/launch.h"
#include "programs/sim_options.h"
#include "sim/sim.h"

namespace {

uint64_t micros(double seconds) {
    return static_cast<uint64_t>(seconds * 1e6 + 0.5);
}

}  // namespace

int main(int argc, char** argv) {
    platform::SimOptions options;
    std::string error;
    switch (platform::parseSimOptions(argc, argv, options, error)) {
        case platform::ParseOutcome::Help:
            std::fputs(platform::simUsage, stdout);
            return 0;
        case platform::ParseOutcome::Version:
            std::printf("pulsemeter-sim %s\n", PULSEMETER_VERSION);
            return 0;
        case platform::ParseOutcome::Error:
            std::fprintf(stderr, "pulsemeter-sim: %s\n%s", error.c_str(), platform::simUsage);
            return 2;
        case platform::ParseOutcome::Run:
            break;
    }

    platform::FrontConfig config;
    config.front = platform::chooseFront(!options.headless, &argc, &argv, "pulsemeter-sim");
    bool headless = config.front == platform::FrontKind::Headless;
    config.clock = options.virtualTime ? platform::ClockKind::Virtual : platform::ClockKind::Real;
    // The live readout would garble the logs on the same output.
    if (headless && !options.deviceLog && !options.drawLog && !options.screen) {
        config.liveReadout = stdout;
    }
    platform::platformStart(config);

    sim::Scenario scenario;
    // With a plug-in to come, "no device" is a counter that is not plugged in yet.
    const bool pluggedLater = options.noDevice && !options.plugAt.empty();
    scenario.deviceCount = options.noDevice && !pluggedLater ? 0 : 1;
    scenario.frequencyHz = options.frequencyHz;
    scenario.jitterPpm = options.jitterPpm;
    for (const platform::FrequencyStep& change : options.changes) {
        scenario.changes[scenario.changeCount++] = {change.atSeconds, change.frequencyHz};
    }
    scenario.stopAtSeconds = options.stopAtSeconds;
    scenario.baud = options.baud;
    if (!sim::addPlugWindows(scenario, pluggedLater, options.unplugAt.data(),
                             static_cast<int>(options.unplugAt.size()), options.plugAt.data(),
                             static_cast<int>(options.plugAt.size()))) {
        std::fprintf(stderr, "pulsemeter-sim: too many unplugs and plug-ins\n");
        return 2;
    }
    scenario.deviceLog = options.deviceLog ? stdout : nullptr;
    sim::simConfigure(scenario,
                      sim::Clock{platform::platformNowMicros, platform::platformWaitUntilMicros});

    if (options.drawLog) {
        platform::setDrawHook([](const platform::DrawnText& text) {
            std::printf("%s (%d,%d) \"%s\"\n", sim::formatMillis(text.micros).c_str(), text.x,
                        text.y, text.utf8.c_str());
        });
    }
    for (const platform::TimedText& key : options.keys) {
        platform::scheduleText(micros(key.atSeconds), key.cp932);
    }
    if (options.runForSeconds >= 0) {
        platform::scheduleCommand(micros(options.runForSeconds), PM_COMMAND_EXIT);
    }

    int exitCode = platform::runWinMain();
    if (options.screen) {
        platform::writeScreen(stdout);
    }
    return platform::finishRun(exitCode, "pulsemeter-sim");
}
