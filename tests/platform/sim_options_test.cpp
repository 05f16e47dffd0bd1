#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "programs/sim_options.h"

namespace {

platform::ParseOutcome parse(std::vector<const char*> arguments, platform::SimOptions& options,
                             std::string& error) {
    arguments.insert(arguments.begin(), "pulsemeter-sim");
    return platform::parseSimOptions(static_cast<int>(arguments.size()), arguments.data(), options,
                                     error);
}

TEST(SimOptions, EveryOptionIsTaken) {
    platform::SimOptions options;
    std::string error;
    ASSERT_EQ(parse({"--frequency", "2500.5",      "--jitter",       "10",        "--change-at",
                     "3:50",        "--change-at", "4.5:1e6",        "--stop-at", "9",
                     "--no-device", "--headless",  "--virtual-time", "--run-for", "12",
                     "--key",       "1.5: +",      "--key",          "2:-",       "--device-log",
                     "--draw-log",  "--screen",    "--baud",         "9600"},
                    options, error),
              platform::ParseOutcome::Run)
        << error;
    EXPECT_EQ(options.frequencyHz, 2500.5);
    EXPECT_EQ(options.jitterPpm, 10);
    ASSERT_EQ(options.changes.size(), 2u);
    EXPECT_EQ(options.changes[1].atSeconds, 4.5);
    EXPECT_EQ(options.changes[1].frequencyHz, 1e6);
    EXPECT_EQ(options.stopAtSeconds, 9);
    EXPECT_TRUE(options.noDevice && options.headless && options.virtualTime);
    EXPECT_EQ(options.runForSeconds, 12);
    ASSERT_EQ(options.keys.size(), 2u);
    EXPECT_EQ(options.keys[0].atSeconds, 1.5);
    EXPECT_EQ(options.keys[0].cp932, " +");
    EXPECT_TRUE(options.deviceLog && options.drawLog && options.screen);
    EXPECT_EQ(options.baud, 9600);
}

TEST(SimOptions, TheLongestTimeIsTaken) {
    platform::SimOptions options;
    std::string error;
    ASSERT_EQ(parse({"--run-for", "1e12", "--key", "1e12:x"}, options, error),
              platform::ParseOutcome::Run)
        << error;
    EXPECT_EQ(options.runForSeconds, 1e12);
}

TEST(SimOptions, UnplugAndPlugTimesAreRepeatable) {
    platform::SimOptions options;
    std::string error;
    ASSERT_EQ(parse({"--no-device", "--plug-at", "5", "--unplug-at", "10.5", "--plug-at", "12"},
                    options, error),
              platform::ParseOutcome::Run)
        << error;
    EXPECT_EQ(options.plugAt, (std::vector<double>{5, 12}));
    EXPECT_EQ(options.unplugAt, std::vector<double>{10.5});

    for (const char* bad : {"-1", "abc", "", "inf"}) {
        platform::SimOptions refused;
        EXPECT_EQ(parse({"--unplug-at", bad}, refused, error), platform::ParseOutcome::Error)
            << bad;
        EXPECT_NE(error.find("--unplug-at"), std::string::npos) << error;
    }
    platform::SimOptions many;
    std::vector<const char*> arguments;
    for (int i = 0; i < 17; ++i) {
        arguments.push_back(i % 2 == 0 ? "--unplug-at" : "--plug-at");
        arguments.push_back("1");
    }
    EXPECT_EQ(parse(arguments, many, error), platform::ParseOutcome::Error);
    EXPECT_NE(error.find("at most 16"), std::string::npos) << error;
}

TEST(SimOptions, Help) {
    platform::SimOptions options;
    std::string error;
    EXPECT_EQ(parse({"--headless", "--help"}, options, error), platform::ParseOutcome::Help);
}

TEST(SimOptions, BadOptionsAreRefusedWithAReason) {
    struct Case {
        std::vector<const char*> arguments;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--frequency"}, "--frequency needs"},
        {{"--frequency", "abc"}, "between 0.01 and 10000000"},
        {{"--frequency", "0"}, "between 0.01 and 10000000"},
        {{"--frequency", "2e7"}, "between 0.01 and 10000000"},
        {{"--frequency", "nan"}, "between 0.01 and 10000000"},
        {{"--jitter", "-1"}, "ppm"},
        {{"--change-at", "5"}, "SECONDS:HZ"},
        {{"--change-at", "-1:100"}, "SECONDS:HZ"},
        {{"--stop-at", "x"}, "seconds"},
        {{"--baud", "0"}, "between 50 and 10000000 baud"},
        {{"--baud", "9600x"}, "between 50 and 10000000 baud"},
        {{"--baud", "2e7"}, "between 50 and 10000000 baud"},
        {{"--run-for", "-3"}, "seconds"},
        {{"--key", "abc"}, "SECONDS:TEXT"},
        // Times the clock cannot hold, which would wrap to something soon.
        {{"--run-for", "2e13"}, "from 0 to 1e12"},
        {{"--run-for", "1e30"}, "from 0 to 1e12"},
        {{"--run-for", "1e309"}, "from 0 to 1e12"},
        {{"--stop-at", "2e13"}, "from 0 to 1e12"},
        {{"--key", "2e13: "}, "SECONDS:TEXT"},
        {{"--change-at", "2e13:100"}, "SECONDS:HZ"},
        {{"--virtual-time"}, "--virtual-time needs --headless"},
    };
    for (const Case& c : cases) {
        platform::SimOptions options;
        std::string error;
        EXPECT_EQ(parse(c.arguments, options, error), platform::ParseOutcome::Error)
            << c.arguments[0];
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

}  // namespace
