// What the two Linux programs share around the program's WinMain.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/run/run.h"

namespace platform {

// The GTK front when it is wanted and a display works; otherwise the headless front,
// after saying on standard error why there is no window.
FrontKind chooseFront(bool wantGtk, int* argc, char*** argv, const char* program);

// Calls the program's WinMain as Windows starts a program: an instance, no previous
// instance, the command line (empty by default), the default show command.
int runWinMain(const std::string& commandLine = "");

// The status a run ends with: `status`, unless standard output could not be written
// (a full disk, a reader gone away), which makes it 1. The reason goes to standard
// error, except for a closed pipe, whose reader has all it wanted.
int finishRun(int status, const char* program);

}  // namespace platform
