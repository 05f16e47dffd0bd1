#include "tests/device/win32_recorder.h"

#include <cstdint>

namespace win32_recorder {
namespace {

std::vector<DrawnText> texts;
UINT timerMs = 0;

template <typename Handle>
Handle fakeHandle(uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}

}  // namespace

void reset() {
    texts.clear();
    timerMs = 0;
}

const std::vector<DrawnText>& drawn() {
    return texts;
}

UINT timerPeriodMs() {
    return timerMs;
}

}  // namespace win32_recorder

using namespace win32_recorder;

ATOM RegisterClassA(const WNDCLASSA*) {
    return 1;
}
HCURSOR LoadCursorA(HINSTANCE, LPCSTR) {
    return fakeHandle<HCURSOR>(0x10);
}
HGDIOBJ GetStockObject(int) {
    return fakeHandle<HGDIOBJ>(0x20);
}
HWND CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE,
                     LPVOID) {
    return nullptr;
}
BOOL ShowWindow(HWND, int) {
    return FALSE;
}
BOOL UpdateWindow(HWND) {
    return TRUE;
}
BOOL DestroyWindow(HWND) {
    return TRUE;
}
UINT_PTR SetTimer(HWND, UINT_PTR id, UINT elapseMs, TIMERPROC) {
    timerMs = elapseMs;
    return id;
}
BOOL KillTimer(HWND, UINT_PTR) {
    timerMs = 0;
    return TRUE;
}
BOOL GetMessageA(MSG*, HWND, UINT, UINT) {
    return FALSE;
}
BOOL TranslateMessage(const MSG*) {
    return FALSE;
}
LRESULT DispatchMessageA(const MSG*) {
    return 0;
}
LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}
void PostQuitMessage(int) {}
BOOL PostMessageA(HWND, UINT, WPARAM, LPARAM) {
    return TRUE;
}
HDC BeginPaint(HWND, PAINTSTRUCT*) {
    return fakeHandle<HDC>(0x30);
}
BOOL EndPaint(HWND, const PAINTSTRUCT*) {
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
