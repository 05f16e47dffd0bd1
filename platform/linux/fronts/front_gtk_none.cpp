// Built without GTK 3: no window can be shown, the headless front stands in.
#include "platform/linux/fronts/fronts.h"

namespace platform::detail {

std::unique_ptr<Front> makeGtkFront(const FrontConfig& config) {
    return makeHeadlessFront(config);
}

}  // namespace platform::detail

namespace platform {

bool gtkAvailable(int*, char***, std::string* why) {
    *why = "built without GTK 3";
    return false;
}

}  // namespace platform
