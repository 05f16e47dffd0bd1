#include "tests/device/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace pty_server {

namespace {

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::abort();
}

}  // namespace

Server::Server(Device& device, double baud)
    : device_(device), byteMicros_(baud > 0 ? 1e7 / baud : 0) {
    openPort();
    start_ = std::chrono::steady_clock::now();
    thread_ = std::thread([this] { serve(); });
}

void Server::openPort() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        fail("pseudo-terminal");
    }
    // The kernel hands out the lowest free number, which may be the one just given up:
    // hold it while taking the next, so that the port comes back under another name.
    if (!lastName_.empty() && lastName_ == ptsname(master_)) {
        const int held = master_;
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        close(held);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            fail("pseudo-terminal");
        }
    }
    // Non-blocking, so that a port nobody reads from cannot stall the server.
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    portName_ = ptsname(master_);
    lastName_ = portName_;
    keeper_ = open(portName_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (keeper_ < 0 || tcgetattr(keeper_, &settings) != 0) {
        fail("pseudo-terminal port");
    }
    // Raw from the start: no echo of the answers back to the server.
    cfmakeraw(&settings);
    tcsetattr(keeper_, TCSANOW, &settings);
}

void Server::closePort() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
    if (keeper_ >= 0) {
        close(keeper_);
        keeper_ = -1;
    }
    portName_.clear();
    unsent_.clear();
}

std::string Server::portName() {
    std::lock_guard<std::mutex> hold(lock_);
    return portName_;
}

int Server::replugs() {
    std::lock_guard<std::mutex> hold(lock_);
    return replugs_;
}

Server::~Server() {
    unplug();
    if (keeper_ >= 0) {
        close(keeper_);
    }
}

void Server::unplug() {
    if (thread_.joinable()) {
        stop_ = true;
        thread_.join();
    }
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

uint64_t Server::nowMicros() const {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
}

void Server::serve() {
    char buffer[256];
    while (!stop_) {
        if (master_ < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard<std::mutex> hold(lock_);
            if (!device_.unplugged(nowMicros())) {
                openPort();
                ++replugs_;
            }
            continue;
        }
        pollfd watch{master_, static_cast<short>(readingStopped_ ? 0 : POLLIN), 0};
        // A short wait bounds both the answer delay and the time to notice stop_.
        int ready = poll(&watch, 1, 1);
        std::lock_guard<std::mutex> hold(lock_);
        if (ready > 0 && (watch.revents & POLLIN) != 0) {
            ssize_t got = ::read(master_, buffer, sizeof buffer);
            if (got > 0) {
                device_.receive(buffer, static_cast<size_t>(got), nowMicros());
            }
        }
        const uint64_t now = nowMicros();
        if (device_.unplugged(now)) {
            closePort();
            continue;
        }
        if (unsent_.empty()) {
            // An idle line: what comes next starts on it now.
            lineBusyUntil_ = std::max(lineBusyUntil_, static_cast<double>(now));
        }
        while (unsent_.size() < sizeof buffer && device_.readableBytes(now) > 0) {
            size_t got = device_.read(buffer, sizeof buffer, now);
            if (got == 0) {
                break;
            }
            unsent_.append(buffer, got);
        }
        // On a paced line each byte arrives one byte time after the one before it.
        size_t carried = unsent_.size();
        if (byteMicros_ > 0) {
            const double t = static_cast<double>(now);
            carried = 0;
            while (carried < unsent_.size() && lineBusyUntil_ + byteMicros_ <= t) {
                lineBusyUntil_ += byteMicros_;
                ++carried;
            }
        }
        if (carried > 0) {
            ssize_t sent = write(master_, unsent_.data(), carried);
            const size_t taken = sent > 0 ? static_cast<size_t>(sent) : 0;
            unsent_.erase(0, taken);
            // What the port had no room for goes out later, at the line's pace.
            lineBusyUntil_ -= static_cast<double>(carried - taken) * byteMicros_;
        }
    }
}

}  // namespace pty_server
