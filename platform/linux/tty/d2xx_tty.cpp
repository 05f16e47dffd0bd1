// The counter's library calls over the kernel's USB-serial ttys.
//
// libserialport finds the ports and their USB serial numbers. The open port itself
// is driven through its descriptor: libserialport can only open ports it finds in
// sysfs, which leaves out the pseudo-terminals the tests serve the simulated counter
// on, and the tests must exercise the same path as the hardware does.
#include "platform/linux/tty/d2xx_tty.h"

#include <fcntl.h>
#include <grp.h>
#include <libserialport.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/d2xx.h"

namespace tty {

bool isConverterPort(const std::string& name) {
    const std::string base = name.substr(name.rfind('/') + 1);
    static const std::string prefix = "ttyUSB";
    return base.size() > prefix.size() && base.compare(0, prefix.size(), prefix) == 0 &&
           base.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

std::vector<PortEntry> systemUsbPorts() {
    std::vector<PortEntry> ports;
    sp_port** list = nullptr;
    if (sp_list_ports(&list) != SP_OK) {
        return ports;
    }
    for (sp_port** port = list; *port != nullptr; ++port) {
        if (sp_get_port_transport(*port) != SP_TRANSPORT_USB) {
            continue;
        }
        const char* name = sp_get_port_name(*port);
        if (name == nullptr || !isConverterPort(name)) {
            continue;
        }
        const char* serial = sp_get_port_usb_serial(*port);
        ports.push_back({name, serial != nullptr && serial[0] != '\0' ? serial : name});
    }
    sp_free_port_list(list);
    return ports;
}

namespace {

using Clock = std::chrono::steady_clock;

struct OpenPort {
    int fd;
    std::string name;
    unsigned readTimeoutMs;
    unsigned writeTimeoutMs;
    // Set once the port has hung up (unplugged); every later call fails at once.
    bool lost;
};

// One lock over everything: the program calls from one thread, the tests from a few.
std::mutex lock;
PortLister lister = systemUsbPorts;
std::vector<PortEntry> ports;
bool portsKept = false;
Clock::time_point portsScannedAt;
// Handles are numbers, never reused, so a closed handle stays invalid for good.
std::map<uintptr_t, OpenPort> openPorts;
uintptr_t lastHandle = 0;

void scanPorts() {
    ports = lister();
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.name < b.name; });
    portsKept = true;
    // Counted from the end of the scan, so that a slow scan is not repeated at once.
    portsScannedAt = Clock::now();
}

void scanPortsIfStale() {
    if (!portsKept || Clock::now() - portsScannedAt >= rescanInterval) {
        scanPorts();
    }
}

// The serial number as the listing hands it out: cut to the caller's buffer.
std::string listedSerial(const std::string& serial) {
    return serial.substr(0, d2xxSerialNumberSize - 1);
}

const PortEntry* findBySerial(const std::string& serial) {
    for (const PortEntry& port : ports) {
        if (listedSerial(port.serial) == serial) {
            return &port;
        }
    }
    return nullptr;
}

OpenPort* findHandle(FT_HANDLE handle) {
    auto found = openPorts.find(reinterpret_cast<uintptr_t>(handle));
    return found == openPorts.end() ? nullptr : &found->second;
}

bool isOpenInProcess(const std::string& name) {
    return std::any_of(openPorts.begin(), openPorts.end(),
                       [&](const auto& entry) { return entry.second.name == name; });
}

// The last port and cause reported: a port that cannot be opened is tried again about
// once a second while the program watches for the counter, and says so only once.
std::string lastReport;

bool firstReport(const std::string& name, const char* cause) {
    const std::string report = name + "\n" + cause;
    if (report == lastReport) {
        return false;
    }
    lastReport = report;
    return true;
}

// The causes a person has to fix get one line naming the port and the remedy.
void reportPermissionDenied(const std::string& name) {
    if (!firstReport(name, "permission")) {
        return;
    }
    // Serial ports belong to a group of their own ("dialout" on Debian, "uucp"
    // elsewhere); a port owned by root's group gets the common advice.
    struct stat info {};
    const char* group = "dialout";
    if (stat(name.c_str(), &info) == 0 && info.st_gid != 0) {
        if (const struct group* owner = getgrgid(info.st_gid)) {
            group = owner->gr_name;
        }
    }
    std::fprintf(stderr,
                 "pulsemeter: no permission to open %s; add your user to the '%s' group "
                 "(sudo usermod -aG %s $USER), then log in again.\n",
                 name.c_str(), group, group);
}

void reportBusy(const std::string& name) {
    if (!firstReport(name, "busy")) {
        return;
    }
    std::fprintf(stderr,
                 "pulsemeter: %s is in use by another program; close that program and start "
                 "pulsemeter again.\n",
                 name.c_str());
}

FT_STATUS failedOpen(const std::string& name, int error, int fd) {
    if (fd >= 0) {
        close(fd);
    }
    switch (error) {
        case EACCES:
        case EPERM:
            reportPermissionDenied(name);
            return FT_DEVICE_NOT_OPENED;
        case EBUSY:
        case EWOULDBLOCK:
            reportBusy(name);
            return FT_DEVICE_NOT_OPENED;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return FT_DEVICE_NOT_FOUND;
        default:
            return FT_DEVICE_NOT_OPENED;
    }
}

// 9600 baud, 8 data bits, no parity, one stop bit, no flow control, raw bytes: the
// link as the device expects it, since the program sets nothing itself.
bool configureLink(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    // With VMIN 0 an empty tty reads as end of file, which is how a hung-up one reads;
    // with VMIN 1 and the descriptor non-blocking it reads as EAGAIN instead.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (cfsetispeed(&settings, B9600) != 0 || cfsetospeed(&settings, B9600) != 0) {
        return false;
    }
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

// What is left of a time-out, as poll takes it (time-outs of weeks included).
int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// Waits up to `timeoutMs` for `events`; false when the port hung up meanwhile.
bool waitFor(OpenPort& port, short events, int timeoutMs) {
    pollfd watch{port.fd, events, 0};
    int ready;
    do {
        ready = poll(&watch, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0 || (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        port.lost = true;
        return false;
    }
    return true;
}

enum class Direction { Send, Receive };

// Moves bytes one way until all are done, the time-out passes (FT_OK with fewer bytes)
// or the port is lost. The caller holds the lock.
FT_STATUS transfer(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD done,
                   Direction direction) {
    OpenPort* port = findHandle(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if ((buffer == nullptr && count > 0) || done == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *done = 0;
    if (port->lost) {
        return FT_IO_ERROR;
    }
    const bool sending = direction == Direction::Send;
    const unsigned timeoutMs = sending ? port->writeTimeoutMs : port->readTimeoutMs;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char* bytes = static_cast<char*>(buffer);
    while (*done < count) {
        ssize_t moved = sending ? write(port->fd, bytes + *done, count - *done)
                                : read(port->fd, bytes + *done, count - *done);
        if (moved > 0) {
            *done += static_cast<DWORD>(moved);
            continue;
        }
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        // A hung-up tty reads as end of file and fails writes with EIO.
        if (moved == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            port->lost = true;
            return FT_IO_ERROR;
        }
        int left = remainingMs(deadline);
        if (left == 0) {
            break;
        }
        if (!waitFor(*port, sending ? POLLOUT : POLLIN, left)) {
            return FT_IO_ERROR;
        }
    }
    return FT_OK;
}

}  // namespace

void setPortLister(PortLister replacement) {
    std::lock_guard<std::mutex> hold(lock);
    lister = replacement != nullptr ? replacement : systemUsbPorts;
    ports.clear();
    portsKept = false;
    lastReport.clear();
}

namespace {

std::string chosenPort;

// The one port chosen, while its path exists: a port that is missing is waited for.
std::vector<PortEntry> listChosenPort() {
    std::vector<PortEntry> listed;
    if (access(chosenPort.c_str(), F_OK) == 0) {
        listed.push_back({chosenPort, chosenPort});
    }
    return listed;
}

}  // namespace

void usePort(const std::string& path) {
    {
        std::lock_guard<std::mutex> hold(lock);
        chosenPort = path;
    }
    setPortLister(path.empty() ? nullptr : listChosenPort);
}

std::vector<PortEntry> currentPorts() {
    std::lock_guard<std::mutex> hold(lock);
    scanPorts();
    return ports;
}

}  // namespace tty

using namespace tty;

extern "C" {

FT_STATUS WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    std::lock_guard<std::mutex> hold(lock);
    if (flags == FT_LIST_NUMBER_ONLY) {
        if (arg1 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        scanPortsIfStale();
        *static_cast<DWORD*>(arg1) = static_cast<DWORD>(ports.size());
        return FT_OK;
    }
    if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
        if (arg2 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        // The index travels in the pointer's value.
        uintptr_t index = reinterpret_cast<uintptr_t>(arg1);
        scanPortsIfStale();
        if (index >= ports.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        // The caller's buffer is d2xxSerialNumberSize bytes: never write more.
        std::string serial = listedSerial(ports[index].serial);
        std::memcpy(arg2, serial.c_str(), serial.size() + 1);
        return FT_OK;
    }
    // Listing by description or location, or everything at once: not needed here.
    return FT_INVALID_PARAMETER;
}

FT_STATUS WINAPI FT_OpenEx(PVOID arg1, DWORD flags, FT_HANDLE* handle) {
    std::lock_guard<std::mutex> hold(lock);
    if (arg1 == nullptr || handle == nullptr || flags != FT_OPEN_BY_SERIAL_NUMBER) {
        return FT_INVALID_PARAMETER;
    }
    const char* text = static_cast<const char*>(arg1);
    std::string serial(text, strnlen(text, d2xxSerialNumberSize));
    scanPortsIfStale();
    const PortEntry* entry = findBySerial(serial);
    if (entry == nullptr) {
        // Plugged in since the last scan, perhaps.
        scanPorts();
        entry = findBySerial(serial);
    }
    if (entry == nullptr) {
        return FT_DEVICE_NOT_FOUND;
    }
    const std::string name = entry->name;
    if (isOpenInProcess(name)) {
        return FT_DEVICE_NOT_OPENED;
    }
    int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return failedOpen(name, errno, -1);
    }
    // The lock keeps out programs that honour it, even one running as root;
    // TIOCEXCL turns away every later open by anyone but root. The lock comes first
    // so that a port held by someone else is not left exclusive to them.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return failedOpen(name, errno, fd);
    }
    if (ioctl(fd, TIOCEXCL) != 0 || !configureLink(fd)) {
        return failedOpen(name, errno, fd);
    }
    lastReport.clear();
    uintptr_t id = ++lastHandle;
    openPorts[id] = OpenPort{fd, name, defaultTimeoutMs, defaultTimeoutMs, false};
    *handle = reinterpret_cast<FT_HANDLE>(id);
    return FT_OK;
}

FT_STATUS WINAPI FT_SetChars(FT_HANDLE handle, UCHAR, UCHAR, UCHAR, UCHAR) {
    std::lock_guard<std::mutex> hold(lock);
    OpenPort* port = findHandle(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    // A tty has no event or error character to set; FT_GetStatus counts the bytes
    // waiting whatever they are, which is all the program asks of it.
    return port->lost ? FT_IO_ERROR : FT_OK;
}

FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs) {
    std::lock_guard<std::mutex> hold(lock);
    OpenPort* port = findHandle(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    port->readTimeoutMs = readTimeoutMs;
    port->writeTimeoutMs = writeTimeoutMs;
    return port->lost ? FT_IO_ERROR : FT_OK;
}

FT_STATUS WINAPI FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                          LPDWORD bytesWritten) {
    std::lock_guard<std::mutex> hold(lock);
    return transfer(handle, buffer, bytesToWrite, bytesWritten, Direction::Send);
}

FT_STATUS WINAPI FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventWord) {
    std::lock_guard<std::mutex> hold(lock);
    OpenPort* port = findHandle(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr || txBytes == nullptr || eventWord == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *rxBytes = 0;
    *txBytes = 0;
    *eventWord = 0;
    // A port that hung up reports nothing pending, so the program simply waits.
    if (port->lost || !waitFor(*port, POLLIN, 0)) {
        return FT_IO_ERROR;
    }
    int waiting = 0;
    int unsent = 0;
    if (ioctl(port->fd, FIONREAD, &waiting) != 0 || ioctl(port->fd, TIOCOUTQ, &unsent) != 0) {
        port->lost = true;
        return FT_IO_ERROR;
    }
    *rxBytes = static_cast<DWORD>(std::max(waiting, 0));
    *txBytes = static_cast<DWORD>(std::max(unsent, 0));
    return FT_OK;
}

FT_STATUS WINAPI FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesReturned) {
    std::lock_guard<std::mutex> hold(lock);
    return transfer(handle, buffer, bytesToRead, bytesReturned, Direction::Receive);
}

FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = openPorts.find(reinterpret_cast<uintptr_t>(handle));
    if (found == openPorts.end()) {
        return FT_INVALID_HANDLE;
    }
    // Exclusivity outlives the descriptor while someone else still has the tty open.
    ioctl(found->second.fd, TIOCNXCL);
    close(found->second.fd);
    openPorts.erase(found);
    return FT_OK;
}

}  // extern "C"
