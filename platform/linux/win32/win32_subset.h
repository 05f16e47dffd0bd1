// The few Win32 names the program uses, declared for Linux. Only what the program
// calls is here; the behaviour lives in platform/linux/win32/win32.cpp and its fronts.
#pragma once

#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef int INT;
typedef unsigned char BYTE;
typedef unsigned char UCHAR;
typedef uint16_t WORD;
typedef uint16_t ATOM;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t COLORREF;
typedef void* PVOID;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef char* LPSTR;
typedef const char* LPCSTR;
// UTF-16 code units, as on Windows.
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef uintptr_t UINT_PTR;
typedef void* HANDLE;
typedef void* HGDIOBJ;

// Distinct handle types, so that mixing them up does not compile.
struct PmWindow;
struct PmInstance;
struct PmMenu;
struct PmDeviceContext;
struct PmFont;
struct PmBrush;
struct PmCursor;
struct PmIcon;
typedef PmWindow* HWND;
typedef PmInstance* HINSTANCE;
typedef PmMenu* HMENU;
typedef PmDeviceContext* HDC;
typedef PmFont* HFONT;
typedef PmBrush* HBRUSH;
typedef PmCursor* HCURSOR;
typedef PmIcon* HICON;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
};

#define MAKEINTRESOURCEA(id) \
    (reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<WORD>(id))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<uintptr_t>(p) >> 16) == 0)
#define LOWORD(v) (static_cast<WORD>(static_cast<uintptr_t>(v) & 0xFFFF))
#define HIWORD(v) (static_cast<WORD>((static_cast<uintptr_t>(v) >> 16) & 0xFFFF))
#define RGB(r, g, b)                                                         \
    (static_cast<COLORREF>((static_cast<BYTE>(r)) |                          \
                           (static_cast<DWORD>(static_cast<BYTE>(g)) << 8) | \
                           (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))

#define IDC_ARROW MAKEINTRESOURCEA(32512)

// Messages
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_KEYDOWN 0x0100
#define WM_CHAR 0x0102
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113

// Class and window styles
#define CS_DBLCLKS 0x0008
#define WS_OVERLAPPED 0x00000000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define CW_USEDEFAULT (static_cast<int>(0x80000000u))

// ShowWindow
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_SHOWDEFAULT 10

// Stock objects
#define WHITE_BRUSH 0

// Background modes
#define TRANSPARENT 1
#define OPAQUE 2

// Font request
#define FW_NORMAL 400
#define SHIFTJIS_CHARSET 128
#define OUT_DEFAULT_PRECIS 0
#define CLIP_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY 0
#define DEFAULT_PITCH 0
#define FF_MODERN 0x30

ATOM RegisterClassA(const WNDCLASSA* windowClass);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR cursorName);
HGDIOBJ GetStockObject(int object);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL ShowWindow(HWND window, int showCommand);
BOOL UpdateWindow(HWND window);
// The subset keeps no update region: any invalidation is of the whole client area, which
// the next BeginPaint erases to the class's white brush whatever `erase` says.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL DestroyWindow(HWND window);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC callback);
BOOL KillTimer(HWND window, UINT_PTR id);
BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// WM_SETTEXT takes the text as UTF-16; every other message as DefWindowProcA.
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The ANSI code page: 932 here, as the program's texts are.
UINT GetACP();
#define CP_ACP 0
#define MB_ERR_INVALID_CHARS 0x00000008
// Code page 932 (or CP_ACP) only; any other fails with 0.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wideLength);
void PostQuitMessage(int exitCode);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC context);
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCSTR faceName);
HGDIOBJ SelectObject(HDC context, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
COLORREF SetTextColor(HDC context, COLORREF color);
COLORREF SetBkColor(HDC context, COLORREF color);
int SetBkMode(HDC context, int mode);
BOOL TextOutA(HDC context, int x, int y, LPCSTR text, int length);

// The program's entry point, called by the Linux launchers' main().
int WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);

// The program's resources as a resource script gives them on Windows: here the program
// defines them as data (app/resources_linux.cpp), and the subset looks a menu up by the
// integer id a window class names. Texts are code page 932.
struct PmMenuItemResource {
    const char* text;
    WORD command;
};
// A menu bar with one popup of items.
struct PmMenuResource {
    WORD id;
    const char* popupText;
    const PmMenuItemResource* items;
    int itemCount;
};
extern const PmMenuResource pmMenuResources[];
extern const int pmMenuResourceCount;
