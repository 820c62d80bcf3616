// The whole life of the program (static initialisation, WinMain, start-up,
// frames, an activation change, closing the window, shutdown) on the
// recording doubles of Direct3D, DirectInput and DirectSound, once per row
// of a table, each row making platform calls fail. Static initialisation
// happens once per process, so each row is a test of its own that CTest
// runs in a process of its own (--gtest_filter=*/<row>): it checks that the
// life ended with 0, that whatever reached shutdown gave back every COM
// reference exactly once, and that every failable call it saw has a row.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "app/main_window.h"
#include "app/user_seams.h"
#include "graphics/graphics_device.h"
#include "graphics/text.h"
#include "input/keyboard_input.h"
#include "sound/sound_device.h"
#include "tests/support/d3d_fakes.h"
#include "tests/support/dialog_watcher.h"
#include "tests/support/dinput_fakes.h"
#include "tests/support/dsound_fakes.h"

namespace {

// ---- The table --------------------------------------------------------------

struct Failure {
    const char* call; // as the doubles log it, without arguments
    HRESULT result;
    int times;        // kAlways, or how many calls fail before it works again
};
constexpr int kAlways = fakes::Failures::kAlways;

class Timeline;

struct Row {
    const char* id;
    std::vector<Failure> failures;
    bool reachesShutdown;
    std::vector<std::wstring> boxes; // the texts of the message boxes shown, in order
    int boxFrames = 0;               // frames a box stays open before the life closes it
    bool closeMainDuringBox = false;
    void (*check)(const Timeline&) = nullptr;
};

// Markers the life puts in the log around what it does to the program.
const char kMainLoop[] = "-- main loop";
const char kDeactivate[] = "-- WM_ACTIVATE 0";
const char kActivate[] = "-- WM_ACTIVATE WA_ACTIVE";
const char kClose[] = "-- WM_CLOSE";
const char kBoxClosed[] = "-- box closed";
// A WM_ACTIVATE with a non-zero wParam reaching the main window, from
// whoever sent it: the test or the window manager.
const char kActivationMessage[] = "-- activation message";
const char kCloseUnderBox[] = "-- WM_CLOSE with the box open";

// Frames the life waits for in each phase of the main loop; a life that
// reaches the main loop draws at least their sum.
constexpr int kFramesBeforeDeactivation = 6;
constexpr int kFramesWhileInactive = 3;
constexpr int kFramesBeforeClose = 6;
constexpr int kMainLoopFrames = kFramesBeforeDeactivation + kFramesWhileInactive + kFramesBeforeClose;

const wchar_t kWindowFailureText[] = L"ウィンドウの作成に失敗しました";
const wchar_t kKeyboardFailureText[] = L"DirectInputの初期化に失敗";

// The log of one life, by call name: "device.Present", or
// "device.Present failed" for a failed one, or a marker.
class Timeline {
public:
    explicit Timeline(const std::vector<std::string>& calls)
    {
        for (const std::string& call : calls)
            entries_.push_back(fakes::CallFailed(call) ? fakes::CallName(call) + " failed" : fakes::CallName(call));
    }

