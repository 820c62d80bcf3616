#include "dsound_fakes.h"

#include <cstring>

#include <gtest/gtest.h>

namespace dsound_fakes {

namespace {

template <typename Record>
std::vector<unsigned char> BytesOf(const Record* record)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(record);
    return std::vector<unsigned char>(bytes, bytes + sizeof(Record));
}

} // namespace

DSoundFakes* DSoundFakes::current_ = nullptr;

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

// --- FakeSoundBuffer --------------------------------------------------------

FakeSoundBuffer::FakeSoundBuffer(DSoundFakes& fakes, std::string name)
    : FakeObject(fakes, std::move(name)), currentFormat()
{
    // What a fresh primary buffer reports before anyone sets its format.
    currentFormat.wFormatTag = WAVE_FORMAT_PCM;
    currentFormat.nChannels = 2;
    currentFormat.nSamplesPerSec = 22050;
    currentFormat.wBitsPerSample = 8;
    currentFormat.nBlockAlign = 2;
    currentFormat.nAvgBytesPerSec = 44100;
}

STDMETHODIMP FakeSoundBuffer::QueryInterface(REFIID riid, void** object)
{
    Record("QueryInterface");
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectSoundBuffer)) {
        *object = static_cast<IDirectSoundBuffer*>(this);
        DoAddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeSoundBuffer::AddRef() { return DoAddRef(); }
STDMETHODIMP_(ULONG) FakeSoundBuffer::Release() { return DoRelease(); }

STDMETHODIMP FakeSoundBuffer::SetFormat(LPCWAVEFORMATEX format)
{
    Record("SetFormat");
    formats.push_back(format != nullptr ? BytesOf(format) : std::vector<unsigned char>());
    const HRESULT result = ResultOf(Call::SetFormat);
    if (SUCCEEDED(result) && format != nullptr) {
        currentFormat = *format;
        currentFormat.cbSize = 0;
    }
    return result;
}

STDMETHODIMP FakeSoundBuffer::GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten)
{
    Record("GetFormat");
    const HRESULT result = ResultOf(Call::GetFormat);
    if (FAILED(result))
        return result;
    // As DirectSound does: with no record, only the size needed is told.
    DWORD size = sizeof(currentFormat);
    if (format != nullptr) {
        if (sizeAllocated < size)
            size = sizeAllocated;
        std::memcpy(format, &currentFormat, size);
    }
    if (sizeWritten != nullptr)
        *sizeWritten = size;
    return result;
}

