// The main menu's identifiers and texts: the one source for the Windows resource
// script (app/pulsemeter.rc) and the Linux stand-in's menu bar.
#pragma once

#define PM_MENU_RESOURCE 101
#define PM_COMMAND_EXIT 40001

// Shift-JIS (code page 932) bytes.
// "ﾒﾆｭｰ"
#define PM_MENU_POPUP_TEXT "\xd2\xc6\xad\xb0"
// "ﾌﾟﾛｸﾞﾗﾑ終了"
#define PM_MENU_EXIT_TEXT "\xcc\xdf\xdb\xb8\xde\xd7\xd1\x8f\x49\x97\xb9"
