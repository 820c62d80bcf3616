// Resource and command ids, shared by the resource script and the C++ code.
#pragma once

#include <windows.h>

// winuser.h gives this name to an icon-type flag of LookupIconIdFromDirectory,
// which the program does not use; the name is ours here.
#undef RES_ICON

#define RES_TITLE         103
#define RES_ABOUT_DIALOG  103
#define CMD_ABOUT         104
#define CMD_EXIT          105
#define RES_ICON          107
#define RES_ICON_SMALL    108
#define RES_MAIN          109

// Control id of the picture in the About box. It has an id of its own
// rather than -1 so that it can be found like any other control.
#define IDC_ABOUT_ICON    2
