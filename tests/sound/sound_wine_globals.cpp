#include "app/main_window.h"
#include "sound/sound_device.h"

// The program's globals, which the test programs own.
SoundDevice* g_sound = nullptr;
HWND g_mainWindow = nullptr;
