// pulsemeter's options as a user meets them: run as a program, its output and status.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

struct Result {
    std::string output;
    int status;
};

// `redirect` says which stream is read: "2>/dev/null" standard output, "2>&1 >/dev/null"
// standard error.
Result run(const std::string& program, const std::string& arguments, const std::string& redirect) {
    const std::string command = program + " " + arguments + " " + redirect + " </dev/null";
    Result result{"", -1};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return result;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, got);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

const char* const stdoutOnly = "2>/dev/null";
const char* const stderrOnly = "2>&1 >/dev/null";

TEST(PulsemeterProgram, ListShowsTheChosenPortWithItsSerialNumber) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const Result listed = run(PULSEMETER, std::string("--port ") + name + " --list", stdoutOnly);
    close(slave);
    close(master);
    EXPECT_EQ(listed.status, 0);
    // A port chosen by path is known by its path.
    EXPECT_EQ(listed.output, std::string(name) + " " + name + "\n");
}

TEST(PulsemeterProgram, ListWithoutACounterSaysSoAndEndsWithStatus1) {
    const Result out = run(PULSEMETER, "--port /dev/pulsemeter-no-such-port --list", stdoutOnly);
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.output, "");
    const Result err = run(PULSEMETER, "--port /dev/pulsemeter-no-such-port --list", stderrOnly);
    EXPECT_EQ(err.output, "pulsemeter: no counter attached\n");
}

TEST(PulsemeterProgram, VersionHelpAndBadOptions) {
    struct Case {
        const char* program;
        const char* arguments;
        const char* redirect;
        int status;
        std::string startsWith;
    };
    const Case cases[] = {
        {PULSEMETER, "--version", stdoutOnly, 0, std::string("pulsemeter ") + VERSION + "\n"},
        {PULSEMETER_SIM, "--version", stdoutOnly, 0,
         std::string("pulsemeter-sim ") + VERSION + "\n"},
        {PULSEMETER, "--help", stdoutOnly, 0, "usage: pulsemeter [OPTION]..."},
        {PULSEMETER, "--bogus", stderrOnly, 2, "pulsemeter: unknown option --bogus\nusage:"},
        {PULSEMETER, "--serial", stderrOnly, 2, "pulsemeter: --serial needs a serial number"},
    };
    for (const Case& c : cases) {
        const Result result = run(c.program, c.arguments, c.redirect);
        EXPECT_EQ(result.status, c.status) << c.arguments;
        EXPECT_EQ(result.output.substr(0, c.startsWith.size()), c.startsWith) << c.arguments;
    }
}

}  // namespace
