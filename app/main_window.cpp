#include "app/main_window.h"

#include "app/config.h"
#include "app/window_proc.h"
#include "res/resource.h"

// The release target is 32-bit; there the class record must be the full
// 48 bytes that cbSize announces.
static_assert(sizeof(void*) != 4 || sizeof(WNDCLASSEXA) == 48, "WNDCLASSEXA must be the 48-byte record");

HINSTANCE g_instance = nullptr;
HWND g_mainWindow = nullptr;
char g_titleText[100];
char g_windowClassName[100];

namespace {

constexpr DWORD kWindowedStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kFullScreenStyle = WS_POPUP | WS_VISIBLE;

// The window rect is 640 x 480 at creation; caption, borders and menu bar
// take their share of it. Measuring the real frame, rather than computing
// it from the style, also covers a menu bar that wraps onto two lines.
void ResizeToClientArea(HWND window, int clientWidth, int clientHeight)
{
    RECT windowRect;
    RECT clientRect;
    GetWindowRect(window, &windowRect);
    GetClientRect(window, &clientRect);
    const int frameWidth = (windowRect.right - windowRect.left) - (clientRect.right - clientRect.left);
    const int frameHeight = (windowRect.bottom - windowRect.top) - (clientRect.bottom - clientRect.top);
    SetWindowPos(window, HWND_TOP, 0, 0, clientWidth + frameWidth, clientHeight + frameHeight, SWP_NOMOVE);
}

} // namespace

ATOM RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass;
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(RES_ICON));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(RES_MAIN);
    windowClass.lpszClassName = g_windowClassName;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(RES_ICON_SMALL));
    return RegisterClassExA(&windowClass);
}

BOOL CreateMainWindow(HINSTANCE instance, int showCommand)
{
    return CreateMainWindowInMode(instance, showCommand, kWindowed);
}

BOOL CreateMainWindowInMode(HINSTANCE instance, int showCommand, bool windowed)
{
    g_instance = instance;
    g_mainWindow = CreateWindowExA(0, g_windowClassName, g_titleText,
                                   windowed ? kWindowedStyle : kFullScreenStyle,
                                   0, 0, kClientWidth, kClientHeight,
                                   nullptr, nullptr, instance, nullptr);
    if (g_mainWindow == nullptr) {
        MessageBoxA(nullptr, "ウィンドウの作成に失敗しました", nullptr, MB_OK);
        return FALSE;
    }

    // A full-screen popup has no frame: its window rect is its client rect.
    if (windowed)
        ResizeToClientArea(g_mainWindow, kClientWidth, kClientHeight);

    ShowWindow(g_mainWindow, showCommand);
    UpdateWindow(g_mainWindow);
    SetTimer(g_mainWindow, kFrameTimerId, kFrameIntervalMs, nullptr);
    return TRUE;
}
