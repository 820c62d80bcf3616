// Wine's real DirectSound in a prefix whose audio drivers are switched off
// (Audio = ""): the program must do without sound, and survive it.
#include "sound_wine_fixture.h"

namespace {

TEST_F(SoundOnWineTest, InitSoundReturnsFalseWithNoAudioDriverAndTheDeviceObjectStillGoesCleanly)
{
    ASSERT_EQ(WineAudioDrivers(), "") << "run in the prefix made by make_audio_prefix.sh with 'none'";

    EXPECT_EQ(InitSound(), FALSE);
    EXPECT_EQ(g_sound->primaryBuffer, nullptr);

    delete g_sound;
    g_sound = nullptr;
}

} // namespace
