#include "app/user_seams.h"

BOOL ReadCursorPos(POINT* point)
{
    return GetCursorPos(point);
}
