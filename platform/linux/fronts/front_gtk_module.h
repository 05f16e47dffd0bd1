// Where the GTK front's own library (front_gtk.cpp, built as a loadable module) meets
// the programs that load it (front_gtk_module.cpp): two functions, looked up by name.
// The module calls back into the program for everything else (postInput, sendClose,
// nowMicros, the code-page-932 conversions), so the window machinery's state exists
// once, in the program.
#pragma once

#include <string>

#include "platform/linux/fronts/fronts.h"

#define PULSEMETER_GTK_EXPORT __attribute__((visibility("default")))

extern "C" {

// Whether GTK initialises on the display the environment names; on false, `why` says
// why not. The loader has already checked that a display is named.
PULSEMETER_GTK_EXPORT bool pulsemeter_gtk_available(int* argc, char*** argv, std::string* why);

// A new GTK front; the caller owns it.
PULSEMETER_GTK_EXPORT platform::detail::Front* pulsemeter_gtk_front_make(
    const platform::FrontConfig* config);
}
