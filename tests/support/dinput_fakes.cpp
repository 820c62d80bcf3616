#include "tests/support/dinput_fakes.h"

#include <cstring>

#include <gtest/gtest.h>

namespace dinput_fakes {

// ---- Device ----

FakeDirectInputDevice::FakeDirectInputDevice(fakes::Session& session, const GUID& deviceGuid)
    : fakes::FakeObject(session, IsEqualGUID(deviceGuid, GUID_SysKeyboard) ? "keyboard" : "inputdevice"),
      guid(deviceGuid)
{
}

HRESULT FakeDirectInputDevice::Acquire()
{
    const HRESULT result = Call("Acquire", "");
    if (SUCCEEDED(result))
        acquired = true;
    return result;
}

HRESULT FakeDirectInputDevice::Unacquire()
{
    const HRESULT result = Call("Unacquire", "");
    if (SUCCEEDED(result))
        acquired = false;
    return result;
}

HRESULT FakeDirectInputDevice::GetDeviceState(DWORD size, LPVOID data)
{
    HRESULT result = session_.failures.Next(Name() + ".GetDeviceState");
    if (SUCCEEDED(result) && !acquired)
        result = DIERR_NOTACQUIRED;
    Log("GetDeviceState", std::to_string(size), result);
    if (SUCCEEDED(result))
        std::memset(data, 0, size);
    return result;
}

HRESULT FakeDirectInputDevice::SetDataFormat(LPCDIDATAFORMAT format)
{
    dataFormats.push_back(format);
    return Call("SetDataFormat", format == &c_dfDIKeyboard ? "c_dfDIKeyboard" : fakes::Hex(reinterpret_cast<uintptr_t>(format)));
}

HRESULT FakeDirectInputDevice::SetCooperativeLevel(HWND window, DWORD flags)
{
    cooperativeLevels.push_back({window, flags});
    return Call("SetCooperativeLevel", fakes::Hex(reinterpret_cast<uintptr_t>(window)) + ", " + fakes::Hex(flags));
}

#define DINPUT_FAKES_DEFINE_DEVICE(result, method, parameters) \
    FAKES_DEFINE(FakeDirectInputDevice, result, method, parameters)
DINPUT_FAKES_DEVICE_UNEXPECTED(DINPUT_FAKES_DEFINE_DEVICE)

// ---- DirectInput ----

FakeDirectInput::FakeDirectInput(DInputFakes& fakes) : fakes::FakeObject(fakes.session, "directinput"), fakes_(fakes)
{
}

HRESULT FakeDirectInput::CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8A* device, LPUNKNOWN outer)
{
    createDeviceCalls.push_back({guid, device, outer});
    const HRESULT result =
        Call("CreateDevice", IsEqualGUID(guid, GUID_SysKeyboard) ? "GUID_SysKeyboard" : "another GUID");
    if (device != nullptr)
        *device = SUCCEEDED(result) ? fakes_.devices.Add(fakes_.session, guid) : nullptr;
    return result;
}

#define DINPUT_FAKES_DEFINE_DIRECTINPUT(result, method, parameters) \
    FAKES_DEFINE(FakeDirectInput, result, method, parameters)
DINPUT_FAKES_DIRECTINPUT_UNEXPECTED(DINPUT_FAKES_DEFINE_DIRECTINPUT)

} // namespace dinput_fakes

// Replaces dinput8.dll's entry point for the whole test program.
HRESULT WINAPI DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer)
{
    dinput_fakes::DInputFakes* fakes = &dinput_fakes::DInputFakes::Active("DirectInput8Create");
    fakes->createCalls.push_back({instance, version, iid, out, outer});
    const HRESULT result = fakes->session.failures.Next("DirectInput8Create");
    fakes->session.LogEntryPoint("DirectInput8Create(" + fakes::Hex(version) + ")", result);
    if (out != nullptr)
        *out = SUCCEEDED(result) ? static_cast<IDirectInput8A*>(fakes->directInputs.Add(*fakes)) : nullptr;
    return result;
}
