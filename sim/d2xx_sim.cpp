// The D2XX calls served by simulated counters (simConfigure sets them up). Every call
// on a handle this layer did not hand out, or has closed, fails with FT_INVALID_HANDLE
// and does nothing else. A device pulled off the bus takes its open handle with it:
// every call on that handle fails with FT_IO_ERROR from then on, also once the device
// is back, until the handle is closed and the device opened again.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/d2xx.h"
#include "sim/d2xx_sim.h"

namespace {

struct OpenDevice {
    int device;
    ULONG readTimeoutMs;
    uint64_t openedAt;
};

struct Run {
    sim::Scenario scenario;
    sim::Clock clock = sim::virtualClock();
    std::vector<std::unique_ptr<sim::CounterDevice>> devices;
    std::vector<std::string> serialNumbers;
    int countingCalls = 0;
    std::map<uintptr_t, OpenDevice> open;
    // Each device's comings and goings, and how many of them the device log has.
    std::vector<std::vector<sim::CounterDevice::PlugChange>> plugChanges;
    std::vector<size_t> plugChangesLogged;
};

Run& run() {
    static Run instance;
    return instance;
}

// Handle values are never reused, not even across runs, so a stale handle stays invalid.
uintptr_t nextHandle = 0x51D0;

constexpr int maxDevices = 99;

uint64_t now() {
    return run().clock.nowMicros();
}

// The device log gets each unplug and plug-in at its own time, written by the first
// call made at or after it, so that the log stays in time order.
void logPlugChanges() {
    Run& r = run();
    const uint64_t t = now();
    for (size_t device = 0; device < r.devices.size(); ++device) {
        const auto& changes = r.plugChanges[device];
        size_t& logged = r.plugChangesLogged[device];
        for (; logged < changes.size() && changes[logged].atMicros <= t; ++logged) {
            r.devices[device]->logNote(
                changes[logged].atMicros,
                std::string(changes[logged].plugged ? "plugged in " : "unplugged ") +
                    r.serialNumbers[device]);
        }
    }
}

// Whether the device has left the bus since the handle was opened.
bool handleLost(const OpenDevice& open) {
    return run().devices[open.device]->unpluggedBetween(open.openedAt, now());
}

bool attached(int device) {
    const Run& r = run();
    return r.countingCalls >= r.scenario.appearAfterListCalls &&
           !r.devices[device]->unplugged(now());
}

// The devices a listing sees now, in order.
std::vector<int> listed() {
    std::vector<int> found;
    for (int i = 0; i < static_cast<int>(run().devices.size()); ++i) {
        if (attached(i)) {
            found.push_back(i);
        }
    }
    return found;
}

OpenDevice* lookUp(FT_HANDLE handle) {
    auto it = run().open.find(reinterpret_cast<uintptr_t>(handle));
    return it == run().open.end() ? nullptr : &it->second;
}

// The open handle's device, or the status the call fails with.
FT_STATUS usable(FT_HANDLE handle, OpenDevice*& open) {
    logPlugChanges();
    open = lookUp(handle);
    if (open == nullptr) {
        return FT_INVALID_HANDLE;
    }
    return handleLost(*open) ? FT_IO_ERROR : FT_OK;
}

sim::CounterDevice& deviceOf(const OpenDevice* open) {
    return *run().devices[open->device];
}

}  // namespace

namespace sim {

void simConfigure(const Scenario& scenario, Clock clock) {
    Run& r = run();
    r.scenario = scenario;
    r.clock = clock;
    r.devices.clear();
    r.serialNumbers.clear();
    r.countingCalls = 0;
    r.open.clear();
    r.plugChanges.clear();
    r.plugChangesLogged.clear();
    const int count = scenario.deviceCount < 0 ? 0 : std::min(scenario.deviceCount, maxDevices);
    for (int i = 0; i < count; ++i) {
        r.devices.push_back(std::make_unique<CounterDevice>(scenario, i));
        std::string serial = std::to_string(i + 1);
        r.serialNumbers.push_back("SIM" + std::string(5 - serial.size(), '0') + serial);
        r.plugChanges.push_back(r.devices.back()->plugChanges());
        r.plugChangesLogged.push_back(0);
    }
}

CounterDevice* simDevice(int index) {
    Run& r = run();
    return index >= 0 && index < static_cast<int>(r.devices.size()) ? r.devices[index].get()
                                                                    : nullptr;
}

int simCountingCalls() {
    return run().countingCalls;
}

}  // namespace sim

