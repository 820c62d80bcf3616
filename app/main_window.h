// The main window: its class, its creation and the globals that name it.
#pragma once

#include <windows.h>

extern HINSTANCE g_instance;
extern HWND g_mainWindow;
extern char g_titleText[100];
extern char g_windowClassName[100];

ATOM RegisterMainWindowClass(HINSTANCE instance);

// Creates, sizes and shows the main window and starts the frame timer,
// windowed or full-screen as kWindowed says. FALSE, after telling the user,
// when the window cannot be created.
BOOL CreateMainWindow(HINSTANCE instance, int showCommand);

// The same with the display mode given, so that both modes can be exercised.
BOOL CreateMainWindowInMode(HINSTANCE instance, int showCommand, bool windowed);
