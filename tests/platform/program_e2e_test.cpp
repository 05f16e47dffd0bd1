// The whole program (its real WinMain) against the simulated counter, headless on the
// virtual clock: pulsemeter-sim is run and its device log and draw log read.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>
#include <utility>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct Line {
    uint64_t micros;
    std::string text;  // "> M024", "< M00=82DB" or "(10,5) \"...\""
};

struct SimRun {
    int exitCode = -1;
    std::vector<Line> device;
    std::vector<Line> drawn;
    std::vector<std::string> screen;
    std::string output;

    // The times of device lines that are exactly `text`.
    std::vector<uint64_t> timesOf(const std::string& text) const {
        std::vector<uint64_t> times;
        for (const Line& line : device) {
            if (line.text == text) {
                times.push_back(line.micros);
            }
        }
        return times;
    }

    std::vector<Line> drawnAt(int x, int y) const {
        std::string prefix = "(" + std::to_string(x) + "," + std::to_string(y) + ") ";
        std::vector<Line> lines;
        for (const Line& line : drawn) {
            if (line.text.rfind(prefix, 0) == 0) {
                lines.push_back({line.micros, line.text.substr(prefix.size())});
            }
        }
        return lines;
    }
};

SimRun runSim(const std::string& arguments) {
    std::string command = std::string(PULSEMETER_SIM) +
                          " --headless --virtual-time --device-log --draw-log --screen " +
                          arguments + " 2>&1";
    SimRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return run;
    }
    static const std::regex timed(R"(^(\d+)\.(\d{3}) (.*)$)");
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string line = buffer;
        run.output += line;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        std::smatch match;
        if (std::regex_match(line, match, timed)) {
            Line entry{std::stoull(match[1]) * 1000 + std::stoull(match[2]), match[3]};
            (entry.text[0] == '(' ? run.drawn : run.device).push_back(entry);
        } else if (!line.empty() && line[0] == '(') {
            run.screen.push_back(line);
        }
    }
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

constexpr const char* dashes = "\"  ------------  \"";

TEST(Program, StartsUpRangesAndConfiguresTheChosenDivider) {
    SimRun run = runSim("--frequency 1000 --run-for 1");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    // The first configuration, 100 ms after the window showed, with divider 8000000.
    ASSERT_GE(run.device.size(), 9u);
    const char* first[] = {"> M024", "> M02008ff", "> M030003d", "> M021", "> M028",
                           "> M004", "> M014",     "> M001",     "> M008"};
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(run.device[i].text, first[i]);
        EXPECT_EQ(run.device[i].micros, 100000u);
    }
    // Then ticks of 50 ms: drain, query (first sample), collect, query (second
    // sample), collect, and the configuration with the divider chosen from them.
    EXPECT_EQ(run.timesOf("> M00"),
              (std::vector<uint64_t>{200000, 300000, 500000, 600000, 700000, 800000, 900000}));
    EXPECT_EQ(run.timesOf("> M024"), (std::vector<uint64_t>{100000, 400000}));
    EXPECT_EQ(run.timesOf("> M02001f3"), std::vector<uint64_t>{400000});  // 1000
    // Only the mode label while ranging.
    ASSERT_FALSE(run.drawn.empty());
    EXPECT_EQ(run.drawn[0].micros, 250000u);
    EXPECT_EQ(run.drawn[0].text, "(10,285) \"自動   \"");
    EXPECT_EQ(run.drawnAt(10, 5).front().micros, 550000u);
}

TEST(Program, ShowsTheFirstPeriodAtTheTwelfthEvaluation) {
    SimRun run = runSim("--frequency 1000 --run-for 3");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    // Evaluations every 100 ms from 550 ms; the numbers are drawn on the first and
    // then every eleventh, and are valid only once the counter has settled.
    std::vector<Line> period = run.drawnAt(0, 150);
    ASSERT_EQ(period.size(), 3u);
    EXPECT_EQ(period[0].micros, 550000u);
    EXPECT_EQ(period[0].text, dashes);
    EXPECT_EQ(period[1].micros, 1650000u);
    EXPECT_EQ(period[1].text, "\"   1000.000___ \"");
    std::vector<Line> frequency = run.drawnAt(0, 200);
    ASSERT_EQ(frequency.size(), 3u);
    EXPECT_EQ(frequency[1].micros, 1650000u);
    EXPECT_EQ(frequency[1].text, "\"   1000.000___        \"");
    EXPECT_EQ(run.screen, (std::vector<std::string>{
                              "(10,5) \"ｶｳﾝﾄ値 1000000        \"",
                              "(10,55) \"分周値 1000      \"",
                              "(0,150) \"   1000.000___ \"",
                              "(370,150) \"μs    \"",
                              "(0,200) \"   1000.000___        \"",
                              "(370,200) \"Hz    \"",
                              "(10,285) \"自動   \"",
                          }));
}