STDMETHODIMP FakeSoundBuffer::GetCaps(LPDSBCAPS)
{
    Record("GetCaps");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::GetCurrentPosition(LPDWORD, LPDWORD)
{
    Record("GetCurrentPosition");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::GetVolume(LPLONG)
{
    Record("GetVolume");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::GetPan(LPLONG)
{
    Record("GetPan");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::GetFrequency(LPDWORD)
{
    Record("GetFrequency");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::GetStatus(LPDWORD)
{
    Record("GetStatus");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC)
{
    Record("Initialize");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::Lock(DWORD, DWORD, LPVOID*, LPDWORD, LPVOID*, LPDWORD, DWORD)
{
    Record("Lock");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::Play(DWORD, DWORD, DWORD)
{
    Record("Play");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::SetCurrentPosition(DWORD)
{
    Record("SetCurrentPosition");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::SetVolume(LONG)
{
    Record("SetVolume");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::SetPan(LONG)
{
    Record("SetPan");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::SetFrequency(DWORD)
{
    Record("SetFrequency");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::Stop()
{
    Record("Stop");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::Unlock(LPVOID, DWORD, LPVOID, DWORD)
{
    Record("Unlock");
    return E_NOTIMPL;
}
STDMETHODIMP FakeSoundBuffer::Restore()
{
    Record("Restore");
    return E_NOTIMPL;
}

// --- FakeDirectSound --------------------------------------------------------

FakeDirectSound::FakeDirectSound(DSoundFakes& fakes) : FakeObject(fakes, "IDirectSound8") {}

STDMETHODIMP FakeDirectSound::QueryInterface(REFIID riid, void** object)
{
    Record("QueryInterface");
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectSound8) ||
        IsEqualIID(riid, IID_IDirectSound)) {
        *object = static_cast<IDirectSound8*>(this);
        DoAddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeDirectSound::AddRef() { return DoAddRef(); }
STDMETHODIMP_(ULONG) FakeDirectSound::Release() { return DoRelease(); }

STDMETHODIMP FakeDirectSound::CreateSoundBuffer(LPCDSBUFFERDESC description, LPLPDIRECTSOUNDBUFFER buffer,
                                                IUnknown* outer)
{
    Record("CreateSoundBuffer");
    createSoundBufferCalls.push_back(
        {description != nullptr ? BytesOf(description) : std::vector<unsigned char>(), buffer, outer});
    const HRESULT result = ResultOf(Call::CreateSoundBuffer);
    if (buffer != nullptr) {
        const bool primary = description != nullptr && (description->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0;
        *buffer = SUCCEEDED(result) ? fakes_.NewBuffer(primary ? "IDirectSoundBuffer(primary)"
                                                               : "IDirectSoundBuffer(secondary)")
                                    : nullptr;
    }
    return result;
}

STDMETHODIMP FakeDirectSound::SetCooperativeLevel(HWND window, DWORD level)
{
    Record("SetCooperativeLevel");
    cooperativeLevels.push_back({window, level});
    return ResultOf(Call::SetCooperativeLevel);
}

STDMETHODIMP FakeDirectSound::GetCaps(LPDSCAPS)
{
    Record("GetCaps");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectSound::DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER, LPLPDIRECTSOUNDBUFFER)
{
    Record("DuplicateSoundBuffer");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectSound::Compact()
{
    Record("Compact");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectSound::GetSpeakerConfig(LPDWORD)
{
    Record("GetSpeakerConfig");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectSound::SetSpeakerConfig(DWORD)
{
    Record("SetSpeakerConfig");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectSound::Initialize(LPCGUID)
{
    Record("Initialize");
    return E_NOTIMPL;
}
STDMETHODIMP FakeDirectSound::VerifyCertification(LPDWORD)
{
    Record("VerifyCertification");
    return E_NOTIMPL;
}

// --- DSoundFakes ------------------------------------------------------------

DSoundFakes::DSoundFakes(CallLog* sharedLog) : log_(sharedLog != nullptr ? sharedLog : &ownLog_)
{
    if (current_ != nullptr)
        ADD_FAILURE() << "two DSoundFakes at once";
    current_ = this;
}

DSoundFakes::~DSoundFakes()
{
    if (current_ == this)
        current_ = nullptr;
}

HRESULT DSoundFakes::ResultOf(Call call) const
{
    const auto found = results_.find(call);
    return found == results_.end() ? S_OK : found->second;
}

FakeSoundBuffer* DSoundFakes::NewBuffer(const std::string& name)
{
    buffers_.push_back(std::make_unique<FakeSoundBuffer>(*this, name));
    return buffers_.back().get();
}

FakeDirectSound* DSoundFakes::NewDirectSound()
{
    directSounds_.push_back(std::make_unique<FakeDirectSound>(*this));
    return directSounds_.back().get();
}

FakeDirectSound* DSoundFakes::LastDirectSound() const
{
    return directSounds_.empty() ? nullptr : directSounds_.back().get();
}

FakeSoundBuffer* DSoundFakes::LastBuffer() const
{
    return buffers_.empty() ? nullptr : buffers_.back().get();
}

std::vector<std::string> DSoundFakes::Unreleased() const
{
    std::vector<std::string> names;
    for (const auto& directSound : directSounds_)
        if (directSound->RefCount() != 0)
            names.push_back(directSound->Name());
    for (const auto& buffer : buffers_)
        if (buffer->RefCount() != 0)
            names.push_back(buffer->Name());
    return names;
}

} // namespace dsound_fakes

// Replaces dsound.dll's entry point for the whole test program.
HRESULT WINAPI DirectSoundCreate8(LPCGUID device, LPDIRECTSOUND8* out, LPUNKNOWN outer)
{
    using dsound_fakes::DSoundFakes;
    DSoundFakes* fakes = DSoundFakes::Current();
    if (fakes == nullptr) {
        ADD_FAILURE() << "DirectSoundCreate8 called with no DSoundFakes in place";
        if (out != nullptr)
            *out = nullptr;
        return E_FAIL;
    }
    fakes->Record("DirectSoundCreate8");
    fakes->createCalls.push_back({device, out, outer});
    const HRESULT result = fakes->ResultOf(dsound_fakes::Call::DirectSoundCreate8);
    if (out != nullptr)
        *out = SUCCEEDED(result) ? static_cast<IDirectSound8*>(fakes->NewDirectSound()) : nullptr;
    return result;
}
