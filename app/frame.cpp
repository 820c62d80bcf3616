#include "app/frame.h"

#include <d3dx9.h>

#include "app/main_window.h"
#include "app/user_seams.h"
#include "graphics/graphics_device.h"
#include "graphics/scene.h"
#include "graphics/text.h"

namespace {

constexpr float kNearPlane = 100.0f;
constexpr float kFarPlane = 10000.0f;
constexpr float kFieldOfViewDegrees = 10.0f;
constexpr LONG kTextBoxWidth = 300;
constexpr LONG kTextBoxHeight = 50;
constexpr DWORD kTextFormat = DT_LEFT | DT_TOP;
constexpr D3DCOLOR kTextColor = 0xFFFFFFFF;

// Where the cursor was last read. While it cannot be read (another desktop
// has the input, say) the text stays where it was instead of jumping.
POINT g_lastCursor = {0, 0};

POINT CursorInClientArea()
{
    POINT cursor;
    if (ReadCursorPos(&cursor) && ScreenToClient(g_mainWindow, &cursor))
        g_lastCursor = cursor;
    return g_lastCursor;
}

} // namespace

void RenderFrame()
{
    const D3DXVECTOR3 eye(2000.0f, 500.0f, 2000.0f);
    const D3DXVECTOR3 target(0.0f, 120.0f, 0.0f);

    BeginFrame(kNearPlane, kFarPlane, kFieldOfViewDegrees);
    SetDirectionalLight(target - eye);
    SetCamera(eye, target);

    const POINT cursor = CursorInClientArea();
    BeginSprite();
    DrawTextAt("フォント文字を表示", cursor.x, cursor.y,
               cursor.x + kTextBoxWidth, cursor.y + kTextBoxHeight, kTextFormat, kTextColor);
    EndSprite();
    EndFrame();
}
