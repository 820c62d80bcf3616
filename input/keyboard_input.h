// The DirectInput 8 keyboard device: brought up at start, acquired while the
// main window is active, released at the end. Its state is never read.
#pragma once

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif
#include <dinput.h>

class KeyboardInput {
public:
    KeyboardInput();
    ~KeyboardInput();

    KeyboardInput(const KeyboardInput&) = delete;
    KeyboardInput& operator=(const KeyboardInput&) = delete;

    IDirectInput8A* directInput;
    IDirectInputDevice8A* keyboardDevice;
};

extern KeyboardInput* g_keyboard;

// Brings up g_keyboard's device for the main window and acquires it.
// 0 on success, also after telling the user that the cooperative level is
// not supported; otherwise the failing step's HRESULT, unchanged.
HRESULT InitKeyboard();

// Acquires or unacquires the device of g_keyboard, if it has one.
void SetKeyboardAcquired(bool acquire);
