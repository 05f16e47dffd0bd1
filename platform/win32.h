// The Win32 calls the program makes, reached through one header: on Windows the
// system's own, on Linux our own declarations of the same names (platform/linux).
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "platform/linux/win32/win32_subset.h"
#endif
