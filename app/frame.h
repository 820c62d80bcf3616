// One frame: state, light, camera, and the text at the mouse cursor.
#pragma once

void RenderFrame();
