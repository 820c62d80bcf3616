// Wine's real DirectSound on a real audio device with no hardware behind it:
// ALSA's "null" PCM as the default device, through Wine's ALSA driver.
#include "sound_wine_fixture.h"

namespace {

class SoundOnNullAlsaTest : public SoundOnWineTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(WineAudioDrivers(), "alsa") << "run in the prefix made by make_audio_prefix.sh with 'alsa'";
        ASSERT_GT(GetEnvironmentVariableA("ALSA_CONFIG_PATH", nullptr, 0), 0u)
            << "ALSA_CONFIG_PATH must name the configuration with the null PCM";
        SoundOnWineTest::SetUp();
    }
};

TEST_F(SoundOnNullAlsaTest, InitSoundSetsThePrimaryBufferTo44100Hz16BitStereo)
{
    ASSERT_EQ(InitSound(), TRUE);
    IDirectSoundBuffer* primary = g_sound->primaryBuffer;
    ASSERT_NE(primary, nullptr);

    // Wine's primary buffer starts at 22,050 Hz 8-bit: what is read back
    // here is what InitSound set.
    WAVEFORMATEX format = {};
    DWORD written = 0;
    ASSERT_EQ(FormatHResult(primary->GetFormat(&format, sizeof(format), &written)), FormatHResult(DS_OK));
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.nAvgBytesPerSec, 176400u);
}

TEST_F(SoundOnNullAlsaTest, TheDestructorReleasesThePrimaryBufferAndTheDevice)
{
    ASSERT_EQ(InitSound(), TRUE);
    IDirectSound8* directSound = g_sound->directSound;
    IDirectSoundBuffer* primary = g_sound->primaryBuffer;
    ASSERT_NE(directSound, nullptr);
    ASSERT_NE(primary, nullptr);

    // References of the test's own keep both alive past the destructor, and
    // what their release answers tells whether the destructor let go.
    primary->AddRef();
    directSound->AddRef();
    delete g_sound;
    g_sound = nullptr;

    EXPECT_EQ(primary->Release(), 0u);
    EXPECT_EQ(directSound->Release(), 0u);
}

} // namespace
