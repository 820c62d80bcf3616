// Recording doubles of DirectSound 8: DirectSoundCreate8, IDirectSound8 and
// IDirectSoundBuffer as the MinGW headers declare them. Every call is written
// to a call log as "<object>::<method>", its arguments are kept on the object
// that received it (records passed by pointer are copied byte for byte), and
// any of the calls the program makes can be told to answer another HRESULT.
//
// A test program that links dsound_fakes.cpp gets its DirectSoundCreate8 in
// place of dsound.dll's. Objects handed out stay alive (owned by the
// DSoundFakes that made them) after their count reaches zero, so a test can
// look at them after the program let go.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace dsound_fakes {

using CallLog = std::vector<std::string>;

// The calls whose result a test can choose. Unlisted methods answer
// E_NOTIMPL, and are logged too, so that an unexpected call shows.
enum class Call {
    DirectSoundCreate8,
    SetCooperativeLevel,
    CreateSoundBuffer,
    SetFormat,
    GetFormat,
};

class DSoundFakes;

class FakeObject {
public:
    FakeObject(DSoundFakes& fakes, std::string name) : fakes_(fakes), name_(std::move(name)) {}
    virtual ~FakeObject() = default;

    ULONG RefCount() const { return refs_; }
    const std::string& Name() const { return name_; }

protected:
    void Record(const char* method);
    ULONG DoAddRef();
    ULONG DoRelease();
    HRESULT ResultOf(Call call) const;

    DSoundFakes& fakes_;

private:
    std::string name_;
    ULONG refs_ = 1;
};

class FakeSoundBuffer final : public IDirectSoundBuffer, public FakeObject {
public:
    FakeSoundBuffer(DSoundFakes& fakes, std::string name);

    // Every SetFormat argument, as the bytes of a WAVEFORMATEX.
    std::vector<std::vector<unsigned char>> formats;
    // What GetFormat reports: the last format set successfully.
    WAVEFORMATEX currentFormat;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDirectSoundBuffer
    STDMETHODIMP GetCaps(LPDSBCAPS) override;
    STDMETHODIMP GetCurrentPosition(LPDWORD, LPDWORD) override;
    STDMETHODIMP GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten) override;
    STDMETHODIMP GetVolume(LPLONG) override;
    STDMETHODIMP GetPan(LPLONG) override;
    STDMETHODIMP GetFrequency(LPDWORD) override;
    STDMETHODIMP GetStatus(LPDWORD) override;
    STDMETHODIMP Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override;
    STDMETHODIMP Lock(DWORD, DWORD, LPVOID*, LPDWORD, LPVOID*, LPDWORD, DWORD) override;
    STDMETHODIMP Play(DWORD, DWORD, DWORD) override;
    STDMETHODIMP SetCurrentPosition(DWORD) override;
    STDMETHODIMP SetFormat(LPCWAVEFORMATEX format) override;
    STDMETHODIMP SetVolume(LONG) override;
    STDMETHODIMP SetPan(LONG) override;
    STDMETHODIMP SetFrequency(DWORD) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Unlock(LPVOID, DWORD, LPVOID, DWORD) override;
    STDMETHODIMP Restore() override;
};

class FakeDirectSound final : public IDirectSound8, public FakeObject {
public:
    explicit FakeDirectSound(DSoundFakes& fakes);

    struct CooperativeLevel {
        HWND window;
        DWORD level;
    };
    std::vector<CooperativeLevel> cooperativeLevels;

    struct CreateSoundBufferCall {
        // sizeof(DSBUFFERDESC) bytes from the pointer passed.
        std::vector<unsigned char> description;
        LPDIRECTSOUNDBUFFER* out;
        IUnknown* outer;
    };
    std::vector<CreateSoundBufferCall> createSoundBufferCalls;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDirectSound8
    STDMETHODIMP CreateSoundBuffer(LPCDSBUFFERDESC description, LPLPDIRECTSOUNDBUFFER buffer,
                                   IUnknown* outer) override;
    STDMETHODIMP GetCaps(LPDSCAPS) override;
    STDMETHODIMP DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER, LPLPDIRECTSOUNDBUFFER) override;
    STDMETHODIMP SetCooperativeLevel(HWND window, DWORD level) override;
    STDMETHODIMP Compact() override;
    STDMETHODIMP GetSpeakerConfig(LPDWORD) override;
    STDMETHODIMP SetSpeakerConfig(DWORD) override;
    STDMETHODIMP Initialize(LPCGUID) override;
    STDMETHODIMP VerifyCertification(LPDWORD) override;
};

// The DirectSound a test program sees while one of these exists (one at a
// time). The log may be shared with other doubles, so that a test can see
// the order of calls across subsystems.
class DSoundFakes {
public:
    explicit DSoundFakes(CallLog* sharedLog = nullptr);
    ~DSoundFakes();

    DSoundFakes(const DSoundFakes&) = delete;
    DSoundFakes& operator=(const DSoundFakes&) = delete;

    // From now on every `call` answers `result`. A failing DirectSoundCreate8
    // or CreateSoundBuffer hands out no object (and nulls the out pointer).
    void SetResult(Call call, HRESULT result) { results_[call] = result; }
    HRESULT ResultOf(Call call) const;

    CallLog& Log() { return *log_; }
    void Record(const std::string& entry) { log_->push_back(entry); }

    struct CreateCall {
        LPCGUID device;
        LPDIRECTSOUND8* out;
        LPUNKNOWN outer;
    };
    std::vector<CreateCall> createCalls;

    // A buffer with one reference, as if the program had created it; for
    // filling the slots that nothing in the program fills yet.
    FakeSoundBuffer* NewBuffer(const std::string& name);

    const std::vector<std::unique_ptr<FakeDirectSound>>& DirectSounds() const { return directSounds_; }
    const std::vector<std::unique_ptr<FakeSoundBuffer>>& Buffers() const { return buffers_; }
    FakeDirectSound* LastDirectSound() const;
    FakeSoundBuffer* LastBuffer() const;

    // Names of handed-out objects whose count is not zero.
    std::vector<std::string> Unreleased() const;

    static DSoundFakes* Current() { return current_; }

    // Used by the doubles themselves.
    FakeDirectSound* NewDirectSound();

private:
    static DSoundFakes* current_;

    CallLog ownLog_;
    CallLog* log_;
    std::map<Call, HRESULT> results_;
    std::vector<std::unique_ptr<FakeDirectSound>> directSounds_;
    std::vector<std::unique_ptr<FakeSoundBuffer>> buffers_;
};

} // namespace dsound_fakes
