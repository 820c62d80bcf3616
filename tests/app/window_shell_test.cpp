// The main window, its procedure and the About box against Wine's real
// user32. Start-up, shutdown and the frame routine are replaced by recording
// doubles, so what is seen here is the shell alone.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "app/config.h"
#include "app/main_window.h"
#include "app/window_proc.h"
#include "res/resource.h"
#include "tests/support/dialog_watcher.h"
#include "tests/support/message_pump.h"

namespace {

int g_renderFrameCalls = 0;
int g_shutdownCalls = 0;
std::vector<WPARAM> g_activations;

} // namespace

void RenderFrame() { ++g_renderFrameCalls; }
void ShutdownSubsystems() { ++g_shutdownCalls; }
void OnActivate(WPARAM wParam) { g_activations.push_back(wParam); }

namespace {

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

std::wstring WindowTextW(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

class WindowShell : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        LoadStringA(Instance(), RES_TITLE, g_titleText, sizeof(g_titleText));
        LoadStringA(Instance(), RES_MAIN, g_windowClassName, sizeof(g_windowClassName));
        ASSERT_NE(RegisterMainWindowClass(Instance()), 0);
    }

    void SetUp() override
    {
        g_renderFrameCalls = 0;
        g_shutdownCalls = 0;
        g_activations.clear();
        g_mainWindow = nullptr;
    }

    void TearDown() override
    {
        if (g_mainWindow != nullptr && IsWindow(g_mainWindow))
            DestroyWindow(g_mainWindow);
        // Drop the WM_QUIT that the destruction posts, so the next test
        // starts with an empty queue.
        DiscardMessages();
    }

    HWND CreateShownWindow(int showCommand = SW_SHOWNORMAL)
    {
        EXPECT_TRUE(CreateMainWindow(Instance(), showCommand));
        return g_mainWindow;
    }
};

TEST_F(WindowShell, StringsComeFromTheStringTable)
{
    EXPECT_STREQ(g_titleText, "Vexalune");
    EXPECT_STREQ(g_windowClassName, "VEXALUNE");
}

TEST_F(WindowShell, ClassIsRegisteredWithItsIconsMenuCursorAndBackground)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    ASSERT_TRUE(GetClassInfoExA(Instance(), "VEXALUNE", &windowClass));
    EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(windowClass.lpfnWndProc, MainWindowProc);
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, 0);
    EXPECT_EQ(windowClass.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(windowClass.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
    EXPECT_EQ(windowClass.lpszMenuName, MAKEINTRESOURCEA(RES_MAIN));
    // LoadIconA hands out one shared handle per resource and size.
    EXPECT_EQ(windowClass.hIcon, LoadIconA(Instance(), MAKEINTRESOURCEA(RES_ICON)));
    EXPECT_EQ(windowClass.hIconSm, LoadIconA(Instance(), MAKEINTRESOURCEA(RES_ICON_SMALL)));
    ASSERT_NE(windowClass.hIcon, nullptr);
    ASSERT_NE(windowClass.hIconSm, nullptr);
}

TEST_F(WindowShell, WindowHasItsTitleStylePositionAndExactClientArea)
{
    HWND window = CreateShownWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WindowTextW(window), L"Vexalune");
    EXPECT_EQ(ClassNameOf(window), "VEXALUNE");

    const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    EXPECT_EQ(style & 0x00CF0000, 0x00CA0000) << std::hex << style;
    EXPECT_EQ(style & WS_THICKFRAME, 0) << "the border must not resize the window";
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
    EXPECT_NE(style & WS_VISIBLE, 0);
    EXPECT_EQ(GetWindowLongPtrA(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, 0);

    RECT windowRect;
    GetWindowRect(window, &windowRect);
    EXPECT_EQ(windowRect.left, 0);
    EXPECT_EQ(windowRect.top, 0);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, kClientWidth);
    EXPECT_EQ(client.bottom - client.top, kClientHeight);

    HMENU menu = GetMenu(window);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 2);
}

