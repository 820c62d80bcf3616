// BeginFrame, SetDirectionalLight and SetCamera on the recording doubles.
#include <cstring>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_graphics_fixture.h"
#include "graphics/scene.h"
#include "tests/support/frame_state.h"

namespace graphics_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using fakes::Hex;

std::string RenderState(const frame_state::Setting& setting)
{
    return "device.SetRenderState(" + std::to_string(setting.state) + ", " + Hex(setting.value) + ")";
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
    std::vector<std::string> expected = {"device.Clear(0, null, 0x3, 0xff1e415a, 1, 0)", "device.BeginScene()"};
    for (const frame_state::Setting& setting : frame_state::kRenderStates)
        expected.push_back(RenderState(setting));
    for (const frame_state::Setting& setting : frame_state::kTextureStageStates)
        expected.push_back("device.SetTextureStageState(0, " + std::to_string(setting.state) + ", " +
                           Hex(setting.value) + ")");
    for (const frame_state::Setting& setting : frame_state::kSamplerStates)
        expected.push_back("device.SetSamplerState(0, " + std::to_string(setting.state) + ", " + Hex(setting.value) +
                           ")");
    expected.push_back("device.LightEnable(0, 1)");
    for (const frame_state::Setting& setting : frame_state::kLightingStates)
        expected.push_back(RenderState(setting));
    expected.push_back("device.SetFVF(" + Hex(frame_state::kVertexFormat) + ")");
    expected.push_back(RenderState(frame_state::kShadeMode));
    expected.push_back("D3DXMatrixPerspectiveFovRH(" + d3d_fakes::Float(frame_state::kFovY) + ", " +
                       d3d_fakes::Float(frame_state::kAspect) + ", " + d3d_fakes::Float(frame_state::kNear) + ", " +
                       d3d_fakes::Float(frame_state::kFar) + ")");
    expected.push_back("device.SetTransform(3, " + d3d_fakes::Matrix(fakes.madeMatrices[0]) + ")");
    EXPECT_THAT(Calls(), ElementsAreArray(expected));

    // Single precision throughout: 10 degrees is exactly 0.17453292f and
    // 640/480 exactly 1.3333334f, not their double values rounded later.
    ASSERT_EQ(fakes.perspectiveRequests.size(), 1u);
    const d3d_fakes::PerspectiveRequest& request = fakes.perspectiveRequests[0];
    EXPECT_EQ(Bits(request.fovY), Bits(frame_state::kFovY));
    EXPECT_EQ(Bits(request.aspect), Bits(frame_state::kAspect));
    EXPECT_EQ(Bits(request.zNear), Bits(frame_state::kNear));
    EXPECT_EQ(Bits(request.zFar), Bits(frame_state::kFar));
    ASSERT_EQ(fakes.device->transforms.size(), 1u);
    EXPECT_EQ(fakes.device->transforms[0].first, D3DTS_PROJECTION);
    EXPECT_TRUE(SameMatrix(fakes.device->transforms[0].second, fakes.madeMatrices[0]));
}

TEST_F(FakeGraphicsTest, DirectionalLightIsRebuiltFromZeroAndShinesAlongTheNegatedDirection)
{
    ConstructWithFont();
    std::memset(&g_graphics->light, 0xA5, sizeof(g_graphics->light));

    SetDirectionalLight(frame_state::kTarget - frame_state::kEye);

    const D3DLIGHT9 expected = frame_state::Light();

    EXPECT_THAT(Calls(), ElementsAre("device.SetLight(0)"));
    ASSERT_EQ(fakes.device->lights.size(), 1u);
    const D3DLIGHT9& sent = fakes.device->lights[0];
    EXPECT_EQ(d3d_fakes::Describe(sent), d3d_fakes::Describe(expected));
    // Bit for bit, so that a garbage byte left in any field shows too.
    EXPECT_EQ(std::memcmp(&sent, &expected, sizeof(D3DLIGHT9)), 0);
    EXPECT_EQ(std::memcmp(&g_graphics->light, &expected, sizeof(D3DLIGHT9)), 0);
}

TEST_F(FakeGraphicsTest, CameraLooksFromEyeAtTargetWithYUp)
{
    ConstructWithFont();

    SetCamera(frame_state::kEye, frame_state::kTarget);

    ASSERT_EQ(fakes.madeMatrices.size(), 1u);
    EXPECT_THAT(Calls(), ElementsAre("D3DXMatrixLookAtRH({2000, 500, 2000}, {0, 120, 0}, {0, 1, 0})",
                                     "device.SetTransform(2, " + d3d_fakes::Matrix(fakes.madeMatrices[0]) + ")"));
    ASSERT_EQ(fakes.device->transforms.size(), 1u);
    EXPECT_EQ(fakes.device->transforms[0].first, D3DTS_VIEW);
    EXPECT_TRUE(SameMatrix(fakes.device->transforms[0].second, fakes.madeMatrices[0]));
}

} // namespace
} // namespace graphics_test
