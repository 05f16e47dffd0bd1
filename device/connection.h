// Finding, opening, setting up and closing the counter through the USB library; and,
// whenever no counter is open, watching for one to be plugged in. What is done with an
// opened counter is the caller's: these functions say whether they opened one.
#pragma once

#include <cstdint>

#include "platform/d2xx.h"
#include "platform/win32.h"

struct DeviceConnection {
    FT_HANDLE deviceHandle;
    DWORD deviceCount;
    FT_STATUS lastStatus;
};

extern DeviceConnection deviceConnection;

// The serial number of the counter last opened, kept after it is lost so that the
// watch takes that counter back when it returns; empty until one was opened.
extern char openedSerialNumber[d2xxSerialNumberSize];
// The counter asked for on the command line; empty: the first one found.
extern char wantedSerialNumber[d2xxSerialNumberSize];

constexpr int deviceCountAttempts = 20001;
constexpr int serialNumberAttempts = 5001;

// The window's own timer for the watch; timer 1 belongs to the measurement cycle.
constexpr UINT_PTR watchTimerId = 2;
constexpr UINT watchPeriodMs = 1000;
// The watch reads the serial numbers of at most this many listed devices per look.
constexpr DWORD watchedDevicesMax = 16;

// The records as at the start of the program: no counter, none opened before. With a
// serial number (not null, not empty), only the counter of that serial number is ever
// opened, at start and by the watch; while it is not attached the program waits for it.
void resetDeviceConnection(const char* wantedSerialNumber = nullptr);
// The search at start; true when a counter was opened and set up.
bool openFirstDevice();
void closeDevice();

// Starts the watch when no counter is open.
void watchIfNoDevice(HWND window);
// One look of the watch (its timer's tick): one listing call while nothing is attached;
// when a counter is there, it is opened and set up as at start, the watch stops and
// the result is true.
bool watchForDevice(HWND window);
// The open counter has gone: its handle is closed and the watch starts.
void dropLostDevice(HWND window);
