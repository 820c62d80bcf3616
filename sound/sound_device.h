// The DirectSound 8 device and its primary buffer. Nothing is ever played;
// the device is brought up at start and released at the end.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

constexpr int kSoundBufferSlots = 16;

class SoundDevice {
public:
    SoundDevice();
    ~SoundDevice();

    SoundDevice(const SoundDevice&) = delete;
    SoundDevice& operator=(const SoundDevice&) = delete;

    // Creates the primary buffer and sets it to 44,100 Hz 16-bit stereo PCM.
    BOOL CreatePrimaryBuffer();

    IDirectSound8* directSound;
    IDirectSoundBuffer* primaryBuffer;
    // Room for secondary buffers; nothing fills them yet.
    IDirectSoundBuffer* secondaryBuffers[kSoundBufferSlots];
};

extern SoundDevice* g_sound;

// Brings up g_sound's device for the main window, exclusively. FALSE at the
// first step that fails; what was created stays until the destructor.
BOOL InitSound();
