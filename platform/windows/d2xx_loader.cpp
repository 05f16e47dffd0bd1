// The USB counter library, bound at run time: the program starts on any Windows,
// with or without the library's driver installed. Without the library (or with one
// that lacks a call) every call fails without writing anything, which the program
// sees as no device attached.
#include "platform/d2xx.h"

namespace {

constexpr FT_STATUS unavailableStatus = FT_DEVICE_NOT_FOUND;

using ListDevicesCall = FT_STATUS(WINAPI*)(PVOID, PVOID, DWORD);
using OpenExCall = FT_STATUS(WINAPI*)(PVOID, DWORD, FT_HANDLE*);
using SetCharsCall = FT_STATUS(WINAPI*)(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR);
using SetTimeoutsCall = FT_STATUS(WINAPI*)(FT_HANDLE, ULONG, ULONG);
using WriteCall = FT_STATUS(WINAPI*)(FT_HANDLE, LPVOID, DWORD, LPDWORD);
using GetStatusCall = FT_STATUS(WINAPI*)(FT_HANDLE, DWORD*, DWORD*, DWORD*);
using ReadCall = FT_STATUS(WINAPI*)(FT_HANDLE, LPVOID, DWORD, LPDWORD);
using CloseCall = FT_STATUS(WINAPI*)(FT_HANDLE);

struct LibraryCalls {
    bool loaded;
    ListDevicesCall listDevices;
    OpenExCall openEx;
    SetCharsCall setChars;
    SetTimeoutsCall setTimeouts;
    WriteCall write;
    GetStatusCall getStatus;
    ReadCall read;
    CloseCall close;
};

LibraryCalls library;

template <typename Call>
void bind(HMODULE module, const char* name, Call& call) {
    // GetProcAddress hands back a generic function pointer; the library's calls
    // have the signatures declared in d2xx.h.
    call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Loads the library on the first call only; a library that is missing then stays
// missing for the whole run: the driver is installed before the program is started,
// while a counter can be plugged in at any time (the library itself then lists it).
const LibraryCalls& calls() {
    if (!library.loaded) {
        library.loaded = true;
        HMODULE module = LoadLibraryA("FTD2XX.dll");
        if (module != nullptr) {
            bind(module, "FT_ListDevices", library.listDevices);
            bind(module, "FT_OpenEx", library.openEx);
            bind(module, "FT_SetChars", library.setChars);
            bind(module, "FT_SetTimeouts", library.setTimeouts);
            bind(module, "FT_Write", library.write);
            bind(module, "FT_GetStatus", library.getStatus);
            bind(module, "FT_Read", library.read);
            bind(module, "FT_Close", library.close);
        }
    }
    return library;
}

}  // namespace

extern "C" {

FT_STATUS WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    auto call = calls().listDevices;
    return call ? call(arg1, arg2, flags) : unavailableStatus;
}

FT_STATUS WINAPI FT_OpenEx(PVOID arg1, DWORD flags, FT_HANDLE* handle) {
    auto call = calls().openEx;
    return call ? call(arg1, flags, handle) : unavailableStatus;
}

FT_STATUS WINAPI FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled,
                             UCHAR errorChar, UCHAR errorCharEnabled) {
    auto call = calls().setChars;
    return call ? call(handle, eventChar, eventCharEnabled, errorChar, errorCharEnabled)
                : unavailableStatus;
}

FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs) {
    auto call = calls().setTimeouts;
    return call ? call(handle, readTimeoutMs, writeTimeoutMs) : unavailableStatus;
}

FT_STATUS WINAPI FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                          LPDWORD bytesWritten) {
    auto call = calls().write;
    return call ? call(handle, buffer, bytesToWrite, bytesWritten) : unavailableStatus;
}

FT_STATUS WINAPI FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventWord) {
    auto call = calls().getStatus;
    return call ? call(handle, rxBytes, txBytes, eventWord) : unavailableStatus;
}

FT_STATUS WINAPI FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesReturned) {
    auto call = calls().read;
    return call ? call(handle, buffer, bytesToRead, bytesReturned) : unavailableStatus;
}

FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    auto call = calls().close;
    return call ? call(handle) : unavailableStatus;
}

}  // extern "C"
