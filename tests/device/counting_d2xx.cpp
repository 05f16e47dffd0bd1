#include "tests/device/counting_d2xx.h"

#include <algorithm>
#include <cstring>

namespace counting_d2xx {
namespace {

Script script;
Record calls;
bool isOpen = false;

bool devicesPresent() {
    return script.appearAtCountCall == 0 || calls.countCalls >= script.appearAtCountCall;
}

bool knownHandle(FT_HANDLE handle) {
    return isOpen && handle == openedHandle;
}

}  // namespace

void reset(const Script& newScript) {
    script = newScript;
    calls = Record{};
    isOpen = false;
}

const Record& record() {
    return calls;
}

}  // namespace counting_d2xx

using namespace counting_d2xx;

extern "C" {

FT_STATUS WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    if (flags == FT_LIST_NUMBER_ONLY) {
        ++calls.countCalls;
        *static_cast<DWORD*>(arg1) = devicesPresent() ? script.deviceCount : 0;
        return FT_OK;
    }
    if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
        ++calls.serialCalls;
        if (calls.serialCalls <= script.serialFailures) {
            return FT_OTHER_ERROR;
        }
        uintptr_t index = reinterpret_cast<uintptr_t>(arg1);
        if (index >= script.deviceCount || index >= script.serials.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        const std::string& serial = script.serials[index];
        size_t length = std::min(serial.size(), static_cast<size_t>(d2xxSerialNumberSize - 1));
        std::memcpy(arg2, serial.data(), length);
        static_cast<char*>(arg2)[length] = '\0';
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

FT_STATUS WINAPI FT_OpenEx(PVOID arg1, DWORD flags, FT_HANDLE* handle) {
    calls.openedSerials.emplace_back(static_cast<const char*>(arg1));
    calls.openFlags.push_back(flags);
    if (script.openStatus != FT_OK) {
        return script.openStatus;
    }
    isOpen = true;
    *handle = openedHandle;
    return FT_OK;
}

FT_STATUS WINAPI FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled,
                             UCHAR errorChar, UCHAR errorCharEnabled) {
    calls.setChars.push_back({handle, eventChar, eventCharEnabled, errorChar, errorCharEnabled});
    return knownHandle(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs) {
    calls.setTimeouts.push_back({handle, readTimeoutMs, writeTimeoutMs});
    return knownHandle(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS WINAPI FT_Write(FT_HANDLE handle, LPVOID, DWORD, LPDWORD written) {
    ++calls.otherCalls;
    *written = 0;
    return knownHandle(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS WINAPI FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventWord) {
    ++calls.otherCalls;
    *rxBytes = 0;
    *txBytes = 0;
    *eventWord = 0;
    return knownHandle(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS WINAPI FT_Read(FT_HANDLE handle, LPVOID, DWORD, LPDWORD got) {
    ++calls.otherCalls;
    *got = 0;
    return knownHandle(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    calls.closed.push_back(handle);
    if (!knownHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    isOpen = false;
    return FT_OK;
}

}  // extern "C"
