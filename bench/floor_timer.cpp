// The floor of the headless front: a process that only waits for a timer, first after
// 100 ms and then every 50 ms, as the program's timer 1 does, and otherwise does nothing.
// It writes "tick" at the first expiry, so that its start-up can be timed as the
// program's is. Usage: floor_timer [SECONDS [PERIOD_MS]] (default 20 s, 50 ms; 1000 ms
// is the floor of the program waiting for a counter).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    const int periodMs = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 50;
    const Clock::time_point end =
        Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    Clock::time_point next = Clock::now() + std::chrono::milliseconds(100);
    bool first = true;
    while (next <= end) {
        std::this_thread::sleep_until(next);
        if (first) {
            std::puts("tick");
            std::fflush(stdout);
            first = false;
        }
        next += std::chrono::milliseconds(periodMs);
    }
    return 0;
}
