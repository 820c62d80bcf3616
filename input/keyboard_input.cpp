#include "input/keyboard_input.h"

#include "app/main_window.h"

namespace {

constexpr DWORD kCooperativeLevel = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND;

} // namespace

KeyboardInput::KeyboardInput() : directInput(nullptr), keyboardDevice(nullptr) {}

KeyboardInput::~KeyboardInput()
{
    if (keyboardDevice != nullptr) {
        keyboardDevice->Unacquire();
        keyboardDevice->Release();
        keyboardDevice = nullptr;
    }
    if (directInput != nullptr) {
        directInput->Release();
        directInput = nullptr;
    }
}

HRESULT InitKeyboard()
{
    KeyboardInput* keyboard = g_keyboard;

    HRESULT result = DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                        reinterpret_cast<void**>(&keyboard->directInput), nullptr);
    if (FAILED(result))
        return result;

    result = keyboard->directInput->CreateDevice(GUID_SysKeyboard, &keyboard->keyboardDevice, nullptr);
    if (FAILED(result))
        return result;

    result = keyboard->keyboardDevice->SetDataFormat(&c_dfDIKeyboard);
    if (FAILED(result))
        return result;

    result = keyboard->keyboardDevice->SetCooperativeLevel(g_mainWindow, kCooperativeLevel);
    if (result == E_NOTIMPL) {
        // The program can go on without the keyboard; say so and carry on.
        // The box's loop may run shutdown, so `keyboard` is not touched again.
        MessageBoxA(nullptr, "DirectInputの初期化に失敗", "ERROR", MB_OK);
        return 0;
    }
    if (FAILED(result))
        return result;

    keyboard->keyboardDevice->Acquire();
    return 0;
}

void SetKeyboardAcquired(bool acquire)
{
    IDirectInputDevice8A* device = g_keyboard->keyboardDevice;
    if (device == nullptr)
        return;
    if (acquire)
        device->Acquire();
    else
        device->Unacquire();
}
