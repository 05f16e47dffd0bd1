#include "tests/sim/win32_double.h"

#include "platform/win32.h"

namespace {

std::vector<DrawnText> texts;
bool timer = false;

// Distinct, never dereferenced handle values.
template <typename Handle>
Handle fake(uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}

}  // namespace

namespace win32_double {

void reset() {
    texts.clear();
    timer = false;
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

bool timerRunning() {
    return timer;
}

}  // namespace win32_double

UINT_PTR SetTimer(HWND, UINT_PTR id, UINT, TIMERPROC) {
    timer = true;
    return id;
}

BOOL KillTimer(HWND, UINT_PTR) {
    timer = false;
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
