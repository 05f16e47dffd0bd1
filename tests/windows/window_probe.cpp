// Looks at the running program's main window from another process, through the
// Win32 calls themselves: what X shows of a Wine window (its class is named after the
// process) cannot tell the window class or the Unicode title apart.
// Prints one line per check; exits 0 when all pass, 1 when one fails, 2 when no
// window of the class exists. (Wine keeps a menu to its own process, so the menu is
// checked in the executable's resources and by choosing its item instead.)
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

int failures = 0;

void check(bool passed, const char* what) {
    std::printf("%s - %s\n", passed ? "ok  " : "FAIL", what);
    if (!passed) {
        ++failures;
    }
}

}  // namespace

int main() {
    HWND window = FindWindowA("WIN32CLASS", nullptr);
    if (window == nullptr) {
        std::printf("FAIL - no window of class WIN32CLASS\n");
        return 2;
    }
    check(true, "a window of class WIN32CLASS");

    RECT rect = {};
    GetWindowRect(window, &rect);
    std::printf("       window rectangle %ldx%ld\n", rect.right - rect.left,
                rect.bottom - rect.top);
    check(rect.right - rect.left == 500 && rect.bottom - rect.top == 400, "its size is 500 x 400");

    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    check(std::wcscmp(title, L"ＴＯＲＶ パルス周期計測プログラム") == 0,
          "its title, read as Unicode, is the Japanese title");

    const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    check((style & WS_OVERLAPPEDWINDOW) == WS_OVERLAPPEDWINDOW, "it is an overlapped window");
    check(GetClassLongPtrA(window, GCL_STYLE) == CS_DBLCLKS, "its class style is CS_DBLCLKS");
    check(GetClassLongPtrA(window, GCLP_HICON) == 0, "its class has no icon of its own");

    return failures == 0 ? 0 : 1;
}
