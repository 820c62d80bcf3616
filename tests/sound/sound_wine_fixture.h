// What the tests against Wine's real DirectSound share: a window of the
// test's own as the main window, a fresh g_sound, and a look at the audio
// setting of the Wine prefix the test runs in, since that decides what
// DirectSound can find.
#pragma once

#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "app/main_window.h"
#include "sound/sound_device.h"
#include "tests/support/hresult.h"

// Wine's HKCU\Software\Wine\Drivers "Audio" value: the audio drivers it may
// load ("" for none). "(unset)" when there is no such value.
inline std::string WineAudioDrivers()
{
    char value[256] = {};
    DWORD size = sizeof(value);
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Wine\\Drivers", "Audio", RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return "(unset)";
    return value;
}

class SoundOnWineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window_ = CreateWindowExA(0, "STATIC", "Vexalune sound test", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        g_mainWindow = window_;
        g_sound = new SoundDevice;
    }

    void TearDown() override
    {
        delete g_sound;
        g_sound = nullptr;
        g_mainWindow = nullptr;
        if (window_ != nullptr)
            DestroyWindow(window_);
    }

    HWND window_ = nullptr;
};
