// GraphicsDevice and EndFrame on the recording doubles: what reaches
// Direct3D and D3DX during construction, destruction and lost-device
// recovery, and that nothing does when an object is missing.
#include <cstring>
#include <ostream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_graphics_fixture.h"
#include "graphics/scene.h"

namespace graphics_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::string DescribePresentParams(const D3DPRESENT_PARAMETERS& p)
{
    std::ostringstream text;
    text << p.BackBufferWidth << "x" << p.BackBufferHeight << " format " << p.BackBufferFormat << " count "
         << p.BackBufferCount << " multisample " << p.MultiSampleType << "/" << p.MultiSampleQuality << " swap "
         << p.SwapEffect << " window " << p.hDeviceWindow << " windowed " << p.Windowed << " auto depth "
         << p.EnableAutoDepthStencil << " format " << p.AutoDepthStencilFormat << " flags " << p.Flags
         << " refresh " << p.FullScreen_RefreshRateInHz << " interval " << p.PresentationInterval;
    return text.str();
}

D3DPRESENT_PARAMETERS ExpectedPresentParams(UINT width, UINT height, D3DFORMAT format, BOOL windowed)
{
    D3DPRESENT_PARAMETERS p;
    std::memset(&p, 0, sizeof(p));
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    p.BackBufferFormat = format;
    p.BackBufferCount = 0;
    p.MultiSampleType = D3DMULTISAMPLE_NONE;
    p.MultiSampleQuality = 0;
    p.SwapEffect = D3DSWAPEFFECT_FLIP;
    p.hDeviceWindow = nullptr;
    p.Windowed = windowed;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    p.Flags = 0;
    p.FullScreen_RefreshRateInHz = 0;
    p.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
    return p;
}

// Leaves garbage where the next calls' locals will be, so that a local the
// code forgets to initialise is not zero by luck.
__attribute__((noinline)) void FillStackWithGarbage()
{
    volatile unsigned char area[32 * 1024];
    for (size_t i = 0; i < sizeof(area); ++i)
        area[i] = 0xA5;
}

// Every entry point of the module that touches Direct3D or the font.
void RunEveryEntryPoint()
{
    BeginFrame(100.0f, 10000.0f, 10.0f);
    SetDirectionalLight(D3DXVECTOR3(-2000.0f, -380.0f, -2000.0f));
    SetCamera(D3DXVECTOR3(2000.0f, 500.0f, 2000.0f), D3DXVECTOR3(0.0f, 120.0f, 0.0f));
    BeginSprite();
    DrawTextAt("text", 1, 2, 3, 4, 0, 0xFFFFFFFF);
    EndSprite();
    EndFrame();
}

const std::string kCreateHardware = "direct3d.CreateDevice(0, 1, 0x5150, 0x40)";
const std::string kCreateSoftware = "direct3d.CreateDevice(0, 1, 0x5150, 0x20)";

struct ModeCase {
    bool windowed;
    int width;
    int height;
};

void PrintTo(const ModeCase& c, std::ostream* out)
{
    *out << (c.windowed ? "windowed " : "full-screen ") << c.width << "x" << c.height;
}

class Construction : public FakeGraphicsTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(Construction, CreatesDeviceAndSpriteFromTheDisplayModeAndArguments)
{
    const ModeCase mode = GetParam();
    // Not the usual desktop format, so that a hard-coded one shows.
    fakes.displayMode.Format = D3DFMT_R5G6B5;

    Construct(mode.windowed, mode.width, mode.height);

    EXPECT_THAT(Calls(), ElementsAre("Direct3DCreate9(32)", "direct3d.GetAdapterDisplayMode(0)", kCreateHardware,
                                     "D3DXCreateSprite(device)"));
    ASSERT_EQ(fakes.direct3d->createParams.size(), 1u);
    EXPECT_EQ(DescribePresentParams(fakes.direct3d->createParams[0]),
              DescribePresentParams(ExpectedPresentParams(mode.width, mode.height, D3DFMT_R5G6B5,
                                                           mode.windowed ? TRUE : FALSE)));
    // Reset later sends the kept copy; it must be the one the device was made with.
    EXPECT_EQ(DescribePresentParams(g_graphics->presentParams),
              DescribePresentParams(fakes.direct3d->createParams[0]));

