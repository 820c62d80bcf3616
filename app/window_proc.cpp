#include "app/window_proc.h"

#include "app/frame.h"
#include "app/main_window.h"
#include "app/subsystems.h"
#include "res/resource.h"

namespace {

void PaintWindow(HWND window)
{
    // Direct3D draws the client area on every tick; painting only has to
    // validate the region so that WM_PAINT stops coming.
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

// Returns TRUE when the command was the program's own.
bool RunCommand(HWND window, WORD command)
{
    switch (command) {
    case CMD_ABOUT:
        // Modal: the frame timer keeps ticking through the dialog's own loop.
        DialogBoxParamA(g_instance, MAKEINTRESOURCEA(RES_ABOUT_DIALOG), window, AboutDialogProc, 0);
        return true;
    case CMD_EXIT:
        DestroyWindow(window);
        return true;
    default:
        return false;
    }
}

} // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        ShutdownSubsystems();
        PostQuitMessage(0);
        return 0;
    case WM_ACTIVATE:
        // Not passed on: the default handling would move the keyboard focus,
        // and the program takes its keys from DirectInput and accelerators.
        OnActivate(wParam);
        return 0;
    case WM_PAINT:
        PaintWindow(window);
        return 0;
    case WM_COMMAND:
        if (RunCommand(window, LOWORD(wParam)))
            return 0;
        break;
    case WM_TIMER:
        RenderFrame();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        // IDCANCEL arrives for Esc and for the close box.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}
