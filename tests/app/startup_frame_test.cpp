// Start-up, shutdown, the activation hook and the frame routine, with the
// graphics, keyboard and sound code replaced by recording doubles: what is
// checked is the order of the steps, their arguments, and what start-up
// does when one of them fails.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include "app/config.h"
#include "app/frame.h"
#include "app/main_window.h"
#include "app/subsystems.h"
#include "app/user_seams.h"
#include "graphics/graphics_device.h"
#include "graphics/scene.h"
#include "graphics/text.h"
#include "input/keyboard_input.h"
#include "sound/sound_device.h"
#include "tests/support/d3d_fakes.h"
#include "tests/support/message_pump.h"

using ::testing::ElementsAre;

namespace {

// Function-local so that it exists before the program's static
// initialisers, which construct the keyboard and sound objects, run.
std::vector<std::string>& Steps()
{
    static std::vector<std::string> steps;
    return steps;
}

void Step(const std::string& step) { Steps().push_back(step); }

std::string Text(float value)
{
    char text[32];
    snprintf(text, sizeof(text), "%.9g", value);
    return text;
}

// Every byte as two hex digits: the program's strings are code page 932.
std::string HexBytes(const std::string& bytes)
{
    std::string text;
    char digits[4];
    for (unsigned char byte : bytes) {
        snprintf(digits, sizeof(digits), text.empty() ? "%02X" : " %02X", byte);
        text += digits;
    }
    return text;
}

// Which object static initialisation constructed first (1) and second (2).
// Plain ints are set before any constructor runs, so the doubles can count
// on them from the program's own static initialisers.
int g_constructions;
int g_keyboardConstructedAs;
int g_soundConstructedAs;

std::string Text(const D3DXVECTOR3& v) { return "(" + Text(v.x) + "," + Text(v.y) + "," + Text(v.z) + ")"; }

// What the doubles answer.
struct Script {
    bool fontCreated = true;
    HRESULT keyboardResult = S_OK;
    BOOL soundResult = TRUE;
    bool destroyWindowDuringKeyboard = false; // as the user can from its message box
    bool cursorReadable = true;
    POINT cursor = {0, 0}; // screen coordinates
};
Script g_script;

} // namespace

// ---- Doubles of the graphics, keyboard and sound code and of the seam ----

HINSTANCE g_instance = nullptr;
HWND g_mainWindow = nullptr;

GraphicsDevice::GraphicsDevice(bool windowed, int width, int height)
    : clearColor(0), adapter(0), width(0), height(0), direct3d(nullptr), device(nullptr), presentParams(),
      light(), sprite(nullptr)
{
    Step("GraphicsDevice(" + std::to_string(windowed) + "," + std::to_string(width) + "," +
         std::to_string(height) + ")");
}
GraphicsDevice::~GraphicsDevice() { Step("~GraphicsDevice"); }
void EndFrame() { Step("EndFrame"); }

bool CreateTextFont(int height, int width, bool bold, std::string faceName, ID3DXFont** font)
{
    Step("CreateTextFont(" + std::to_string(height) + "," + std::to_string(width) + "," + std::to_string(bold) +
         "," + HexBytes(faceName) + "," + (font == &g_font ? "&g_font" : "?") + ")");
    if (!g_script.fontCreated)
        return false;
    // A font from the D3DX doubles, whose references the test can count.
    return SUCCEEDED(D3DXCreateFontA(nullptr, height, width, FW_NORMAL, 0, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, faceName.c_str(), font));
}
void BeginSprite() { Step("BeginSprite"); }
void DrawTextAt(std::string text, LONG left, LONG top, LONG right, LONG bottom, DWORD format, D3DCOLOR color)
{
    char values[96];
    snprintf(values, sizeof(values), ",%ld,%ld,%ld,%ld,0x%lx,0x%08lx)", static_cast<long>(left),
             static_cast<long>(top), static_cast<long>(right), static_cast<long>(bottom),
             static_cast<unsigned long>(format), static_cast<unsigned long>(color));
    Step("DrawTextAt(" + HexBytes(text) + values);
}
void EndSprite() { Step("EndSprite"); }

void BeginFrame(float zNear, float zFar, float fovDegrees)
{
    Step("BeginFrame(" + Text(zNear) + "," + Text(zFar) + "," + Text(fovDegrees) + ")");
}
void SetDirectionalLight(D3DXVECTOR3 direction) { Step("SetDirectionalLight" + Text(direction)); }
void SetCamera(D3DXVECTOR3 eye, D3DXVECTOR3 target) { Step("SetCamera" + Text(eye) + Text(target)); }

KeyboardInput::KeyboardInput() : directInput(nullptr), keyboardDevice(nullptr)
{
    if (g_keyboardConstructedAs == 0)
        g_keyboardConstructedAs = ++g_constructions;
}
KeyboardInput::~KeyboardInput() { Step("~KeyboardInput"); }
HRESULT InitKeyboard()
{
    Step("InitKeyboard");
    if (g_script.destroyWindowDuringKeyboard)
        DestroyWindow(g_mainWindow);
    return g_script.keyboardResult;
}
void SetKeyboardAcquired(bool acquire) { Step(std::string("SetKeyboardAcquired(") + (acquire ? "true" : "false") + ")"); }

