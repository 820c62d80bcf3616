#include "tests/support/dialog_watcher.h"

#include <algorithm>

namespace {

bool IsDialog(HWND window)
{
    return ClassNameOf(window) == "#32770";
}

std::string TextBytesOf(HWND window)
{
    char text[512] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

BOOL CALLBACK CollectOpenDialog(HWND window, LPARAM list)
{
    if (IsDialog(window) && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

} // namespace

std::string ClassNameOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

DialogWatcher* DialogWatcher::current_ = nullptr;

DialogWatcher::Action DialogWatcher::Answer(WORD command)
{
    return [command](HWND dialog) { PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0); };
}

DialogWatcher::DialogWatcher(Action action, DWORD deadlineMs) : action_(std::move(action))
{
    current_ = this;
    hook_ = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    // Thread timers: every modal loop on the thread dispatches them.
    deadlineTimer_ = SetTimer(nullptr, 0, deadlineMs, DeadlineTimer);
}

DialogWatcher::~DialogWatcher()
{
    if (examineTimer_ != 0)
        KillTimer(nullptr, examineTimer_);
    KillTimer(nullptr, deadlineTimer_);
    if (hook_ != nullptr)
        UnhookWindowsHookEx(hook_);
    current_ = nullptr;
}

LRESULT CALLBACK DialogWatcher::CbtHook(int code, WPARAM wParam, LPARAM lParam)
{
    DialogWatcher* self = current_;
    const HWND window = reinterpret_cast<HWND>(wParam);
    if (self != nullptr && code == HCBT_CREATEWND && self->allowCreation_ && !self->allowCreation_(window))
        return 1;
    // Wine also calls the hook for another process's dialog taking the
    // activation; only this thread's count.
    if (self != nullptr && code == HCBT_ACTIVATE && IsDialog(window) &&
        GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        const bool seen = std::any_of(self->shown_.begin(), self->shown_.end(),
                                      [window](const SeenDialog& dialog) { return dialog.window == window; });
        // Activation comes while the dialog is being shown: look at it
        // once its modal loop runs and its controls are filled in.
        if (!seen && std::find(self->pending_.begin(), self->pending_.end(), window) == self->pending_.end()) {
            self->pending_.push_back(window);
            if (self->examineTimer_ == 0)
                self->examineTimer_ = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, ExamineTimer);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK DialogWatcher::ExamineTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    DialogWatcher* self = current_;
    if (self == nullptr)
        return;
    self->examineTimer_ = 0;
    std::vector<HWND> dialogs;
    dialogs.swap(self->pending_);
    // A modal loop shows its dialog only once its queue is empty, and may
    // dispatch this timer before: a dialog not shown yet is looked at later.
    std::vector<HWND> notShownYet;
    for (HWND dialog : dialogs) {
        if (!IsWindow(dialog))
            continue;
        if (IsWindowVisible(dialog))
            self->Examine(dialog);
        else
            notShownYet.push_back(dialog);
    }
    if (notShownYet.empty())
        return;
    self->pending_.insert(self->pending_.end(), notShownYet.begin(), notShownYet.end());
    if (self->examineTimer_ == 0)
        self->examineTimer_ = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, ExamineTimer);
}

void CALLBACK DialogWatcher::DeadlineTimer(HWND, UINT, UINT_PTR, DWORD)
{
    DialogWatcher* self = current_;
    if (self == nullptr)
        return;
    std::vector<HWND> open;
    EnumThreadWindows(GetCurrentThreadId(), CollectOpenDialog, reinterpret_cast<LPARAM>(&open));
    for (HWND dialog : open) {
        SeenDialog record;
        record.window = dialog;
        record.captionBytes = TextBytesOf(dialog);
        record.caption = TextOf(dialog);
        record.closedByDeadline = true;
        self->shown_.push_back(record);
        EndDialog(dialog, IDCANCEL);
    }
}

void DialogWatcher::Examine(HWND dialog)
{
    SeenDialog record;
    record.window = dialog;
    record.owner = GetWindow(dialog, GW_OWNER);
    record.ownerEnabled = record.owner != nullptr && IsWindowEnabled(record.owner);
    record.captionBytes = TextBytesOf(dialog);
    record.caption = TextOf(dialog);

    std::vector<HWND> children;
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        const std::string className = ClassNameOf(child);
        const bool isStatic = lstrcmpiA(className.c_str(), "Static") == 0;
        // An icon's static holds the icon's resource name as its text.
        if (isStatic && IsWindowVisible(child) && SendMessageA(child, STM_GETICON, 0, 0) != 0) {
            record.showsIcon = true;
        } else if (isStatic && GetWindowTextLengthW(child) > 0) {
            record.textBytes.push_back(TextBytesOf(child));
            record.texts.push_back(TextOf(child));
        } else if (lstrcmpiA(className.c_str(), "Button") == 0 && IsWindowVisible(child)) {
            record.buttonIds.push_back(GetDlgCtrlID(child));
        }
    }
    shown_.push_back(record);
    if (action_)
        action_(dialog);
}
