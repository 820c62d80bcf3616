// The graphics module against Wine's real Direct3D 9 and D3DX, on a window
// of its own: the state the device ends up with, the pixels of the text,
// and the references the module leaves behind.
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "cp932_text.h"
#include "graphics/graphics_device.h"
#include "graphics/scene.h"
#include "graphics/text.h"
#include "tests/support/d3d_text.h"
#include "tests/support/frame_state.h"
#include "tests/support/message_pump.h"

namespace graphics_test {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr uint32_t kClearRgb = 0x1E415A;
constexpr RECT kTextRect = {100, 200, 400, 250};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

class WineDirect3DTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"VexaluneGraphicsTest";
        RegisterClassW(&windowClass);

        const DWORD style = WS_OVERLAPPEDWINDOW;
        RECT frame = {0, 0, kWidth, kHeight};
        AdjustWindowRect(&frame, style, FALSE);
        s_window = CreateWindowW(L"VexaluneGraphicsTest", L"graphics test", style, 0, 0, frame.right - frame.left,
                                 frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ShowWindow(s_window, SW_SHOW);
        UpdateWindow(s_window);
        PumpMessagesUntil(0);
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(s_window);
        PumpMessagesUntil(0);
        s_window = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(s_window, nullptr);
        RECT client;
        GetClientRect(s_window, &client);
        ASSERT_EQ(client.right - client.left, kWidth);
        ASSERT_EQ(client.bottom - client.top, kHeight);

        g_mainWindow = s_window;
        g_graphics = new GraphicsDevice(true, kWidth, kHeight);
        ASSERT_NE(g_graphics->device, nullptr) << "no Direct3D device under Wine: is the X server's GLX there?";
        ASSERT_NE(g_graphics->sprite, nullptr);
    }

    void TearDown() override
    {
        // The font lives on the device, so it goes first, as in the program.
        if (g_font != nullptr)
            g_font->Release();
        g_font = nullptr;
        delete g_graphics;
        g_graphics = nullptr;
        g_mainWindow = nullptr;
    }

    static void BeginProgramFrame()
    {
        BeginFrame(100.0f, 10000.0f, 10.0f);
        SetDirectionalLight(frame_state::kTarget - frame_state::kEye);
        SetCamera(frame_state::kEye, frame_state::kTarget);
    }

    // The back buffer as 0xRRGGBB, read before the frame is presented.
    static std::vector<uint32_t> ReadBackBuffer()
    {
        std::vector<uint32_t> pixels;
        IDirect3DDevice9* device = g_graphics->device;
        IDirect3DSurface9* backBuffer = nullptr;
        IDirect3DSurface9* copy = nullptr;
        D3DSURFACE_DESC desc;
        D3DLOCKED_RECT locked;
        EXPECT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer), D3D_OK);
        if (backBuffer != nullptr && SUCCEEDED(backBuffer->GetDesc(&desc)) &&
            (desc.Format == D3DFMT_X8R8G8B8 || desc.Format == D3DFMT_A8R8G8B8) &&
            SUCCEEDED(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM,
                                                          &copy, nullptr)) &&
            SUCCEEDED(device->GetRenderTargetData(backBuffer, copy)) &&
            SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
            for (UINT y = 0; y < desc.Height; ++y) {
                const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const BYTE*>(locked.pBits) +
                                                                     static_cast<size_t>(y) * locked.Pitch);
                for (UINT x = 0; x < desc.Width; ++x)
                    pixels.push_back(row[x] & 0xFFFFFF);
            }
            copy->UnlockRect();
        }
        if (copy != nullptr)
            copy->Release();
        if (backBuffer != nullptr)
            backBuffer->Release();
        EXPECT_EQ(pixels.size(), static_cast<size_t>(kWidth) * kHeight) << "the back buffer could not be read";
        return pixels;
    }

    // One frame as the program draws it, with `drawText` between
    // BeginSprite and EndSprite; the back buffer before it is presented.
    static std::vector<uint32_t> DrawProgramFrame(const std::function<void()>& drawText)
    {
        BeginProgramFrame();
        BeginSprite();
        drawText();
        EndSprite();
        std::vector<uint32_t> pixels = ReadBackBuffer();
        EndFrame();
        return pixels;
    }

    static HWND s_window;
};

HWND WineDirect3DTest::s_window = nullptr;

bool Inside(const RECT& rect, int x, int y)
{
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

// The glyphs are antialiased and blended over the clear colour, so their
// thin strokes are mostly light grey rather than pure white.
bool WhiteIsh(uint32_t rgb)
{
    return ((rgb >> 16) & 0xFF) >= 0xC0 && ((rgb >> 8) & 0xFF) >= 0xC0 && (rgb & 0xFF) >= 0xC0;
}

void ExpectRenderStates(IDirect3DDevice9* device, const frame_state::Setting* settings, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(device->GetRenderState(static_cast<D3DRENDERSTATETYPE>(settings[i].state), &value), D3D_OK);
        EXPECT_EQ(value, settings[i].value) << settings[i].name;
    }
}

