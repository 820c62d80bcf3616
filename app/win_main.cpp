// Entry point: window, accelerators, subsystems, then the message loop,
// which is the program's only loop. Frames are drawn on WM_TIMER.
#include <windows.h>

#include "app/main_window.h"
#include "app/subsystems.h"
#include "app/user_seams.h"
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
    BOOL received;
    // GetMessageA answers -1 only for invalid arguments; "> 0" keeps even
    // that from turning into an endless loop.
    while ((received = ReadNextMessage(&message)) > 0) {
        if (!TranslateAcceleratorA(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    // Only WM_QUIT carries an exit code; after an error `message` still
    // holds the last message dispatched, a timer's id, say.
    return received == 0 ? static_cast<int>(message.wParam) : 0;
}