TEST_F(WindowShell, ShowCommandIsPassedThrough)
{
    HWND window = CreateShownWindow(SW_SHOWMINNOACTIVE);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsIconic(window));
}

int g_referenceTicks = 0;

void CALLBACK CountReferenceTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++g_referenceTicks;
}

TEST_F(WindowShell, FrameTimerTicksEvery33Milliseconds)
{
    ASSERT_NE(CreateShownWindow(), nullptr);
    // A 33 ms timer of the test's own, dispatched by the same loop, is the
    // yardstick: on a slow or loaded machine both slow down alike.
    g_renderFrameCalls = 0;
    g_referenceTicks = 0;
    const UINT_PTR reference = SetTimer(nullptr, 0, 33, CountReferenceTick);
    const DWORD start = GetTickCount();
    PumpMessagesUntil(20000, [] { return g_renderFrameCalls >= 20; });
    const DWORD elapsed = GetTickCount() - start;
    KillTimer(nullptr, reference);
    ASSERT_GE(g_renderFrameCalls, 20);
    EXPECT_GE(elapsed, 19u * 33u) << "twenty ticks came faster than 33 ms apart";
    EXPECT_GE(g_referenceTicks, g_renderFrameCalls * 3 / 4) << "the frame timer ticks faster than every 33 ms";
    EXPECT_LE(g_referenceTicks, g_renderFrameCalls * 5 / 4) << "the frame timer ticks slower than every 33 ms";
}

TEST_F(WindowShell, FullScreenModeCreatesAVisiblePopupWithoutSizeCorrection)
{
    ASSERT_TRUE(CreateMainWindowInMode(Instance(), SW_SHOWNORMAL, false));
    HWND window = g_mainWindow;
    const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU),
              static_cast<LONG_PTR>(WS_POPUP | WS_VISIBLE));
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, kClientWidth);
    EXPECT_EQ(rect.bottom, kClientHeight);
}

TEST_F(WindowShell, FailedCreationTellsTheUserInCodePage932AndReturnsFalse)
{
    ASSERT_EQ(GetACP(), 932u) << "run under Wine with LC_ALL=ja_JP.UTF-8";
    std::string defaultCaption;
    {
        // What user32 puts in the caption when it is given none.
        DialogWatcher reference;
        MessageBoxA(nullptr, "reference", nullptr, MB_OK);
        ASSERT_EQ(reference.Shown().size(), 1u);
        defaultCaption = reference.Shown()[0].captionBytes;
    }

    BOOL created;
    std::vector<SeenDialog> boxes;
    {
        DialogWatcher watcher;
        watcher.FilterCreation([](HWND window) { return ClassNameOf(window) != "VEXALUNE"; });
        created = CreateMainWindow(Instance(), SW_SHOWNORMAL);
        boxes = watcher.Shown();
    }
    EXPECT_FALSE(created);
    EXPECT_EQ(g_mainWindow, nullptr);
    ASSERT_EQ(boxes.size(), 1u);
    const SeenDialog& box = boxes[0];
    EXPECT_FALSE(box.closedByDeadline);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.texts, std::vector<std::wstring>{L"ウィンドウの作成に失敗しました"});
    EXPECT_EQ(box.textBytes, std::vector<std::string>{"\x83\x45\x83\x42\x83\x93\x83\x68\x83\x45\x82\xcc\x8d\xec"
                                                      "\x90\xac\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5"
                                                      "\x82\xbd"});
    EXPECT_EQ(box.captionBytes, defaultCaption);
    EXPECT_EQ(box.buttonIds, std::vector<int>{IDOK});
    EXPECT_FALSE(box.showsIcon);
}

// The window procedure's table: what each message does and answers.
TEST_F(WindowShell, TimerMessagesDrawOneFrameWhateverTheirId)
{
    HWND window = CreateShownWindow();
    KillTimer(window, kFrameTimerId);
    g_renderFrameCalls = 0;
    for (WPARAM id : {WPARAM(1), WPARAM(7), WPARAM(0xBEEF)})
        EXPECT_EQ(SendMessageA(window, WM_TIMER, id, 0), 0);
    EXPECT_EQ(g_renderFrameCalls, 3);
}

