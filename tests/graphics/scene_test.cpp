// BeginFrame, SetDirectionalLight and SetCamera on the recording doubles.
#include <cstring>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_graphics_fixture.h"
#include "graphics/scene.h"

namespace graphics_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using d3d_fakes::Hex;

std::string RenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    return "device.SetRenderState(" + std::to_string(state) + ", " + Hex(value) + ")";
}

std::string StageState(D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    return "device.SetTextureStageState(0, " + std::to_string(type) + ", " + Hex(value) + ")";
}

std::string SamplerState(D3DSAMPLERSTATETYPE type, DWORD value)
{
    return "device.SetSamplerState(0, " + std::to_string(type) + ", " + Hex(value) + ")";
}

uint32_t Bits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

bool SameMatrix(const D3DMATRIX& a, const D3DMATRIX& b)
{
    return std::memcmp(&a, &b, sizeof(D3DMATRIX)) == 0;
}

TEST_F(FakeGraphicsTest, BeginFrameClearsBeginsTheSceneAndSendsTheFixedStateAndProjection)
{
    ConstructWithFont();

    BeginFrame(100.0f, 10000.0f, 10.0f);

    ASSERT_EQ(fakes.madeMatrices.size(), 1u);
    const std::vector<std::string> expected = {
        "device.Clear(0, null, 0x3, 0xff1e415a, 1, 0)",
        "device.BeginScene()",
        RenderState(D3DRS_ZENABLE, D3DZB_TRUE),
        RenderState(D3DRS_NORMALIZENORMALS, TRUE),
        RenderState(D3DRS_ALPHABLENDENABLE, TRUE),
        RenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA),
        RenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA),
        RenderState(D3DRS_CULLMODE, D3DCULL_CCW),
        StageState(D3DTSS_COLOROP, D3DTOP_MODULATE),
        StageState(D3DTSS_COLORARG2, D3DTA_DIFFUSE),
        StageState(D3DTSS_ALPHAARG2, D3DTA_DIFFUSE),
        StageState(D3DTSS_COLORARG1, D3DTA_TEXTURE),
        StageState(D3DTSS_ALPHAOP, D3DTOP_MODULATE),
        StageState(D3DTSS_ALPHAARG1, D3DTA_TEXTURE),
        SamplerState(D3DSAMP_MINFILTER, D3DTEXF_LINEAR),
        SamplerState(D3DSAMP_MAGFILTER, D3DTEXF_LINEAR),
        "device.LightEnable(0, 1)",
        RenderState(D3DRS_LIGHTING, TRUE),
        RenderState(D3DRS_AMBIENT, 0xFFFFFFFF),
        RenderState(D3DRS_SPECULARENABLE, TRUE),
        RenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL),
        RenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL),
        RenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL),
        RenderState(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL),
        RenderState(D3DRS_LOCALVIEWER, FALSE),
        "device.SetFVF(0x112)",
        RenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD),
        "D3DXMatrixPerspectiveFovRH(0.17453292, 1.33333337, 100, 10000)",
        "device.SetTransform(3, " + d3d_fakes::Matrix(fakes.madeMatrices[0]) + ")",
    };
    EXPECT_THAT(Calls(), ElementsAreArray(expected));

    // Single precision throughout: 10 degrees is exactly 0.17453292f and
    // 640/480 exactly 1.3333334f, not their double values rounded later.
    ASSERT_EQ(fakes.perspectiveRequests.size(), 1u);
    const d3d_fakes::PerspectiveRequest& request = fakes.perspectiveRequests[0];
    EXPECT_EQ(Bits(request.fovY), Bits(0.17453292f));
    EXPECT_EQ(Bits(request.aspect), Bits(1.3333334f));
    EXPECT_EQ(Bits(request.zNear), Bits(100.0f));
    EXPECT_EQ(Bits(request.zFar), Bits(10000.0f));
    ASSERT_EQ(fakes.device.transforms.size(), 1u);
    EXPECT_EQ(fakes.device.transforms[0].first, D3DTS_PROJECTION);
    EXPECT_TRUE(SameMatrix(fakes.device.transforms[0].second, fakes.madeMatrices[0]));
}

D3DCOLORVALUE Color(float r, float g, float b, float a)
{
    D3DCOLORVALUE color;
    color.r = r;
    color.g = g;
    color.b = b;
    color.a = a;
    return color;
}

TEST_F(FakeGraphicsTest, DirectionalLightIsRebuiltFromZeroAndShinesAlongTheNegatedDirection)
{
    ConstructWithFont();
    std::memset(&g_graphics->light, 0xA5, sizeof(g_graphics->light));

    SetDirectionalLight(D3DXVECTOR3(-2000.0f, -380.0f, -2000.0f));

    D3DLIGHT9 expected;
    std::memset(&expected, 0, sizeof(expected));
    expected.Type = D3DLIGHT_DIRECTIONAL;
    expected.Diffuse = Color(0.8f, 0.8f, 0.8f, 1.0f);
    expected.Specular = Color(0.8f, 0.8f, 0.8f, 1.0f);
    expected.Ambient = Color(0.2f, 0.2f, 0.2f, 1.0f);
    expected.Direction.x = 2000.0f;
    expected.Direction.y = 380.0f;
    expected.Direction.z = 2000.0f;
    expected.Range = 10000.0f;
    expected.Falloff = 1.0f;
    expected.Phi = 3.1415927f;

    EXPECT_THAT(Calls(), ElementsAre("device.SetLight(0)"));
    ASSERT_EQ(fakes.device.lights.size(), 1u);
    const D3DLIGHT9& sent = fakes.device.lights[0];
    EXPECT_EQ(d3d_fakes::Describe(sent), d3d_fakes::Describe(expected));
    // Bit for bit, so that a garbage byte left in any field shows too.
    EXPECT_EQ(std::memcmp(&sent, &expected, sizeof(D3DLIGHT9)), 0);
    EXPECT_EQ(std::memcmp(&g_graphics->light, &expected, sizeof(D3DLIGHT9)), 0);
}

TEST_F(FakeGraphicsTest, CameraLooksFromEyeAtTargetWithYUp)
{
    ConstructWithFont();

    SetCamera(D3DXVECTOR3(2000.0f, 500.0f, 2000.0f), D3DXVECTOR3(0.0f, 120.0f, 0.0f));

    ASSERT_EQ(fakes.madeMatrices.size(), 1u);
    EXPECT_THAT(Calls(), ElementsAre("D3DXMatrixLookAtRH({2000, 500, 2000}, {0, 120, 0}, {0, 1, 0})",
                                     "device.SetTransform(2, " + d3d_fakes::Matrix(fakes.madeMatrices[0]) + ")"));
    ASSERT_EQ(fakes.device.transforms.size(), 1u);
    EXPECT_EQ(fakes.device.transforms[0].first, D3DTS_VIEW);
    EXPECT_TRUE(SameMatrix(fakes.device.transforms[0].second, fakes.madeMatrices[0]));
}

} // namespace
} // namespace graphics_test
