// The sound module against recording doubles of DirectSound 8: the order
// and arguments of its calls, with the records it passes compared byte for
// byte, what each failing step does, and the destructor's order.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "sound/sound_device.h"
#include "tests/support/dsound_fakes.h"
#include "tests/support/hresult.h"

SoundDevice* g_sound = nullptr;
HWND g_mainWindow = nullptr;

namespace {

using dsound_fakes::DSoundFakes;
using CallLog = std::vector<std::string>;
using ::testing::Each;
using ::testing::IsEmpty;
using ::testing::IsNull;

const std::string kCreate = "DirectSoundCreate8";
const std::string kSetCooperativeLevel = "directsound.SetCooperativeLevel";
const std::string kCreateSoundBuffer = "directsound.CreateSoundBuffer";
const std::string kSetFormat = "primary.SetFormat";
const std::string kReleasePrimary = "primary.Release";
const std::string kReleaseDirectSound = "directsound.Release";

const CallLog kFullInit = {kCreate, kSetCooperativeLevel, kCreateSoundBuffer, kSetFormat};

const HWND kMainWindow = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x5A1C));

std::string SlotBufferName(int slot)
{
    return "slot" + std::to_string(slot);
}

class SoundTest : public ::testing::Test {
protected:
    SoundTest()
    {
        g_mainWindow = kMainWindow;
        g_sound = new SoundDevice;
    }

    ~SoundTest() override
    {
        delete g_sound;
        g_sound = nullptr;
        g_mainWindow = nullptr;
    }

    // Deletes g_sound and returns the calls its destructor made.
    CallLog DestroySound()
    {
        const size_t before = session.log.Calls().size();
        delete g_sound;
        g_sound = nullptr;
        return session.log.Names(before);
    }

    fakes::Session session;
    DSoundFakes fakes{session};
};

// --- Construction and the never-initialised object ---------------------------

TEST_F(SoundTest, NeverInitialisedObjectNullsAllItsPointersAndMakesNoCall)
{
    // Built over garbage, so that a pointer left uninitialised shows.
    alignas(SoundDevice) unsigned char storage[sizeof(SoundDevice)];
    std::memset(storage, 0xCD, sizeof(storage));
    SoundDevice* sound = new (storage) SoundDevice;
    // Destroying garbage would crash rather than fail.
    ASSERT_EQ(sound->directSound, nullptr);
    ASSERT_EQ(sound->primaryBuffer, nullptr);
    ASSERT_THAT(sound->secondaryBuffers, Each(IsNull()));

    sound->~SoundDevice();
    EXPECT_THAT(session.log.Names(), IsEmpty());
}

// --- InitSound ---------------------------------------------------------------

TEST_F(SoundTest, InitSoundCreatesTheDeviceAndSetsThePrimaryBufferFormat)
{
    EXPECT_EQ(InitSound(), TRUE);

    EXPECT_EQ(session.log.Names(), kFullInit);
    ASSERT_EQ(fakes.directSounds.Count(), 1u);
    ASSERT_EQ(fakes.buffers.Count(), 1u);
    EXPECT_EQ(g_sound->directSound, fakes.directSounds.Last());
    EXPECT_EQ(g_sound->primaryBuffer, fakes.buffers.Last());
    EXPECT_THAT(g_sound->secondaryBuffers, Each(IsNull()));
    EXPECT_EQ(fakes.directSounds.Last()->Refs(), 1);
    EXPECT_EQ(fakes.buffers.Last()->Refs(), 1);
}

TEST_F(SoundTest, InitSoundPassesTheExactArgumentsAndRecords)
{
    ASSERT_EQ(InitSound(), TRUE);

    ASSERT_EQ(fakes.createCalls.size(), 1u);
    EXPECT_EQ(fakes.createCalls[0].device, nullptr);
    EXPECT_EQ(fakes.createCalls[0].out, &g_sound->directSound);
    EXPECT_EQ(fakes.createCalls[0].outer, nullptr);

    const dsound_fakes::FakeDirectSound* directSound = fakes.directSounds.Last();
    ASSERT_EQ(directSound->cooperativeLevels.size(), 1u);
    EXPECT_EQ(directSound->cooperativeLevels[0].window, kMainWindow);
    EXPECT_EQ(directSound->cooperativeLevels[0].level, static_cast<DWORD>(DSSCL_EXCLUSIVE));

    // All zero but the size and the primary-buffer flag: no format, no
    // length, no 3D algorithm.
    DSBUFFERDESC description;
    std::memset(&description, 0, sizeof(description));
    description.dwSize = sizeof(DSBUFFERDESC);
    description.dwFlags = DSBCAPS_PRIMARYBUFFER;
    const auto* descriptionBytes = reinterpret_cast<const unsigned char*>(&description);
    ASSERT_EQ(directSound->createSoundBufferCalls.size(), 1u);
    const auto& create = directSound->createSoundBufferCalls[0];
    EXPECT_EQ(create.description,
              std::vector<unsigned char>(descriptionBytes, descriptionBytes + sizeof(description)));
    EXPECT_EQ(create.out, &g_sound->primaryBuffer);
    EXPECT_EQ(create.outer, nullptr);

    // PCM, 2 channels, 44,100 Hz, 176,400 bytes/s, block 4, 16 bits, cbSize 18,
    // little-endian as the WAVEFORMATEX record lays them out.
    const std::vector<unsigned char> format = {0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10,
                                               0xB1, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x12, 0x00};
    ASSERT_EQ(fakes.buffers.Last()->formats.size(), 1u);
    EXPECT_EQ(fakes.buffers.Last()->formats[0], format);
}