SoundDevice::SoundDevice() : directSound(nullptr), primaryBuffer(nullptr), secondaryBuffers()
{
    if (g_soundConstructedAs == 0)
        g_soundConstructedAs = ++g_constructions;
}
SoundDevice::~SoundDevice()
{
    // KillTimer answers FALSE for a timer that no longer exists; a running
    // one would be killed here, but the step says it was still running.
    const bool timerRunning = g_mainWindow != nullptr && KillTimer(g_mainWindow, kFrameTimerId);
    Step(timerRunning ? "~SoundDevice (timer running)" : "~SoundDevice");
}
BOOL SoundDevice::CreatePrimaryBuffer() { return FALSE; }
BOOL InitSound()
{
    Step("InitSound");
    return g_script.soundResult;
}

BOOL ReadCursorPos(POINT* point)
{
    if (!g_script.cursorReadable)
        return FALSE;
    *point = g_script.cursor;
    return TRUE;
}

namespace {

LRESULT CALLBACK ShutdownOnDestroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        ShutdownSubsystems();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class Subsystems : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ShutdownOnDestroy;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "SubsystemsTest";
        RegisterClassA(&windowClass);
    }

    void SetUp() override
    {
        g_script = Script();
        // A window at a known place, so client coordinates are predictable.
        g_mainWindow = CreateWindowExA(0, "SubsystemsTest", "", WS_POPUP | WS_VISIBLE, 100, 50, 640, 480, nullptr,
                                       nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(g_mainWindow, nullptr);
        if (g_keyboard == nullptr)
            g_keyboard = new KeyboardInput;
        if (g_sound == nullptr)
            g_sound = new SoundDevice;
        Steps().clear();
    }

    void TearDown() override
    {
        if (IsWindow(g_mainWindow))
            DestroyWindow(g_mainWindow);
        DiscardMessages();
        // Whatever a test left behind, without recording it.
        delete g_graphics;
        g_graphics = nullptr;
        g_font = nullptr;
    }

    fakes::Session session_;
    d3d_fakes::Environment environment_{session_};
};

// "ＭＳ ゴシック" in code page 932.
const char kFaceName[] = "82 6C 82 72 20 83 53 83 56 83 62 83 4E";

TEST_F(Subsystems, StaticInitialisationCreatesKeyboardThenSound)
{
    EXPECT_EQ(g_keyboardConstructedAs, 1);
    EXPECT_EQ(g_soundConstructedAs, 2);
}

TEST_F(Subsystems, StartUpBringsUpGraphicsFontKeyboardAndSoundInOrder)
{
    EXPECT_TRUE(InitSubsystems());
    EXPECT_THAT(Steps(), ElementsAre("GraphicsDevice(1,640,480)",
                                     std::string("CreateTextFont(24,12,0,") + kFaceName + ",&g_font)",
                                     "InitKeyboard", "InitSound"));
    EXPECT_NE(g_graphics, nullptr);
    EXPECT_EQ(g_font, environment_.font.get());
}

