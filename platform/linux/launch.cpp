#include "platform/linux/launch.h"

#include <cstdio>

namespace platform {

FrontKind chooseFront(bool wantGtk, int* argc, char*** argv, const char* program) {
    if (!wantGtk) {
        return FrontKind::Headless;
    }
    std::string why;
    if (gtkAvailable(argc, argv, &why)) {
        return FrontKind::Gtk;
    }
    std::fprintf(stderr, "%s: %s; showing the readout in the terminal instead\n", program,
                 why.c_str());
    return FrontKind::Headless;
}

int runWinMain() {
    // Any non-null value: the program only hands it back to the platform.
    static char module;
    char commandLine[] = "";
    return WinMain(reinterpret_cast<HINSTANCE>(&module), nullptr, commandLine, SW_SHOWDEFAULT);
}

std::string formatMillis(uint64_t micros) {
    return std::to_string(micros / 1000) + "." + std::to_string(1000 + micros % 1000).substr(1);
}

}  // namespace platform
