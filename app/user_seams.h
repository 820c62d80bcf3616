// USER calls that nothing can make fail for real, each behind a function of
// its own in a file of its own, so a test can link another definition.
#pragma once

#include <windows.h>

// GetCursorPos.
BOOL ReadCursorPos(POINT* point);

// GetMessageA for every window of the thread: above 0 for a message, 0 for
// WM_QUIT, -1 on an error.
BOOL ReadNextMessage(MSG* message);
