// Recording doubles of DirectSound 8 on the shared fake base (fake_com.h):
// DirectSoundCreate8, IDirectSound8 and IDirectSoundBuffer as the MinGW
// headers declare them. The log names them "directsound", "primary" and
// "secondary"; the arguments are kept on the object that received them,
// records passed by pointer copied byte for byte.
//
// A test program that links dsound_fakes.cpp gets its DirectSoundCreate8 in
// place of dsound.dll's.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <string>
#include <vector>

#include "tests/support/fake_com.h"

namespace dsound_fakes {

#define DSOUND_FAKES_BUFFER_UNEXPECTED(X)                                 \
    X(HRESULT, QueryInterface, (REFIID, void**))                          \
    X(HRESULT, GetCaps, (LPDSBCAPS))                                      \
    X(HRESULT, GetCurrentPosition, (LPDWORD, LPDWORD))                    \
    X(HRESULT, GetVolume, (LPLONG))                                       \
    X(HRESULT, GetPan, (LPLONG))                                          \
    X(HRESULT, GetFrequency, (LPDWORD))                                   \
    X(HRESULT, GetStatus, (LPDWORD))                                      \
    X(HRESULT, Initialize, (LPDIRECTSOUND, LPCDSBUFFERDESC))              \
    X(HRESULT, Lock, (DWORD, DWORD, LPVOID*, LPDWORD, LPVOID*, LPDWORD, DWORD)) \
    X(HRESULT, Play, (DWORD, DWORD, DWORD))                               \
    X(HRESULT, SetCurrentPosition, (DWORD))                               \
    X(HRESULT, SetVolume, (LONG))                                         \
    X(HRESULT, SetPan, (LONG))                                            \
    X(HRESULT, SetFrequency, (DWORD))                                     \
    X(HRESULT, Stop, ())                                                  \
    X(HRESULT, Unlock, (LPVOID, DWORD, LPVOID, DWORD))                    \
    X(HRESULT, Restore, ())

class FakeSoundBuffer final : public IDirectSoundBuffer, public fakes::FakeObject {
public:
    FakeSoundBuffer(fakes::Session& session, std::string name);

    // Every SetFormat argument, as the bytes of a WAVEFORMATEX.
    std::vector<std::vector<unsigned char>> formats;
    // What GetFormat reports: the last format set successfully.
    WAVEFORMATEX currentFormat;

    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
    HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten) override;
    HRESULT STDMETHODCALLTYPE SetFormat(LPCWAVEFORMATEX format) override;
    DSOUND_FAKES_BUFFER_UNEXPECTED(FAKES_DECLARE)
};

#define DSOUND_FAKES_DIRECTSOUND_UNEXPECTED(X)                         \
    X(HRESULT, QueryInterface, (REFIID, void**))                       \
    X(HRESULT, GetCaps, (LPDSCAPS))                                    \
    X(HRESULT, DuplicateSoundBuffer, (LPDIRECTSOUNDBUFFER, LPLPDIRECTSOUNDBUFFER)) \
    X(HRESULT, Compact, ())                                            \
    X(HRESULT, GetSpeakerConfig, (LPDWORD))                            \
    X(HRESULT, SetSpeakerConfig, (DWORD))                              \
    X(HRESULT, Initialize, (LPCGUID))                                  \
    X(HRESULT, VerifyCertification, (LPDWORD))

class DSoundFakes;

class FakeDirectSound final : public IDirectSound8, public fakes::FakeObject {
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

    ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
    HRESULT STDMETHODCALLTYPE CreateSoundBuffer(LPCDSBUFFERDESC description, LPLPDIRECTSOUNDBUFFER buffer,
                                                IUnknown* outer) override;
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD level) override;
    DSOUND_FAKES_DIRECTSOUND_UNEXPECTED(FAKES_DECLARE)

private:
    DSoundFakes& fakes_;
};

// The DirectSound a test program sees while one of these exists (one at a
// time), logging into `session`.
class DSoundFakes : public fakes::CurrentFamily<DSoundFakes> {
public:
    explicit DSoundFakes(fakes::Session& session) : session(session) {}

    fakes::Session& session;

    struct CreateCall {
        LPCGUID device;
        LPDIRECTSOUND8* out;
        LPUNKNOWN outer;
    };
    std::vector<CreateCall> createCalls;

    fakes::HandedOut<FakeDirectSound> directSounds;
    // Also for filling the slots that nothing in the program fills yet.
    fakes::HandedOut<FakeSoundBuffer> buffers;
};

} // namespace dsound_fakes
