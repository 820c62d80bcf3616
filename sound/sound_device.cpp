#include "sound/sound_device.h"

#include "app/main_window.h"

// The release target is 32-bit; there these records have the sizes that
// DirectSound of every version accepts.
static_assert(sizeof(void*) != 4 || sizeof(DSBUFFERDESC) == 36, "DSBUFFERDESC must be the full 36-byte record");
static_assert(sizeof(void*) != 4 || sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX must be 18 bytes");

namespace {

template <typename Interface>
void ReleaseAndClear(Interface*& object)
{
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

WAVEFORMATEX PrimaryFormat()
{
    WAVEFORMATEX format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = 176400;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 18;
    return format;
}

} // namespace

SoundDevice::SoundDevice() : directSound(nullptr), primaryBuffer(nullptr), secondaryBuffers() {}

SoundDevice::~SoundDevice()
{
    for (IDirectSoundBuffer*& slot : secondaryBuffers)
        ReleaseAndClear(slot);
    ReleaseAndClear(primaryBuffer);
    ReleaseAndClear(directSound);
}

BOOL SoundDevice::CreatePrimaryBuffer()
{
    DSBUFFERDESC description;
    ZeroMemory(&description, sizeof(description));
    description.dwSize = sizeof(description);
    description.dwFlags = DSBCAPS_PRIMARYBUFFER;
    if (FAILED(directSound->CreateSoundBuffer(&description, &primaryBuffer, nullptr)))
        return FALSE;

    const WAVEFORMATEX format = PrimaryFormat();
    return SUCCEEDED(primaryBuffer->SetFormat(&format)) ? TRUE : FALSE;
}

BOOL InitSound()
{
    SoundDevice* sound = g_sound;
    if (FAILED(DirectSoundCreate8(nullptr, &sound->directSound, nullptr)))
        return FALSE;
    if (FAILED(sound->directSound->SetCooperativeLevel(g_mainWindow, DSSCL_EXCLUSIVE)))
        return FALSE;
    return sound->CreatePrimaryBuffer();
}