    size_t Find(const std::string& entry, size_t from = 0) const
    {
        const auto start = entries_.begin() + static_cast<std::ptrdiff_t>(std::min(from, entries_.size()));
        return static_cast<size_t>(std::find(start, entries_.end(), entry) - entries_.begin());
    }
    size_t FindLast(const std::string& entry) const
    {
        const auto found = std::find(entries_.rbegin(), entries_.rend(), entry);
        return found == entries_.rend() ? End() : static_cast<size_t>(entries_.rend() - found - 1);
    }
    size_t Count(const std::string& entry, size_t from = 0) const
    {
        const auto start = entries_.begin() + static_cast<std::ptrdiff_t>(std::min(from, entries_.size()));
        return static_cast<size_t>(std::count(start, entries_.end(), entry));
    }
    bool Has(const std::string& entry) const { return Find(entry) < End(); }
    size_t End() const { return entries_.size(); }
    const std::vector<std::string>& Entries() const { return entries_; }

private:
    std::vector<std::string> entries_;
};

void CheckCleanLife(const Timeline& t)
{
    const size_t setLevel = t.Find("keyboard.SetCooperativeLevel");
    EXPECT_LT(t.Find("keyboard.Acquire", setLevel), t.Find(kMainLoop)) << "acquired at start-up";
    EXPECT_LT(t.Find("keyboard.Unacquire", t.Find(kDeactivate)), t.Find(kActivate))
        << "deactivation lets the keyboard go";
    EXPECT_LT(t.Find("keyboard.Acquire", t.Find(kActivate)), t.Find(kClose)) << "activation takes it back";
    EXPECT_LT(t.Find("primary.SetFormat"), t.Find(kMainLoop)) << "sound came up";
}

void CheckHardwareThenSoftwareDevice(const Timeline& t)
{
    EXPECT_EQ(t.Count("direct3d.CreateDevice failed"), 1u);
    EXPECT_EQ(t.Count("direct3d.CreateDevice"), 1u) << "the software device is the one used";
}

void CheckKeyboardBoxDuringStartUp(const Timeline& t)
{
    const size_t closed = t.Find(kBoxClosed);
    // On a desktop the main window may be activated while the box is up or as
    // it closes, and activation acquires; InitKeyboard itself must not.
    const size_t keyboardDone = t.Find("DirectSoundCreate8");
    for (size_t i = t.Find("keyboard.Acquire"); i < keyboardDone; i = t.Find("keyboard.Acquire", i + 1))
        EXPECT_EQ(t.Entries()[i - 1], kActivationMessage)
            << "a keyboard without a cooperative level is acquired during start-up, at entry " << i
            << ", other than by an activation message";
    EXPECT_LT(t.Find("keyboard.Acquire", closed), t.End()) << "but at the next activation";
    EXPECT_LT(t.Find("DirectSoundCreate8", closed), t.Find(kMainLoop)) << "start-up goes on after the box";
}

void CheckWindowClosedDuringStartUp(const Timeline& t)
{
    EXPECT_TRUE(t.Has(kCloseUnderBox));
    EXPECT_FALSE(t.Has("DirectSoundCreate8")) << "nothing is brought up after shutdown ran";
}

// After a failed present the device is reset, the D3DX objects are given
// back their resources, and frames are presented again.
void CheckPresentFailingOnce(const Timeline& t)
{
    const size_t failed = t.Find("device.Present failed");
    const size_t reset = t.Find("device.Reset", failed);
    EXPECT_LT(reset, t.End()) << "the device is reset after the failed present, and the reset works";
    EXPECT_LT(t.Find("sprite.OnResetDevice", reset), t.End());
    EXPECT_LT(t.Find("font.OnResetDevice", reset), t.End());
    EXPECT_LT(t.Find("device.Present", reset), t.End()) << "and frames are presented again";
}

void CheckDeviceLostForAWhile(const Timeline& t)
{
    EXPECT_EQ(t.Count("device.Present failed"), 10u);
    EXPECT_EQ(t.Count("device.Reset failed"), 9u) << "one reset attempt per lost frame";
    const size_t reset = t.Find("device.Reset");
    EXPECT_LT(reset, t.End());
    EXPECT_LT(t.Find("sprite.OnResetDevice", reset), t.End());
    EXPECT_LT(t.Find("font.OnResetDevice", reset), t.End());
    EXPECT_GE(t.Count("device.Present", t.FindLast("device.Present failed")), 3u)
        << "frames are presented again after the device came back";
}

void CheckLoopEndedOnError(const Timeline& t)
{
    EXPECT_LT(t.Find(kActivate), t.Find("GetMessageA failed")) << "the loop ran until GetMessageA failed";
    EXPECT_EQ(t.Count("GetMessageA failed"), 1u) << "and then ended";
}

void CheckNoDirectXBeforeTheWindow(const Timeline& t)
{
    EXPECT_EQ(t.Find("CreateWindowExA failed"), 0u);
    EXPECT_FALSE(t.Has("Direct3DCreate9"));
    EXPECT_FALSE(t.Has("DirectInput8Create"));
}

// Every call of a frame; the program looks at none of their results.
const std::vector<Failure> kEveryFrameCall = {
    {"device.Clear", D3DERR_INVALIDCALL, kAlways},
    {"device.BeginScene", D3DERR_INVALIDCALL, kAlways},
    {"device.SetRenderState", D3DERR_INVALIDCALL, kAlways},
    {"device.SetTextureStageState", D3DERR_INVALIDCALL, kAlways},
    {"device.SetSamplerState", D3DERR_INVALIDCALL, kAlways},
    {"device.LightEnable", D3DERR_INVALIDCALL, kAlways},
    {"device.SetLight", D3DERR_INVALIDCALL, kAlways},
    {"device.SetFVF", D3DERR_INVALIDCALL, kAlways},
    {"device.SetTransform", D3DERR_INVALIDCALL, kAlways},
    {"device.EndScene", D3DERR_INVALIDCALL, kAlways},
    {"sprite.Begin", D3DERR_INVALIDCALL, kAlways},
    {"sprite.End", D3DERR_INVALIDCALL, kAlways},
    {"font.DrawTextA", D3DERR_INVALIDCALL, kAlways},
    {"ReadCursorPos", E_FAIL, kAlways},
};

// A present failing once, with a code the program must not single out.
std::vector<Failure> LostOnce(std::vector<Failure> failures)
{
    failures.push_back({"device.Present", D3DERR_DRIVERINTERNALERROR, 1});
    return failures;
}

// The first row is the clean life. Every other row fails calls and says
// whether the life still reaches shutdown.
const std::vector<Row> kRows = {
    {"clean", {}, true, {}, 0, false, CheckCleanLife},

    {"window", {{"CreateWindowExA", E_FAIL, kAlways}}, false, {kWindowFailureText}, 0, false,
     CheckNoDirectXBeforeTheWindow},

    // Without a device, font creation fails and start-up gives up.
    {"direct3d", {{"Direct3DCreate9", E_FAIL, kAlways}}, false, {}},
    {"display_mode", {{"direct3d.GetAdapterDisplayMode", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"hardware_device", {{"direct3d.CreateDevice", D3DERR_NOTAVAILABLE, 1}}, true, {}, 0, false,
     CheckHardwareThenSoftwareDevice},
    {"any_device", {{"direct3d.CreateDevice", D3DERR_NOTAVAILABLE, kAlways}}, false, {}},
    {"sprite", {{"D3DXCreateSprite", E_OUTOFMEMORY, kAlways}}, true, {}},
    {"font", {{"D3DXCreateFontA", E_OUTOFMEMORY, kAlways}}, false, {}},

    {"directinput", {{"DirectInput8Create", DIERR_OLDDIRECTINPUTVERSION, kAlways}}, false, {}},
    {"keyboard_device", {{"directinput.CreateDevice", DIERR_DEVICENOTREG, kAlways}}, false, {}},
    {"data_format", {{"keyboard.SetDataFormat", DIERR_ACQUIRED, kAlways}}, false, {}},
    {"cooperative_level_notimpl", {{"keyboard.SetCooperativeLevel", E_NOTIMPL, kAlways}}, true,
     {kKeyboardFailureText}, 5, false, CheckKeyboardBoxDuringStartUp},
    {"cooperative_level", {{"keyboard.SetCooperativeLevel", DIERR_INVALIDPARAM, kAlways}}, false, {}},
    {"acquire", {{"keyboard.Acquire", DIERR_OTHERAPPHASPRIO, kAlways}}, true, {}},
    {"unacquire", {{"keyboard.Unacquire", E_FAIL, kAlways}}, true, {}},
    // The user closes the main window while the keyboard's box is open:
    // shutdown runs in the middle of start-up.
    {"closed_during_start_up", {{"keyboard.SetCooperativeLevel", E_NOTIMPL, kAlways}}, true,
     {kKeyboardFailureText}, 3, true, CheckWindowClosedDuringStartUp},

    // Sound is optional: start-up carries on without it.
    {"directsound", {{"DirectSoundCreate8", DSERR_NODRIVER, kAlways}}, true, {}},
    {"sound_cooperative_level", {{"directsound.SetCooperativeLevel", DSERR_INVALIDPARAM, kAlways}}, true, {}},
    {"primary_buffer", {{"directsound.CreateSoundBuffer", DSERR_OUTOFMEMORY, kAlways}}, true, {}},
    {"primary_format", {{"primary.SetFormat", DSERR_BADFORMAT, kAlways}}, true, {}},

    // The message loop ends on an error instead of WM_QUIT, after frames:
    // the life makes GetMessageA fail where it would close the window.
    {"get_message", {{"GetMessageA", E_FAIL, kAlways}}, false, {}, 0, false, CheckLoopEndedOnError},

    // Every call of a frame failing on every frame, all at once.
    {"every_frame_call", kEveryFrameCall, true, {}},

    // A failed present, and the calls made only while getting the device
    // back. A present failing with another code than DEVICELOST is handled
    // alike.
    {"present_once", {{"device.Present", D3DERR_DEVICELOST, 1}}, true, {}, 0, false, CheckPresentFailingOnce},
    {"present_driver_error", {{"device.Present", D3DERR_DRIVERINTERNALERROR, 1}}, true, {}, 0, false,
     CheckPresentFailingOnce},
    {"device_lost", {{"device.Present", D3DERR_DEVICELOST, 10}, {"device.Reset", D3DERR_DEVICELOST, 9}}, true, {},
     0, false, CheckDeviceLostForAWhile},
    {"sprite_lost", LostOnce({{"sprite.OnLostDevice", D3DERR_INVALIDCALL, kAlways}}), true, {}},
    {"font_lost", LostOnce({{"font.OnLostDevice", D3DERR_INVALIDCALL, kAlways}}), true, {}},
    {"sprite_reset", LostOnce({{"sprite.OnResetDevice", E_OUTOFMEMORY, kAlways}}), true, {}},
    {"font_reset", LostOnce({{"font.OnResetDevice", E_OUTOFMEMORY, kAlways}}), true, {}},
};

bool HasRow(const std::string& call)
{
    for (const Row& row : kRows)
        for (const Failure& failure : row.failures)
            if (call == failure.call)
                return true;
    return false;
}

// The calls that can fail: all but markers, reference counting and the
// D3DX matrix helpers.
bool Failable(const std::string& name)
{
    const auto endsWith = [&name](const std::string& tail) {
        return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    return name.rfind("--", 0) != 0 && !endsWith(".AddRef") && !endsWith(".Release") &&
           name != "D3DXMatrixPerspectiveFovRH" && name != "D3DXMatrixLookAtRH";
}

void ExpectEveryFailableCallHasARow(const std::vector<std::string>& calls)
{
    std::vector<std::string> missing;
    for (const std::string& call : calls) {
        const std::string name = fakes::CallName(call);
        if (Failable(name) && !HasRow(name) && std::find(missing.begin(), missing.end(), name) == missing.end())
            missing.push_back(name);
    }
    EXPECT_TRUE(missing.empty()) << "no row makes these fail, add rows to kRows: " << testing::PrintToString(missing);
}

// ---- One life -------------------------------------------------------------------

// The life is driven by a thread timer of the test's own: WinMain's loop and
// every modal loop dispatch it, so it runs both while a box holds up
// start-up and once the main loop runs. Its ticks are also the yardstick
// for how long to wait for frames, so that a slow machine waits longer.
constexpr UINT kDriverIntervalMs = 50;
// A phase, or a box, ends after this many ticks even if frames stopped, so
// the life still closes (and fails its frame count).
constexpr int kPatienceTicks = 100;

enum class Phase { StartUp, Running, Inactive, Active, Closing };

const std::string kGetMessage = "GetMessageA";

struct BoxState {
    int presentsAtOpen = 0;
    int ticksOpen = 0;
    bool closeRequested = false;
    bool mainClosed = false;
    int ticksSinceMainClosed = 0;
    bool gone = false;
    bool closedByItself = false;
    int framesBehind = 0;
};

class Life {
public:
    explicit Life(const Row& row) : row_(row)
    {
        current_ = this;
        session_.log.SetObserver([this](const std::string& call) { CountPresent(call); });
        for (const Failure& failure : row.failures)
            if (failure.call != kGetMessage)
                session_.failures.Fail(failure.call, failure.result, failure.times);
        watcher_.FilterCreation([this](HWND window) { return AllowWindow(window); });
    }
    ~Life() { current_ = nullptr; }

    int Run()
    {
        const UINT_PTR timer = SetTimer(nullptr, 0, kDriverIntervalMs, Drive);
        const HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, SeeMessage, nullptr, GetCurrentThreadId());
        const int result = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
        if (hook != nullptr)
            UnhookWindowsHookEx(hook);
        KillTimer(nullptr, timer);
        return result;
    }

    // The program's one USER call that cannot be made to fail for real.
    static BOOL ReadCursor(POINT* point)
    {
        fakes::Session& session = current_->session_;
        const HRESULT result = session.failures.Next("ReadCursorPos");
        session.LogEntryPoint("ReadCursorPos()", result);
        return SUCCEEDED(result) ? GetCursorPos(point) : FALSE;
    }

    static BOOL ReadMessage(MSG* message)
    {
        fakes::Session& session = current_->session_;
        const HRESULT result = session.failures.Next(kGetMessage);
        session.LogEntryPoint("GetMessageA()", result);
        return SUCCEEDED(result) ? GetMessageA(message, nullptr, 0, 0) : -1;
    }

    fakes::Session& Session() { return session_; }
    const std::vector<SeenDialog>& Boxes() const { return watcher_.Shown(); }
    const std::vector<BoxState>& BoxStates() const { return boxes_; }
    int Presents() const { return presents_; }

private:
    void Mark(const std::string& marker) { session_.log.Add(marker); }

    void CountPresent(const std::string& call)
    {
        if (fakes::CallName(call) == "device.Present" && !fakes::CallFailed(call))
            ++presents_;
    }

    // Window creation is refused for real, through user32's own hook.
    bool AllowWindow(HWND window)
    {
        if (ClassNameOf(window) != "VEXALUNE")
            return true;
        const HRESULT result = session_.failures.Next("CreateWindowExA");
        session_.LogEntryPoint("CreateWindowExA(VEXALUNE)", result);
        return SUCCEEDED(result);
    }

    static void CALLBACK Drive(HWND, UINT, UINT_PTR, DWORD) { current_->Step(); }

    static LRESULT CALLBACK SeeMessage(int code, WPARAM wParam, LPARAM lParam)
    {
        const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && message->message == WM_ACTIVATE && message->hwnd == g_mainWindow &&
            message->wParam != 0)
            current_->Mark(kActivationMessage);
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static BOOL CALLBACK FindOpenDialog(HWND window, LPARAM found)
    {
        if (IsWindowVisible(window) && ClassNameOf(window) == "#32770")
            *reinterpret_cast<bool*>(found) = true;
        return TRUE;
    }

    // Also a box that the watcher has not looked at yet.
    static bool DialogOpen()
    {
        bool found = false;
        EnumThreadWindows(GetCurrentThreadId(), FindOpenDialog, reinterpret_cast<LPARAM>(&found));
        return found;
    }

    void Step()
    {
        if (TendBoxes() || DialogOpen() || !IsWindow(g_mainWindow))
            return;
        ++phaseTicks_;
        switch (phase_) {
        case Phase::StartUp:
            NextPhase(Phase::Running, kMainLoop);
            break;
        case Phase::Running:
            if (PhaseDone(kFramesBeforeDeactivation)) {
                NextPhase(Phase::Inactive, kDeactivate);
                SendMessageA(g_mainWindow, WM_ACTIVATE, 0, 0);
            }
            break;
        case Phase::Inactive:
            if (PhaseDone(kFramesWhileInactive)) {
                NextPhase(Phase::Active, kActivate);
                SendMessageA(g_mainWindow, WM_ACTIVATE, WA_ACTIVE, 0);
            }
            break;
        case Phase::Active:
            if (PhaseDone(kFramesBeforeClose))
                Close();
            break;
        case Phase::Closing:
            break;
        }
    }

    // A row that fails GetMessageA has it fail from here on, in place of
    // closing the window: the loop then ends with the last message
    // dispatched, this timer's, still in its MSG.
    void Close()
    {
        for (const Failure& failure : row_.failures) {
            if (failure.call == kGetMessage) {
                NextPhase(Phase::Closing, kClose);
                session_.failures.Fail(failure.call, failure.result, failure.times);
                return;
            }
        }
        NextPhase(Phase::Closing, kClose);
        PostMessageA(g_mainWindow, WM_CLOSE, 0, 0);
    }

    void NextPhase(Phase phase, const char* marker)
    {
        Mark(marker);
        phase_ = phase;
        phasePresents_ = presents_;
        phaseTicks_ = 0;
    }

    bool PhaseDone(int frames) const { return presents_ - phasePresents_ >= frames || phaseTicks_ >= kPatienceTicks; }

    // Keeps each box open for the row's frames, then closes it as a click on
    // OK would, after closing the main window first when the row says so.
    // True while a box is open.
    bool TendBoxes()
    {
        bool open = false;
        for (size_t i = 0; i < watcher_.Shown().size(); ++i) {
            if (i == boxes_.size())
                boxes_.push_back(BoxState{presents_});
            BoxState& box = boxes_[i];
            const HWND window = watcher_.Shown()[i].window;
            if (box.gone)
                continue;
            if (!IsWindow(window)) {
                box.gone = true;
                box.closedByItself = !box.closeRequested;
                continue;
            }
            open = true;
            Tend(box, window);
        }
        return open;
    }

    void Tend(BoxState& box, HWND window)
    {
        ++box.ticksOpen;
        if (box.closeRequested)
            return;
        if (presents_ - box.presentsAtOpen < row_.boxFrames && box.ticksOpen < kPatienceTicks)
            return;
        if (row_.closeMainDuringBox && !box.mainClosed) {
            box.framesBehind = presents_ - box.presentsAtOpen;
            box.mainClosed = true;
            Mark(kCloseUnderBox);
            PostMessageA(g_mainWindow, WM_CLOSE, 0, 0);
            return;
        }
        if (box.mainClosed && IsWindow(g_mainWindow) && ++box.ticksSinceMainClosed < kPatienceTicks)
            return;
        if (!box.mainClosed)
            box.framesBehind = presents_ - box.presentsAtOpen;
        box.closeRequested = true;
        Mark(kBoxClosed);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    }

    static Life* current_;

    const Row& row_;
    fakes::Session session_;
    d3d_fakes::Environment direct3d_{session_};
    dinput_fakes::DInputFakes directInput_{session_};
    dsound_fakes::DSoundFakes directSound_{session_};
    DialogWatcher watcher_{DialogWatcher::LeaveOpen, 60000};
    std::vector<BoxState> boxes_;
    int presents_ = 0;
    Phase phase_ = Phase::StartUp;
    int phasePresents_ = 0;
    int phaseTicks_ = 0;
};

Life* Life::current_ = nullptr;

} // namespace

BOOL ReadCursorPos(POINT* point)
{
    return Life::ReadCursor(point);
}

BOOL ReadNextMessage(MSG* message)
{
    return Life::ReadMessage(message);
}

namespace {

// ---- The checks of one life --------------------------------------------------------

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.id;
}

class ProgramLife : public ::testing::TestWithParam<Row> {};

TEST_P(ProgramLife, EndsWithZeroAndGivesBackWhatItTook)
{
    const Row& row = GetParam();
    Life life(row);
    const int result = life.Run();
    const std::vector<std::string>& calls = life.Session().log.Calls();
    const Timeline timeline(calls);
    // The whole log, for reading a failure.
    for (const std::string& call : calls)
        std::printf("  %s\n", call.c_str());

    EXPECT_EQ(result, 0);
    const bool shutdown = g_graphics == nullptr && g_font == nullptr && g_keyboard == nullptr && g_sound == nullptr;
    EXPECT_EQ(shutdown, row.reachesShutdown) << "graphics " << g_graphics << ", font " << g_font << ", keyboard "
                                             << g_keyboard << ", sound " << g_sound;
    if (row.reachesShutdown) {
        EXPECT_TRUE(life.Session().Unreleased().empty())
            << "not released exactly once by shutdown: " << testing::PrintToString(life.Session().Unreleased());
    }
    for (const fakes::FakeObject* object : life.Session().Objects())
        EXPECT_GE(object->Refs(), 0) << object->Name() << " released more often than it was obtained";

    std::vector<std::wstring> texts;
    for (size_t i = 0; i < life.Boxes().size(); ++i) {
        const SeenDialog& box = life.Boxes()[i];
        texts.push_back(box.texts.empty() ? L"" : box.texts.front());
        EXPECT_FALSE(box.closedByDeadline);
        if (i >= life.BoxStates().size())
            continue;
        const BoxState& state = life.BoxStates()[i];
        EXPECT_GE(state.framesBehind, row.boxFrames) << "frames go on behind box " << i;
        if (!row.closeMainDuringBox) {
            EXPECT_FALSE(state.closedByItself) << "box " << i;
        }
    }
    EXPECT_EQ(texts, row.boxes);

    for (const Failure& failure : row.failures)
        EXPECT_TRUE(timeline.Has(std::string(failure.call) + " failed")) << failure.call << " never failed";

    // A life that reaches the main loop goes through all of it, drawing.
    if (row.reachesShutdown && !row.closeMainDuringBox) {
        EXPECT_GE(life.Presents(), kMainLoopFrames) << "frames stopped";
        EXPECT_LT(timeline.Find(kMainLoop), timeline.Find(kDeactivate));
        EXPECT_LT(timeline.Find(kDeactivate), timeline.Find(kActivate));
        EXPECT_LT(timeline.Find(kActivate), timeline.Find(kClose));
    }
    if (row.check != nullptr)
        row.check(timeline);

    // Calls made only on a failure path (getting a lost device back, say)
    // need rows too.
    ExpectEveryFailableCallHasARow(calls);
}

INSTANTIATE_TEST_SUITE_P(Row, ProgramLife, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.id); });

TEST(ProgramFaults, EveryFailableCallOfACleanLifeHasARow)
{
    ASSERT_TRUE(kRows.front().failures.empty());
    Life life(kRows.front());
    EXPECT_EQ(life.Run(), 0);
    ASSERT_FALSE(life.Session().log.Calls().empty());
    ExpectEveryFailableCallHasARow(life.Session().log.Calls());
}

} // namespace

// Each process runs one life: CTest selects one test per entry.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (testing::UnitTest::GetInstance()->test_to_run_count() != 1) {
        std::fprintf(stderr, "select exactly one test: static initialisation runs once per process\n");
        return 2;
    }
    return result;
}
