// Sees every dialog this thread shows (message boxes, the About box)
// through one thread-local WH_CBT hook: records what it says once its
// modal loop runs, then does what the test asked with it, by default
// pressing OK as a user would. A dialog still open after the deadline is
// ended and marked as such, so a wrong dialog fails a test instead of
// hanging it. The same hook can refuse the creation of windows, as user32
// lets a computer-based-training hook do.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct SeenDialog {
    HWND window = nullptr;
    HWND owner = nullptr;
    bool ownerEnabled = false;        // while the dialog was open
    std::string captionBytes;         // GetWindowTextA: bytes of the ANSI code page
    std::wstring caption;
    std::vector<std::string> textBytes; // the static controls with text, in order
    std::vector<std::wstring> texts;
    std::vector<int> buttonIds;       // the visible buttons
    bool showsIcon = false;           // a visible static holding an icon
    bool closedByDeadline = false;
};

class DialogWatcher {
public:
    // What to do with a dialog once it has been looked at.
    using Action = std::function<void(HWND dialog)>;
    // Sends the dialog WM_COMMAND `command`, as clicking that button does.
    static Action Answer(WORD command);
    // Leaves it to the test, or to the deadline.
    static void LeaveOpen(HWND) {}

    explicit DialogWatcher(Action action = Answer(IDOK), DWORD deadlineMs = 15000);
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    // Asked about every window this thread creates; false refuses it.
    void FilterCreation(std::function<bool(HWND window)> allow) { allowCreation_ = std::move(allow); }

    const std::vector<SeenDialog>& Shown() const { return shown_; }

private:
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK ExamineTimer(HWND, UINT, UINT_PTR id, DWORD);
    static void CALLBACK DeadlineTimer(HWND, UINT, UINT_PTR id, DWORD);

    void Examine(HWND dialog);

    static DialogWatcher* current_;

    Action action_;
    std::function<bool(HWND)> allowCreation_;
    HHOOK hook_ = nullptr;
    UINT_PTR deadlineTimer_ = 0;
    UINT_PTR examineTimer_ = 0;
    std::vector<HWND> pending_;
    std::vector<SeenDialog> shown_;
};

// The class name of a window, e.g. "#32770" for a dialog.
std::string ClassNameOf(HWND window);
