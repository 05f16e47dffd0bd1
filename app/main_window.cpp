#include "app/main_window.h"

#include <cstddef>
#include <cstring>

#include "app/measurement.h"
#include "app/menu.h"
#include "core/cycle.h"
#include "core/readout.h"
#include "device/connection.h"

const char mainClassName[] = "WIN32CLASS";
// "ＴＯＲＶ パルス周期計測プログラム"
const char mainWindowTitle[] =
    "\x82\x73\x82\x6e\x82\x71\x82\x75 \x83\x70\x83\x8b\x83\x58\x8e\xfc\x8a\xfa\x8c\x76\x91\xaa"
    "\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80";

namespace {

constexpr UINT titleCodePage = 932;

// The title is code page 932 bytes, which a Windows whose ANSI code page is another
// reads as its own: the caption would be garbled. There it is handed over converted,
// as Unicode, through DefWindowProcW, which keeps it as given (a WM_SETTEXT sent to
// this ANSI window would pass through the ANSI code page again).
void showTitleOnAnyCodePage(HWND window) {
    if (GetACP() == titleCodePage) {
        return;
    }
    WCHAR title[sizeof mainWindowTitle];
    if (MultiByteToWideChar(titleCodePage, MB_ERR_INVALID_CHARS, mainWindowTitle, -1, title,
                            static_cast<int>(sizeof mainWindowTitle)) > 0) {
        DefWindowProcW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title));
    }
}

// The serial number after "--serial" on the command line, copied into `serialNumber`
// (empty when there is none). Words are separated by spaces; the launcher has checked
// the options before.
void readWantedSerialNumber(const char* commandLine, char* serialNumber, size_t size) {
    serialNumber[0] = '\0';
    const char option[] = "--serial";
    const size_t optionLength = sizeof option - 1;
    const char* word = commandLine;
    while (word != nullptr && *word != '\0') {
        while (*word == ' ') {
            ++word;
        }
        const char* end = word;
        while (*end != '\0' && *end != ' ') {
            ++end;
        }
        if (static_cast<size_t>(end - word) == optionLength &&
            std::memcmp(word, option, optionLength) == 0) {
            const char* value = end;
            while (*value == ' ') {
                ++value;
            }
            size_t length = 0;
            while (value[length] != '\0' && value[length] != ' ' && length + 1 < size) {
                serialNumber[length] = value[length];
                ++length;
            }
            serialNumber[length] = '\0';
            return;
        }
        word = end;
    }
}

}  // namespace

ATOM registerMainClass(HINSTANCE instance) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(PM_MENU_RESOURCE);
    windowClass.lpszClassName = mainClassName;
    return RegisterClassA(&windowClass);
}

int createMainWindow(HINSTANCE instance, int showCommand) {
    // The device search runs inside this call, while the window handles WM_CREATE.
    HWND window = CreateWindowExA(0, mainClassName, mainWindowTitle, WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, mainWindowWidth, mainWindowHeight,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 0;
    }
    showTitleOnAnyCodePage(window);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    SetTimer(window, cycleTimerId, startTimerMs, nullptr);
    // With no counter yet, the program looks for one to be plugged in.
    watchIfNoDevice(window);
    return 1;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            searchAtStart();
            break;
        case WM_DESTROY:
            KillTimer(window, cycleTimerId);
            closeDevice();
            PostQuitMessage(0);
            break;
        case WM_PAINT: {
            // Nothing is remembered to repaint: the cycle draws the lines again.
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            break;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == PM_COMMAND_EXIT) {
                DestroyWindow(window);
            }
            break;
        case WM_CHAR:
            applyRangeCommand(wParam);
            runMeasurementStepAfterKey(window);
            break;
        case WM_TIMER:
            if (wParam == watchTimerId) {
                lookForDevice(window);
            } else {
                runMeasurementStep(window);
            }
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand) {
    // Every run starts from the same records, so that a second run in one process (as
    // the tests make) behaves as the first.
    resetMeasurementState();
    char wanted[d2xxSerialNumberSize];
    readWantedSerialNumber(commandLine, wanted, sizeof wanted);
    resetDeviceConnection(wanted);
    if (previousInstance == nullptr && registerMainClass(instance) == 0) {
        return 0;
    }
    if (createMainWindow(instance, showCommand) == 0) {
        return 0;
    }
    MSG message = {};
    // -1 is an error, not a message: looping on it would spin for ever.
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