TEST_F(WindowShell, ActivationPassesTheWholeWParamAndKeepsTheFocusAlone)
{
    HWND window = CreateShownWindow();
    g_activations.clear();
    SetFocus(nullptr);
    const WPARAM values[] = {WA_ACTIVE, WA_CLICKACTIVE, WA_INACTIVE, MAKEWPARAM(WA_INACTIVE, 1)};
    for (WPARAM value : values)
        EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, value, 0), 0);
    EXPECT_EQ(g_activations, std::vector<WPARAM>(std::begin(values), std::end(values)));
    // The default handling would have given the window the focus.
    EXPECT_EQ(GetFocus(), nullptr);
}

TEST_F(WindowShell, PaintValidatesTheWindowWithoutDrawing)
{
    HWND window = CreateShownWindow();
    InvalidateRect(window, nullptr, FALSE);
    EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));
    UpdateWindow(window);
    EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE));
}

TEST_F(WindowShell, ExitCommandDestroysTheWindowShutsDownAndPostsQuitZero)
{
    HWND window = CreateShownWindow();
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(CMD_EXIT, 0), 0), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(g_shutdownCalls, 1);
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

TEST_F(WindowShell, CloseMessageEndsInOneDestroyAndOneShutdown)
{
    HWND window = CreateShownWindow();
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(g_shutdownCalls, 1);
}

TEST_F(WindowShell, OtherCommandsGoToTheDefaultHandling)
{
    HWND window = CreateShownWindow();
    DialogWatcher watcher;
    for (WORD command : {WORD(0), WORD(IDOK), WORD(103), WORD(106), WORD(0xFFFF)})
        EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(command, 0), 0), 0);
    EXPECT_TRUE(watcher.Shown().empty());
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(g_shutdownCalls, 0);
    // The default handling still answers what it knows.
    EXPECT_EQ(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0), 8);
}

// The About box, opened as the menu and both accelerators open it.
TEST_F(WindowShell, AboutCommandShowsTheModalBoxAndReturnsOnlyOnceItIsClosed)
{
    HWND window = CreateShownWindow();
    for (WORD source : {WORD(0), WORD(1)}) { // menu, accelerator
        DialogWatcher watcher;
        EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(CMD_ABOUT, source), 0), 0);
        ASSERT_EQ(watcher.Shown().size(), 1u);
        const SeenDialog& box = watcher.Shown()[0];
        EXPECT_FALSE(box.closedByDeadline);
        EXPECT_FALSE(IsWindow(box.window)) << "closed before the command returned";
        EXPECT_EQ(box.caption, L"バージョン情報");
    }
}

TEST_F(WindowShell, AboutBoxShowsIconTextsAndOkButton)
{
    HWND window = CreateShownWindow();
    std::vector<SeenDialog> seen;
    {
        DialogWatcher watcher(DialogWatcher::Answer(IDCANCEL));
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(CMD_ABOUT, 0), 0);
        seen = watcher.Shown();
    }

    ASSERT_EQ(seen.size(), 1u);
    const SeenDialog& box = seen[0];
    EXPECT_FALSE(box.closedByDeadline);
    EXPECT_EQ(box.owner, window);
    EXPECT_FALSE(box.ownerEnabled) << "the owner is disabled while the box is open";
    EXPECT_TRUE(IsWindowEnabled(window)) << "and enabled again afterwards";
    EXPECT_EQ(box.texts, (std::vector<std::wstring>{L"Vexalune Version 1.0", L"Moonlit Direct3D 9 demo"}));
    EXPECT_TRUE(box.showsIcon);
    EXPECT_EQ(box.buttonIds, std::vector<int>{IDOK});
}