TEST(Program, WithoutADeviceShowsSoOnceAndStopsTheTimer) {
    SimRun run = runSim("--no-device --run-for 5");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(run.device.empty());
    // One tick drew the text; the timer stopped, so nothing more in five seconds.
    ASSERT_EQ(run.drawn.size(), 1u) << run.output;
    EXPECT_EQ(run.drawn[0].micros, 100000u);
    EXPECT_EQ(run.drawn[0].text, "(10,10) \"接続デバイスなし     \"");
    // Each key steps the cycle once, and so redraws it.
    run = runSim("--no-device --run-for 5 --key 2:a --key 3:+");
    ASSERT_EQ(run.drawn.size(), 3u) << run.output;
    EXPECT_EQ(run.drawn[1].micros, 2000000u);
    EXPECT_EQ(run.drawn[2].micros, 3000000u);
    EXPECT_EQ(run.screen, std::vector<std::string>{"(10,10) \"接続デバイスなし     \""});
}

TEST(Program, KeysApplyTheirRangeCommandAndStepTheCycle) {
    // At 120 ms the counter is configured with 8000000 and the cycle waits to drain.
    struct Case {
        const char* keys;
        const char* configured;  // command 2 of a configuration at 120 ms, or ""
        uint64_t firstQuery;
    };
    const Case cases[] = {
        // Any key steps the cycle at once: the drain, so the query comes a tick early.
        {"x", "", 150000},
        // In automatic mode "+" and "-" change nothing but still step the cycle.
        {"+", "", 150000},
        {"-", "", 150000},
        // Fixed mode: the divider steps and the counter is configured at once, which
        // restarts the 50 ms tick from there: drain at 170 ms, query at 220 ms.
        {" +", "> M020c34f", 220000},  // 100000
        {" -", "> M0201a7f", 220000},  // 800000
    };
    for (const Case& c : cases) {
        SimRun run = runSim(std::string("--run-for 1 --key '0.12:") + c.keys + "'");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        std::vector<uint64_t> configurations = run.timesOf("> M024");
        ASSERT_GE(configurations.size(), 1u) << c.keys;
        EXPECT_EQ(configurations[0], 100000u) << c.keys;
        if (*c.configured != '\0') {
            ASSERT_GE(configurations.size(), 2u) << c.keys;
            EXPECT_EQ(configurations[1], 120000u) << c.keys;
            EXPECT_EQ(run.timesOf(c.configured).front(), 120000u) << c.keys;
        } else {
            EXPECT_TRUE(configurations.size() < 2 || configurations[1] > 120000u) << c.keys;
        }
        EXPECT_EQ(run.timesOf("> M00").front(), c.firstQuery) << c.keys;
    }
}

TEST(Program, SpaceSwitchesTheModeLabel) {
    SimRun run = runSim("--run-for 1 --key 0.6:' '");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.screen.back(), "(10,285) \"固定   \"");
}

TEST(Program, TheMenuCommandEndsTheProgram) {
    SimRun run = runSim("--run-for 0.7");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    // Nothing happens after it.
    ASSERT_FALSE(run.device.empty());
    EXPECT_LE(run.device.back().micros, 700000u);
    ASSERT_FALSE(run.drawn.empty());
    EXPECT_LE(run.drawn.back().micros, 700000u);
}

