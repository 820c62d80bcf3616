// Recording doubles of DirectInput 8: DirectInput8Create, IDirectInput8A and
// IDirectInputDevice8A as the MinGW headers declare them. Every call is
// written to a call log as "<interface>::<method>", its arguments are kept
// on the object that received it, and any of the calls the program makes can
// be told to answer with another HRESULT.
//
// A test program that links dinput_fakes.cpp gets its DirectInput8Create in
// place of dinput8.dll's; the data formats and GUIDs still come from
// libdinput8.a and libdxguid.a. The objects handed out stay alive (owned by
// the DInputFakes that made them) after their count reaches zero, so a test
// can look at them after the program let go.
#pragma once

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif
#include <dinput.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace dinput_fakes {

using CallLog = std::vector<std::string>;

// The calls whose result a test can choose. Unlisted methods answer
// E_NOTIMPL, and are logged too, so that an unexpected call shows.
enum class Call {
    DirectInput8Create,
    CreateDevice,
    SetDataFormat,
    SetCooperativeLevel,
    Acquire,
    Unacquire,
    GetDeviceState,
};

class DInputFakes;

// Shared by both objects: the reference count and the log entry.
class FakeObject {
public:
    FakeObject(DInputFakes& fakes, std::string name) : fakes_(fakes), name_(std::move(name)) {}
    virtual ~FakeObject() = default;

    ULONG RefCount() const { return refs_; }
    const std::string& Name() const { return name_; }

protected:
    void Record(const char* method);
    ULONG DoAddRef();
    ULONG DoRelease();
    HRESULT ResultOf(Call call) const;

    DInputFakes& fakes_;

private:
    std::string name_;
    ULONG refs_ = 1;
};

class FakeDirectInputDevice final : public IDirectInputDevice8A, public FakeObject {
public:
    FakeDirectInputDevice(DInputFakes& fakes, const GUID& guid);

    GUID guid;
    std::vector<LPCDIDATAFORMAT> dataFormats;  // every SetDataFormat argument
    struct CooperativeLevel {
        HWND window;
        DWORD flags;
    };
    std::vector<CooperativeLevel> cooperativeLevels;
    // Follows successful Acquire and Unacquire calls, as the real one would.
    bool acquired = false;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDirectInputDeviceA
    STDMETHODIMP GetCapabilities(LPDIDEVCAPS) override;
    STDMETHODIMP EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA, LPVOID, DWORD) override;
    STDMETHODIMP GetProperty(REFGUID, LPDIPROPHEADER) override;
    STDMETHODIMP SetProperty(REFGUID, LPCDIPROPHEADER) override;
    STDMETHODIMP Acquire() override;
    STDMETHODIMP Unacquire() override;
    STDMETHODIMP GetDeviceState(DWORD size, LPVOID data) override;
    STDMETHODIMP GetDeviceData(DWORD, LPDIDEVICEOBJECTDATA, LPDWORD, DWORD) override;
    STDMETHODIMP SetDataFormat(LPCDIDATAFORMAT format) override;
    STDMETHODIMP SetEventNotification(HANDLE) override;
    STDMETHODIMP SetCooperativeLevel(HWND window, DWORD flags) override;
    STDMETHODIMP GetObjectInfo(LPDIDEVICEOBJECTINSTANCEA, DWORD, DWORD) override;
    STDMETHODIMP GetDeviceInfo(LPDIDEVICEINSTANCEA) override;
    STDMETHODIMP RunControlPanel(HWND, DWORD) override;
    STDMETHODIMP Initialize(HINSTANCE, DWORD, REFGUID) override;
    // IDirectInputDevice2A
    STDMETHODIMP CreateEffect(REFGUID, LPCDIEFFECT, LPDIRECTINPUTEFFECT*, LPUNKNOWN) override;
    STDMETHODIMP EnumEffects(LPDIENUMEFFECTSCALLBACKA, LPVOID, DWORD) override;
    STDMETHODIMP GetEffectInfo(LPDIEFFECTINFOA, REFGUID) override;
    STDMETHODIMP GetForceFeedbackState(LPDWORD) override;
    STDMETHODIMP SendForceFeedbackCommand(DWORD) override;
    STDMETHODIMP EnumCreatedEffectObjects(LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID, DWORD) override;
    STDMETHODIMP Escape(LPDIEFFESCAPE) override;
    STDMETHODIMP Poll() override;
    STDMETHODIMP SendDeviceData(DWORD, LPCDIDEVICEOBJECTDATA, LPDWORD, DWORD) override;
    // IDirectInputDevice7A
    STDMETHODIMP EnumEffectsInFile(LPCSTR, LPDIENUMEFFECTSINFILECALLBACK, LPVOID, DWORD) override;
    STDMETHODIMP WriteEffectToFile(LPCSTR, DWORD, LPDIFILEEFFECT, DWORD) override;
    // IDirectInputDevice8A
    STDMETHODIMP BuildActionMap(LPDIACTIONFORMATA, LPCSTR, DWORD) override;
    STDMETHODIMP SetActionMap(LPDIACTIONFORMATA, LPCSTR, DWORD) override;
    STDMETHODIMP GetImageInfo(LPDIDEVICEIMAGEINFOHEADERA) override;
};

