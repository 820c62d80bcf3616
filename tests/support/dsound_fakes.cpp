#include "tests/support/dsound_fakes.h"

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

// ---- Buffer ----

FakeSoundBuffer::FakeSoundBuffer(fakes::Session& session, std::string name)
    : fakes::FakeObject(session, std::move(name)), currentFormat()
{
    // What a fresh primary buffer reports before anyone sets its format.
    currentFormat.wFormatTag = WAVE_FORMAT_PCM;
    currentFormat.nChannels = 2;
    currentFormat.nSamplesPerSec = 22050;
    currentFormat.wBitsPerSample = 8;
    currentFormat.nBlockAlign = 2;
    currentFormat.nAvgBytesPerSec = 44100;
}

HRESULT FakeSoundBuffer::SetFormat(LPCWAVEFORMATEX format)
{
    formats.push_back(format != nullptr ? BytesOf(format) : std::vector<unsigned char>());
    const HRESULT result = Call("SetFormat", format != nullptr ? std::to_string(format->nSamplesPerSec) : "null");
    if (SUCCEEDED(result) && format != nullptr) {
        currentFormat = *format;
        currentFormat.cbSize = 0;
    }
    return result;
}

HRESULT FakeSoundBuffer::GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, LPDWORD sizeWritten)
{
    const HRESULT result = Call("GetFormat", std::to_string(sizeAllocated));
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

#define DSOUND_FAKES_DEFINE_BUFFER(result, method, parameters) FAKES_DEFINE(FakeSoundBuffer, result, method, parameters)
DSOUND_FAKES_BUFFER_UNEXPECTED(DSOUND_FAKES_DEFINE_BUFFER)

// ---- DirectSound ----

FakeDirectSound::FakeDirectSound(DSoundFakes& fakes) : fakes::FakeObject(fakes.session, "directsound"), fakes_(fakes)
{
}

#define DSOUND_FAKES_DEFINE_DIRECTSOUND(result, method, parameters) \
    FAKES_DEFINE(FakeDirectSound, result, method, parameters)
DSOUND_FAKES_DIRECTSOUND_UNEXPECTED(DSOUND_FAKES_DEFINE_DIRECTSOUND)

HRESULT FakeDirectSound::CreateSoundBuffer(LPCDSBUFFERDESC description, LPLPDIRECTSOUNDBUFFER buffer,
                                           IUnknown* outer)
{
    createSoundBufferCalls.push_back(
        {description != nullptr ? BytesOf(description) : std::vector<unsigned char>(), buffer, outer});
    const bool primary = description != nullptr && (description->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0;
    const HRESULT result = Call("CreateSoundBuffer", primary ? "primary" : "secondary");
    if (buffer != nullptr)
        *buffer = SUCCEEDED(result) ? fakes_.buffers.Add(fakes_.session, primary ? "primary" : "secondary") : nullptr;
    return result;
}

HRESULT FakeDirectSound::SetCooperativeLevel(HWND window, DWORD level)
{
    cooperativeLevels.push_back({window, level});
    return Call("SetCooperativeLevel", fakes::Hex(reinterpret_cast<uintptr_t>(window)) + ", " + std::to_string(level));
}

} // namespace dsound_fakes

// Replaces dsound.dll's entry point for the whole test program.
HRESULT WINAPI DirectSoundCreate8(LPCGUID device, LPDIRECTSOUND8* out, LPUNKNOWN outer)
{
    dsound_fakes::DSoundFakes* fakes = &dsound_fakes::DSoundFakes::Active("DirectSoundCreate8");
    fakes->createCalls.push_back({device, out, outer});
    const HRESULT result = fakes->session.failures.Next("DirectSoundCreate8");
    fakes->session.LogEntryPoint(std::string("DirectSoundCreate8(") + (device == nullptr ? "null" : "a GUID") + ")",
                                 result);
    if (out != nullptr)
        *out = SUCCEEDED(result) ? static_cast<IDirectSound8*>(fakes->directSounds.Add(*fakes)) : nullptr;
    return result;
}
