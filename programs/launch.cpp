#include "programs/launch.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

FrontKind chooseFront(bool wantGtk, int* argc, char*** argv, const char* program) {
    if (!wantGtk) {
        return FrontKind::Headless;
    }
    std::string why;
    if (gtkAvailable(argc, argv, &why)) {
        return FrontKind::Gtk;
    }
    std::fprintf(stderr, "%s: %s; showing the readout in the terminal instead\n", program,
                 why.c_str());
    return FrontKind::Headless;
}

int runWinMain(const std::string& commandLine) {
    // Any non-null value: the program only hands it back to the platform.
    static char module;
    std::string line = commandLine;
    return WinMain(reinterpret_cast<HINSTANCE>(&module), nullptr, line.data(), SW_SHOWDEFAULT);
}

namespace {

// A pipe or socket whose reading end is closed.
bool readerGone(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))) {
        return false;
    }
    pollfd watch{fd, 0, 0};
    return poll(&watch, 1, 0) == 1 && (watch.revents & (POLLERR | POLLHUP)) != 0;
}

}  // namespace

int finishRun(int status, const char* program) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    const int error = errno;
    if (flushed) {
        return status;
    }
    if (error != EPIPE && !readerGone(STDOUT_FILENO)) {
        std::fprintf(stderr, "%s: the output could not be written whole%s%s\n", program,
                     error != 0 ? ": " : "", error != 0 ? std::strerror(error) : "");
    }
    return 1;
}

}  // namespace platform
