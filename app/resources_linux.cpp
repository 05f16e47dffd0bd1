// The program's menu for the Linux subset: what app/pulsemeter.rc is on Windows, written
// as data, from the same identifiers and texts (app/menu.h).
#include "app/menu.h"
#include "platform/win32.h"

namespace {

constexpr PmMenuItemResource mainMenuItems[] = {{PM_MENU_EXIT_TEXT, PM_COMMAND_EXIT}};

}  // namespace

const PmMenuResource pmMenuResources[] = {
    {PM_MENU_RESOURCE, PM_MENU_POPUP_TEXT, mainMenuItems,
     static_cast<int>(sizeof mainMenuItems / sizeof mainMenuItems[0])},
};
const int pmMenuResourceCount =
    static_cast<int>(sizeof pmMenuResources / sizeof pmMenuResources[0]);
