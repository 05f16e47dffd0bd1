#include <cstdio>
#include <cstring>

#include "core/cycle.h"
#include "device/connection.h"
#include "testing/fake_platform.h"

namespace fake {

namespace {

std::string field(uint32_t value) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(value & 0xFFFFu));
    return digits;
}

std::string answer(const char* name, const std::string& digits) {
    return std::string(name) + "=" + digits + "\r";
}

}  // namespace

bool validHandle(FT_HANDLE handle) {
    return state.deviceOpen && handle != nullptr && handle == state.openHandle;
}

void attachDevice() {
    state.deviceOpen = true;
    deviceConnection.deviceHandle = state.openHandle;
    startMeasuring();
}

std::string frameFields(const char* register0, const char* register1, const char* register2,
                        const char* register3, const char* register6, const char* register7) {
    return answer("M00", register0) + answer("M01", register1) + answer("M02", register2) +
           answer("M03", register3) + answer("M06", register6) + answer("M07", register7);
}

std::string frame(const FrameValues& values) {
    return frameFields(field(values.liveCount).c_str(), field(values.liveCount >> 16).c_str(),
                       field(values.rangeCount).c_str(), field(values.rangeCount >> 16).c_str(),
                       field(values.periodCount).c_str(), field(values.periodCount >> 16).c_str());
}

void answerWith(std::function<FrameValues()> next) {
    state.onQueries = [next]() { state.pending += frame(next()); };
}

}  // namespace fake

// The counter library calls see only their own part of the record.
namespace {
fake::D2xxState& state = fake::state;
}  // namespace
using fake::validHandle;

// Counter library

FT_STATUS WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    if (flags == FT_LIST_NUMBER_ONLY) {
        ++state.countCalls;
        if (arg1 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        *static_cast<DWORD*>(arg1) = state.deviceCountAt(state.countCalls);
        return FT_OK;
    }
    if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
        ++state.serialCalls;
        const FT_STATUS status = state.serialStatusAt(state.serialCalls);
        const size_t index = reinterpret_cast<uintptr_t>(arg1);
        if (status != FT_OK) {
            return status;
        }
        if (index >= state.serialNumbers.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        // Cut to the caller's buffer, as a stand-in must: never more than it holds.
        const std::string serial = state.serialNumbers[index].substr(0, d2xxSerialNumberSize - 1);
        std::memcpy(arg2, serial.c_str(), serial.size() + 1);
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

FT_STATUS WINAPI FT_OpenEx(PVOID arg1, DWORD flags, FT_HANDLE* handle) {
    state.calls.push_back("FT_OpenEx " + std::string(static_cast<const char*>(arg1)) + " " +
                          std::to_string(flags));
    if (state.openResult != FT_OK) {
        return state.openResult;
    }
    state.openedSerial = static_cast<const char*>(arg1);
    state.deviceOpen = true;
    *handle = state.openHandle;
    return FT_OK;
}

FT_STATUS WINAPI FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled,
                             UCHAR errorChar, UCHAR errorCharEnabled) {
    state.calls.push_back("FT_SetChars " + std::to_string(eventChar) + " " +
                          std::to_string(eventCharEnabled) + " " + std::to_string(errorChar) + " " +
                          std::to_string(errorCharEnabled));
    return validHandle(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs) {
    state.calls.push_back("FT_SetTimeouts " + std::to_string(readTimeoutMs) + " " +
                          std::to_string(writeTimeoutMs));
    return validHandle(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS WINAPI FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                          LPDWORD bytesWritten) {
    if (!validHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if (state.writesStall) {
        ++state.stalledWrites;
        *bytesWritten = 0;
        return FT_OK;
    }
    const std::string bytes(static_cast<const char*>(buffer), bytesToWrite);
    state.writes.push_back(bytes);
    if (state.writeResult != FT_OK) {
        *bytesWritten = 0;
        return state.writeResult;
    }
    *bytesWritten = bytesToWrite;
    if (bytes.size() == 4 && bytes.compare(0, 2, "M0") == 0) {
        if (++state.queriesSinceAnswer == 6) {
            state.queriesSinceAnswer = 0;
            if (state.onQueries) {
                state.onQueries();
            }
        }
    }
    return FT_OK;
}

FT_STATUS WINAPI FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventWord) {
    if (!validHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if (state.getStatusResult != FT_OK) {
        // A failing call that scribbles on its arguments must still read as nothing.
        *rxBytes = 999;
        return state.getStatusResult;
    }
    *rxBytes = static_cast<DWORD>(state.pending.size());
    *txBytes = 0;
    *eventWord = 0;
    return FT_OK;
}

FT_STATUS WINAPI FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesReturned) {
    if (!validHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    state.readRequests.push_back(bytesToRead);
    if (state.readResult != FT_OK) {
        *bytesReturned = 0;
        return state.readResult;
    }
    DWORD count =
        bytesToRead < state.pending.size() ? bytesToRead : static_cast<DWORD>(state.pending.size());
    if (state.readDeliversShort && count > 0) {
        count -= 1;
    }
    std::memcpy(buffer, state.pending.data(), count);
    state.pending.erase(0, count);
    *bytesReturned = count;
    return FT_OK;
}

FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    ++state.closeCalls;
    state.closedHandle = handle;
    if (!validHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    state.deviceOpen = false;
    return FT_OK;
}
