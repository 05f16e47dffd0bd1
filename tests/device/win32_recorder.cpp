// Only the timer and drawing calls: the cycle and the readout make no others.
#include "tests/device/win32_recorder.h"

#include <cstdint>

namespace win32_recorder {
namespace {

std::vector<DrawnText> texts;

// Distinct, never dereferenced handle values.
template <typename Handle>
Handle fakeHandle(uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}

}  // namespace

void reset() {
    texts.clear();
}

const std::vector<DrawnText>& drawn() {
    return texts;
}

}  // namespace win32_recorder

using namespace win32_recorder;

// The test paces the steps itself, as timer 1 would.
UINT_PTR SetTimer(HWND, UINT_PTR id, UINT, TIMERPROC) {
    return id;
}
BOOL KillTimer(HWND, UINT_PTR) {
    return TRUE;
}
HDC GetDC(HWND) {
    return fakeHandle<HDC>(0x30);
}
int ReleaseDC(HWND, HDC) {
    return 1;
}
HFONT CreateFontA(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                  LPCSTR) {
    return fakeHandle<HFONT>(0x40);
}
HGDIOBJ SelectObject(HDC, HGDIOBJ) {
    return fakeHandle<HGDIOBJ>(0x50);
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
    return OPAQUE;
}
BOOL TextOutA(HDC, int x, int y, LPCSTR text, int length) {
    texts.push_back({x, y, std::string(text, static_cast<size_t>(length))});
    return TRUE;
}
