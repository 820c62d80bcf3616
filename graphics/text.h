// Text output through a D3DX font and the graphics device's sprite batch.
// Strings are narrow, in code page 932, matching the Shift-JIS font.
#pragma once

#include <string>

#include <d3dx9.h>

extern ID3DXFont* g_font;

// Creates a Shift-JIS font on the device of g_graphics into *font; false
// when it could not be created (always so without a device).
bool CreateTextFont(int height, int width, bool bold, std::string faceName, ID3DXFont** font);

void BeginSprite();

// Draws text, up to its first NUL, into the rectangle, through the sprite
// batch that BeginSprite opened.
void DrawTextAt(std::string text, LONG left, LONG top, LONG right, LONG bottom, DWORD format, D3DCOLOR color);

void EndSprite();
