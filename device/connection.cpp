#include "device/connection.h"

#include <cstdint>
#include <cstring>

DeviceConnection deviceConnection = {nullptr, 0, FT_OK};
char openedSerialNumber[d2xxSerialNumberSize] = {};
char wantedSerialNumber[d2xxSerialNumberSize] = {};

namespace {

// Device index `index`, passed as the pointer value as the library expects.
PVOID deviceIndex(DWORD index) {
    return reinterpret_cast<PVOID>(static_cast<uintptr_t>(index));
}

// Bounded retries, back to back: the library may need a moment after start-up before it
// reports the attached devices and their serial numbers.
bool waitForDevice() {
    deviceConnection.deviceCount = 0;
    int attempts = 0;
    do {
        deviceConnection.lastStatus =
            FT_ListDevices(&deviceConnection.deviceCount, nullptr, FT_LIST_NUMBER_ONLY);
        ++attempts;
    } while (attempts < deviceCountAttempts && deviceConnection.deviceCount == 0);
    return deviceConnection.deviceCount >= 1;
}

bool readSerialNumber(DWORD index, char* serialNumber) {
    deviceConnection.lastStatus = FT_ListDevices(deviceIndex(index), serialNumber,
                                                 FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
    // Whatever the library wrote, the open below gets a terminated string.
    serialNumber[d2xxSerialNumberSize - 1] = '\0';
    return deviceConnection.lastStatus == FT_OK;
}

bool readFirstSerialNumber(char* serialNumber) {
    int attempts = 0;
    do {
        readSerialNumber(0, serialNumber);
        ++attempts;
    } while (attempts < serialNumberAttempts && deviceConnection.lastStatus != FT_OK);
    return deviceConnection.lastStatus == FT_OK;
}

bool openAndSetUp(const char* serialNumber) {
    deviceConnection.lastStatus = FT_OpenEx(
        const_cast<char*>(serialNumber), FT_OPEN_BY_SERIAL_NUMBER, &deviceConnection.deviceHandle);
    if (deviceConnection.lastStatus != FT_OK) {
        deviceConnection.deviceHandle = nullptr;
        return false;
    }
    std::memcpy(openedSerialNumber, serialNumber, sizeof openedSerialNumber);
    // The counter ends every answer with a carriage return.
    deviceConnection.lastStatus = FT_SetChars(deviceConnection.deviceHandle, 13, 1, 0, 0);
    deviceConnection.lastStatus = FT_SetTimeouts(deviceConnection.deviceHandle, 100, 100);
    return true;
}

// Of the `count` devices listed, the one asked for; none when it is not among them.
bool findWantedDevice(DWORD count, char* serialNumber) {
    for (DWORD index = 0; index < count && index < watchedDevicesMax; ++index) {
        if (readSerialNumber(index, serialNumber) &&
            std::strcmp(serialNumber, wantedSerialNumber) == 0) {
            return true;
        }
    }
    deviceConnection.lastStatus = FT_DEVICE_NOT_FOUND;
    return false;
}

// Of the `count` devices listed, the one asked for, or else the one lost last if it is
// among them, else the first.
bool chooseReturningDevice(DWORD count, char* serialNumber) {
    if (wantedSerialNumber[0] != '\0') {
        return findWantedDevice(count, serialNumber);
    }
    if (openedSerialNumber[0] == '\0') {
        return readSerialNumber(0, serialNumber);
    }
    bool found = false;
    char listed[d2xxSerialNumberSize];
    for (DWORD index = 0; index < count && index < watchedDevicesMax; ++index) {
        if (!readSerialNumber(index, listed)) {
            continue;
        }
        if (std::strcmp(listed, openedSerialNumber) == 0) {
            std::memcpy(serialNumber, listed, sizeof listed);
            return true;
        }
        if (!found) {
            std::memcpy(serialNumber, listed, sizeof listed);
            found = true;
        }
    }
    return found;
}

}  // namespace

void resetDeviceConnection(const char* wanted) {
    deviceConnection = DeviceConnection{nullptr, 0, FT_OK};
    openedSerialNumber[0] = '\0';
    wantedSerialNumber[0] = '\0';
    if (wanted != nullptr) {
        // A longer serial number than the library hands out would never match: cut as the
        // listing cuts.
        std::strncpy(wantedSerialNumber, wanted, sizeof wantedSerialNumber - 1);
        wantedSerialNumber[sizeof wantedSerialNumber - 1] = '\0';
    }
}

bool openFirstDevice() {
    char serialNumber[d2xxSerialNumberSize] = {};
    if (wantedSerialNumber[0] != '\0') {
        // One look: a counter asked for that is not there is waited for by the watch,
        // not by the start-up retries, which are for a library not yet ready.
        DWORD count = 0;
        deviceConnection.lastStatus = FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
        deviceConnection.deviceCount = deviceConnection.lastStatus == FT_OK ? count : 0;
        return deviceConnection.deviceCount > 0 &&
               findWantedDevice(deviceConnection.deviceCount, serialNumber) &&
               openAndSetUp(serialNumber);
    }
    if (!waitForDevice() || !readFirstSerialNumber(serialNumber)) {
        return false;
    }
    return openAndSetUp(serialNumber);
}

void closeDevice() {
    // Unconditional: without a device this fails harmlessly on the null handle.
    deviceConnection.lastStatus = FT_Close(deviceConnection.deviceHandle);
    deviceConnection.deviceHandle = nullptr;
}

void watchIfNoDevice(HWND window) {
    if (deviceConnection.deviceHandle == nullptr) {
        SetTimer(window, watchTimerId, watchPeriodMs, nullptr);
    }
}

bool watchForDevice(HWND window) {
    if (deviceConnection.deviceHandle != nullptr) {
        KillTimer(window, watchTimerId);
        return false;
    }
    // One call a second while nothing is attached: the watch costs next to nothing.
    DWORD count = 0;
    deviceConnection.lastStatus = FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    if (deviceConnection.lastStatus != FT_OK || count == 0) {
        return false;
    }
    deviceConnection.deviceCount = count;
    char serialNumber[d2xxSerialNumberSize] = {};
    // A counter that cannot be opened yet is tried again at the next look.
    if (!chooseReturningDevice(count, serialNumber) || !openAndSetUp(serialNumber)) {
        return false;
    }
    KillTimer(window, watchTimerId);
    return true;
}

void dropLostDevice(HWND window) {
    closeDevice();
    watchIfNoDevice(window);
}
