// The program's entry point and its only window.
#pragma once

#include "platform/win32.h"

constexpr int mainWindowWidth = 500;
constexpr int mainWindowHeight = 400;
constexpr UINT startTimerMs = 100;

// "WIN32CLASS"
extern const char mainClassName[];
// "ＴＯＲＶ パルス周期計測プログラム", Shift-JIS
extern const char mainWindowTitle[];

ATOM registerMainClass(HINSTANCE instance);
int createMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
