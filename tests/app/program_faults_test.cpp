// The whole life of the program (static initialisation, WinMain, start-up,
// frames, an activation change, closing the window, shutdown) run once per
// row of a table, each row making one platform call fail. A row needs a
// process of its own because static initialisation happens once per
// process: the test program starts itself again with the row's id, and the
// child runs WinMain on the recording doubles of Direct3D, DirectInput and
// DirectSound and prints what it saw. The parent checks that every life
// ended with 0 and without a crash, that whatever reached shutdown gave
// back every COM reference exactly once, and that the table has a row for
// every failable call the program makes.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
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
#include "support/d3d_fakes.h"
#include "support/dinput_fakes.h"
#include "support/dsound_fakes.h"

namespace {

// ---- The table --------------------------------------------------------------

struct Failure {
    const char* call; // as the doubles log it, without arguments
    HRESULT result;
    int times;        // kAlways, or how many calls fail before it works again
};
constexpr int kAlways = d3d_fakes::Failures::kAlways;

// What a child saw, as the parent reads it back.
struct Report {
    bool complete = false;
    int result = -1;
    bool shutdown = false;
    std::map<std::string, long> refs;
    int presentCalls = 0;
    int presentsOk = 0;
    struct Box {
        int framesBehind = 0;
        bool closedByItself = false;
        std::string text;
    };
    std::vector<Box> boxes;
    std::vector<std::string> complaints;
    std::set<std::string> calls;
    std::vector<std::string> timeline;

