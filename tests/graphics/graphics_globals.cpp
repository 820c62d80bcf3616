// The globals the graphics module reads. The program defines them in the
// start-up and shell modules, which the graphics tests do not link.
#include "app/main_window.h"
#include "graphics/graphics_device.h"
#include "graphics/text.h"

GraphicsDevice* g_graphics = nullptr;
ID3DXFont* g_font = nullptr;
HWND g_mainWindow = nullptr;
