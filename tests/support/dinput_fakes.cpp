#include "dinput_fakes.h"

#include <cstring>

#include <gtest/gtest.h>

namespace dinput_fakes {

namespace {

constexpr char kDirectInputName[] = "IDirectInput8A";
constexpr char kDeviceName[] = "IDirectInputDevice8A";

} // namespace

DInputFakes* DInputFakes::current_ = nullptr;

// --- FakeObject -------------------------------------------------------------

void FakeObject::Record(const char* method)
{
    fakes_.Record(name_ + "::" + method);
}

ULONG FakeObject::DoAddRef()
{
    Record("AddRef");
    return ++refs_;
}

ULONG FakeObject::DoRelease()
{
    Record("Release");
    if (refs_ == 0) {
        ADD_FAILURE() << name_ << " released more often than it was referenced";
        return 0;
    }
    return --refs_;
}

HRESULT FakeObject::ResultOf(Call call) const
{
    return fakes_.ResultOf(call);
}

// --- FakeDirectInputDevice --------------------------------------------------

FakeDirectInputDevice::FakeDirectInputDevice(DInputFakes& fakes, const GUID& deviceGuid)
    : FakeObject(fakes, kDeviceName), guid(deviceGuid)
{
}

STDMETHODIMP FakeDirectInputDevice::QueryInterface(REFIID riid, void** object)
{
    Record("QueryInterface");
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectInputDevice8A)) {
        *object = static_cast<IDirectInputDevice8A*>(this);
        DoAddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeDirectInputDevice::AddRef() { return DoAddRef(); }
STDMETHODIMP_(ULONG) FakeDirectInputDevice::Release() { return DoRelease(); }

STDMETHODIMP FakeDirectInputDevice::Acquire()
{
    Record("Acquire");
    const HRESULT result = ResultOf(Call::Acquire);
    if (SUCCEEDED(result))
        acquired = true;
    return result;
}

STDMETHODIMP FakeDirectInputDevice::Unacquire()
{
    Record("Unacquire");
    const HRESULT result = ResultOf(Call::Unacquire);
    if (SUCCEEDED(result))
        acquired = false;
    return result;
}

STDMETHODIMP FakeDirectInputDevice::GetDeviceState(DWORD size, LPVOID data)
{
    Record("GetDeviceState");
    const HRESULT result = ResultOf(Call::GetDeviceState);
    if (FAILED(result))
        return result;
    if (!acquired)
        return DIERR_NOTACQUIRED;
    std::memset(data, 0, size);
    return result;
}

STDMETHODIMP FakeDirectInputDevice::SetDataFormat(LPCDIDATAFORMAT format)
{
    Record("SetDataFormat");
    dataFormats.push_back(format);
    return ResultOf(Call::SetDataFormat);
}

STDMETHODIMP FakeDirectInputDevice::SetCooperativeLevel(HWND window, DWORD flags)
{
    Record("SetCooperativeLevel");
    cooperativeLevels.push_back({window, flags});
    return ResultOf(Call::SetCooperativeLevel);
}

// What the program is not expected to call: logged, and not supported.
STDMETHODIMP FakeDirectInputDevice::GetCapabilities(LPDIDEVCAPS)
{
    Record("GetCapabilities");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA, LPVOID, DWORD)
{
    Record("EnumObjects");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::GetProperty(REFGUID, LPDIPROPHEADER)
{
    Record("GetProperty");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::SetProperty(REFGUID, LPCDIPROPHEADER)
{
    Record("SetProperty");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::GetDeviceData(DWORD, LPDIDEVICEOBJECTDATA, LPDWORD, DWORD)
{
    Record("GetDeviceData");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::SetEventNotification(HANDLE)
{
    Record("SetEventNotification");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::GetObjectInfo(LPDIDEVICEOBJECTINSTANCEA, DWORD, DWORD)
{
    Record("GetObjectInfo");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::GetDeviceInfo(LPDIDEVICEINSTANCEA)
{
    Record("GetDeviceInfo");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::RunControlPanel(HWND, DWORD)
{
    Record("RunControlPanel");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::Initialize(HINSTANCE, DWORD, REFGUID)
{
    Record("Initialize");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::CreateEffect(REFGUID, LPCDIEFFECT, LPDIRECTINPUTEFFECT*, LPUNKNOWN)
{
    Record("CreateEffect");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::EnumEffects(LPDIENUMEFFECTSCALLBACKA, LPVOID, DWORD)
{
    Record("EnumEffects");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::GetEffectInfo(LPDIEFFECTINFOA, REFGUID)
{
    Record("GetEffectInfo");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::GetForceFeedbackState(LPDWORD)
{
    Record("GetForceFeedbackState");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::SendForceFeedbackCommand(DWORD)
{
    Record("SendForceFeedbackCommand");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::EnumCreatedEffectObjects(LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID, DWORD)
{
    Record("EnumCreatedEffectObjects");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::Escape(LPDIEFFESCAPE)
{
    Record("Escape");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::Poll()
{
    Record("Poll");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::SendDeviceData(DWORD, LPCDIDEVICEOBJECTDATA, LPDWORD, DWORD)
{
    Record("SendDeviceData");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::EnumEffectsInFile(LPCSTR, LPDIENUMEFFECTSINFILECALLBACK, LPVOID, DWORD)
{
    Record("EnumEffectsInFile");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::WriteEffectToFile(LPCSTR, DWORD, LPDIFILEEFFECT, DWORD)
{
    Record("WriteEffectToFile");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::BuildActionMap(LPDIACTIONFORMATA, LPCSTR, DWORD)
{
    Record("BuildActionMap");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::SetActionMap(LPDIACTIONFORMATA, LPCSTR, DWORD)
{
    Record("SetActionMap");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInputDevice::GetImageInfo(LPDIDEVICEIMAGEINFOHEADERA)
{
    Record("GetImageInfo");
    return E_NOTIMPL;
}

// --- FakeDirectInput --------------------------------------------------------

FakeDirectInput::FakeDirectInput(DInputFakes& fakes) : FakeObject(fakes, kDirectInputName) {}

STDMETHODIMP FakeDirectInput::QueryInterface(REFIID riid, void** object)
{
    Record("QueryInterface");
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectInput8A)) {
        *object = static_cast<IDirectInput8A*>(this);
        DoAddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeDirectInput::AddRef() { return DoAddRef(); }
STDMETHODIMP_(ULONG) FakeDirectInput::Release() { return DoRelease(); }

STDMETHODIMP FakeDirectInput::CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8A* device, LPUNKNOWN outer)
{
    Record("CreateDevice");
    createDeviceCalls.push_back({guid, device, outer});
    const HRESULT result = ResultOf(Call::CreateDevice);
    if (device != nullptr)
        *device = SUCCEEDED(result) ? fakes_.NewDevice(guid) : nullptr;
    return result;
}

STDMETHODIMP FakeDirectInput::EnumDevices(DWORD, LPDIENUMDEVICESCALLBACKA, LPVOID, DWORD)
{
    Record("EnumDevices");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInput::GetDeviceStatus(REFGUID)
{
    Record("GetDeviceStatus");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInput::RunControlPanel(HWND, DWORD)
{
    Record("RunControlPanel");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInput::Initialize(HINSTANCE, DWORD)
{
    Record("Initialize");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInput::FindDevice(REFGUID, LPCSTR, LPGUID)
{
    Record("FindDevice");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInput::EnumDevicesBySemantics(LPCSTR, LPDIACTIONFORMATA, LPDIENUMDEVICESBYSEMANTICSCBA, LPVOID,
                                                     DWORD)
{
    Record("EnumDevicesBySemantics");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectInput::ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK, LPDICONFIGUREDEVICESPARAMSA, DWORD, LPVOID)
{
    Record("ConfigureDevices");
    return E_NOTIMPL;
}

// --- DInputFakes ------------------------------------------------------------

DInputFakes::DInputFakes(CallLog* sharedLog) : log_(sharedLog != nullptr ? sharedLog : &ownLog_)
{
    if (current_ != nullptr)
        ADD_FAILURE() << "two DInputFakes at once";
    current_ = this;
}

DInputFakes::~DInputFakes()
{
    if (current_ == this)
        current_ = nullptr;
}

HRESULT DInputFakes::ResultOf(Call call) const
{
    const auto found = results_.find(call);
    return found == results_.end() ? S_OK : found->second;
}

FakeDirectInput* DInputFakes::LastDirectInput() const
{
    return directInputs_.empty() ? nullptr : directInputs_.back().get();
}

FakeDirectInputDevice* DInputFakes::LastDevice() const
{
    return devices_.empty() ? nullptr : devices_.back().get();
}

std::vector<std::string> DInputFakes::Unreleased() const
{
    std::vector<std::string> names;
    for (const auto& directInput : directInputs_)
        if (directInput->RefCount() != 0)
            names.push_back(directInput->Name());
    for (const auto& device : devices_)
        if (device->RefCount() != 0)
            names.push_back(device->Name());
    return names;
}

FakeDirectInput* DInputFakes::NewDirectInput()
{
    directInputs_.push_back(std::make_unique<FakeDirectInput>(*this));
    return directInputs_.back().get();
}

FakeDirectInputDevice* DInputFakes::NewDevice(const GUID& guid)
{
    devices_.push_back(std::make_unique<FakeDirectInputDevice>(*this, guid));
    return devices_.back().get();
}

} // namespace dinput_fakes

// Replaces dinput8.dll's entry point for the whole test program.
HRESULT WINAPI DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer)
{
    using dinput_fakes::DInputFakes;
    DInputFakes* fakes = DInputFakes::Current();
    if (fakes == nullptr) {
        ADD_FAILURE() << "DirectInput8Create called with no DInputFakes in place";
        if (out != nullptr)
            *out = nullptr;
        return E_FAIL;
    }
    fakes->Record("DirectInput8Create");
    fakes->createCalls.push_back({instance, version, iid, out, outer});
    const HRESULT result = fakes->ResultOf(dinput_fakes::Call::DirectInput8Create);
    if (out != nullptr)
        *out = SUCCEEDED(result) ? static_cast<IDirectInput8A*>(fakes->NewDirectInput()) : nullptr;
    return result;
}
