// Entry point: window, accelerators, subsystems, then the message loop,
// which is the program's only loop. Frames are drawn on WM_TIMER.
#include <windows.h>

#include "app/main_window.h"
#include "app/subsystems.h"
#include "res/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    LoadStringA(instance, RES_TITLE, g_titleText, sizeof(g_titleText));
    LoadStringA(instance, RES_MAIN, g_windowClassName, sizeof(g_windowClassName));
    RegisterMainWindowClass(instance);
    if (!CreateMainWindow(instance, showCommand))
        return 0;

    const HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(RES_MAIN));
    if (!InitSubsystems())
        return 0;

    MSG message = {};
    // GetMessageA answers -1 only for invalid arguments; "> 0" keeps even
    // that from turning into an endless loop.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
