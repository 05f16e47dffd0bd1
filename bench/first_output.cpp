// Wall time from a program's start to its first output line that contains a text: how
// long a user waits for the first thing the program shows. The program's standard output
// is a pseudo-terminal, so that its lines come out as they are written; standard input is
// /dev/null. Once the line is seen the program is ended (SIGTERM) and the time printed in
// milliseconds. Exit code 1 when the program ends or 10 s pass without such a line.
// Usage: first_output TEXT PROGRAM [ARGUMENT]...
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: first_output TEXT PROGRAM [ARGUMENT]...\n", stderr);
        return 2;
    }
    const std::string wanted = argv[1];
    int controller = -1;
    int terminal = -1;
    if (openpty(&controller, &terminal, nullptr, nullptr, nullptr) != 0) {
        std::perror("first_output: openpty");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        close(controller);
        dup2(terminal, STDOUT_FILENO);
        const int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, STDIN_FILENO);
        execvp(argv[2], argv + 2);
        std::perror("first_output: exec");
        _exit(127);
    }
    close(terminal);
    std::string pending;
    bool found = false;
    while (!found) {
        pollfd output = {controller, POLLIN, 0};
        const auto waited = std::chrono::steady_clock::now() - start;
        const int left =
            10000 -
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count());
        if (left <= 0 || poll(&output, 1, left) <= 0) {
            break;
        }
        char bytes[4096];
        const ssize_t got = read(controller, bytes, sizeof bytes);
        if (got <= 0) {
            break;
        }
        pending.append(bytes, static_cast<size_t>(got));
        found = pending.find(wanted) != std::string::npos;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    if (!found) {
        std::fprintf(stderr, "first_output: no line with \"%s\" from %s\n", wanted.c_str(),
                     argv[2]);
        return 1;
    }
    std::printf("%.1f\n", std::chrono::duration<double, std::milli>(elapsed).count());
    return 0;
}
