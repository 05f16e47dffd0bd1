#include "tests/support/fake_platform.h"

#include <iconv.h>

#include <cstdio>
#include <cstring>

#include "core/cycle.h"
#include "core/readout.h"
#include "device/connection.h"

namespace fake {

State state;

namespace {

struct FakeObject {
    int kind;
};
FakeObject deviceObject;
FakeObject contextObject;
FakeObject stockFontObject;
FakeObject fontObjects[4];
FakeObject windowObject;

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

HWND testWindow() {
    return reinterpret_cast<HWND>(&windowObject);
}

void reset() {
    state = State{};
    state.openHandle = &deviceObject;
    state.getStatusResult = FT_OK;
    state.openResult = FT_OK;
    state.serialNumbers = {"FAKE0001"};
    state.deviceCountAt = [](int) { return DWORD{1}; };
    state.serialStatusAt = [](int) { return FT_OK; };
    measurementState = MeasurementState{NoDevice, Measuring, 8000000, 1, 0, 0, 0, 0, 0};
    deviceConnection = DeviceConnection{nullptr, 0, FT_OK};
    mainWindow = testWindow();
}

void attachDevice() {
    state.deviceOpen = true;
    deviceConnection.deviceHandle = state.openHandle;
    measurementState.cycleState = Configure;
    measurementState.rangePhase = FirstSample;
    measurementState.ticksSinceConfig = 0;
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

std::string textAt(int x, int y) {
    for (auto it = state.drawn.rbegin(); it != state.drawn.rend(); ++it) {
        if (it->x == x && it->y == y) {
            return it->bytes;
        }
    }
    return "";
}

std::string utf8(const std::string& cp932) {
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return "<no CP932 converter>";
    }
    std::string input = cp932;
    std::string output(input.size() * 4 + 4, '\0');
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = output.data();
    size_t outLeft = output.size();
    const size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1)) {
        return "<invalid CP932>";
    }
    output.resize(output.size() - outLeft);
    return output;
}

}  // namespace fake

using fake::state;
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
    const std::string bytes(static_cast<const char*>(buffer), bytesToWrite);
    state.writes.push_back(bytes);
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

// Win32: timer and drawing

UINT_PTR SetTimer(HWND, UINT_PTR id, UINT elapseMs, TIMERPROC) {
    state.timers.push_back({true, id, elapseMs});
    return id;
}

BOOL KillTimer(HWND, UINT_PTR id) {
    state.timers.push_back({false, id, 0});
    return TRUE;
}

HDC GetDC(HWND window) {
    if (window != fake::testWindow()) {
        return nullptr;
    }
    ++state.contextsOpen;
    return reinterpret_cast<HDC>(&fake::contextObject);
}

int ReleaseDC(HWND, HDC context) {
    if (context == nullptr) {
        return 0;
    }
    --state.contextsOpen;
    return 1;
}

HFONT CreateFontA(int height, int width, int, int, int weight, DWORD, DWORD, DWORD, DWORD charSet,
                  DWORD, DWORD, DWORD, DWORD pitchAndFamily, LPCSTR faceName) {
    state.fontHeight = height;
    state.fontWidth = width;
    state.fontWeight = weight;
    state.fontCharSet = charSet;
    state.fontPitchAndFamily = pitchAndFamily;
    state.fontFace = faceName;
    ++state.fontsAlive;
    return reinterpret_cast<HFONT>(&fake::fontObjects[0]);
}

HGDIOBJ SelectObject(HDC, HGDIOBJ object) {
    const bool selectingOurs = object == static_cast<HGDIOBJ>(&fake::fontObjects[0]);
    const HGDIOBJ previous = state.fontSelected ? static_cast<HGDIOBJ>(&fake::fontObjects[0])
                                                : static_cast<HGDIOBJ>(&fake::stockFontObject);
    state.fontSelected = selectingOurs;
    return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    if (object == static_cast<HGDIOBJ>(&fake::fontObjects[0])) {
        --state.fontsAlive;
        return TRUE;
    }
    return FALSE;
}

COLORREF SetTextColor(HDC, COLORREF color) {
    state.textColor = color;
    return 0;
}

COLORREF SetBkColor(HDC, COLORREF color) {
    state.backgroundColor = color;
    return 0;
}

int SetBkMode(HDC, int mode) {
    state.backgroundMode = mode;
    return 0;
}

BOOL TextOutA(HDC context, int x, int y, LPCSTR text, int length) {
    if (context == nullptr || length < 0) {
        return FALSE;
    }
    state.drawn.push_back({x, y, std::string(text, static_cast<size_t>(length))});
    return TRUE;
}
