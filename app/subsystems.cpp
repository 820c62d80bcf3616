#include "app/subsystems.h"

#include "app/config.h"
#include "app/main_window.h"
#include "graphics/graphics_device.h"
#include "graphics/text.h"
#include "input/keyboard_input.h"
#include "sound/sound_device.h"

// Defined together, in this order, because their initialisers must run in
// this order and C++ orders static initialisation only within one file.
KeyboardInput* g_keyboard = new KeyboardInput;
SoundDevice* g_sound = new SoundDevice;

GraphicsDevice* g_graphics = nullptr;
ID3DXFont* g_font = nullptr;

BOOL InitSubsystems()
{
    g_graphics = new GraphicsDevice(kWindowed, kClientWidth, kClientHeight);
    // Fails, among other reasons, when the device could not be created.
    if (!CreateTextFont(24, 12, false, "ＭＳ ゴシック", &g_font))
        return FALSE;
    if (InitKeyboard() != 0)
        return FALSE;
    // The keyboard may have shown a message box, whose modal loop lets the
    // user close the main window; shutdown has then deleted everything.
    if (g_sound != nullptr)
        InitSound();
    return TRUE;
}

void ShutdownSubsystems()
{
    // First, so that no frame runs while the objects go.
    KillTimer(g_mainWindow, kFrameTimerId);
    if (g_sound != nullptr) {
        delete g_sound;
        g_sound = nullptr;
    }
    if (g_keyboard != nullptr) {
        delete g_keyboard;
        g_keyboard = nullptr;
    }
    // The font lives on the device, so it goes first.
    if (g_font != nullptr) {
        g_font->Release();
        g_font = nullptr;
    }
    if (g_graphics != nullptr) {
        delete g_graphics;
        g_graphics = nullptr;
    }
}

void OnActivate(WPARAM wParam)
{
    // The whole wParam counts: a minimised window being deactivated has
    // WA_INACTIVE in the low word but a non-zero high word, and acquires.
    if (g_keyboard != nullptr)
        SetKeyboardAcquired(wParam != 0);
}
