#include "device/connection.h"

#include <cstdint>

#include "core/cycle.h"

DeviceConnection deviceConnection = {nullptr, 0, FT_OK};

namespace {

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

bool readFirstSerialNumber(char* serialNumber) {
    // Device index 0, passed as the pointer value as the library expects.
    PVOID firstDevice = reinterpret_cast<PVOID>(static_cast<uintptr_t>(0));
    int attempts = 0;
    do {
        deviceConnection.lastStatus =
            FT_ListDevices(firstDevice, serialNumber, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
        ++attempts;
    } while (attempts < serialNumberAttempts && deviceConnection.lastStatus != FT_OK);
    // Whatever the library wrote, the open below gets a terminated string.
    serialNumber[d2xxSerialNumberSize - 1] = '\0';
    return deviceConnection.lastStatus == FT_OK;
}

}  // namespace

void openFirstDevice() {
    char serialNumber[d2xxSerialNumberSize] = {};
    if (!waitForDevice() || !readFirstSerialNumber(serialNumber)) {
        return;
    }
    deviceConnection.lastStatus =
        FT_OpenEx(serialNumber, FT_OPEN_BY_SERIAL_NUMBER, &deviceConnection.deviceHandle);
    if (deviceConnection.lastStatus != FT_OK) {
        deviceConnection.deviceHandle = nullptr;
        return;
    }
    // The counter ends every answer with a carriage return.
    deviceConnection.lastStatus = FT_SetChars(deviceConnection.deviceHandle, 13, 1, 0, 0);
    deviceConnection.lastStatus = FT_SetTimeouts(deviceConnection.deviceHandle, 100, 100);

    measurementState.cycleState = Configure;
    measurementState.rangePhase = FirstSample;
    measurementState.ticksSinceConfig = 0;
}

void closeDevice() {
    // Unconditional: without a device this fails harmlessly on the null handle.
    deviceConnection.lastStatus = FT_Close(deviceConnection.deviceHandle);
    deviceConnection.deviceHandle = nullptr;
}
