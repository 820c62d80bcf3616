// E_NOTIMPL from SetCooperativeLevel, with the doubles of DirectInput but
// Wine's real MessageBoxA: the user is told, in code page 932, and the
// keyboard is left created but not acquired.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "input/keyboard_input.h"
#include "tests/support/dialog_watcher.h"
#include "tests/support/dinput_fakes.h"

namespace {

using dinput_fakes::DInputFakes;
using CallLog = std::vector<std::string>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const CallLog kUpToSetCooperativeLevel = {"DirectInput8Create", "directinput.CreateDevice", "keyboard.SetDataFormat",
                                          "keyboard.SetCooperativeLevel"};

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
    fakes::Session session;
    DInputFakes fakes{session};
};

TEST_F(KeyboardMessageBoxTest, ENotImplIsToldInABoxThenInitKeyboardReturnsZeroWithTheDeviceNotAcquired)
{
    ASSERT_NE(mainWindow_, nullptr);
    ASSERT_EQ(GetACP(), 932u) << "the test needs Wine's ANSI code page to be 932 (LC_ALL=ja_JP.UTF-8)";
    session.failures.Fail("keyboard.SetCooperativeLevel", E_NOTIMPL);

    CallLog logWhileShown;
    bool shownBeforeReturn = false;
    bool returned = false;
    HRESULT result;
    {
        DialogWatcher boxes([&](HWND box) {
            logWhileShown = session.log.Names();
            shownBeforeReturn = !returned;
            DialogWatcher::Answer(IDOK)(box);
        });
        result = InitKeyboard();
        returned = true;

        ASSERT_EQ(boxes.Shown().size(), 1u);
        const SeenDialog& box = boxes.Shown()[0];
        EXPECT_FALSE(box.closedByDeadline) << "the box was not seen being activated";
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.captionBytes, "ERROR");
        EXPECT_THAT(box.textBytes, ElementsAre(kMessageCp932));
        EXPECT_THAT(box.texts, ElementsAre(L"DirectInputの初期化に失敗"));
        EXPECT_THAT(box.buttonIds, ElementsAre(IDOK));
    }

    EXPECT_TRUE(shownBeforeReturn);
    EXPECT_EQ(logWhileShown, kUpToSetCooperativeLevel);
    EXPECT_EQ(result, 0);
    // Nothing more after the box was closed: no Acquire.
    EXPECT_EQ(session.log.Names(), kUpToSetCooperativeLevel);
    ASSERT_EQ(g_keyboard->keyboardDevice, fakes.devices.Last());
    EXPECT_EQ(g_keyboard->directInput, fakes.directInputs.Last());
    EXPECT_THAT(fakes.devices.Last()->dataFormats, ElementsAre(&c_dfDIKeyboard));
    EXPECT_FALSE(fakes.devices.Last()->acquired);

    // The window becoming active later acquires the device as usual.
    SetKeyboardAcquired(true);
    EXPECT_EQ(session.log.Names().back(), "keyboard.Acquire");
    EXPECT_TRUE(fakes.devices.Last()->acquired);

    delete g_keyboard;
    g_keyboard = nullptr;
    EXPECT_THAT(session.Unreleased(), IsEmpty());
}

} // namespace
