// The keyboard module against Wine's real DirectInput 8, on a window of the
// test's own that is in the foreground, as the main window is when the
// program starts.
#include <string>

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "input/keyboard_input.h"
#include "tests/support/hresult.h"
#include "tests/support/message_pump.h"

KeyboardInput* g_keyboard = nullptr;
HWND g_mainWindow = nullptr;

namespace {

class KeyboardOnWineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "VexaluneKeyboardTest";
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, windowClass.lpszClassName, "Vexalune keyboard test", WS_OVERLAPPEDWINDOW, 0, 0,
                                  320, 240, nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(window_, nullptr);
        ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
        const DWORD start = GetTickCount();
        while (GetForegroundWindow() != window_ && GetTickCount() - start < 5000)
            PumpMessagesUntil(20);
        // DISCL_FOREGROUND lets the device be acquired only then.
        ASSERT_EQ(GetForegroundWindow(), window_);

        g_mainWindow = window_;
        g_keyboard = new KeyboardInput;
    }

    void TearDown() override
    {
        delete g_keyboard;
        g_keyboard = nullptr;
        g_mainWindow = nullptr;
        if (window_ != nullptr)
            DestroyWindow(window_);
    }

    // DirectInput answers DIERR_NOTACQUIRED unless the device is acquired.
    static HRESULT ReadState(IDirectInputDevice8A* device)
    {
        BYTE keys[256];
        return device->GetDeviceState(sizeof(keys), keys);
    }

    HWND window_ = nullptr;
};

TEST_F(KeyboardOnWineTest, InitKeyboardAcquiresARealKeyboardThatActivationUnacquiresAndAcquiresAgain)
{
    ASSERT_EQ(FormatHResult(InitKeyboard()), FormatHResult(0));
    ASSERT_NE(g_keyboard->directInput, nullptr);
    IDirectInputDevice8A* device = g_keyboard->keyboardDevice;
    ASSERT_NE(device, nullptr);

    // Acquired by InitKeyboard.
    EXPECT_EQ(FormatHResult(ReadState(device)), FormatHResult(DI_OK));

    SetKeyboardAcquired(false);
    EXPECT_EQ(FormatHResult(ReadState(device)), FormatHResult(DIERR_NOTACQUIRED));
    SetKeyboardAcquired(true);
    EXPECT_EQ(FormatHResult(ReadState(device)), FormatHResult(DI_OK));
}

TEST_F(KeyboardOnWineTest, TheDestructorUnacquiresAndReleasesBothObjects)
{
    ASSERT_EQ(FormatHResult(InitKeyboard()), FormatHResult(0));
    IDirectInput8A* directInput = g_keyboard->directInput;
    IDirectInputDevice8A* device = g_keyboard->keyboardDevice;
    ASSERT_NE(directInput, nullptr);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(FormatHResult(ReadState(device)), FormatHResult(DI_OK));

    // References of the test's own keep both alive past the destructor, and
    // what their release answers tells whether the destructor let go.
    device->AddRef();
    directInput->AddRef();
    delete g_keyboard;
    g_keyboard = nullptr;

    EXPECT_EQ(FormatHResult(ReadState(device)), FormatHResult(DIERR_NOTACQUIRED));
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(directInput->Release(), 0u);
}

} // namespace
