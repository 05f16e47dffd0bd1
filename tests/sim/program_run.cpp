#include "tests/sim/program_run.h"

#include <algorithm>

#include "core/cycle.h"
#include "device/connection.h"

namespace {

// The records as they stand before the program's first message (both are constant
// initialised, so these copies see their initial values).
const MeasurementState initialState = measurementState;
const DeviceConnection initialConnection = deviceConnection;

std::vector<DrawnText> texts;
uint64_t nextStep = 0;

// Distinct, never dereferenced handle values.
template <typename Handle>
Handle fake(uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}

}  // namespace

namespace program_run {

void start(const sim::Scenario& scenario) {
    sim::setVirtualMicros(0);
    sim::simConfigure(scenario, sim::virtualClock());
    texts.clear();
    nextStep = 0;
    measurementState = initialState;
    deviceConnection = initialConnection;
    openFirstDevice();
}

void runUntil(uint64_t micros) {
    const uint64_t tick = uint64_t{cycleTickMs} * 1000;
    for (; nextStep <= micros; nextStep += tick) {
        sim::setVirtualMicros(std::max(nextStep, sim::virtualClock().nowMicros()));
        runCycleStep(window());
    }
}

HWND window() {
    return fake<HWND>(0x1000);
}

const std::vector<DrawnText>& drawn() {
    return texts;
}

std::string lastAt(int x, int y) {
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
        if (it->x == x && it->y == y) {
            return it->text;
        }
    }
    return "";
}

}  // namespace program_run

// Timer 1 only paces the steps, which runUntil makes itself.
UINT_PTR SetTimer(HWND, UINT_PTR id, UINT, TIMERPROC) {
    return id;
}
BOOL KillTimer(HWND, UINT_PTR) {
    return TRUE;
}

HDC GetDC(HWND) {
    return fake<HDC>(0x100);
}
int ReleaseDC(HWND, HDC) {
    return 1;
}
HFONT CreateFontA(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                  LPCSTR) {
    return fake<HFONT>(0x200);
}
HGDIOBJ SelectObject(HDC, HGDIOBJ) {
    return fake<HGDIOBJ>(0x300);
}
BOOL DeleteObject(HGDIOBJ) {
    return TRUE;
}
COLORREF SetTextColor(HDC, COLORREF) {
    return 0;
}
COLORREF SetBkColor(HDC, COLORREF) {
    return 0;
}
int SetBkMode(HDC, int) {
    return 1;
}

BOOL TextOutA(HDC, int x, int y, LPCSTR text, int length) {
    texts.push_back({x, y, std::string(text, static_cast<size_t>(length))});
    return TRUE;
}
