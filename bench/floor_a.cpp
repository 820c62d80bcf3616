// Floor A of the benchmark: Vexalune's start-up and frame written the
// plainest way, in one function each, so that bench/benchmark.py can tell
// what the program's own structure costs on top of the calls it makes.
//
// It makes the same calls as the program, with the same arguments and in the
// same order: window (same class styles, 640 x 480 client area at (0, 0)),
// Direct3D device, sprite, D3DX font, DirectInput keyboard, DirectSound
// device and primary buffer, the 33 ms frame timer, and per frame the same
// state, light, camera, cursor read, text and present. What it leaves out is
// what the program carries besides: resources (menu, icons, accelerators,
// About box, manifest), and the layers between the window procedure and
// Direct3D.
//
// Strings are code page 932 bytes written as escapes, so the file compiles
// the same with or without -fexec-charset=CP932.
#include <windows.h>

#include <d3d9.h>
#include <d3dx9.h>
#define DIRECTINPUT_VERSION 0x0800
#include <dinput.h>
#include <mmsystem.h>
#include <dsound.h>

// 「フォント文字を表示」 and 「ＭＳ ゴシック」 in code page 932.
static const char kText[] = "\x83\x74\x83\x48\x83\x93\x83\x67\x95\xB6\x8E\x9A\x82\xF0\x95\x5C\x8E\xA6";
static const char kFontFace[] = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E";

