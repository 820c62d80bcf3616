// The keyboard module against Wine's real DirectInput 8, on a window of the
// test's own that is in the foreground, as the main window is when the
// program starts.
#include <string>

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "input/keyboard_input.h"

KeyboardInput* g_keyboard = nullptr;
HWND g_mainWindow = nullptr;

namespace {

std::string Hex(HRESULT result)
{
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

void PumpMessages(DWORD ms)
{
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

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
            PumpMessages(20);
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

TEST_F(KeyboardOnWineTest, InitKeyboardAcquiresARealKeyboardThatCanBeUnacquiredAndAcquiredAgain)
{
    ASSERT_EQ(Hex(InitKeyboard()), Hex(0));
    ASSERT_NE(g_keyboard->directInput, nullptr);
    IDirectInputDevice8A* device = g_keyboard->keyboardDevice;
    ASSERT_NE(device, nullptr);

    // Acquired by InitKeyboard.
    EXPECT_EQ(Hex(ReadState(device)), Hex(DI_OK));

    EXPECT_EQ(Hex(device->Unacquire()), Hex(DI_OK));
    EXPECT_EQ(Hex(ReadState(device)), Hex(DIERR_NOTACQUIRED));
    EXPECT_EQ(Hex(device->Acquire()), Hex(DI_OK));
    EXPECT_EQ(Hex(ReadState(device)), Hex(DI_OK));

    SetKeyboardAcquired(false);
    EXPECT_EQ(Hex(ReadState(device)), Hex(DIERR_NOTACQUIRED));
    SetKeyboardAcquired(true);
    EXPECT_EQ(Hex(ReadState(device)), Hex(DI_OK));
}

TEST_F(KeyboardOnWineTest, TheDestructorUnacquiresAndReleasesBothObjects)
{
    ASSERT_EQ(Hex(InitKeyboard()), Hex(0));
    IDirectInput8A* directInput = g_keyboard->directInput;
    IDirectInputDevice8A* device = g_keyboard->keyboardDevice;
    ASSERT_NE(directInput, nullptr);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(Hex(ReadState(device)), Hex(DI_OK));

    // References of the test's own keep both alive past the destructor, and
    // what their release answers tells whether the destructor let go.
    device->AddRef();
    directInput->AddRef();
    delete g_keyboard;
    g_keyboard = nullptr;

    EXPECT_EQ(Hex(ReadState(device)), Hex(DIERR_NOTACQUIRED));
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(directInput->Release(), 0u);
}

} // namespace