// Pulled out at 3 s: the window is erased to the no-device text alone; plugged back in
// at 5 s: found by the watch within a second and measuring again.
TEST(Program, AnUnpluggedCounterIsShownGoneAndTakenBack) {
    SimRun gone = runSim("--frequency 1234.5 --unplug-at 3 --plug-at 5 --run-for 4");
    ASSERT_EQ(gone.exitCode, 0) << gone.output;
    EXPECT_EQ(gone.screen, std::vector<std::string>{"(10,10) \"接続デバイスなし     \""});
    ASSERT_FALSE(gone.timesOf("unplugged SIM00001").empty()) << gone.output;
    EXPECT_EQ(gone.timesOf("unplugged SIM00001").front(), 3000000u);
    const std::vector<Line> noDevice = gone.drawnAt(10, 10);
    ASSERT_EQ(noDevice.size(), 1u);
    EXPECT_GE(noDevice[0].micros, 3000000u);
    EXPECT_LE(noDevice[0].micros, 3100000u);

    SimRun back = runSim("--frequency 1234.5 --unplug-at 3 --plug-at 5 --run-for 9");
    ASSERT_EQ(back.exitCode, 0) << back.output;
    EXPECT_EQ(back.timesOf("plugged in SIM00001"), std::vector<uint64_t>{5000000u});
    // The configuration goes out again once the watch has opened the counter.
    std::vector<uint64_t> configurations = back.timesOf("> M024");
    ASSERT_FALSE(configurations.empty());
    EXPECT_GT(configurations.back(), 5000000u);
    EXPECT_LE(configurations.back(), 6100000u);
    const std::vector<Line> periods = back.drawnAt(0, 150);
    ASSERT_FALSE(periods.empty());
    EXPECT_GT(periods.back().micros, 5000000u);
    EXPECT_NE(periods.back().text, dashes);
}

TEST(Program, ACounterPluggedInAfterTheStartIsFound) {
    SimRun run = runSim("--frequency 1234.5 --no-device --plug-at 5 --run-for 9");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ASSERT_FALSE(run.drawnAt(10, 10).empty());
    EXPECT_EQ(run.drawnAt(10, 10).front().micros, 100000u);
    ASSERT_FALSE(run.timesOf("> M024").empty()) << run.output;
    EXPECT_GT(run.timesOf("> M024").front(), 5000000u);
    EXPECT_LE(run.timesOf("> M024").front(), 6100000u);
    const std::vector<Line> periods = run.drawnAt(0, 150);
    ASSERT_FALSE(periods.empty());
    EXPECT_NE(periods.back().text, dashes);
}

TEST(Program, BadOptionsGiveUsageAndExitCode2) {
    // Times beyond what the clock holds would wrap to a time soon: refused, not run.
    for (const char* arguments : {"--frequency 0", "--bogus", "--key 5", "--run-for 2e13",
                                  "--run-for 1e30", "--key '2e13: '"}) {
        SimRun run = runSim(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_NE(run.output.find("usage: pulsemeter-sim"), std::string::npos) << arguments;
    }
}

// The status and standard error of a shell command line (bash, for PIPESTATUS).
std::pair<int, std::string> shell(const std::string& line) {
    const std::string command = "bash -c '" + line + "' 2>&1";
    std::string said;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return {-1, said};
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        said += buffer;
    }
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

TEST(Program, OutputThatCannotBeWrittenFailsTheRun) {
    const std::string run = std::string(PULSEMETER_SIM) +
                            " --headless --virtual-time --device-log --draw-log --run-for 600";
    // A full disk: the status says so, and so does standard error.
    auto [status, said] = shell(run + " 2>&1 >/dev/full; echo status $?");
    EXPECT_NE(said.find("the output could not be written whole"), std::string::npos) << said;
    EXPECT_NE(said.find("status 1"), std::string::npos) << said;
    // A reader that has all it wants: a failed status, and not a word.
    std::tie(status, said) = shell(run + " | head -c 100 >/dev/null; echo status ${PIPESTATUS[0]}");
    EXPECT_EQ(said, "status 1\n");
}

// What the dynamic loader reports loading (LD_DEBUG=files) for a run of the program
// with `arguments` and the environment changed by `environment` (`env` syntax).
std::string filesLoaded(const std::string& environment, const std::string& arguments) {
    std::string command = "env " + environment + " LD_DEBUG=files " + PULSEMETER_SIM + " " +
                          arguments + " 2>&1 >/dev/null";
    std::string report;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return report;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        report += buffer;
    }
    pclose(pipe);
    return report;
}

// GTK's libraries are several times the headless program's own memory: they come with
// the GTK front's module, which only a window loads.
TEST(Program, HeadlessLoadsNoGtk) {
    for (const auto& [environment, arguments] :
         {std::pair<std::string, std::string>{"", "--headless --virtual-time --run-for 1"},
          {"-u DISPLAY -u WAYLAND_DISPLAY", "--run-for 0.3"}}) {
        std::string report = filesLoaded(environment, arguments);
        // The loader's report is there at all: the C++ library is always loaded.
        ASSERT_NE(report.find("file=libstdc++"), std::string::npos) << arguments << report;
        EXPECT_EQ(report.find("pulsemeter-gtk-front"), std::string::npos) << arguments;
        EXPECT_EQ(report.find("libgtk-3"), std::string::npos) << arguments;
    }
}

}  // namespace
