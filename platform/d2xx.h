// Our declarations of the USB counter library calls the program makes. On Windows
// they are bound at run time to FTD2XX.dll (platform/windows); on Linux they are
// served by the tty backend (platform/linux/tty) or by the simulator (sim/).
#pragma once

#include "platform/win32.h"

typedef void* FT_HANDLE;
typedef ULONG FT_STATUS;

// Status values the program and the stand-ins use.
constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;
constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;
constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
constexpr FT_STATUS FT_OTHER_ERROR = 18;

// FT_ListDevices and FT_OpenEx flags.
constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr DWORD FT_LIST_BY_INDEX = 0x40000000;
constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000;

// Room for a serial-number string with its terminating zero; the library
// documents its strings as shorter than this.
constexpr int d2xxSerialNumberSize = 64;

extern "C" {
FT_STATUS WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags);
FT_STATUS WINAPI FT_OpenEx(PVOID arg1, DWORD flags, FT_HANDLE* handle);
FT_STATUS WINAPI FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled,
                             UCHAR errorChar, UCHAR errorCharEnabled);
FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs);
FT_STATUS WINAPI FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                          LPDWORD bytesWritten);
FT_STATUS WINAPI FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes,
                              DWORD* eventWord);
FT_STATUS WINAPI FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesReturned);
FT_STATUS WINAPI FT_Close(FT_HANDLE handle);
}