class FakeDirectInput final : public IDirectInput8A, public FakeObject {
public:
    explicit FakeDirectInput(DInputFakes& fakes);

    struct CreateDeviceCall {
        GUID guid;
        LPDIRECTINPUTDEVICE8A* out;
        LPUNKNOWN outer;
    };
    std::vector<CreateDeviceCall> createDeviceCalls;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDirectInput8A
    STDMETHODIMP CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8A* device, LPUNKNOWN outer) override;
    STDMETHODIMP EnumDevices(DWORD, LPDIENUMDEVICESCALLBACKA, LPVOID, DWORD) override;
    STDMETHODIMP GetDeviceStatus(REFGUID) override;
    STDMETHODIMP RunControlPanel(HWND, DWORD) override;
    STDMETHODIMP Initialize(HINSTANCE, DWORD) override;
    STDMETHODIMP FindDevice(REFGUID, LPCSTR, LPGUID) override;
    STDMETHODIMP EnumDevicesBySemantics(LPCSTR, LPDIACTIONFORMATA, LPDIENUMDEVICESBYSEMANTICSCBA, LPVOID,
                                        DWORD) override;
    STDMETHODIMP ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK, LPDICONFIGUREDEVICESPARAMSA, DWORD, LPVOID) override;
};

// The DirectInput a test program sees while one of these exists (one at a
// time). The log may be shared with other doubles, so that a test can see
// the order of calls across subsystems.
class DInputFakes {
public:
    explicit DInputFakes(CallLog* sharedLog = nullptr);
    ~DInputFakes();

    DInputFakes(const DInputFakes&) = delete;
    DInputFakes& operator=(const DInputFakes&) = delete;

    // From now on every `call` answers `result`. A failing DirectInput8Create
    // or CreateDevice hands out no object (and nulls the out pointer).
    void SetResult(Call call, HRESULT result) { results_[call] = result; }
    HRESULT ResultOf(Call call) const;

    CallLog& Log() { return *log_; }
    void Record(const std::string& entry) { log_->push_back(entry); }

    struct CreateCall {
        HINSTANCE instance;
        DWORD version;
        IID iid;
        void** out;
        LPUNKNOWN outer;
    };
    std::vector<CreateCall> createCalls;

    // The objects handed out so far, oldest first.
    const std::vector<std::unique_ptr<FakeDirectInput>>& DirectInputs() const { return directInputs_; }
    const std::vector<std::unique_ptr<FakeDirectInputDevice>>& Devices() const { return devices_; }
    // The last one handed out, or null.
    FakeDirectInput* LastDirectInput() const;
    FakeDirectInputDevice* LastDevice() const;

    // Names of handed-out objects whose count is not zero.
    std::vector<std::string> Unreleased() const;

    static DInputFakes* Current() { return current_; }

    // Used by the doubles themselves.
    FakeDirectInput* NewDirectInput();
    FakeDirectInputDevice* NewDevice(const GUID& guid);

private:
    static DInputFakes* current_;

    CallLog ownLog_;
    CallLog* log_;
    std::map<Call, HRESULT> results_;
    std::vector<std::unique_ptr<FakeDirectInput>> directInputs_;
    std::vector<std::unique_ptr<FakeDirectInputDevice>> devices_;
};

} // namespace dinput_fakes
