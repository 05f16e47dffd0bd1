// Finding, opening, setting up and closing the counter through the USB library.
#pragma once

#include <cstdint>

#include "platform/d2xx.h"

struct DeviceConnection {
    FT_HANDLE deviceHandle;
    DWORD deviceCount;
    FT_STATUS lastStatus;
};

extern DeviceConnection deviceConnection;

constexpr int deviceCountAttempts = 20001;
constexpr int serialNumberAttempts = 5001;

void openFirstDevice();
void closeDevice();
