// The headless front in a terminal: pulsemeter-sim runs on a pseudo-terminal with its
// readout live, and however it ends (a signal, Esc, the menu's exit item, output that
// cannot be written) the terminal gets its line editing and echo back, and the status
// says whether the run's output was written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <ostream>
#include <string>

namespace {

enum class Output { Terminal, DevFull, ClosedPipe };

struct Ending {
    const char* name;
    int signalNumber;  // 0: none
    const char* keys;  // typed once the terminal is in raw mode; nullptr: none
    const char* runFor;
    Output output;
    int status;
    // What standard error (on the terminal) must say, or nullptr when it must say nothing
    // at all; checked only when the readout goes elsewhere.
    const char* saying;
};

std::ostream& operator<<(std::ostream& out, const Ending& ending) {
    return out << ending.name;
}

bool lineEditingOn(int fd) {
    termios settings{};
    return tcgetattr(fd, &settings) == 0 && (settings.c_lflag & ICANON) != 0 &&
           (settings.c_lflag & ECHO) != 0;
}

// Everything the terminal has shown so far, without waiting.
void takeOutput(int master, std::string& shown) {
    char buffer[4096];
    for (;;) {
        pollfd watch{master, POLLIN, 0};
        if (poll(&watch, 1, 0) != 1 || (watch.revents & POLLIN) == 0) {
            return;
        }
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        shown.append(buffer, static_cast<size_t>(got));
    }
}

class TerminalExit : public testing::TestWithParam<Ending> {};

TEST_P(TerminalExit, RestoresTheTerminal) {
    const Ending& e = GetParam();
    int pipeEnds[2] = {-1, -1};
    if (e.output == Output::ClosedPipe) {
        ASSERT_EQ(pipe(pipeEnds), 0);
        close(pipeEnds[0]);  // nobody reads: the first write finds the reader gone
    }
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (e.output == Output::DevFull) {
            const int full = open("/dev/full", O_WRONLY);
            dup2(full, STDOUT_FILENO);
        } else if (e.output == Output::ClosedPipe) {
            dup2(pipeEnds[1], STDOUT_FILENO);
        }
        execl(PULSEMETER_SIM, PULSEMETER_SIM, "--headless", "--frequency", "1000", "--run-for",
              e.runFor, static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pipeEnds[1] >= 0) {
        close(pipeEnds[1]);
    }
    // The parent's own descriptor of the terminal, to read its settings after the end.
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);

    std::string shown;
    int status = 0;
    bool ended = false;
    if (e.signalNumber != 0 || e.keys != nullptr) {
        // The program takes the keyboard (raw mode) once its front starts.
        while (lineEditingOn(terminal) && !ended) {
            takeOutput(master, shown);
            ended = waitpid(child, &status, WNOHANG) == child;
            usleep(10000);
        }
        ASSERT_FALSE(ended) << "ended before taking the keyboard: " << shown;
        if (e.signalNumber != 0) {
            kill(child, e.signalNumber);
        } else {
            ASSERT_EQ(write(master, e.keys, std::strlen(e.keys)),
                      static_cast<ssize_t>(std::strlen(e.keys)));
        }
    }
    while (!ended) {
        takeOutput(master, shown);
        ended = waitpid(child, &status, WNOHANG) == child;
        usleep(10000);
    }
    takeOutput(master, shown);

    EXPECT_TRUE(lineEditingOn(terminal)) << "line editing and echo are left off";
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), e.status) << shown;
    if (e.output != Output::Terminal) {
        if (e.saying == nullptr) {
            EXPECT_EQ(shown, "");
        } else {
            EXPECT_NE(shown.find(e.saying), std::string::npos) << shown;
        }
    }
    close(terminal);
    close(master);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, TerminalExit,
    testing::Values(Ending{"CtrlC", SIGINT, nullptr, "60", Output::Terminal, 0, nullptr},
                    Ending{"Terminate", SIGTERM, nullptr, "60", Output::Terminal, 0, nullptr},
                    Ending{"CtrlBackslash", SIGQUIT, nullptr, "60", Output::Terminal, 0, nullptr},
                    Ending{"HangUp", SIGHUP, nullptr, "60", Output::Terminal, 0, nullptr},
                    Ending{"Escape", 0, "\x1b", "60", Output::Terminal, 0, nullptr},
                    Ending{"MenuExit", 0, nullptr, "0.5", Output::Terminal, 0, nullptr},
                    Ending{"DiskFull", 0, nullptr, "5", Output::DevFull, 1,
                           "pulsemeter-sim: the output could not be written whole"},
                    Ending{"ReaderGone", 0, nullptr, "5", Output::ClosedPipe, 1, nullptr}),
    [](const testing::TestParamInfo<Ending>& info) { return info.param.name; });

}  // namespace
