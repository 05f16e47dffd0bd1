// A stand-in for the counter's library that counts and records every call, with a
// script saying what the "attached" devices do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/d2xx.h"

namespace counting_d2xx {

struct Script {
    DWORD deviceCount = 0;
    // Devices show up from this counting call on (1 = the first); 0: from the start.
    int appearAtCountCall = 0;
    // Serial numbers of devices 0, 1, …; longer strings are cut to the caller's buffer.
    std::vector<std::string> serials;
    // The first this many serial-number calls fail.
    int serialFailures = 0;
    FT_STATUS openStatus = FT_OK;
};

struct SetCharsCall {
    FT_HANDLE handle;
    UCHAR eventChar, eventCharEnabled, errorChar, errorCharEnabled;
};

struct SetTimeoutsCall {
    FT_HANDLE handle;
    ULONG readTimeoutMs, writeTimeoutMs;
};

struct Record {
    int countCalls = 0;
    int serialCalls = 0;
    std::vector<std::string> openedSerials;
    std::vector<DWORD> openFlags;
    std::vector<SetCharsCall> setChars;
    std::vector<SetTimeoutsCall> setTimeouts;
    std::vector<FT_HANDLE> closed;
    // Calls other than the above (writes, status queries, reads) on any handle.
    int otherCalls = 0;
};

// The handle a successful open hands out.
inline FT_HANDLE const openedHandle = reinterpret_cast<FT_HANDLE>(static_cast<uintptr_t>(0x5ee1));

void reset(const Script& script);
const Record& record();

}  // namespace counting_d2xx
