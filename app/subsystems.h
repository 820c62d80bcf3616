// Start-up and shutdown of graphics, font, keyboard and sound, and what
// window activation does to the keyboard.
#pragma once

#include <windows.h>

// TRUE when the font (and so the graphics device) and the keyboard came up;
// sound is optional.
BOOL InitSubsystems();

// Kills the frame timer, then releases sound, keyboard, font and graphics,
// leaving each global null.
void ShutdownSubsystems();

// WM_ACTIVATE: acquires the keyboard unless wParam is exactly zero.
void OnActivate(WPARAM wParam);