static IDirect3D9* g_direct3d;
static IDirect3DDevice9* g_device;
static D3DPRESENT_PARAMETERS g_presentParams;
static ID3DXSprite* g_sprite;
static ID3DXFont* g_font;
static IDirectInput8A* g_directInput;
static IDirectInputDevice8A* g_keyboard;
static IDirectSound8* g_directSound;
static IDirectSoundBuffer* g_primaryBuffer;
static POINT g_lastCursor;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER: {
        // The timer runs from before the device exists; nothing pumps
        // messages before the font is there, but a frame must not rely on it.
        if (g_font == nullptr)
            return 0;
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF1E415A, 1.0f, 0);
        g_device->BeginScene();

        g_device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        g_device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        g_device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        g_device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        g_device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        g_device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        g_device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        g_device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        g_device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        g_device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        g_device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        g_device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        g_device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        g_device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        g_device->LightEnable(0, TRUE);
        g_device->SetRenderState(D3DRS_LIGHTING, TRUE);
        g_device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
        g_device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
        g_device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
        g_device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
        g_device->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
        g_device->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL);
        g_device->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
        g_device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
        g_device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);

        // 10 degrees in single precision, as the program computes it.
        D3DXMATRIX projection;
        D3DXMatrixPerspectiveFovRH(&projection, 10.0f * 0.0174532924f, 640.0f / 480.0f, 100.0f, 10000.0f);
        g_device->SetTransform(D3DTS_PROJECTION, &projection);

        // Eye (2000, 500, 2000) looking at (0, 120, 0); the light shines
        // from the eye towards the target.
        D3DLIGHT9 light;
        ZeroMemory(&light, sizeof(light));
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse.r = 0.8f;
        light.Diffuse.g = 0.8f;
        light.Diffuse.b = 0.8f;
        light.Diffuse.a = 1.0f;
        light.Specular.r = 0.8f;
        light.Specular.g = 0.8f;
        light.Specular.b = 0.8f;
        light.Specular.a = 1.0f;
        light.Ambient.r = 0.2f;
        light.Ambient.g = 0.2f;
        light.Ambient.b = 0.2f;
        light.Ambient.a = 1.0f;
        light.Direction.x = 2000.0f;
        light.Direction.y = 380.0f;
        light.Direction.z = 2000.0f;
        light.Range = 10000.0f;
        light.Falloff = 1.0f;
        light.Phi = 3.1415927f;
        g_device->SetLight(0, &light);

        const D3DXVECTOR3 eye(2000.0f, 500.0f, 2000.0f);
        const D3DXVECTOR3 target(0.0f, 120.0f, 0.0f);
        const D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
        D3DXMATRIX view;
        D3DXMatrixLookAtRH(&view, &eye, &target, &up);
        g_device->SetTransform(D3DTS_VIEW, &view);

        POINT cursor;
        if (GetCursorPos(&cursor) && ScreenToClient(window, &cursor))
            g_lastCursor = cursor;

        g_sprite->Begin(D3DXSPRITE_SORT_DEPTH_BACKTOFRONT);
        RECT rect = {g_lastCursor.x, g_lastCursor.y, g_lastCursor.x + 300, g_lastCursor.y + 50};
        g_font->DrawTextA(g_sprite, kText, -1, &rect, DT_LEFT | DT_TOP, 0xFFFFFFFF);
        g_sprite->End();

        g_device->EndScene();
        if (FAILED(g_device->Present(nullptr, nullptr, nullptr, nullptr))) {
            g_sprite->OnLostDevice();
            g_font->OnLostDevice();
            if (SUCCEEDED(g_device->Reset(&g_presentParams))) {
                g_sprite->OnResetDevice();
                g_font->OnResetDevice();
            }
        }
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ACTIVATE:
        if (g_keyboard != nullptr) {
            if (wParam != 0)
                g_keyboard->Acquire();
            else
                g_keyboard->Unacquire();
        }
        return 0;
    case WM_DESTROY:
        KillTimer(window, 1);
        if (g_primaryBuffer != nullptr)
            g_primaryBuffer->Release();
        if (g_directSound != nullptr)
            g_directSound->Release();
        if (g_keyboard != nullptr) {
            g_keyboard->Unacquire();
            g_keyboard->Release();
            g_keyboard = nullptr;
        }
        if (g_directInput != nullptr)
            g_directInput->Release();
        if (g_font != nullptr)
            g_font->Release();
        if (g_sprite != nullptr)
            g_sprite->Release();
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

    // The frame is measured, not computed from the style, as the program does.
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
    ZeroMemory(&g_presentParams, sizeof(g_presentParams));
    g_presentParams.BackBufferWidth = 640;
    g_presentParams.BackBufferHeight = 480;
    g_presentParams.BackBufferFormat = displayMode.Format;
    g_presentParams.BackBufferCount = 0;
    g_presentParams.MultiSampleType = D3DMULTISAMPLE_NONE;
    g_presentParams.MultiSampleQuality = 0;
    g_presentParams.SwapEffect = D3DSWAPEFFECT_FLIP;
    g_presentParams.hDeviceWindow = nullptr;
    g_presentParams.Windowed = TRUE;
    g_presentParams.EnableAutoDepthStencil = TRUE;
    g_presentParams.AutoDepthStencilFormat = D3DFMT_D16;
    g_presentParams.Flags = 0;
    g_presentParams.FullScreen_RefreshRateInHz = 0;
    g_presentParams.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
    if (FAILED(g_direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                        D3DCREATE_HARDWARE_VERTEXPROCESSING, &g_presentParams, &g_device))
        && FAILED(g_direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                           D3DCREATE_SOFTWARE_VERTEXPROCESSING, &g_presentParams, &g_device)))
        return 0;
    if (FAILED(D3DXCreateSprite(g_device, &g_sprite)))
        return 0;
    if (FAILED(D3DXCreateFontA(g_device, 24, 12, FW_NORMAL, 0, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                               DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kFontFace, &g_font)))
        return 0;

    if (FAILED(DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                  reinterpret_cast<void**>(&g_directInput), nullptr)))
        return 0;
    if (FAILED(g_directInput->CreateDevice(GUID_SysKeyboard, &g_keyboard, nullptr)))
        return 0;
    if (FAILED(g_keyboard->SetDataFormat(&c_dfDIKeyboard)))
        return 0;
    if (FAILED(g_keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND)))
        return 0;
    g_keyboard->Acquire();

    // No sound device is no reason to stop, as for the program.
    if (SUCCEEDED(DirectSoundCreate8(nullptr, &g_directSound, nullptr))
        && SUCCEEDED(g_directSound->SetCooperativeLevel(window, DSSCL_EXCLUSIVE))) {
        DSBUFFERDESC description;
        ZeroMemory(&description, sizeof(description));
        description.dwSize = sizeof(description);
        description.dwFlags = DSBCAPS_PRIMARYBUFFER;
        if (SUCCEEDED(g_directSound->CreateSoundBuffer(&description, &g_primaryBuffer, nullptr))) {
            WAVEFORMATEX format;
            format.wFormatTag = WAVE_FORMAT_PCM;
            format.nChannels = 2;
            format.nSamplesPerSec = 44100;
            format.nAvgBytesPerSec = 176400;
            format.nBlockAlign = 4;
            format.wBitsPerSample = 16;
            format.cbSize = 18;
            g_primaryBuffer->SetFormat(&format);
        }
    }

    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
