#include "graphics/graphics_device.h"

#include "app/main_window.h"
#include "graphics/text.h"

namespace {

constexpr D3DCOLOR kClearColor = 0xFF1E415A;

template <typename Interface>
void ReleaseAndClear(Interface*& object)
{
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// D3DX objects hold device resources that Direct3D refuses to keep across
// Reset; they give them up before it and rebuild them after a good one.
void ReleaseDeviceResources(ID3DXSprite* sprite)
{
    if (sprite != nullptr)
        sprite->OnLostDevice();
    if (g_font != nullptr)
        g_font->OnLostDevice();
}

void RestoreDeviceResources(ID3DXSprite* sprite)
{
    if (sprite != nullptr)
        sprite->OnResetDevice();
    if (g_font != nullptr)
        g_font->OnResetDevice();
}

} // namespace

GraphicsDevice::GraphicsDevice(bool windowed, int width, int height)
    : clearColor(0), adapter(0), width(0.0f), height(0.0f),
      direct3d(nullptr), device(nullptr), presentParams(), light(), sprite(nullptr)
{
    direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (direct3d == nullptr)
        return;

    adapter = D3DADAPTER_DEFAULT;
    ZeroMemory(&presentParams, sizeof(presentParams));

    // Zeroed so that a failed query leaves D3DFMT_UNKNOWN, which a windowed
    // device takes as "the desktop's format".
    D3DDISPLAYMODE displayMode;
    ZeroMemory(&displayMode, sizeof(displayMode));
    direct3d->GetAdapterDisplayMode(adapter, &displayMode);

    this->width = static_cast<float>(width);
    this->height = static_cast<float>(height);

    presentParams.BackBufferWidth = width;
    presentParams.BackBufferHeight = height;
    presentParams.BackBufferFormat = displayMode.Format;
    presentParams.BackBufferCount = 0;
    presentParams.MultiSampleType = D3DMULTISAMPLE_NONE;
    presentParams.MultiSampleQuality = 0;
    presentParams.SwapEffect = D3DSWAPEFFECT_FLIP;
    presentParams.hDeviceWindow = nullptr;
    presentParams.Windowed = windowed ? TRUE : FALSE;
    presentParams.EnableAutoDepthStencil = TRUE;
    presentParams.AutoDepthStencilFormat = D3DFMT_D16;
    presentParams.Flags = 0;
    presentParams.FullScreen_RefreshRateInHz = 0;
    presentParams.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;

    HRESULT result = direct3d->CreateDevice(adapter, D3DDEVTYPE_HAL, g_mainWindow,
                                            D3DCREATE_HARDWARE_VERTEXPROCESSING, &presentParams, &device);
    if (FAILED(result)) {
        result = direct3d->CreateDevice(adapter, D3DDEVTYPE_HAL, g_mainWindow,
                                        D3DCREATE_SOFTWARE_VERTEXPROCESSING, &presentParams, &device);
        if (FAILED(result)) {
            device = nullptr;
            return;
        }
    }

    clearColor = kClearColor;
    if (FAILED(D3DXCreateSprite(device, &sprite)))
        sprite = nullptr;
}

GraphicsDevice::~GraphicsDevice()
{
    ReleaseAndClear(sprite);
    ReleaseAndClear(device);
    ReleaseAndClear(direct3d);
}

IDirect3DDevice9* CurrentDevice()
{
    return g_graphics != nullptr ? g_graphics->device : nullptr;
}

void EndFrame()
{
    IDirect3DDevice9* device = CurrentDevice();
    if (device == nullptr)
        return;

    device->EndScene();
    if (SUCCEEDED(device->Present(nullptr, nullptr, nullptr, nullptr)))
        return;

    // One attempt per frame: while the device stays lost, the next frame's
    // present fails again and the reset is retried then.
    ReleaseDeviceResources(g_graphics->sprite);
    if (SUCCEEDED(device->Reset(&g_graphics->presentParams)))
        RestoreDeviceResources(g_graphics->sprite);
}