TEST_F(Subsystems, StartUpStopsAtAFailedFontOrKeyboardAndIgnoresSound)
{
    struct Case {
        const char* name;
        bool fontCreated;
        HRESULT keyboardResult;
        BOOL soundResult;
        BOOL expected;
        std::vector<std::string> lastSteps;
    };
    const Case cases[] = {
        {"font fails", false, S_OK, TRUE, FALSE, {"CreateTextFont"}},
        {"keyboard fails", true, DIERR_NOTINITIALIZED, TRUE, FALSE, {"CreateTextFont", "InitKeyboard"}},
        {"keyboard answers a success code", true, S_FALSE, TRUE, FALSE, {"CreateTextFont", "InitKeyboard"}},
        {"sound fails", true, S_OK, FALSE, TRUE, {"CreateTextFont", "InitKeyboard", "InitSound"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_script.fontCreated = c.fontCreated;
        g_script.keyboardResult = c.keyboardResult;
        g_script.soundResult = c.soundResult;
        Steps().clear();
        EXPECT_EQ(InitSubsystems(), c.expected);
        std::vector<std::string> names;
        for (const std::string& step : Steps())
            if (step.rfind("GraphicsDevice", 0) != 0)
                names.push_back(step.substr(0, step.find('(')));
        EXPECT_EQ(names, c.lastSteps);
        // A failed start-up releases nothing: the process ends next.
        delete g_graphics;
        g_graphics = nullptr;
    }
}

TEST_F(Subsystems, ShutdownKillsTheTimerFirstThenReleasesInOrder)
{
    ASSERT_TRUE(InitSubsystems());
    SetTimer(g_mainWindow, kFrameTimerId, kFrameIntervalMs, nullptr);
    // The font's Release among the steps, to see where it comes.
    environment_.log.SetObserver([](const std::string& call) {
        if (call == "font.Release()")
            Step(call);
    });
    Steps().clear();

    ShutdownSubsystems();
    environment_.log.SetObserver(nullptr);

    // The font lives on the device: it goes before the graphics device.
    EXPECT_THAT(Steps(), ElementsAre("~SoundDevice", "~KeyboardInput", "font.Release()", "~GraphicsDevice"));
    EXPECT_EQ(environment_.font->Refs(), 0);
    EXPECT_EQ(g_sound, nullptr);
    EXPECT_EQ(g_keyboard, nullptr);
    EXPECT_EQ(g_font, nullptr);
    EXPECT_EQ(g_graphics, nullptr);

    // A second shutdown finds nothing left to release.
    Steps().clear();
    ShutdownSubsystems();
    EXPECT_TRUE(Steps().empty());
}

TEST_F(Subsystems, WindowClosedDuringKeyboardStartUpLeavesTheRestAlone)
{
    // The keyboard's message box runs a modal loop in which the user can
    // close the main window: shutdown then runs inside start-up.
    g_script.destroyWindowDuringKeyboard = true;
    EXPECT_TRUE(InitSubsystems());
    EXPECT_THAT(Steps(), ElementsAre("GraphicsDevice(1,640,480)",
                                     std::string("CreateTextFont(24,12,0,") + kFaceName + ",&g_font)",
                                     "InitKeyboard", "~SoundDevice", "~KeyboardInput", "~GraphicsDevice"));
    EXPECT_EQ(g_sound, nullptr);
    EXPECT_EQ(environment_.font->Refs(), 0);
    // The quit message is waiting for the main loop, which then ends at once.
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

TEST_F(Subsystems, ActivationAcquiresUnlessWParamIsExactlyZero)
{
    const struct {
        WPARAM wParam;
        const char* step;
    } cases[] = {
        {WA_ACTIVE, "SetKeyboardAcquired(true)"},
        {WA_CLICKACTIVE, "SetKeyboardAcquired(true)"},
        {WA_INACTIVE, "SetKeyboardAcquired(false)"},
        // A minimised window being deactivated: the high word counts.
        {MAKEWPARAM(WA_INACTIVE, 1), "SetKeyboardAcquired(true)"},
    };
    for (const auto& c : cases) {
        Steps().clear();
        OnActivate(c.wParam);
        EXPECT_THAT(Steps(), ElementsAre(c.step)) << c.wParam;
    }

    // After shutdown there is no keyboard, and activation does nothing.
    ShutdownSubsystems();
    Steps().clear();
    OnActivate(WA_ACTIVE);
    EXPECT_TRUE(Steps().empty());
}

// ---- The frame routine ----

// "フォント文字を表示" in code page 932.
const char kFrameText[] = "83 74 83 48 83 93 83 67 95 B6 8E 9A 82 F0 95 5C 8E A6";

std::string DrawnAt(LONG x, LONG y)
{
    char values[96];
    snprintf(values, sizeof(values), ",%ld,%ld,%ld,%ld,0x0,0xffffffff)", static_cast<long>(x),
             static_cast<long>(y), static_cast<long>(x + 300), static_cast<long>(y + 50));
    return std::string("DrawTextAt(") + kFrameText + values;
}

POINT ScreenPointOfClient(LONG x, LONG y)
{
    POINT point = {x, y};
    ClientToScreen(g_mainWindow, &point);
    return point;
}

TEST_F(Subsystems, FrameSendsStateLightCameraAndTextAtTheCursorInOrder)
{
    g_script.cursor = ScreenPointOfClient(100, 200);
    RenderFrame();
    EXPECT_THAT(Steps(), ElementsAre("BeginFrame(100,10000,10)", "SetDirectionalLight(-2000,-380,-2000)",
                                     "SetCamera(2000,500,2000)(0,120,0)", "BeginSprite", DrawnAt(100, 200),
                                     "EndSprite", "EndFrame"));
}

TEST_F(Subsystems, TextBoxFollowsTheCursorWithoutClamping)
{
    const POINT clientPoints[] = {{0, 0}, {100, 200}, {-40, -7}, {639, 479}, {900, 700}};
    for (const POINT& client : clientPoints) {
        g_script.cursor = ScreenPointOfClient(client.x, client.y);
        Steps().clear();
        RenderFrame();
        ASSERT_EQ(Steps().size(), 7u);
        EXPECT_EQ(Steps()[4], DrawnAt(client.x, client.y));
    }
}

TEST_F(Subsystems, UnreadableCursorLeavesTheTextWhereItWas)
{
    g_script.cursor = ScreenPointOfClient(30, 40);
    RenderFrame();
    g_script.cursorReadable = false;
    g_script.cursor = ScreenPointOfClient(300, 400);
    Steps().clear();
    RenderFrame();
    ASSERT_EQ(Steps().size(), 7u) << "the frame is still drawn";
    EXPECT_EQ(Steps()[4], DrawnAt(30, 40));

    // Once it can be read again, the text follows it.
    g_script.cursorReadable = true;
    Steps().clear();
    RenderFrame();
    EXPECT_EQ(Steps()[4], DrawnAt(300, 400));
}

} // namespace
