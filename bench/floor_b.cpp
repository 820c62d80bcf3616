// Floor B of the benchmark: the least a Direct3D 9 window drawn on a 33 ms
// timer can do. The same window and device as Vexalune, and per tick only a
// clear to the program's colour, an empty scene and a present. Against it,
// bench/benchmark.py shows what the program's own frame (state, light,
// camera, text) and its other devices cost.
#include <windows.h>

#include <d3d9.h>

static IDirect3D9* g_direct3d;
static IDirect3DDevice9* g_device;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (g_device == nullptr)
            return 0;
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF1E415A, 1.0f, 0);
        g_device->BeginScene();
        g_device->EndScene();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        KillTimer(window, 1);
        if (g_device != nullptr)
            g_device->Release();
        if (g_direct3d != nullptr)
            g_direct3d->Release();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    WNDCLASSEXA windowClass;
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = nullptr;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = "VEXALUNE";
    windowClass.hIconSm = nullptr;
    RegisterClassExA(&windowClass);

    HWND window = CreateWindowExA(0, "VEXALUNE", "Vexalune", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  0, 0, 640, 480, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 0;

    RECT windowRect;
    RECT clientRect;
    GetWindowRect(window, &windowRect);
    GetClientRect(window, &clientRect);
    SetWindowPos(window, HWND_TOP, 0, 0,
                 640 + (windowRect.right - windowRect.left) - (clientRect.right - clientRect.left),
                 480 + (windowRect.bottom - windowRect.top) - (clientRect.bottom - clientRect.top), SWP_NOMOVE);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    SetTimer(window, 1, 33, nullptr);

    g_direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (g_direct3d == nullptr)
        return 0;
    D3DDISPLAYMODE displayMode;
    ZeroMemory(&displayMode, sizeof(displayMode));
    g_direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &displayMode);
    D3DPRESENT_PARAMETERS presentParams;
    ZeroMemory(&presentParams, sizeof(presentParams));
    presentParams.BackBufferWidth = 640;
    presentParams.BackBufferHeight = 480;
    presentParams.BackBufferFormat = displayMode.Format;
    presentParams.SwapEffect = D3DSWAPEFFECT_FLIP;
    presentParams.Windowed = TRUE;
    presentParams.EnableAutoDepthStencil = TRUE;
    presentParams.AutoDepthStencilFormat = D3DFMT_D16;
    presentParams.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
    if (FAILED(g_direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                        D3DCREATE_HARDWARE_VERTEXPROCESSING, &presentParams, &g_device))
        && FAILED(g_direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                           D3DCREATE_SOFTWARE_VERTEXPROCESSING, &presentParams, &g_device)))
        return 0;

    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
