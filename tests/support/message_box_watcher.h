// Sees every message box this thread shows (through a thread-local WH_CBT
// hook), records what it says and presses its OK button, as a user would.
// A box still open after the deadline is ended and marked as such, so a
// wrong box makes a test fail instead of hanging it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct ShownMessageBox {
    HWND owner = nullptr;
    std::string captionBytes;  // GetWindowTextA: bytes of the ANSI code page
    std::string textBytes;     // of the text control, through GetWindowTextA
    std::wstring text;         // the same through GetWindowTextW
    std::vector<int> buttonIds;  // the visible buttons
    bool showsIcon = false;      // a visible static holding an icon
    bool closedByDeadline = false;
};

class MessageBoxWatcher {
public:
    // `onShown` runs while the box is on screen, before it is closed.
    explicit MessageBoxWatcher(std::function<void()> onShown = {}, DWORD deadlineMs = 15000);
    ~MessageBoxWatcher();

    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    const std::vector<ShownMessageBox>& Shown() const { return shown_; }

private:
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK ExamineTimer(HWND, UINT, UINT_PTR id, DWORD);
    static void CALLBACK DeadlineTimer(HWND, UINT, UINT_PTR id, DWORD);

    void Examine(HWND box);

    static MessageBoxWatcher* current_;

    std::function<void()> onShown_;
    HHOOK hook_ = nullptr;
    UINT_PTR deadlineTimer_ = 0;
    UINT_PTR examineTimer_ = 0;
    std::vector<HWND> seen_;
    std::vector<HWND> pending_;
    std::vector<ShownMessageBox> shown_;
};
