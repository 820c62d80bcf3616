#include "graphics/text.h"

#include "graphics/graphics_device.h"

namespace {

// Glyphs drawn through the sprite are sorted back to front; D3DX's font
// sets up its own blending for them.
constexpr DWORD kSpriteFlags = D3DXSPRITE_SORT_DEPTH_BACKTOFRONT;

ID3DXSprite* CurrentSprite()
{
    return g_graphics != nullptr ? g_graphics->sprite : nullptr;
}

} // namespace

bool CreateTextFont(int height, int width, bool bold, std::string faceName, ID3DXFont** font)
{
    IDirect3DDevice9* device = CurrentDevice();
    if (device == nullptr)
        return false;

    const UINT weight = bold ? FW_BOLD : FW_NORMAL;
    const HRESULT result = D3DXCreateFontA(device, height, width, weight, 0, FALSE, SHIFTJIS_CHARSET,
                                           OUT_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                           faceName.c_str(), font);
    return SUCCEEDED(result);
}

void BeginSprite()
{
    if (ID3DXSprite* sprite = CurrentSprite())
        sprite->Begin(kSpriteFlags);
}

void DrawTextAt(std::string text, LONG left, LONG top, LONG right, LONG bottom, DWORD format, D3DCOLOR color)
{
    if (g_font == nullptr)
        return;

    RECT rect = {left, top, right, bottom};
    // Without a sprite, D3DX draws the text with one of its own.
    g_font->DrawTextA(CurrentSprite(), text.c_str(), -1, &rect, format, color);
}

void EndSprite()
{
    if (ID3DXSprite* sprite = CurrentSprite())
        sprite->End();
}
