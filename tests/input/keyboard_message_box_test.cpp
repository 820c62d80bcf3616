// E_NOTIMPL from SetCooperativeLevel, with the doubles of DirectInput but
// Wine's real MessageBoxA: the user is told, in code page 932, and the
// keyboard is left created but not acquired.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "input/keyboard_input.h"
#include "support/message_box_watcher.h"
#include "tests/support/dinput_fakes.h"

namespace {

using dinput_fakes::Call;
using dinput_fakes::CallLog;
using dinput_fakes::DInputFakes;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const CallLog kUpToSetCooperativeLevel = {"DirectInput8Create", "IDirectInput8A::CreateDevice",
                                          "IDirectInputDevice8A::SetDataFormat",
                                          "IDirectInputDevice8A::SetCooperativeLevel"};

// "DirectInputの初期化に失敗" in code page 932.
const char kMessageCp932[] = "DirectInput\x82\xCC\x8F\x89\x8A\xFA\x89\xBB\x82\xC9\x8E\xB8\x94\x73";

class KeyboardMessageBoxTest : public ::testing::Test {
protected:
    KeyboardMessageBoxTest()
    {
        // A real window, so that a box wrongly owned by it would show.
        mainWindow_ = CreateWindowExA(0, "STATIC", "Vexalune test", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
        g_mainWindow = mainWindow_;
        g_keyboard = new KeyboardInput;
    }

    ~KeyboardMessageBoxTest() override
    {
        delete g_keyboard;
        g_keyboard = nullptr;
        g_mainWindow = nullptr;
        DestroyWindow(mainWindow_);
    }

    HWND mainWindow_;
    DInputFakes fakes;
};

TEST_F(KeyboardMessageBoxTest, ENotImplIsToldInABoxThenInitKeyboardReturnsZeroWithTheDeviceNotAcquired)
{
    ASSERT_NE(mainWindow_, nullptr);
    ASSERT_EQ(GetACP(), 932u) << "the test needs Wine's ANSI code page to be 932 (LC_ALL=ja_JP.UTF-8)";
    fakes.SetResult(Call::SetCooperativeLevel, E_NOTIMPL);

    CallLog logWhileShown;
    bool shownBeforeReturn = false;
    bool returned = false;
    HRESULT result;
    {
        MessageBoxWatcher boxes([&] {
            logWhileShown = fakes.Log();
            shownBeforeReturn = !returned;
        });
        result = InitKeyboard();
        returned = true;

        ASSERT_EQ(boxes.Shown().size(), 1u);
        const ShownMessageBox& box = boxes.Shown()[0];
        EXPECT_FALSE(box.closedByDeadline) << "the box was not seen being activated";
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.captionBytes, "ERROR");
        EXPECT_EQ(box.textBytes, kMessageCp932);
        EXPECT_EQ(box.text, L"DirectInputの初期化に失敗");
        EXPECT_THAT(box.buttonIds, ElementsAre(IDOK));
    }

    EXPECT_TRUE(shownBeforeReturn);
    EXPECT_EQ(logWhileShown, kUpToSetCooperativeLevel);
    EXPECT_EQ(result, 0);
    // Nothing more after the box was closed: no Acquire.
    EXPECT_EQ(fakes.Log(), kUpToSetCooperativeLevel);
    ASSERT_EQ(g_keyboard->keyboardDevice, fakes.LastDevice());
    EXPECT_EQ(g_keyboard->directInput, fakes.LastDirectInput());
    EXPECT_THAT(fakes.LastDevice()->dataFormats, ElementsAre(&c_dfDIKeyboard));
    EXPECT_FALSE(fakes.LastDevice()->acquired);

    // The window becoming active later acquires the device as usual.
    SetKeyboardAcquired(true);
    EXPECT_EQ(fakes.Log().back(), "IDirectInputDevice8A::Acquire");
    EXPECT_TRUE(fakes.LastDevice()->acquired);

    delete g_keyboard;
    g_keyboard = nullptr;
    EXPECT_THAT(fakes.Unreleased(), IsEmpty());
}

} // namespace
