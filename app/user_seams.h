// USER calls that nothing can make fail for real, each behind a function of
// its own in a file of its own, so a test can link another definition.
#pragma once

#include <windows.h>

// GetCursorPos.
BOOL ReadCursorPos(POINT* point);
