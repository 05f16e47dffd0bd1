#include <iconv.h>

#include <cstdio>
#include <cstring>

#include "core/cycle.h"
#include "core/readout.h"
#include "device/connection.h"
#include "tests/support/fake_platform.h"

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

}  // namespace

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
    measurementState =
        MeasurementState{NoDevice, Measuring, 8000000, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    deviceConnection = DeviceConnection{nullptr, 0, FT_OK};
    openedSerialNumber[0] = '\0';
    mainWindow = testWindow();
}

std::string textAt(int x, int y) {
    for (size_t i = state.drawn.size(); i > state.erasedBefore; --i) {
        const Drawn& text = state.drawn[i - 1];
        if (text.x == x && text.y == y) {
            return text.bytes;
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

// Win32: timer and drawing

UINT_PTR SetTimer(HWND, UINT_PTR id, UINT elapseMs, TIMERPROC) {
    state.timers.push_back({true, id, elapseMs});
    return id;
}

BOOL KillTimer(HWND, UINT_PTR id) {
    state.timers.push_back({false, id, 0});
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
    if (window != fake::testWindow()) {
        return FALSE;
    }
    state.invalidated = true;
    return TRUE;
}

// The window's paint erases it to the class brush and draws nothing.
BOOL UpdateWindow(HWND window) {
    if (window != fake::testWindow()) {
        return FALSE;
    }
    if (state.invalidated) {
        state.invalidated = false;
        state.erasedBefore = state.drawn.size();
        ++state.erasures;
    }
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