    size_t Find(const std::string& entry, size_t from = 0) const
    {
        const auto found = std::find(timeline.begin() + std::min(from, timeline.size()), timeline.end(), entry);
        return static_cast<size_t>(found - timeline.begin());
    }
    size_t Count(const std::string& entry) const
    {
        return static_cast<size_t>(std::count(timeline.begin(), timeline.end(), entry));
    }
    size_t End() const { return timeline.size(); }
};

struct Row {
    const char* id;
    std::vector<Failure> failures;
    bool reachesShutdown;
    std::vector<std::string> boxes; // the texts of the message boxes shown, in order
    int boxFrames = 0;              // frames a box stays open before the child closes it
    bool closeMainDuringBox = false;
    void (*check)(const Report&) = nullptr;
};

// Markers the child puts in the timeline around what it does to the program.
const char kMainLoop[] = "-- main loop";
const char kDeactivate[] = "-- WM_ACTIVATE 0";
const char kActivate[] = "-- WM_ACTIVATE WA_ACTIVE";
const char kClose[] = "-- WM_CLOSE";
const char kBoxOpen[] = "-- box open";
const char kBoxClosed[] = "-- box closed";
const char kCloseUnderBox[] = "-- WM_CLOSE with the box open";

// Frames the child waits for in each phase of the main loop; a life that
// reaches the main loop draws at least their sum.
constexpr int kFramesBeforeDeactivation = 6;
constexpr int kFramesWhileInactive = 3;
constexpr int kFramesBeforeClose = 6;
constexpr int kMainLoopFrames = kFramesBeforeDeactivation + kFramesWhileInactive + kFramesBeforeClose;

const char kWindowFailureText[] = "ウィンドウの作成に失敗しました";
const char kKeyboardFailureText[] = "DirectInputの初期化に失敗";

void CheckCleanLife(const Report& r)
{
    EXPECT_GE(r.presentsOk, 10);
    const size_t setLevel = r.Find("IDirectInputDevice8A::SetCooperativeLevel");
    EXPECT_LT(r.Find("IDirectInputDevice8A::Acquire", setLevel), r.Find(kMainLoop)) << "acquired at start-up";
    EXPECT_LT(r.Find("IDirectInputDevice8A::Unacquire", r.Find(kDeactivate)), r.Find(kActivate))
        << "deactivation lets the keyboard go";
    EXPECT_LT(r.Find("IDirectInputDevice8A::Acquire", r.Find(kActivate)), r.Find(kClose))
        << "activation takes it back";
    EXPECT_LT(r.Find("IDirectSoundBuffer(primary)::SetFormat"), r.Find(kMainLoop)) << "sound came up";
    EXPECT_GT(r.refs.count("IDirectSoundBuffer(primary)#0"), 0u);
}

void CheckHardwareThenSoftwareDevice(const Report& r)
{
    EXPECT_EQ(r.Count("direct3d.CreateDevice failed"), 1u);
    EXPECT_EQ(r.Count("direct3d.CreateDevice"), 1u) << "the software device is the one used";
    EXPECT_GE(r.presentsOk, kMainLoopFrames);
}

void CheckKeyboardBoxDuringStartUp(const Report& r)
{
    const size_t closed = r.Find(kBoxClosed);
    EXPECT_EQ(r.Find("IDirectInputDevice8A::Acquire"), r.Find("IDirectInputDevice8A::Acquire", closed))
        << "a keyboard without a cooperative level is not acquired at start-up";
    EXPECT_LT(r.Find("IDirectInputDevice8A::Acquire", closed), r.End()) << "but at the next activation";
    EXPECT_LT(r.Find("DirectSoundCreate8", closed), r.Find(kMainLoop)) << "start-up goes on after the box";
}

void CheckWindowClosedDuringStartUp(const Report& r)
{
    EXPECT_LT(r.Find(kCloseUnderBox), r.End());
    EXPECT_EQ(r.calls.count("DirectSoundCreate8"), 0u) << "nothing is brought up after shutdown ran";
}

void CheckPresentFailingOnce(const Report& r)
{
    const size_t failed = r.Find("device.Present failed");
    const size_t reset = r.Find("device.Reset", failed);
    EXPECT_LT(reset, r.End()) << "the device is reset after the failed present, and the reset works";
    EXPECT_LT(r.Find("sprite.OnResetDevice", reset), r.End());
    EXPECT_LT(r.Find("font.OnResetDevice", reset), r.End());
    EXPECT_LT(r.Find("device.Present", reset), r.End()) << "and frames are presented again";
}

void CheckDeviceLostForAWhile(const Report& r)
{
    EXPECT_EQ(r.Count("device.Present failed"), 10u);
    EXPECT_EQ(r.Count("device.Reset failed"), 9u) << "one reset attempt per lost frame";
    const size_t reset = r.Find("device.Reset");
    EXPECT_LT(reset, r.End());
    EXPECT_LT(r.Find("sprite.OnResetDevice", reset), r.End());
    EXPECT_LT(r.Find("font.OnResetDevice", reset), r.End());
    size_t lastFailed = 0;
    for (size_t i = 0; i < r.timeline.size(); ++i)
        if (r.timeline[i] == "device.Present failed")
            lastFailed = i;
    EXPECT_GE(std::count(r.timeline.begin() + lastFailed, r.timeline.end(), "device.Present"), 3)
        << "frames are presented again after the device came back";
}

void CheckNoDirectXBeforeTheWindow(const Report& r)
{
    EXPECT_EQ(r.calls, (std::set<std::string>{"CreateWindowExA"}));
}

// The first row is the clean life; the calls it makes decide what the rest
// must cover. Every other row fails one call (or one call on the way to it)
// and says whether the life still reaches shutdown.
const std::vector<Row> kRows = {
    {"clean", {}, true, {}, 0, false, CheckCleanLife},

    {"window", {{"CreateWindowExA", E_FAIL, kAlways}}, false, {kWindowFailureText}, 0, false,
     CheckNoDirectXBeforeTheWindow},

    // Without a device, font creation fails and start-up gives up.
    {"direct3d", {{"Direct3DCreate9", E_FAIL, kAlways}}, false, {}},
    {"display-mode", {{"direct3d.GetAdapterDisplayMode", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"hardware-device", {{"direct3d.CreateDevice", D3DERR_NOTAVAILABLE, 1}}, true, {}, 0, false,
     CheckHardwareThenSoftwareDevice},
    {"any-device", {{"direct3d.CreateDevice", D3DERR_NOTAVAILABLE, kAlways}}, false, {}},
    {"sprite", {{"D3DXCreateSprite", E_OUTOFMEMORY, kAlways}}, true, {}},
    {"font", {{"D3DXCreateFontA", E_OUTOFMEMORY, kAlways}}, false, {}},

    {"directinput", {{"DirectInput8Create", DIERR_OLDDIRECTINPUTVERSION, kAlways}}, false, {}},
    {"keyboard-device", {{"IDirectInput8A::CreateDevice", DIERR_DEVICENOTREG, kAlways}}, false, {}},
    {"data-format", {{"IDirectInputDevice8A::SetDataFormat", DIERR_ACQUIRED, kAlways}}, false, {}},
    {"cooperative-level-notimpl", {{"IDirectInputDevice8A::SetCooperativeLevel", E_NOTIMPL, kAlways}}, true,
     {kKeyboardFailureText}, 5, false, CheckKeyboardBoxDuringStartUp},
    {"cooperative-level", {{"IDirectInputDevice8A::SetCooperativeLevel", DIERR_INVALIDPARAM, kAlways}}, false, {}},
    {"acquire", {{"IDirectInputDevice8A::Acquire", DIERR_OTHERAPPHASPRIO, kAlways}}, true, {}},
    {"unacquire", {{"IDirectInputDevice8A::Unacquire", E_FAIL, kAlways}}, true, {}},
    // The user closes the main window while the keyboard's box is open:
    // shutdown runs in the middle of start-up.
    {"closed-during-start-up", {{"IDirectInputDevice8A::SetCooperativeLevel", E_NOTIMPL, kAlways}}, true,
     {kKeyboardFailureText}, 3, true, CheckWindowClosedDuringStartUp},

    // Sound is optional: start-up carries on without it.
    {"directsound", {{"DirectSoundCreate8", DSERR_NODRIVER, kAlways}}, true, {}},
    {"sound-cooperative-level", {{"IDirectSound8::SetCooperativeLevel", DSERR_INVALIDPARAM, kAlways}}, true, {}},
    {"primary-buffer", {{"IDirectSound8::CreateSoundBuffer", DSERR_OUTOFMEMORY, kAlways}}, true, {}},
    {"primary-format", {{"IDirectSoundBuffer(primary)::SetFormat", DSERR_BADFORMAT, kAlways}}, true, {}},

    // Every call of a frame, failing on every frame.
    {"clear", {{"device.Clear", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"begin-scene", {{"device.BeginScene", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"render-state", {{"device.SetRenderState", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"texture-stage-state", {{"device.SetTextureStageState", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"sampler-state", {{"device.SetSamplerState", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"light-enable", {{"device.LightEnable", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"set-light", {{"device.SetLight", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"fvf", {{"device.SetFVF", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"transform", {{"device.SetTransform", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"end-scene", {{"device.EndScene", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"sprite-begin", {{"sprite.Begin", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"sprite-end", {{"sprite.End", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"draw-text", {{"font.DrawTextA", D3DERR_INVALIDCALL, kAlways}}, true, {}},
    {"cursor", {{"ReadCursorPos", E_FAIL, kAlways}}, true, {}},

    // A lost device, and the calls made only while getting it back.
    {"present-once", {{"device.Present", D3DERR_DEVICELOST, 1}}, true, {}, 0, false, CheckPresentFailingOnce},
    {"device-lost", {{"device.Present", D3DERR_DEVICELOST, 10}, {"device.Reset", D3DERR_DEVICELOST, 9}}, true, {},
     0, false, CheckDeviceLostForAWhile},
    {"sprite-lost", {{"sprite.OnLostDevice", D3DERR_INVALIDCALL, kAlways}, {"device.Present", D3DERR_DEVICELOST, 1}},
     true, {}},
    {"font-lost", {{"font.OnLostDevice", D3DERR_INVALIDCALL, kAlways}, {"device.Present", D3DERR_DEVICELOST, 1}},
     true, {}},
    {"sprite-reset",
     {{"sprite.OnResetDevice", E_OUTOFMEMORY, kAlways}, {"device.Present", D3DERR_DEVICELOST, 1}}, true, {}},
    {"font-reset", {{"font.OnResetDevice", E_OUTOFMEMORY, kAlways}, {"device.Present", D3DERR_DEVICELOST, 1}},
     true, {}},
};

// Which double a call name belongs to.
const std::map<std::string, dinput_fakes::Call>& DirectInputCalls()
{
    using dinput_fakes::Call;
    static const std::map<std::string, Call> calls = {
        {"DirectInput8Create", Call::DirectInput8Create},
        {"IDirectInput8A::CreateDevice", Call::CreateDevice},
        {"IDirectInputDevice8A::SetDataFormat", Call::SetDataFormat},
        {"IDirectInputDevice8A::SetCooperativeLevel", Call::SetCooperativeLevel},
        {"IDirectInputDevice8A::Acquire", Call::Acquire},
        {"IDirectInputDevice8A::Unacquire", Call::Unacquire},
        {"IDirectInputDevice8A::GetDeviceState", Call::GetDeviceState},
    };
    return calls;
}

const std::map<std::string, dsound_fakes::Call>& DirectSoundCalls()
{
    using dsound_fakes::Call;
    static const std::map<std::string, Call> calls = {
        {"DirectSoundCreate8", Call::DirectSoundCreate8},
        {"IDirectSound8::SetCooperativeLevel", Call::SetCooperativeLevel},
        {"IDirectSound8::CreateSoundBuffer", Call::CreateSoundBuffer},
        {"IDirectSoundBuffer(primary)::SetFormat", Call::SetFormat},
        {"IDirectSoundBuffer(primary)::GetFormat", Call::GetFormat},
    };
    return calls;
}

// The DirectInput and DirectSound doubles log a call without its result;
// the others mark a failed one, so a row can show its failure really bit.
bool LogsFailures(const std::string& call)
{
    return DirectInputCalls().count(call) == 0 && DirectSoundCalls().count(call) == 0;
}

const char kLifeArgument[] = "--life=";

// ---- The child: one life ------------------------------------------------------

namespace life {

const Row* g_row = nullptr;
std::vector<std::string> g_timeline; // shared with the DirectInput and DirectSound doubles
int g_presentCalls = 0;
int g_presentsOk = 0;
bool g_refuseWindow = false;
bool g_cursorFails = false;

d3d_fakes::Environment* g_direct3d = nullptr;
dinput_fakes::DInputFakes* g_directInput = nullptr;
dsound_fakes::DSoundFakes* g_directSound = nullptr;

struct SeenBox {
    HWND window;
    std::string text;
    int presentsAtOpen;
    DWORD openedAt;
    bool closeRequested = false;
    bool mainClosed = false;
    DWORD mainClosedAt = 0;
    bool gone = false;
    bool closedByItself = false;
    int framesBehind = 0;
};
std::vector<SeenBox> g_boxes;

enum class Phase { StartUp, Running, Inactive, Active, Closing };
Phase g_phase = Phase::StartUp;
int g_phasePresents = 0;
DWORD g_phaseStart = 0;

// However the program behaves, a phase ends after this long, so that a
// life whose frames stopped still closes (and fails its frame count).
constexpr DWORD kPhaseTimeoutMs = 5000;

void Mark(const std::string& entry) { g_timeline.push_back(entry); }

// "device.Present(null, ...) -> 0x88760868" becomes "device.Present failed".
void RecordDirect3DCall(const std::string& call)
{
    const bool failed = call.find(") -> ") != std::string::npos;
    const std::string name = call.substr(0, call.find('('));
    if (name == "device.Present") {
        ++g_presentCalls;
        if (!failed)
            ++g_presentsOk;
    }
    g_timeline.push_back(failed ? name + " failed" : name);
}

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

BOOL CALLBACK FindBoxText(HWND child, LPARAM found)
{
    auto* text = reinterpret_cast<std::string*>(found);
    if (lstrcmpiA(ClassOf(child).c_str(), "Static") != 0 || GetWindowTextLengthW(child) == 0)
        return TRUE;
    wchar_t buffer[512] = {};
    GetWindowTextW(child, buffer, 512);
    *text = Utf8(buffer);
    return FALSE;
}

std::string BoxText(HWND box)
{
    std::string text;
    EnumChildWindows(box, FindBoxText, reinterpret_cast<LPARAM>(&text));
    return text;
}

void CloseBox(SeenBox& box)
{
    if (box.text.empty())
        box.text = BoxText(box.window);
    if (!box.mainClosed)
        box.framesBehind = g_presentsOk - box.presentsAtOpen;
    box.closeRequested = true;
    Mark(kBoxClosed);
    // As a click on OK would.
    PostMessageA(box.window, WM_COMMAND, IDOK, 0);
}

void NoteBox(HWND window)
{
    // With lives running side by side, Wine also calls this thread's hook
    // for another process's box taking the activation.
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
        return;
    for (const SeenBox& box : g_boxes)
        if (box.window == window)
            return;
    g_boxes.push_back(SeenBox{window, BoxText(window), g_presentsOk, GetTickCount()});
    Mark(kBoxOpen);
    if (g_row->boxFrames == 0)
        CloseBox(g_boxes.back());
}

BOOL CALLBACK NoteVisibleBox(HWND window, LPARAM)
{
    if (IsWindowVisible(window) && ClassOf(window) == "#32770")
        NoteBox(window);
    return TRUE;
}

// Window creation is refused for real, through user32's own hook, and every
// message box is seen as it is activated.
LRESULT CALLBACK WatchWindows(int code, WPARAM wParam, LPARAM lParam)
{
    const HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_CREATEWND && ClassOf(window) == "VEXALUNE") {
        Mark(g_refuseWindow ? "CreateWindowExA failed" : "CreateWindowExA");
        if (g_refuseWindow)
            return 1;
    } else if (code == HCBT_ACTIVATE && ClassOf(window) == "#32770") {
        NoteBox(window);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Keeps a box open for the row's frames, then closes it, after closing the
// main window first when the row says so.
void TendBox(SeenBox& box)
{
    if (box.closeRequested)
        return;
    const bool waited = g_presentsOk - box.presentsAtOpen >= g_row->boxFrames ||
                        GetTickCount() - box.openedAt >= kPhaseTimeoutMs;
    if (!waited)
        return;
    if (g_row->closeMainDuringBox && !box.mainClosed) {
        box.framesBehind = g_presentsOk - box.presentsAtOpen;
        box.mainClosed = true;
        box.mainClosedAt = GetTickCount();
        Mark(kCloseUnderBox);
        PostMessageA(g_mainWindow, WM_CLOSE, 0, 0);
        return;
    }
    if (box.mainClosed && IsWindow(g_mainWindow) && GetTickCount() - box.mainClosedAt < kPhaseTimeoutMs)
        return;
    CloseBox(box);
}

void NextPhase(Phase phase)
{
    g_phase = phase;
    g_phasePresents = g_presentCalls;
    g_phaseStart = GetTickCount();
}

bool PhaseDone(int frames)
{
    return g_presentCalls - g_phasePresents >= frames || GetTickCount() - g_phaseStart >= kPhaseTimeoutMs;
}

// A thread timer: WinMain's loop and every modal loop dispatch it, so it
// runs both while a box holds up start-up and once the main loop runs.
// Nothing else dispatches messages during start-up.
void CALLBACK DriveLife(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), NoteVisibleBox, 0);
    bool boxOpen = false;
    for (SeenBox& box : g_boxes) {
        if (box.gone)
            continue;
        if (!IsWindow(box.window)) {
            box.gone = true;
            box.closedByItself = !box.closeRequested;
            continue;
        }
        boxOpen = true;
        TendBox(box);
    }
    if (boxOpen || !IsWindow(g_mainWindow))
        return;

    switch (g_phase) {
    case Phase::StartUp:
        Mark(kMainLoop);
        NextPhase(Phase::Running);
        break;
    case Phase::Running:
        if (PhaseDone(kFramesBeforeDeactivation)) {
            Mark(kDeactivate);
            NextPhase(Phase::Inactive);
            SendMessageA(g_mainWindow, WM_ACTIVATE, 0, 0);
        }
        break;
    case Phase::Inactive:
        if (PhaseDone(kFramesWhileInactive)) {
            Mark(kActivate);
            NextPhase(Phase::Active);
            SendMessageA(g_mainWindow, WM_ACTIVATE, WA_ACTIVE, 0);
        }
        break;
    case Phase::Active:
        if (PhaseDone(kFramesBeforeClose)) {
            Mark(kClose);
            NextPhase(Phase::Closing);
            PostMessageA(g_mainWindow, WM_CLOSE, 0, 0);
        }
        break;
    case Phase::Closing:
        break;
    }
}

void Inject(const Failure& failure)
{
    const std::string call = failure.call;
    const auto directInput = DirectInputCalls().find(call);
    const auto directSound = DirectSoundCalls().find(call);
    if (call == "CreateWindowExA")
        g_refuseWindow = true;
    else if (call == "ReadCursorPos")
        g_cursorFails = true;
    else if (directInput != DirectInputCalls().end())
        g_directInput->SetResult(directInput->second, failure.result);
    else if (directSound != DirectSoundCalls().end())
        g_directSound->SetResult(directSound->second, failure.result);
    else
        g_direct3d->failures.Fail(call, failure.result, failure.times);
}

std::string OneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

void PrintReport(int result)
{
    std::printf("result %d\n", result);
    std::printf("shutdown %d\n",
                g_graphics == nullptr && g_font == nullptr && g_keyboard == nullptr && g_sound == nullptr);
    std::printf("globals graphics=%p font=%p keyboard=%p sound=%p\n", static_cast<void*>(g_graphics),
                static_cast<void*>(g_font), static_cast<void*>(g_keyboard), static_cast<void*>(g_sound));
    const d3d_fakes::FakeObject* direct3dObjects[] = {&g_direct3d->direct3d, &g_direct3d->device,
                                                      &g_direct3d->sprite, &g_direct3d->font};
    for (const d3d_fakes::FakeObject* object : direct3dObjects)
        std::printf("ref %s %ld\n", object->Name().c_str(), static_cast<long>(object->refs));
    auto printRefs = [](const auto& objects) {
        for (size_t i = 0; i < objects.size(); ++i)
            std::printf("ref %s#%u %lu\n", objects[i]->Name().c_str(), static_cast<unsigned>(i),
                        static_cast<unsigned long>(objects[i]->RefCount()));
    };
    printRefs(g_directInput->DirectInputs());
    printRefs(g_directInput->Devices());
    printRefs(g_directSound->DirectSounds());
    printRefs(g_directSound->Buffers());
    std::printf("frames %d %d\n", g_presentCalls, g_presentsOk);
    // A box can also end without the timer seeing it go: its modal loop
    // ends on the quit message, and WinMain returns straight after.
    for (const SeenBox& box : g_boxes)
        std::printf("box %d %d %s\n", box.framesBehind, box.closedByItself || !box.closeRequested,
                    OneLine(box.text).c_str());
    // The DirectInput and DirectSound doubles report a release below zero,
    // or a call with no double in place, as a test failure; outside a test
    // it lands here.
    const testing::TestResult& complaints = testing::UnitTest::GetInstance()->ad_hoc_test_result();
    for (int i = 0; i < complaints.total_part_count(); ++i)
        std::printf("complaint %s\n", OneLine(complaints.GetTestPartResult(i).message()).c_str());

    std::set<std::string> calls;
    for (const std::string& entry : g_timeline) {
        if (entry.rfind("--", 0) == 0)
            continue;
        std::string name = entry.substr(0, entry.rfind(" failed") == std::string::npos ? entry.size()
                                                                                        : entry.rfind(" failed"));
        const auto endsWith = [&name](const std::string& tail) {
            return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
        };
        // Reference counting and the D3DX matrix helpers cannot fail.
        if (endsWith(".AddRef") || endsWith(".Release") || endsWith("::AddRef") || endsWith("::Release") ||
            name == "D3DXMatrixPerspectiveFovRH" || name == "D3DXMatrixLookAtRH")
            continue;
        calls.insert(name);
    }
    for (const std::string& call : calls)
        std::printf("call %s\n", call.c_str());
    for (const std::string& entry : g_timeline)
        std::printf("ev %s\n", entry.c_str());
    std::printf("end\n");
    std::fflush(stdout);
}

int Run(const std::string& id)
{
    for (const Row& row : kRows)
        if (id == row.id)
            g_row = &row;
    if (g_row == nullptr) {
        std::printf("no row %s\n", id.c_str());
        return 2;
    }

    d3d_fakes::Environment direct3d;
    dinput_fakes::DInputFakes directInput(&g_timeline);
    dsound_fakes::DSoundFakes directSound(&g_timeline);
    g_direct3d = &direct3d;
    g_directInput = &directInput;
    g_directSound = &directSound;
    direct3d.log.SetObserver(RecordDirect3DCall);
    for (const Failure& failure : g_row->failures)
        Inject(failure);

    const HHOOK hook = SetWindowsHookExA(WH_CBT, WatchWindows, nullptr, GetCurrentThreadId());
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, DriveLife);
    NextPhase(Phase::StartUp);

    const int result = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);

    KillTimer(nullptr, timer);
    UnhookWindowsHookEx(hook);
    PrintReport(result);
    return result;
}

} // namespace life

} // namespace

// The program's one USER call that cannot be made to fail for real.
BOOL ReadCursorPos(POINT* point)
{
    life::g_timeline.push_back(life::g_cursorFails ? "ReadCursorPos failed" : "ReadCursorPos");
    return life::g_cursorFails ? FALSE : GetCursorPos(point);
}

namespace {

// ---- The parent: run every row and judge it -----------------------------------

constexpr DWORD kChildTimeoutMs = 30000;
constexpr size_t kChildrenAtOnce = 2;

struct ChildRun {
    const Row* row = nullptr;
    PROCESS_INFORMATION process = {};
    HANDLE output = nullptr;
    DWORD started = 0;
    std::string text;
    std::string launchError;
    bool timedOut = false;
    DWORD exitCode = STILL_ACTIVE;
    Report report;
};

bool Launch(ChildRun& run)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string commandLine = std::string("\"") + path + "\" " + kLifeArgument + run.row->id;

    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        run.launchError = "CreatePipe failed: " + std::to_string(GetLastError());
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    const BOOL created = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &run.process);
    // Closed at once, so that the next child does not inherit this one's
    // write end too.
    CloseHandle(writeEnd);
    if (!created) {
        run.launchError = "CreateProcessA failed: " + std::to_string(GetLastError());
        CloseHandle(readEnd);
        return false;
    }
    run.output = readEnd;
    run.started = GetTickCount();
    return true;
}

void Drain(ChildRun& run)
{
    DWORD available = 0;
    while (PeekNamedPipe(run.output, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        char chunk[8192];
        DWORD got = 0;
        if (!ReadFile(run.output, chunk, std::min<DWORD>(available, sizeof(chunk)), &got, nullptr) || got == 0)
            break;
        run.text.append(chunk, got);
    }
}

void Finish(ChildRun& run)
{
    Drain(run);
    GetExitCodeProcess(run.process.hProcess, &run.exitCode);
    CloseHandle(run.process.hProcess);
    CloseHandle(run.process.hThread);
    CloseHandle(run.output);
}

Report Parse(const std::string& text)
{
    Report report;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        std::istringstream values(rest);
        if (key == "result") {
            values >> report.result;
        } else if (key == "shutdown") {
            int shutdown = 0;
            values >> shutdown;
            report.shutdown = shutdown != 0;
        } else if (key == "ref") {
            std::string name;
            long count = 0;
            values >> name >> count;
            report.refs[name] = count;
        } else if (key == "frames") {
            values >> report.presentCalls >> report.presentsOk;
        } else if (key == "box") {
            Report::Box box;
            int closedByItself = 0;
            values >> box.framesBehind >> closedByItself;
            box.closedByItself = closedByItself != 0;
            values.get();
            std::getline(values, box.text);
            report.boxes.push_back(box);
        } else if (key == "complaint") {
            report.complaints.push_back(rest);
        } else if (key == "call") {
            report.calls.insert(rest);
        } else if (key == "ev") {
            report.timeline.push_back(rest);
        } else if (key == "end") {
            report.complete = true;
        }
    }
    return report;
}

// Runs the rows' lives, a few at a time, each bounded by kChildTimeoutMs.
std::vector<ChildRun> RunLives(const std::vector<const Row*>& rows)
{
    std::vector<ChildRun> runs(rows.size());
    std::vector<ChildRun*> running;
    size_t next = 0;
    while (next < runs.size() || !running.empty()) {
        while (running.size() < kChildrenAtOnce && next < runs.size()) {
            ChildRun& run = runs[next++];
            run.row = rows[next - 1];
            if (Launch(run))
                running.push_back(&run);
        }
        for (auto it = running.begin(); it != running.end();) {
            ChildRun& run = **it;
            Drain(run);
            if (WaitForSingleObject(run.process.hProcess, 0) == WAIT_OBJECT_0) {
                Finish(run);
                it = running.erase(it);
            } else if (GetTickCount() - run.started > kChildTimeoutMs) {
                run.timedOut = true;
                TerminateProcess(run.process.hProcess, 1);
                WaitForSingleObject(run.process.hProcess, 5000);
                Finish(run);
                it = running.erase(it);
            } else {
                ++it;
            }
        }
        Sleep(20);
    }
    for (ChildRun& run : runs)
        run.report = Parse(run.text);
    return runs;
}

std::string Tail(const std::string& text)
{
    constexpr size_t kShown = 4000;
    return text.size() <= kShown ? text : "..." + text.substr(text.size() - kShown);
}

void CheckLife(const ChildRun& run)
{
    const Row& row = *run.row;
    const Report& r = run.report;
    SCOPED_TRACE(std::string("row ") + row.id);
    ASSERT_TRUE(run.launchError.empty()) << run.launchError;
    ASSERT_FALSE(run.timedOut) << "the life did not end within " << kChildTimeoutMs / 1000 << " s\n"
                               << Tail(run.text);
    // A crash under Wine (a call through a missing interface, say) ends the
    // process with a non-zero code; the program itself ends with 0 always.
    EXPECT_EQ(run.exitCode, 0u) << Tail(run.text);
    ASSERT_TRUE(r.complete) << "no full report\n" << Tail(run.text);
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(r.complaints.empty()) << r.complaints.front();

    EXPECT_EQ(r.shutdown, row.reachesShutdown) << Tail(run.text);
    for (const auto& ref : r.refs) {
        EXPECT_GE(ref.second, 0) << ref.first << " released more often than it was obtained";
        if (row.reachesShutdown) {
            EXPECT_EQ(ref.second, 0) << ref.first << " not released exactly once by shutdown";
        }
    }

    std::vector<std::string> texts;
    for (const Report::Box& box : r.boxes) {
        texts.push_back(box.text);
        if (row.boxFrames > 0) {
            EXPECT_GE(box.framesBehind, row.boxFrames) << "frames go on behind the box \"" << box.text << "\"";
        }
        if (!row.closeMainDuringBox) {
            EXPECT_FALSE(box.closedByItself) << box.text;
        }
    }
    EXPECT_EQ(texts, row.boxes);

    // The row's failures reached the program.
    for (const Failure& failure : row.failures) {
        EXPECT_EQ(r.calls.count(failure.call), 1u) << failure.call << " was never called";
        if (LogsFailures(failure.call)) {
            EXPECT_LT(r.Find(std::string(failure.call) + " failed"), r.End()) << failure.call << " never failed";
        }
    }

    // A life that reaches the main loop goes through all of it, drawing.
    if (row.reachesShutdown && !row.closeMainDuringBox) {
        EXPECT_GE(r.presentCalls, kMainLoopFrames) << "frames stopped";
        EXPECT_LT(r.Find(kMainLoop), r.Find(kDeactivate));
        EXPECT_LT(r.Find(kDeactivate), r.Find(kActivate));
        EXPECT_LT(r.Find(kActivate), r.Find(kClose));
    }
    if (row.check != nullptr)
        row.check(r);
}

bool HasRow(const std::string& call)
{
    for (const Row& row : kRows)
        for (const Failure& failure : row.failures)
            if (call == failure.call)
                return true;
    return false;
}

TEST(ProgramLife, SurvivesEveryFailablePlatformCallFailingInTurn)
{
    const DWORD started = GetTickCount();
    ASSERT_STREQ(kRows.front().id, "clean");
    ASSERT_TRUE(kRows.front().failures.empty());

    // The clean life first: every failable call it makes needs a row.
    const std::vector<ChildRun> clean = RunLives({&kRows.front()});
    CheckLife(clean.front());
    ASSERT_FALSE(clean.front().report.calls.empty());
    for (const std::string& call : clean.front().report.calls)
        EXPECT_TRUE(HasRow(call)) << "no row makes " << call << " fail: add one to kRows";

    std::vector<const Row*> rows;
    for (size_t i = 1; i < kRows.size(); ++i)
        rows.push_back(&kRows[i]);
    const std::vector<ChildRun> runs = RunLives(rows);
    std::set<std::string> unlisted;
    for (const ChildRun& run : runs) {
        CheckLife(run);
        // Calls made only on a failure path (getting a lost device back,
        // say) need rows too.
        for (const std::string& call : run.report.calls)
            if (!HasRow(call) && unlisted.insert(call).second)
                ADD_FAILURE() << "no row makes " << call << " fail (seen in row " << run.row->id << ")";
    }

    std::printf("%zu lives in %.1f s, %zu at a time\n", kRows.size(), (GetTickCount() - started) / 1000.0,
                kChildrenAtOnce);
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind(kLifeArgument, 0) == 0) {
            // Plain bytes: the parent reads "\n", and UTF-8 text, unchanged.
            _setmode(_fileno(stdout), _O_BINARY);
            return life::Run(argument.substr(sizeof(kLifeArgument) - 1));
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