TEST_F(WineDirect3DTest, FrameStateLightAndTransformsReachTheDevice)
{
    BeginProgramFrame();
    IDirect3DDevice9* device = g_graphics->device;

    ExpectRenderStates(device, frame_state::kRenderStates, std::size(frame_state::kRenderStates));
    ExpectRenderStates(device, frame_state::kLightingStates, std::size(frame_state::kLightingStates));
    ExpectRenderStates(device, &frame_state::kShadeMode, 1);
    for (const frame_state::Setting& expected : frame_state::kTextureStageStates) {
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(device->GetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(expected.state), &value),
                  D3D_OK);
        EXPECT_EQ(value, expected.value) << expected.name;
    }
    for (const frame_state::Setting& expected : frame_state::kSamplerStates) {
        DWORD value = 0xDEADBEEF;
        EXPECT_EQ(device->GetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(expected.state), &value), D3D_OK);
        EXPECT_EQ(value, expected.value) << expected.name;
    }

    DWORD fvf = 0;
    EXPECT_EQ(device->GetFVF(&fvf), D3D_OK);
    EXPECT_EQ(fvf, frame_state::kVertexFormat);

    WINBOOL lightEnabled = FALSE;
    EXPECT_EQ(device->GetLightEnable(0, &lightEnabled), D3D_OK);
    EXPECT_NE(lightEnabled, FALSE);

    D3DLIGHT9 light;
    std::memset(&light, 0xA5, sizeof(light));
    ASSERT_EQ(device->GetLight(0, &light), D3D_OK);
    const D3DLIGHT9 expectedLight = frame_state::Light();
    EXPECT_EQ(d3d_text::Describe(light), d3d_text::Describe(expectedLight));

    D3DXMATRIX expectedProjection;
    D3DXMatrixPerspectiveFovRH(&expectedProjection, frame_state::kFovY, frame_state::kAspect, frame_state::kNear,
                               frame_state::kFar);
    D3DMATRIX projection;
    ASSERT_EQ(device->GetTransform(D3DTS_PROJECTION, &projection), D3D_OK);
    EXPECT_EQ(d3d_text::Matrix(projection), d3d_text::Matrix(expectedProjection));

    D3DXMATRIX expectedView;
    D3DXMatrixLookAtRH(&expectedView, &frame_state::kEye, &frame_state::kTarget, &frame_state::kUp);
    D3DMATRIX view;
    ASSERT_EQ(device->GetTransform(D3DTS_VIEW, &view), D3D_OK);
    EXPECT_EQ(d3d_text::Matrix(view), d3d_text::Matrix(expectedView));

    EndFrame();
}

TEST_F(WineDirect3DTest, Cp932TextIsDrawnInsideItsRectangleLikeTheSameTextInUtf16)
{
    ASSERT_TRUE(CreateTextFont(24, 12, false, kGothicFace, &g_font));
    const LONG l = kTextRect.left, t = kTextRect.top, r = kTextRect.right, b = kTextRect.bottom;

    const std::vector<uint32_t> drawn = DrawProgramFrame([&] { DrawTextAt(kMessage, l, t, r, b, 0, 0xFFFFFFFF); });
    const std::vector<uint32_t> reference = DrawProgramFrame([&] {
        RECT rect = kTextRect;
        g_font->DrawTextW(g_graphics->sprite, L"フォント文字を表示", -1, &rect, 0, 0xFFFFFFFF);
    });
    ASSERT_EQ(drawn.size(), static_cast<size_t>(kWidth) * kHeight);
    ASSERT_EQ(reference.size(), drawn.size());

    size_t whiteInside = 0;
    size_t changedOutside = 0;
    size_t differing = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t pixel = drawn[static_cast<size_t>(y) * kWidth + x];
            if (Inside(kTextRect, x, y))
                whiteInside += WhiteIsh(pixel) ? 1 : 0;
            else
                changedOutside += pixel != kClearRgb ? 1 : 0;
            differing += pixel != reference[static_cast<size_t>(y) * kWidth + x] ? 1 : 0;
        }
    }
    // Nine glyphs 24 pixels high leave a few hundred; a blank or a missing
    // glyph box would not.
    EXPECT_GT(whiteInside, 100u);
    EXPECT_EQ(changedOutside, 0u);
    EXPECT_EQ(differing, 0u) << "DrawTextA read the bytes in another code page (Wine's ANSI code page: "
                             << GetACP() << ")";
}

TEST_F(WineDirect3DTest, DestructorReleasesTheDeviceAndDirect3D)
{
    IDirect3DDevice9* device = g_graphics->device;
    IDirect3D9* direct3d = g_graphics->direct3d;
    device->AddRef();
    direct3d->AddRef();

    delete g_graphics;
    g_graphics = nullptr;

    // Ours are the last references: the sprite's hold on the device went
    // with it, and the device's on Direct3D with the device.
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(direct3d->Release(), 0u);
}

} // namespace
} // namespace graphics_test