    EXPECT_EQ(g_graphics->direct3d, fakes.direct3d.get());
    EXPECT_EQ(g_graphics->device, fakes.device.get());
    EXPECT_EQ(g_graphics->sprite, fakes.sprite.get());
    EXPECT_EQ(g_graphics->adapter, 0u);
    EXPECT_EQ(g_graphics->clearColor, 0xFF1E415Au);
    EXPECT_EQ(g_graphics->width, static_cast<float>(mode.width));
    EXPECT_EQ(g_graphics->height, static_cast<float>(mode.height));
    EXPECT_EQ(fakes.direct3d->Refs(), 1);
    EXPECT_EQ(fakes.device->Refs(), 1);
    EXPECT_EQ(fakes.sprite->Refs(), 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, Construction,
                         ::testing::Values(ModeCase{true, 640, 480}, ModeCase{false, 800, 600}),
                         [](const ::testing::TestParamInfo<ModeCase>& info) {
                             return std::string(info.param.windowed ? "Windowed" : "FullScreen");
                         });

TEST_F(FakeGraphicsTest, FallsBackToSoftwareVertexProcessingWithTheSameParameters)
{
    fakes.failures.Fail("direct3d.CreateDevice", D3DERR_NOTAVAILABLE, 1);

    Construct();

    EXPECT_THAT(Calls(), ElementsAre("Direct3DCreate9(32)", "direct3d.GetAdapterDisplayMode(0)",
                                     Failed(kCreateHardware, D3DERR_NOTAVAILABLE), kCreateSoftware,
                                     "D3DXCreateSprite(device)"));
    ASSERT_EQ(fakes.direct3d->createParams.size(), 2u);
    EXPECT_EQ(DescribePresentParams(fakes.direct3d->createParams[1]),
              DescribePresentParams(fakes.direct3d->createParams[0]));
    EXPECT_EQ(g_graphics->device, fakes.device.get());
    EXPECT_EQ(g_graphics->sprite, fakes.sprite.get());
    EXPECT_EQ(g_graphics->clearColor, 0xFF1E415Au);
}

TEST_F(FakeGraphicsTest, FailedDisplayModeQueryLeavesTheBackBufferFormatUnknown)
{
    fakes.failures.Fail("direct3d.GetAdapterDisplayMode", D3DERR_INVALIDCALL);

    FillStackWithGarbage();
    Construct();

    ASSERT_EQ(fakes.direct3d->createParams.size(), 1u);
    EXPECT_EQ(fakes.direct3d->createParams[0].BackBufferFormat, D3DFMT_UNKNOWN);
    // The result is not checked: the device is still created.
    EXPECT_EQ(g_graphics->device, fakes.device.get());
}

struct NoDeviceCase {
    const char* name;
    const char* failingCall;
    std::vector<std::string> construction;
    std::vector<std::string> releases;
};

void PrintTo(const NoDeviceCase& c, std::ostream* out)
{
    *out << c.name;
}

class WithoutDevice : public FakeGraphicsTest, public ::testing::WithParamInterface<NoDeviceCase> {};

TEST_P(WithoutDevice, NothingReachesDirect3DAndOnlyWhatExistsIsReleased)
{
    const NoDeviceCase& c = GetParam();
    fakes.failures.Fail(c.failingCall, D3DERR_NOTAVAILABLE);

    Construct();
    EXPECT_THAT(Calls(), ElementsAreArray(c.construction));
    EXPECT_EQ(g_graphics->device, nullptr);
    EXPECT_EQ(g_graphics->sprite, nullptr);
    EXPECT_EQ(g_graphics->clearColor, 0u);
    fakes.log.Clear();

    EXPECT_FALSE(CreateFont());
    EXPECT_EQ(g_font, nullptr);
    RunEveryEntryPoint();
    EXPECT_THAT(Calls(), IsEmpty());

    delete g_graphics;
    g_graphics = nullptr;
    EXPECT_THAT(Calls(), ElementsAreArray(c.releases));
    EXPECT_THAT(session.Unreleased(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WithoutDevice,
    ::testing::Values(
        NoDeviceCase{"NoDirect3D", "Direct3DCreate9", {"Direct3DCreate9(32) -> null"}, {}},
        NoDeviceCase{"NoDeviceEitherWay",
                     "direct3d.CreateDevice",
                     {"Direct3DCreate9(32)", "direct3d.GetAdapterDisplayMode(0)",
                      Failed(kCreateHardware, D3DERR_NOTAVAILABLE), Failed(kCreateSoftware, D3DERR_NOTAVAILABLE)},
                     {"direct3d.Release()"}}),
    [](const ::testing::TestParamInfo<NoDeviceCase>& info) { return std::string(info.param.name); });

TEST_F(FakeGraphicsTest, WithoutSpriteTextIsDrawnWithoutOneAndOnlyDeviceAndDirect3DAreReleased)
{
    fakes.failures.Fail("D3DXCreateSprite", E_OUTOFMEMORY);

    Construct();
    ASSERT_TRUE(CreateFont());
    EXPECT_EQ(g_graphics->sprite, nullptr);
    EXPECT_EQ(g_graphics->device, fakes.device.get());
    EXPECT_EQ(g_graphics->clearColor, 0xFF1E415Au);
    fakes.log.Clear();

    BeginSprite();
    DrawTextAt("abc", 1, 2, 3, 4, 0, 0xFF00FF00);
    EndSprite();
    EXPECT_THAT(Calls(), ElementsAre("font.DrawTextA(null, \"abc\", -1, {1, 2, 3, 4}, 0x0, 0xff00ff00)"));
    fakes.log.Clear();

    delete g_graphics;
    g_graphics = nullptr;
    EXPECT_THAT(Calls(), ElementsAre("device.Release()", "direct3d.Release()"));
}

TEST_F(FakeGraphicsTest, WithoutGraphicsNothingButTheFontIsCalled)
{
    ASSERT_EQ(D3DXCreateFontA(nullptr, 24, 12, FW_NORMAL, 0, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                              DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kGothicFace.c_str(), &g_font),
              S_OK);
    fakes.log.Clear();
    ID3DXFont* font = nullptr;

    EXPECT_FALSE(CreateTextFont(24, 12, false, kGothicFace, &font));
    EXPECT_EQ(font, nullptr);
    RunEveryEntryPoint();

    EXPECT_THAT(Calls(), ElementsAre("font.DrawTextA(null, \"text\", -1, {1, 2, 3, 4}, 0x0, 0xffffffff)"));
}

TEST_F(FakeGraphicsTest, DestructorReleasesSpriteDeviceDirect3DOnceInThatOrder)
{
    Construct();
    // The font is not the graphics device's to release.
    ASSERT_TRUE(CreateFont());
    fakes.log.Clear();

    delete g_graphics;
    g_graphics = nullptr;

    EXPECT_THAT(Calls(), ElementsAre("sprite.Release()", "device.Release()", "direct3d.Release()"));
    EXPECT_EQ(fakes.sprite->Refs(), 0);
    EXPECT_EQ(fakes.device->Refs(), 0);
    EXPECT_EQ(fakes.direct3d->Refs(), 0);
    EXPECT_EQ(fakes.font->Refs(), 1);
}

// ---- EndFrame ----

const std::string kEndScene = "device.EndScene()";
const std::string kPresent = "device.Present(null, null, null, null)";

TEST_F(FakeGraphicsTest, EndFrameEndsTheSceneAndPresents)
{
    ConstructWithFont();

    EndFrame();

    EXPECT_THAT(Calls(), ElementsAre(kEndScene, kPresent));
}

// Any failure of Present, not only a lost device, leads to the reset.
class FailedPresent : public FakeGraphicsTest, public ::testing::WithParamInterface<HRESULT> {};

TEST_P(FailedPresent, ReleasesD3DXResourcesResetsAndRestoresThem)
{
    const HRESULT failure = GetParam();
    ConstructWithFont();
    fakes.failures.Fail("device.Present", failure, 1);

    EndFrame();

    // The fake refuses Reset while the sprite or the font still holds its
    // resources, as Direct3D does: recovery needs both OnLostDevice calls.
    EXPECT_THAT(Calls(), ElementsAre(kEndScene, Failed(kPresent, failure), "sprite.OnLostDevice()",
                                     "font.OnLostDevice()", "device.Reset()", "sprite.OnResetDevice()",
                                     "font.OnResetDevice()"));
    ASSERT_EQ(fakes.device->resetParams.size(), 1u);
    EXPECT_EQ(DescribePresentParams(fakes.device->resetParams[0]),
              DescribePresentParams(fakes.direct3d->createParams[0]));

    fakes.log.Clear();
    EndFrame();
    EXPECT_THAT(Calls(), ElementsAre(kEndScene, kPresent));
}

TEST_P(FailedPresent, ResetIsRetriedOncePerFrameAndRestoresOnlyAfterItSucceeds)
{
    const HRESULT failure = GetParam();
    ConstructWithFont();
    fakes.failures.Fail("device.Present", failure);
    fakes.failures.Fail("device.Reset", D3DERR_DEVICELOST, 2);

    const std::vector<std::string> lostFrame = {kEndScene,
                                                Failed(kPresent, failure),
                                                "sprite.OnLostDevice()",
                                                "font.OnLostDevice()",
                                                Failed("device.Reset()", D3DERR_DEVICELOST)};
    for (int frame = 1; frame <= 2; ++frame) {
        SCOPED_TRACE(frame);
        EndFrame();
        EXPECT_THAT(Calls(), ElementsAreArray(lostFrame));
        fakes.log.Clear();
    }

    EndFrame();
    EXPECT_THAT(Calls(), ElementsAre(kEndScene, Failed(kPresent, failure), "sprite.OnLostDevice()",
                                     "font.OnLostDevice()", "device.Reset()", "sprite.OnResetDevice()",
                                     "font.OnResetDevice()"));
    fakes.log.Clear();

    fakes.failures.Stop("device.Present");
    EndFrame();
    EXPECT_THAT(Calls(), ElementsAre(kEndScene, kPresent));
}

INSTANTIATE_TEST_SUITE_P(Codes, FailedPresent, ::testing::Values(D3DERR_DEVICELOST, D3DERR_DRIVERINTERNALERROR),
                         [](const ::testing::TestParamInfo<HRESULT>& info) {
                             return info.param == D3DERR_DEVICELOST ? std::string("DeviceLost")
                                                                    : std::string("DriverInternalError");
                         });

struct RecoveryCase {
    const char* name;
    bool sprite;
    bool font;
    std::vector<std::string> calls;
};

void PrintTo(const RecoveryCase& c, std::ostream* out)
{
    *out << c.name;
}

class RecoveryWithoutOne : public FakeGraphicsTest, public ::testing::WithParamInterface<RecoveryCase> {};

TEST_P(RecoveryWithoutOne, SkipsTheMissingObject)
{
    const RecoveryCase& c = GetParam();
    if (!c.sprite)
        fakes.failures.Fail("D3DXCreateSprite", E_OUTOFMEMORY);
    Construct();
    if (c.font) {
        ASSERT_TRUE(CreateFont());
    }
    fakes.log.Clear();
    fakes.failures.Fail("device.Present", D3DERR_DEVICELOST, 1);

    EndFrame();

    EXPECT_THAT(Calls(), ElementsAreArray(c.calls));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecoveryWithoutOne,
    ::testing::Values(RecoveryCase{"NoSprite",
                                   false,
                                   true,
                                   {kEndScene, Failed(kPresent, D3DERR_DEVICELOST), "font.OnLostDevice()",
                                    "device.Reset()", "font.OnResetDevice()"}},
                      RecoveryCase{"NoFont",
                                   true,
                                   false,
                                   {kEndScene, Failed(kPresent, D3DERR_DEVICELOST), "sprite.OnLostDevice()",
                                    "device.Reset()", "sprite.OnResetDevice()"}}),
    [](const ::testing::TestParamInfo<RecoveryCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace graphics_test
