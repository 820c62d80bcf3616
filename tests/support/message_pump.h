// Runs this thread's messages as a message loop would, for tests that need
// timers ticking or windows answering outside the program's own loop.
#pragma once

#include <windows.h>

#include <functional>

// Dispatches messages until `done` is true or `ms` milliseconds passed;
// true when `done` was. A WM_QUIT is left in the queue and ends the pump.
bool PumpMessagesUntil(DWORD ms, const std::function<bool()>& done = [] { return false; });

// Drops everything queued, WM_QUIT included, so the next test starts clean.
void DiscardMessages();
