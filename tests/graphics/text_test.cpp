// Font creation, the sprite batch and DrawTextAt on the recording doubles.
#include <ostream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_graphics_fixture.h"

namespace graphics_test {
namespace {

using ::testing::ElementsAre;

struct FontCase {
    int height;
    int width;
    bool bold;
    std::string face;
    UINT weight;
};

void PrintTo(const FontCase& c, std::ostream* out)
{
    *out << (c.bold ? "bold" : "normal");
}

class FontCreation : public FakeGraphicsTest, public ::testing::WithParamInterface<FontCase> {};

TEST_P(FontCreation, PassesEveryArgumentAndTheFaceNameBytesUnchanged)
{
    const FontCase& c = GetParam();
    Construct();

    ASSERT_TRUE(CreateTextFont(c.height, c.width, c.bold, c.face, &g_font));

    EXPECT_EQ(g_font, fakes.font.get());
    ASSERT_EQ(fakes.fontRequests.size(), 1u);
    const d3d_fakes::FontRequest& request = fakes.fontRequests[0];
    EXPECT_EQ(request.device, "device");
    EXPECT_EQ(request.height, c.height);
    EXPECT_EQ(request.width, static_cast<UINT>(c.width));
    EXPECT_EQ(request.weight, c.weight);
    EXPECT_EQ(request.mipLevels, 0u);
    EXPECT_EQ(request.italic, FALSE);
    EXPECT_EQ(request.charset, static_cast<DWORD>(SHIFTJIS_CHARSET));
    EXPECT_EQ(request.precision, static_cast<DWORD>(OUT_DEFAULT_PRECIS));
    EXPECT_EQ(request.quality, static_cast<DWORD>(DEFAULT_QUALITY));
    EXPECT_EQ(request.pitchAndFamily, static_cast<DWORD>(DEFAULT_PITCH | FF_DONTCARE));
    EXPECT_EQ(d3d_fakes::Bytes(request.faceName), d3d_fakes::Bytes(c.face));
}

INSTANTIATE_TEST_SUITE_P(Weights, FontCreation,
                         ::testing::Values(FontCase{24, 12, false, kGothicFace, FW_NORMAL},
                                           FontCase{16, 8, true, "Tahoma", FW_BOLD}),
                         [](const ::testing::TestParamInfo<FontCase>& info) {
                             return std::string(info.param.bold ? "Bold" : "Normal");
                         });

TEST_F(FakeGraphicsTest, FailedFontCreationIsReported)
{
    Construct();
    fakes.failures.Fail("D3DXCreateFontA", E_OUTOFMEMORY);

    EXPECT_FALSE(CreateFont());
    EXPECT_EQ(g_font, nullptr);
    EXPECT_EQ(fakes.fontRequests.size(), 1u);
}

TEST_F(FakeGraphicsTest, SpriteBatchSortsBackToFrontWithoutAlphaBlendFlag)
{
    ConstructWithFont();

    BeginSprite();
    EndSprite();

    EXPECT_THAT(Calls(), ElementsAre("sprite.Begin(0x80)", "sprite.End()"));
}

struct TextCase {
    const char* name;
    std::string text;
    RECT rect;
    DWORD format;
    D3DCOLOR color;
    std::string drawn; // what D3DX gets to see
};

void PrintTo(const TextCase& c, std::ostream* out)
{
    *out << c.name;
}

class TextDrawing : public FakeGraphicsTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextDrawing, ReachesTheFontUnchangedThroughTheSprite)
{
    const TextCase& c = GetParam();
    ConstructWithFont();

    DrawTextAt(c.text, c.rect.left, c.rect.top, c.rect.right, c.rect.bottom, c.format, c.color);

    ASSERT_EQ(fakes.font->drawn.size(), 1u);
    const d3d_fakes::DrawnText& drawn = fakes.font->drawn[0];
    EXPECT_EQ(drawn.sprite, "sprite");
    EXPECT_EQ(d3d_fakes::Bytes(drawn.text), d3d_fakes::Bytes(c.drawn));
    EXPECT_EQ(drawn.count, -1);
    EXPECT_EQ(drawn.rect.left, c.rect.left);
    EXPECT_EQ(drawn.rect.top, c.rect.top);
    EXPECT_EQ(drawn.rect.right, c.rect.right);
    EXPECT_EQ(drawn.rect.bottom, c.rect.bottom);
    EXPECT_EQ(drawn.format, c.format);
    EXPECT_EQ(drawn.color, c.color);
    EXPECT_EQ(Calls().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextDrawing,
    ::testing::Values(TextCase{"Message", kMessage, {100, 200, 400, 250}, 0, 0xFFFFFFFF, kMessage},
                      // Not clamped to the 640x480 back buffer.
                      TextCase{"OutsideTheBackBuffer",
                               "abc",
                               {-50, -20, 900, 700},
                               DT_CENTER | DT_VCENTER | DT_SINGLELINE,
                               0x80FF0000,
                               "abc"},
                      TextCase{"StopsAtEmbeddedNul", std::string("ab\0cd", 5), {0, 0, 10, 10}, 0, 0xFF000000, "ab"}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST_F(FakeGraphicsTest, WithoutFontNothingIsDrawn)
{
    Construct();
    fakes.log.Clear();

    BeginSprite();
    DrawTextAt(kMessage, 100, 200, 400, 250, 0, 0xFFFFFFFF);
    EndSprite();

    EXPECT_THAT(Calls(), ElementsAre("sprite.Begin(0x80)", "sprite.End()"));
}

} // namespace
} // namespace graphics_test
