// A Win32 stand-in for the calls the measurement cycle and the readout make, each doing
// nothing and succeeding: linked instead of the Linux subset, it gives the floor of a
// measurement, the cycle and the counter's answers with drawing that costs nothing.
#include "platform/win32.h"

namespace {

// Any distinct non-null values: the program only hands them back.
char contextObject;
char fontObject;

}  // namespace

UINT_PTR SetTimer(HWND, UINT_PTR id, UINT, TIMERPROC) {
    return id;
}

BOOL KillTimer(HWND, UINT_PTR) {
    return TRUE;
}

HDC GetDC(HWND) {
    return reinterpret_cast<HDC>(&contextObject);
}

int ReleaseDC(HWND, HDC) {
    return 1;
}

HFONT CreateFontA(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                  LPCSTR) {
    return reinterpret_cast<HFONT>(&fontObject);
}

HGDIOBJ SelectObject(HDC, HGDIOBJ) {
    return nullptr;
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

BOOL TextOutA(HDC, int, int, LPCSTR, int) {
    return TRUE;
}

BOOL InvalidateRect(HWND, const RECT*, BOOL) {
    return TRUE;
}

BOOL UpdateWindow(HWND) {
    return TRUE;
}