TEST_F(WindowShell, AboutBoxClosesWithOkAndCancelOnly)
{
    CreateShownWindow();
    struct Case {
        WORD command;
        INT_PTR result;
    };
    for (const Case& c : {Case{IDOK, IDOK}, Case{IDCANCEL, IDCANCEL}}) {
        DialogWatcher watcher(DialogWatcher::Answer(c.command));
        EXPECT_EQ(DialogBoxParamA(Instance(), MAKEINTRESOURCEA(RES_ABOUT_DIALOG), g_mainWindow, AboutDialogProc, 0),
                  c.result);
    }

    // Any other command leaves the box open; the dialog procedure says it
    // did not handle it. (The icon's id, 2, is IDCANCEL's: statics send no
    // commands, so the two never meet.)
    HWND dialog = CreateDialogParamA(Instance(), MAKEINTRESOURCEA(RES_ABOUT_DIALOG), g_mainWindow, AboutDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    for (WORD command : {WORD(0), WORD(3), WORD(CMD_ABOUT), WORD(0xFFFF)}) {
        EXPECT_EQ(AboutDialogProc(dialog, WM_COMMAND, MAKEWPARAM(command, 0), 0), FALSE);
        EXPECT_TRUE(IsWindow(dialog));
    }
    EXPECT_EQ(AboutDialogProc(dialog, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(AboutDialogProc(dialog, WM_MOUSEMOVE, 0, 0), FALSE);
    DestroyWindow(dialog);
}

int g_framesWhileOpen = 0;
DWORD g_boxOpenedAt = 0;
DWORD g_boxOpenMs = 0;
DWORD g_firstFrameInBoxAt = 0;
DWORD g_framesInBoxMs = 0;
const int kFramesToSeeWhileOpen = 10;

// Runs in the box's own modal loop: closes the box with Esc's command once
// ten frames were drawn behind it, or after 5 s if frames stopped.
void CALLBACK CloseAfterTenFrames(HWND box, UINT, UINT_PTR id, DWORD)
{
    const DWORD now = GetTickCount();
    if (g_renderFrameCalls > 0 && g_firstFrameInBoxAt == 0)
        g_firstFrameInBoxAt = now;
    if (g_renderFrameCalls < kFramesToSeeWhileOpen && now - g_boxOpenedAt < 5000)
        return;
    KillTimer(box, id);
    g_framesWhileOpen = g_renderFrameCalls;
    g_boxOpenMs = now - g_boxOpenedAt;
    g_framesInBoxMs = now - g_firstFrameInBoxAt;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
}

TEST_F(WindowShell, FramesGoOnWhileTheAboutBoxIsOpen)
{
    HWND window = CreateShownWindow();
    // The pace of the main loop in this run: under an emulator, or on a
    // loaded machine, ticks come slower than every 33 ms, in the box too.
    g_renderFrameCalls = 0;
    const DWORD loopStart = GetTickCount();
    PumpMessagesUntil(5000, [] { return g_renderFrameCalls >= 10; });
    ASSERT_GE(g_renderFrameCalls, 10);
    const double loopMsPerFrame = double(GetTickCount() - loopStart) / g_renderFrameCalls;

    g_framesWhileOpen = 0;
    DialogWatcher watcher([](HWND box) {
        g_boxOpenedAt = GetTickCount();
        g_firstFrameInBoxAt = 0;
        SetTimer(box, 1, 20, CloseAfterTenFrames);
    });
    g_renderFrameCalls = 0;
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(CMD_ABOUT, 0), 0);
    ASSERT_EQ(watcher.Shown().size(), 1u);
    // Ten frames in the box, from the first to the tenth at not much below
    // the main loop's pace (natively 33 ms a frame: 9 intervals in 297 ms).
    EXPECT_GE(g_framesWhileOpen, kFramesToSeeWhileOpen)
        << "in " << g_boxOpenMs << " ms; the main loop took " << loopMsPerFrame << " ms a frame";
    EXPECT_LE(g_framesInBoxMs, 2 * (kFramesToSeeWhileOpen - 1) * loopMsPerFrame + 100)
        << g_framesWhileOpen << " frames, the box open " << g_boxOpenMs << " ms; the main loop took "
        << loopMsPerFrame << " ms a frame";
}

} // namespace