extern "C" {

FT_STATUS WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    Run& r = run();
    logPlugChanges();
    if (flags == FT_LIST_NUMBER_ONLY) {
        if (arg1 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        ++r.countingCalls;
        *static_cast<DWORD*>(arg1) = static_cast<DWORD>(listed().size());
        return FT_OK;
    }
    if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
        if (arg2 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        // The library takes the index in place of the first pointer.
        const uintptr_t index = reinterpret_cast<uintptr_t>(arg1);
        const std::vector<int> found = listed();
        if (index >= found.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        const std::string& serial = r.serialNumbers[found[index]];
        const size_t length =
            std::min(serial.size(), static_cast<size_t>(d2xxSerialNumberSize - 1));
        std::memcpy(arg2, serial.data(), length);
        static_cast<char*>(arg2)[length] = '\0';
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

FT_STATUS WINAPI FT_OpenEx(PVOID arg1, DWORD flags, FT_HANDLE* handle) {
    if (handle == nullptr || arg1 == nullptr || flags != FT_OPEN_BY_SERIAL_NUMBER) {
        return FT_INVALID_PARAMETER;
    }
    *handle = nullptr;
    Run& r = run();
    logPlugChanges();
    const char* wanted = static_cast<const char*>(arg1);
    for (int device : listed()) {
        const std::string& serial = r.serialNumbers[device];
        if (std::strncmp(wanted, serial.c_str(), d2xxSerialNumberSize) != 0) {
            continue;
        }
        // A handle that went with an earlier unplug does not hold the device.
        for (const auto& entry : r.open) {
            if (entry.second.device == device && !handleLost(entry.second)) {
                return FT_DEVICE_NOT_OPENED;
            }
        }
        const uintptr_t value = nextHandle;
        nextHandle += 0x10;
        r.open[value] = {device, 0, now()};
        *handle = reinterpret_cast<FT_HANDLE>(value);
        return FT_OK;
    }
    return FT_DEVICE_NOT_FOUND;
}

FT_STATUS WINAPI FT_SetChars(FT_HANDLE handle, UCHAR, UCHAR, UCHAR, UCHAR) {
    // The event character only matters to a driver that signals events; nothing here waits
    // on one.
    OpenDevice* open;
    return usable(handle, open);
}

FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG) {
    // Writes complete at once here, so only the read time-out matters.
    OpenDevice* open;
    const FT_STATUS status = usable(handle, open);
    if (status == FT_OK) {
        open->readTimeoutMs = readTimeoutMs;
    }
    return status;
}

FT_STATUS WINAPI FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                          LPDWORD bytesWritten) {
    OpenDevice* open;
    const FT_STATUS status = usable(handle, open);
    if (status == FT_INVALID_HANDLE) {
        return status;
    }
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    if (status != FT_OK) {
        return status;
    }
    if (buffer == nullptr && bytesToWrite > 0) {
        return FT_INVALID_PARAMETER;
    }
    deviceOf(open).receive(static_cast<const char*>(buffer), bytesToWrite, now());
    if (bytesWritten != nullptr) {
        *bytesWritten = bytesToWrite;
    }
    return FT_OK;
}

FT_STATUS WINAPI FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventWord) {
    OpenDevice* open;
    const FT_STATUS status = usable(handle, open);
    if (status == FT_INVALID_HANDLE) {
        return status;
    }
    DWORD readable = 0;
    if (status == FT_OK) {
        const size_t bytes = deviceOf(open).readableBytes(now());
        readable = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(bytes);
    }
    if (rxBytes != nullptr) {
        *rxBytes = readable;
    }
    if (txBytes != nullptr) {
        *txBytes = 0;
    }
    if (eventWord != nullptr) {
        *eventWord = 0;
    }
    return status;
}

FT_STATUS WINAPI FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesReturned) {
    OpenDevice* open;
    FT_STATUS status = usable(handle, open);
    if (status == FT_INVALID_HANDLE) {
        return status;
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    if (status == FT_OK && buffer == nullptr && bytesToRead > 0) {
        return FT_INVALID_PARAMETER;
    }
    const sim::Clock& clock = run().clock;
    sim::CounterDevice& device = deviceOf(open);
    char* out = static_cast<char*>(buffer);
    DWORD got = 0;
    const uint64_t deadline = clock.nowMicros() + uint64_t{open->readTimeoutMs} * 1000;
    while (status == FT_OK) {
        const uint64_t t = clock.nowMicros();
        got += static_cast<DWORD>(device.read(out + got, bytesToRead - got, t));
        if (got == bytesToRead) {
            break;
        }
        // Wait for the rest, but not past the time-out.
        const uint64_t next = device.nextArrivalMicros(t);
        if (next > deadline) {
            clock.waitUntilMicros(deadline);
            break;
        }
        clock.waitUntilMicros(next);
        if (handleLost(*open)) {
            status = FT_IO_ERROR;
        }
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = got;
    }
    return status;
}

FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    logPlugChanges();
    auto& open = run().open;
    auto it = open.find(reinterpret_cast<uintptr_t>(handle));
    if (it == open.end()) {
        return FT_INVALID_HANDLE;
    }
    // The handle is released even when the device has gone, which the status reports.
    const bool gone = handleLost(it->second);
    open.erase(it);
    return gone ? FT_IO_ERROR : FT_OK;
}

}  // extern "C"