struct FailingStep {
    const char* name;
    const char* call;
    HRESULT result;
    CallLog callsMade;  // InitSound stops after the failing call
    bool keepsDirectSound;
    bool keepsPrimaryBuffer;
};

void PrintTo(const FailingStep& step, std::ostream* out)
{
    *out << step.name << " answering " << FormatHResult(step.result);
}

std::string FailingStepName(const ::testing::TestParamInfo<FailingStep>& info)
{
    return std::string(info.param.name) + "_" + FormatHResult(info.param.result).substr(2);
}

class SoundFailingStepTest : public SoundTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(SoundFailingStepTest, InitSoundReturnsFalseAndKeepsWhatWasCreatedUntilTheDestructor)
{
    const FailingStep& step = GetParam();
    session.failures.Fail(step.call, step.result);

    EXPECT_EQ(InitSound(), FALSE);

    EXPECT_EQ(session.log.Names(), step.callsMade);
    EXPECT_EQ(g_sound->directSound, step.keepsDirectSound ? fakes.directSounds.Last() : nullptr);
    EXPECT_EQ(g_sound->primaryBuffer, step.keepsPrimaryBuffer ? fakes.buffers.Last() : nullptr);

    CallLog released;
    if (step.keepsPrimaryBuffer)
        released.push_back(kReleasePrimary);
    if (step.keepsDirectSound)
        released.push_back(kReleaseDirectSound);
    EXPECT_EQ(DestroySound(), released);
    EXPECT_THAT(session.Unreleased(), IsEmpty());
}

const CallLog kUpToCreate = {kCreate};
const CallLog kUpToSetCooperativeLevel = {kCreate, kSetCooperativeLevel};
const CallLog kUpToCreateSoundBuffer = {kCreate, kSetCooperativeLevel, kCreateSoundBuffer};

INSTANTIATE_TEST_SUITE_P(
    EachStep, SoundFailingStepTest,
    ::testing::Values(
        FailingStep{"DirectSoundCreate8", "DirectSoundCreate8", DSERR_NODRIVER, kUpToCreate, false, false},
        FailingStep{"DirectSoundCreate8", "DirectSoundCreate8", DSERR_ALLOCATED, kUpToCreate, false, false},
        FailingStep{"SetCooperativeLevel", "directsound.SetCooperativeLevel", DSERR_INVALIDPARAM, kUpToSetCooperativeLevel,
                    true, false},
        FailingStep{"CreateSoundBuffer", "directsound.CreateSoundBuffer", DSERR_OUTOFMEMORY, kUpToCreateSoundBuffer, true,
                    false},
        FailingStep{"CreateSoundBuffer", "directsound.CreateSoundBuffer", DSERR_UNSUPPORTED, kUpToCreateSoundBuffer, true,
                    false},
        FailingStep{"SetFormat", "primary.SetFormat", DSERR_BADFORMAT, kFullInit, true, true},
        FailingStep{"SetFormat", "primary.SetFormat", DSERR_PRIOLEVELNEEDED, kFullInit, true, true}),
    FailingStepName);

TEST_F(SoundTest, SuccessCodesOtherThanZeroCountAsSuccessAndInitSoundReturnsTrue)
{
    session.failures.Fail("DirectSoundCreate8", S_FALSE);
    session.failures.Fail("directsound.SetCooperativeLevel", S_FALSE);
    session.failures.Fail("directsound.CreateSoundBuffer", DS_NO_VIRTUALIZATION);
    session.failures.Fail("primary.SetFormat", S_FALSE);

    EXPECT_EQ(InitSound(), TRUE);
    EXPECT_EQ(session.log.Names(), kFullInit);
}

// --- The destructor ----------------------------------------------------------

struct DestructorCase {
    const char* name;
    bool initialise;
    std::vector<int> filledSlots;
};

void PrintTo(const DestructorCase& c, std::ostream* out)
{
    *out << c.name;
}

std::string DestructorCaseName(const ::testing::TestParamInfo<DestructorCase>& info)
{
    return info.param.name;
}

class SoundDestructorTest : public SoundTest, public ::testing::WithParamInterface<DestructorCase> {};

TEST_P(SoundDestructorTest, ReleasesSlotsFirstToLastThenThePrimaryBufferThenTheDevice)
{
    const DestructorCase& c = GetParam();
    if (c.initialise) {
        ASSERT_EQ(InitSound(), TRUE);
    }
    // Nothing in the program fills the slots yet; the test does it as a
    // later version would.
    for (int slot : c.filledSlots)
        g_sound->secondaryBuffers[slot] = fakes.buffers.Add(session, SlotBufferName(slot));

    CallLog expected;
    for (int slot : c.filledSlots)
        expected.push_back(SlotBufferName(slot) + ".Release");
    if (c.initialise) {
        expected.push_back(kReleasePrimary);
        expected.push_back(kReleaseDirectSound);
    }
    EXPECT_EQ(DestroySound(), expected);
    EXPECT_THAT(session.Unreleased(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SoundDestructorTest,
    ::testing::Values(DestructorCase{"InitialisedNoSlots", true, {}},
                      DestructorCase{"InitialisedAllSlots", true, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
                      DestructorCase{"InitialisedFirstMiddleLastSlots", true, {0, 7, 15}},
                      DestructorCase{"SlotsOnly", false, {3, 4, 12}}),
    DestructorCaseName);

} // namespace
