// Serves a device seen at the byte level on a pseudo-terminal, so that the tty
// backend can talk to it as to a USB serial port: a thread owns the master side,
// hands the bytes written to the port to the device and writes the device's
// answers back as they become readable. While the device says it is unplugged the
// port is gone; when it is back, it comes back as a new pseudo-terminal, under a new
// name, as a USB serial port plugged in again gets the next free name.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace pty_server {

// What the server drives; the simulated counter's byte-level device has this shape.
class Device {
public:
    virtual ~Device() = default;
    virtual void receive(const char* bytes, size_t n, uint64_t nowMicros) = 0;
    virtual size_t readableBytes(uint64_t nowMicros) = 0;
    virtual size_t read(char* out, size_t max, uint64_t nowMicros) = 0;
    // While true, the port is gone (its master side closed); once false again, the port
    // is served anew under another name.
    virtual bool unplugged(uint64_t /*nowMicros*/) const { return false; }
};

class Server {
public:
    // With `baud` above 0 the answers go out as a serial line at that speed would carry
    // them, BAUD/10 bytes per second (a start bit, 8 data bits, a stop bit); at 0 they go
    // out as soon as the device has them.
    explicit Server(Device& device, double baud = 0);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // The port's path, e.g. "/dev/pts/3"; "" while the device is unplugged.
    std::string portName();
    // How many times the port has come back under a new name.
    int replugs();
    // A descriptor of the port kept open by the server, to look at its settings.
    int portDescriptor() const { return keeper_; }
    // Pulls the plug for good: stops serving and closes the master side.
    void unplug();
    // While stopped, nothing written to the port is taken: once the port's buffer is
    // full, writes to it wait, as to a counter that stopped taking bytes. Answers still
    // go out.
    void stopReading(bool stopped) { readingStopped_ = stopped; }
    // Runs `use` on the device under the server's lock.
    template <typename Use>
    void withDevice(Use use) {
        std::lock_guard<std::mutex> hold(lock_);
        use(device_);
    }

private:
    // The device's time: microseconds since the server started.
    uint64_t nowMicros() const;
    void serve();
    // Opens a new pseudo-terminal for the device (the caller holds the lock, or the
    // thread is not running yet).
    void openPort();
    // The port vanishes: master and kept port closed (the caller holds the lock).
    void closePort();

    Device& device_;
    std::mutex lock_;
    int master_ = -1;
    // Kept open so that the master does not hang up between the backend's opens.
    int keeper_ = -1;
    std::string portName_;
    std::string lastName_;
    int replugs_ = 0;
    // Answers the port has no room for yet, or the line has not carried yet.
    std::string unsent_;
    double byteMicros_ = 0;     // one byte's time on the line; 0: no pacing
    double lineBusyUntil_ = 0;  // when the last byte on the line has arrived
    std::chrono::steady_clock::time_point start_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> readingStopped_{false};
    std::thread thread_;
};

}  // namespace pty_server
