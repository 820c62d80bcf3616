// A fixture for the graphics module on the recording Direct3D doubles.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "cp932_text.h"
#include "graphics/graphics_device.h"
#include "graphics/text.h"
#include "tests/support/d3d_fakes.h"
#include "tests/support/hresult.h"

namespace graphics_test {

// Never handed to user32: the fakes only log it.
inline HWND FakeMainWindow()
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5150));
}

// A failed call as the log shows it.
inline std::string Failed(const std::string& call, HRESULT result)
{
    return call + " -> " + FormatHResult(result);
}

class FakeGraphicsTest : public ::testing::Test {
protected:
    FakeGraphicsTest()
    {
        g_mainWindow = FakeMainWindow();
        g_graphics = nullptr;
        g_font = nullptr;
    }

    ~FakeGraphicsTest() override
    {
        if (g_font != nullptr)
            g_font->Release();
        g_font = nullptr;
        delete g_graphics;
        g_graphics = nullptr;
        g_mainWindow = nullptr;
    }

    void Construct(bool windowed = true, int width = 640, int height = 480)
    {
        g_graphics = new GraphicsDevice(windowed, width, height);
    }

    bool CreateFont()
    {
        return CreateTextFont(24, 12, false, kGothicFace, &g_font);
    }

    // Device, sprite and font as the program has them between frames, with
    // the log of their creation cleared.
    void ConstructWithFont()
    {
        Construct();
        ASSERT_NE(g_graphics->device, nullptr);
        ASSERT_TRUE(CreateFont());
        fakes.log.Clear();
    }

    const std::vector<std::string>& Calls() const { return fakes.log.Calls(); }

    fakes::Session session;
    d3d_fakes::Environment fakes{session};
};

} // namespace graphics_test
