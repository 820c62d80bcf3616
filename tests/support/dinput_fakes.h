// Recording doubles of DirectInput 8 on the shared fake base (fake_com.h):
// DirectInput8Create, IDirectInput8A and IDirectInputDevice8A as the MinGW
// headers declare them. The log names them "directinput" and, for the
// system keyboard, "keyboard"; the arguments are kept on the object that
// received them.
//
// A test program that links dinput_fakes.cpp gets its DirectInput8Create in
// place of dinput8.dll's; the data formats and GUIDs still come from
// libdinput8.a and libdxguid.a.
#pragma once

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif
#include <dinput.h>

#include <vector>

#include "tests/support/fake_com.h"

namespace dinput_fakes {

#define DINPUT_FAKES_DEVICE_UNEXPECTED(X)                                                      \
    X(HRESULT, QueryInterface, (REFIID, void**))                                               \
    X(HRESULT, GetCapabilities, (LPDIDEVCAPS))                                                 \
    X(HRESULT, EnumObjects, (LPDIENUMDEVICEOBJECTSCALLBACKA, LPVOID, DWORD))                   \
    X(HRESULT, GetProperty, (REFGUID, LPDIPROPHEADER))                                         \
    X(HRESULT, SetProperty, (REFGUID, LPCDIPROPHEADER))                                        \
    X(HRESULT, GetDeviceData, (DWORD, LPDIDEVICEOBJECTDATA, LPDWORD, DWORD))                   \
    X(HRESULT, SetEventNotification, (HANDLE))                                                 \
    X(HRESULT, GetObjectInfo, (LPDIDEVICEOBJECTINSTANCEA, DWORD, DWORD))                       \
    X(HRESULT, GetDeviceInfo, (LPDIDEVICEINSTANCEA))                                           \
    X(HRESULT, RunControlPanel, (HWND, DWORD))                                                 \
    X(HRESULT, Initialize, (HINSTANCE, DWORD, REFGUID))                                        \
    X(HRESULT, CreateEffect, (REFGUID, LPCDIEFFECT, LPDIRECTINPUTEFFECT*, LPUNKNOWN))          \
    X(HRESULT, EnumEffects, (LPDIENUMEFFECTSCALLBACKA, LPVOID, DWORD))                         \
    X(HRESULT, GetEffectInfo, (LPDIEFFECTINFOA, REFGUID))                                      \
    X(HRESULT, GetForceFeedbackState, (LPDWORD))                                               \
    X(HRESULT, SendForceFeedbackCommand, (DWORD))                                              \
    X(HRESULT, EnumCreatedEffectObjects, (LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID, DWORD)) \
    X(HRESULT, Escape, (LPDIEFFESCAPE))                                                        \
    X(HRESULT, Poll, ())                                                                       \
    X(HRESULT, SendDeviceData, (DWORD, LPCDIDEVICEOBJECTDATA, LPDWORD, DWORD))                 \
    X(HRESULT, EnumEffectsInFile, (LPCSTR, LPDIENUMEFFECTSINFILECALLBACK, LPVOID, DWORD))      \
    X(HRESULT, WriteEffectToFile, (LPCSTR, DWORD, LPDIFILEEFFECT, DWORD))                      \
    X(HRESULT, BuildActionMap, (LPDIACTIONFORMATA, LPCSTR, DWORD))                             \
    X(HRESULT, SetActionMap, (LPDIACTIONFORMATA, LPCSTR, DWORD))                               \
    X(HRESULT, GetImageInfo, (LPDIDEVICEIMAGEINFOHEADERA))

class FakeDirectInputDevice final : public IDirectInputDevice8A, public fakes::FakeObject {
public:
    FakeDirectInputDevice(fakes::Session& session, const GUID& guid);

    GUID guid;
    std::vector<LPCDIDATAFORMAT> dataFormats; // every SetDataFormat argument
    struct CooperativeLevel {
        HWND window;
        DWORD flags;
    };
    std::vector<CooperativeLevel> cooperativeLevels;
    // Follows successful Acquire and Unacquire calls, as the real one would.
    bool acquired = false;

    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
    HRESULT STDMETHODCALLTYPE Acquire() override;
    HRESULT STDMETHODCALLTYPE Unacquire() override;
    HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) override;
    HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) override;
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD flags) override;
    DINPUT_FAKES_DEVICE_UNEXPECTED(FAKES_DECLARE)
};

#define DINPUT_FAKES_DIRECTINPUT_UNEXPECTED(X)                                                             \
    X(HRESULT, QueryInterface, (REFIID, void**))                                                           \
    X(HRESULT, EnumDevices, (DWORD, LPDIENUMDEVICESCALLBACKA, LPVOID, DWORD))                              \
    X(HRESULT, GetDeviceStatus, (REFGUID))                                                                 \
    X(HRESULT, RunControlPanel, (HWND, DWORD))                                                             \
    X(HRESULT, Initialize, (HINSTANCE, DWORD))                                                             \
    X(HRESULT, FindDevice, (REFGUID, LPCSTR, LPGUID))                                                      \
    X(HRESULT, EnumDevicesBySemantics, (LPCSTR, LPDIACTIONFORMATA, LPDIENUMDEVICESBYSEMANTICSCBA, LPVOID, \
                                        DWORD))                                                            \
    X(HRESULT, ConfigureDevices, (LPDICONFIGUREDEVICESCALLBACK, LPDICONFIGUREDEVICESPARAMSA, DWORD, LPVOID))

class DInputFakes;

class FakeDirectInput final : public IDirectInput8A, public fakes::FakeObject {
public:
    explicit FakeDirectInput(DInputFakes& fakes);

    struct CreateDeviceCall {
        GUID guid;
        LPDIRECTINPUTDEVICE8A* out;
        LPUNKNOWN outer;
    };
    std::vector<CreateDeviceCall> createDeviceCalls;

    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
    HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8A* device, LPUNKNOWN outer) override;
    DINPUT_FAKES_DIRECTINPUT_UNEXPECTED(FAKES_DECLARE)

private:
    DInputFakes& fakes_;
};

// The DirectInput a test program sees while one of these exists (one at a
// time), logging into `session`.
class DInputFakes : public fakes::CurrentFamily<DInputFakes> {
public:
    explicit DInputFakes(fakes::Session& session) : session(session) {}

    fakes::Session& session;

    struct CreateCall {
        HINSTANCE instance;
        DWORD version;
        IID iid;
        void** out;
        LPUNKNOWN outer;
    };
    std::vector<CreateCall> createCalls;

    fakes::HandedOut<FakeDirectInput> directInputs;
    fakes::HandedOut<FakeDirectInputDevice> devices;
};

} // namespace dinput_fakes
