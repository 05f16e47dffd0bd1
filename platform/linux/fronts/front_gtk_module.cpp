// The GTK front, loaded when it is first asked for. Linked into the programs, GTK's
// libraries would be mapped and relocated at every start, headless or not, which alone
// is several times the memory the headless program needs. The module is looked for
// next to the program (the build tree), then where the package installs it.
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/linux/fronts/front_gtk_module.h"

namespace platform::detail {

namespace {

struct GtkModule {
    decltype(&pulsemeter_gtk_available) available = nullptr;
    decltype(&pulsemeter_gtk_front_make) make = nullptr;
    std::string error;  // why the module is not there, when it is not
};

// What the dynamic loader said about its last failure.
std::string loaderError() {
    const char* error = dlerror();
    return error != nullptr ? error : "no reason given";
}

GtkModule load() {
    GtkModule module;
    std::error_code failed;
    std::filesystem::path programFolder =
        std::filesystem::read_symlink("/proc/self/exe", failed).parent_path();
    if (failed) {
        module.error = "cannot find the GTK front module " PULSEMETER_GTK_FRONT_MODULE
                       ": the program's own folder is unknown (" +
                       failed.message() + ")";
        return module;
    }
    std::string errors;
    for (const std::filesystem::path& folder :
         {programFolder, (programFolder / PULSEMETER_GTK_FRONT_INSTALLED).lexically_normal()}) {
        // Never closed: GTK cannot be unloaded once it has run.
        void* handle =
            dlopen((folder / PULSEMETER_GTK_FRONT_MODULE).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            errors += (errors.empty() ? "" : "; ") + loaderError();
            continue;
        }
        module.available =
            reinterpret_cast<decltype(module.available)>(dlsym(handle, "pulsemeter_gtk_available"));
        module.make =
            reinterpret_cast<decltype(module.make)>(dlsym(handle, "pulsemeter_gtk_front_make"));
        if (module.available == nullptr || module.make == nullptr) {
            module.available = nullptr;
            module.make = nullptr;
            module.error = "the GTK front module " PULSEMETER_GTK_FRONT_MODULE " is not usable: " +
                           loaderError();
        }
        return module;
    }
    module.error = "cannot load the GTK front module " PULSEMETER_GTK_FRONT_MODULE ": " + errors;
    return module;
}

const GtkModule& gtkModule() {
    static const GtkModule module = load();
    return module;
}

bool displayNamed() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<Front> makeGtkFront(const FrontConfig& config) {
    // Only reached after gtkAvailable said yes, except by a caller that asks for the GTK
    // front regardless: without the module it gets what a build without GTK gets.
    const GtkModule& module = gtkModule();
    if (module.make == nullptr) {
        return makeHeadlessFront(config);
    }
    return std::unique_ptr<Front>(module.make(&config));
}

}  // namespace platform::detail

namespace platform {

bool gtkAvailable(int* argc, char*** argv, std::string* why) {
    // Checked before loading anything: without a display the program stays headless and
    // GTK is never mapped.
    if (!detail::displayNamed()) {
        *why = "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
        return false;
    }
    const detail::GtkModule& module = detail::gtkModule();
    if (module.available == nullptr) {
        *why = module.error;
        return false;
    }
    return module.available(argc, argv, why);
}

}  // namespace platform
