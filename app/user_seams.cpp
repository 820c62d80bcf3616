#include "app/user_seams.h"

BOOL ReadCursorPos(POINT* point)
{
    return GetCursorPos(point);
}

BOOL ReadNextMessage(MSG* message)
{
    return GetMessageA(message, nullptr, 0, 0);
}
