#include "support/message_box_watcher.h"

#include <algorithm>

namespace {

// A message box is a dialog of the predefined class "#32770".
bool IsDialog(HWND window)
{
    char name[16] = {};
    GetClassNameA(window, name, sizeof(name));
    return lstrcmpA(name, "#32770") == 0;
}

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
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

BOOL CALLBACK CollectDialog(HWND window, LPARAM list)
{
    if (IsDialog(window) && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

} // namespace

MessageBoxWatcher* MessageBoxWatcher::current_ = nullptr;

MessageBoxWatcher::MessageBoxWatcher(std::function<void()> onShown, DWORD deadlineMs) : onShown_(std::move(onShown))
{
    current_ = this;
    hook_ = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    // A thread timer: the box's own modal loop dispatches it.
    deadlineTimer_ = SetTimer(nullptr, 0, deadlineMs, DeadlineTimer);
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    if (examineTimer_ != 0)
        KillTimer(nullptr, examineTimer_);
    KillTimer(nullptr, deadlineTimer_);
    if (hook_ != nullptr)
        UnhookWindowsHookEx(hook_);
    current_ = nullptr;
}

LRESULT CALLBACK MessageBoxWatcher::CbtHook(int code, WPARAM wParam, LPARAM lParam)
{
    MessageBoxWatcher* self = current_;
    if (self != nullptr && code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        // Activation comes while the box is being shown: look at it, and
        // close it, once the modal loop runs.
        if (IsDialog(window) && std::find(self->seen_.begin(), self->seen_.end(), window) == self->seen_.end()) {
            self->seen_.push_back(window);
            self->pending_.push_back(window);
            if (self->examineTimer_ == 0)
                self->examineTimer_ = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, ExamineTimer);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK MessageBoxWatcher::ExamineTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    MessageBoxWatcher* self = current_;
    if (self == nullptr)
        return;
    self->examineTimer_ = 0;
    std::vector<HWND> boxes;
    boxes.swap(self->pending_);
    for (HWND box : boxes)
        if (IsWindow(box))
            self->Examine(box);
}

void CALLBACK MessageBoxWatcher::DeadlineTimer(HWND, UINT, UINT_PTR, DWORD)
{
    MessageBoxWatcher* self = current_;
    if (self == nullptr)
        return;
    std::vector<HWND> open;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&open));
    for (HWND box : open) {
        ShownMessageBox record;
        record.captionBytes = TextBytesOf(box);
        record.closedByDeadline = true;
        self->shown_.push_back(record);
        EndDialog(box, IDCANCEL);
    }
}

void MessageBoxWatcher::Examine(HWND box)
{
    ShownMessageBox record;
    record.owner = GetWindow(box, GW_OWNER);
    record.captionBytes = TextBytesOf(box);

    std::vector<HWND> children;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
    HWND okButton = nullptr;
    for (HWND child : children) {
        const std::string className = ClassOf(child);
        const bool isStatic = lstrcmpiA(className.c_str(), "Static") == 0;
        if (isStatic && IsWindowVisible(child) && SendMessageA(child, STM_GETICON, 0, 0) != 0)
            record.showsIcon = true;
        if (isStatic && GetWindowTextLengthW(child) > 0) {
            record.textBytes = TextBytesOf(child);
            record.text = TextOf(child);
        } else if (lstrcmpiA(className.c_str(), "Button") == 0 && IsWindowVisible(child)) {
            const int id = GetDlgCtrlID(child);
            record.buttonIds.push_back(id);
            if (id == IDOK)
                okButton = child;
        }
    }
    shown_.push_back(record);

    if (onShown_)
        onShown_();

    if (okButton != nullptr)
        SendMessageA(okButton, BM_CLICK, 0, 0);
    else
        EndDialog(box, IDCANCEL);
}
