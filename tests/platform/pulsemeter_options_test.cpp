#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "programs/pulsemeter_options.h"

namespace {

using platform::PulsemeterAction;

PulsemeterAction parse(std::vector<const char*> arguments, platform::PulsemeterOptions& options,
                       std::string& error) {
    arguments.insert(arguments.begin(), "pulsemeter");
    return platform::parsePulsemeterOptions(static_cast<int>(arguments.size()), arguments.data(),
                                            options, error);
}

TEST(PulsemeterOptions, EachOptionIsTakenAsGiven) {
    const std::string longest(63, '7');
    struct Case {
        std::vector<const char*> arguments;
        PulsemeterAction action;
        const char* serial;
        const char* port;
    };
    const std::vector<Case> cases = {
        {{}, PulsemeterAction::Run, "", ""},
        {{"--serial", "A1B2C3D4"}, PulsemeterAction::Run, "A1B2C3D4", ""},
        {{"--serial", longest.c_str()}, PulsemeterAction::Run, longest.c_str(), ""},
        {{"--port", "/dev/pts/7"}, PulsemeterAction::Run, "", "/dev/pts/7"},
        {{"--list"}, PulsemeterAction::List, "", ""},
        {{"--port", "/dev/ttyUSB1", "--list"}, PulsemeterAction::List, "", "/dev/ttyUSB1"},
        {{"--version"}, PulsemeterAction::Version, "", ""},
        {{"--version", "--list"}, PulsemeterAction::Version, "", ""},
        {{"--list", "--help"}, PulsemeterAction::Help, "", ""},
        {{"-h"}, PulsemeterAction::Help, "", ""},
    };
    for (const Case& c : cases) {
        platform::PulsemeterOptions options;
        std::string error;
        const std::string shown = c.arguments.empty() ? "(none)" : c.arguments[0];
        EXPECT_EQ(parse(c.arguments, options, error), c.action) << shown << ": " << error;
        EXPECT_EQ(options.serialNumber, c.serial) << shown;
        EXPECT_EQ(options.port, c.port) << shown;
    }
}

TEST(PulsemeterOptions, BadOptionsAreRefusedWithAReason) {
    const std::string tooLong(64, '7');
    struct Case {
        std::vector<const char*> arguments;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"A1B2C3D4"}, "unknown option A1B2C3D4"},
        {{"--serial"}, "--serial needs a serial number"},
        {{"--serial", ""}, "1 to 63 characters"},
        // Longer than the library hands out: it could never match.
        {{"--serial", tooLong.c_str()}, "1 to 63 characters"},
        {{"--serial", "A1 B2"}, "no spaces"},
        {{"--serial", "A1\tB2"}, "no spaces"},
        {{"--serial", "\xe6\x97\xa5"}, "printable"},
        {{"--port"}, "--port needs the path of a tty"},
        {{"--port", ""}, "the path is empty"},
        {{"--serial", "A1", "--port", "/dev/ttyUSB0"}, "give one of them"},
        // A bad option after --help's siblings is still refused.
        {{"--list", "--bogus"}, "unknown option --bogus"},
    };
    for (const Case& c : cases) {
        platform::PulsemeterOptions options;
        std::string error;
        EXPECT_EQ(parse(c.arguments, options, error), PulsemeterAction::Error)
            << c.arguments[0] << " " << (c.arguments.size() > 1 ? c.arguments[1] : "");
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

}  // namespace
