// Build-time configuration. The program has no other settings: no command
// line, no registry, no files.
#pragma once

#include <windows.h>

// false creates a borderless full-screen popup and asks Direct3D for a
// full-screen device instead of a window.
constexpr bool kWindowed = true;

// The client area, which is also the size of the back buffer, so client
// coordinates are back-buffer pixels.
constexpr int kClientWidth = 640;
constexpr int kClientHeight = 480;

// One frame is drawn per tick of this timer.
constexpr UINT_PTR kFrameTimerId = 1;
constexpr UINT kFrameIntervalMs = 33;
