// The keyboard module against recording doubles of DirectInput 8: the order
// and arguments of its calls, what each failing step does to the result and
// to what is kept, and what the destructor releases.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "input/keyboard_input.h"
#include "tests/support/dialog_watcher.h"
#include "tests/support/dinput_fakes.h"
#include "tests/support/hresult.h"

// The program's globals, which this test program owns.
KeyboardInput* g_keyboard = nullptr;
HWND g_mainWindow = nullptr;

namespace {

using dinput_fakes::DInputFakes;
using CallLog = std::vector<std::string>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kCreate = "DirectInput8Create";
const std::string kCreateDevice = "directinput.CreateDevice";
const std::string kSetDataFormat = "keyboard.SetDataFormat";
const std::string kSetCooperativeLevel = "keyboard.SetCooperativeLevel";
const std::string kAcquire = "keyboard.Acquire";
const std::string kUnacquire = "keyboard.Unacquire";
const std::string kReleaseDevice = "keyboard.Release";
const std::string kReleaseDirectInput = "directinput.Release";

const CallLog kFullInit = {kCreate, kCreateDevice, kSetDataFormat, kSetCooperativeLevel, kAcquire};

// The doubles never look at the window, so any distinctive value does.
const HWND kMainWindow = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x4D2C));

class KeyboardTest : public ::testing::Test {
protected:
    KeyboardTest()
    {
        g_mainWindow = kMainWindow;
        g_keyboard = new KeyboardInput;
    }

    ~KeyboardTest() override
    {
        delete g_keyboard;
        g_keyboard = nullptr;
        g_mainWindow = nullptr;
    }

    void TearDown() override
    {
        // Only E_NOTIMPL from SetCooperativeLevel may tell the user anything,
        // and no test here gives it.
        EXPECT_THAT(boxes.Shown(), IsEmpty());
    }

    // Deletes g_keyboard and returns the calls its destructor made.
    CallLog DestroyKeyboard()
    {
        const size_t before = session.log.Calls().size();
        delete g_keyboard;
        g_keyboard = nullptr;
        return session.log.Names(before);
    }

    fakes::Session session;
    DInputFakes fakes{session};
    DialogWatcher boxes;
};

// --- Construction and the never-initialised object ---------------------------

TEST_F(KeyboardTest, NeverInitialisedObjectMakesNoCallAndNullsItsPointers)
{
    // Built over garbage, so that a pointer left uninitialised shows.
    alignas(KeyboardInput) unsigned char storage[sizeof(KeyboardInput)];
    std::memset(storage, 0xCD, sizeof(storage));
    KeyboardInput* keyboard = new (storage) KeyboardInput;
    // Destroying garbage would crash rather than fail.
    ASSERT_EQ(keyboard->directInput, nullptr);
    ASSERT_EQ(keyboard->keyboardDevice, nullptr);

    KeyboardInput* const programKeyboard = g_keyboard;
    g_keyboard = keyboard;
    SetKeyboardAcquired(true);
    SetKeyboardAcquired(false);
    g_keyboard = programKeyboard;

    keyboard->~KeyboardInput();
    EXPECT_THAT(session.log.Names(), IsEmpty());
}

// --- InitKeyboard ------------------------------------------------------------

TEST_F(KeyboardTest, InitKeyboardCreatesConfiguresAndAcquiresTheKeyboard)
{
    EXPECT_EQ(InitKeyboard(), 0);

    EXPECT_EQ(session.log.Names(), kFullInit);
    ASSERT_EQ(fakes.directInputs.Count(), 1u);
    ASSERT_EQ(fakes.devices.Count(), 1u);
    EXPECT_EQ(g_keyboard->directInput, fakes.directInputs.Last());
    EXPECT_EQ(g_keyboard->keyboardDevice, fakes.devices.Last());
    EXPECT_EQ(fakes.directInputs.Last()->Refs(), 1);
    EXPECT_EQ(fakes.devices.Last()->Refs(), 1);
    EXPECT_TRUE(fakes.devices.Last()->acquired);
}

TEST_F(KeyboardTest, InitKeyboardPassesTheExactArguments)
{
    ASSERT_EQ(InitKeyboard(), 0);

    ASSERT_EQ(fakes.createCalls.size(), 1u);
    const DInputFakes::CreateCall& create = fakes.createCalls[0];
    EXPECT_EQ(create.instance, GetModuleHandleA(nullptr));
    EXPECT_EQ(create.version, 0x0800u);
    EXPECT_TRUE(IsEqualIID(create.iid, IID_IDirectInput8A));
    EXPECT_EQ(create.out, reinterpret_cast<void**>(&g_keyboard->directInput));
    EXPECT_EQ(create.outer, nullptr);

    ASSERT_EQ(fakes.directInputs.Last()->createDeviceCalls.size(), 1u);
    const auto& createDevice = fakes.directInputs.Last()->createDeviceCalls[0];
    EXPECT_TRUE(IsEqualGUID(createDevice.guid, GUID_SysKeyboard));
    EXPECT_EQ(createDevice.out, &g_keyboard->keyboardDevice);
    EXPECT_EQ(createDevice.outer, nullptr);

    const dinput_fakes::FakeDirectInputDevice* device = fakes.devices.Last();
    EXPECT_THAT(device->dataFormats, ElementsAre(&c_dfDIKeyboard));
    ASSERT_EQ(device->cooperativeLevels.size(), 1u);
    EXPECT_EQ(device->cooperativeLevels[0].window, kMainWindow);
    // DISCL_NONEXCLUSIVE | DISCL_FOREGROUND
    EXPECT_EQ(device->cooperativeLevels[0].flags, 6u);
}

struct FailingStep {
    const char* name;
    const char* call;
    HRESULT result;
    CallLog callsMade;        // InitKeyboard stops after the failing call
    bool keepsDirectInput;
    bool keepsDevice;
};

void PrintTo(const FailingStep& step, std::ostream* out)
{
    *out << step.name << " answering " << FormatHResult(step.result);
}

std::string FailingStepName(const ::testing::TestParamInfo<FailingStep>& info)
{
    return std::string(info.param.name) + "_" + FormatHResult(info.param.result).substr(2);
}

class KeyboardFailingStepTest : public KeyboardTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(KeyboardFailingStepTest, ReturnsTheHresultUnchangedAndKeepsWhatWasCreatedUntilTheDestructor)
{
    const FailingStep& step = GetParam();
    session.failures.Fail(step.call, step.result);

    EXPECT_EQ(FormatHResult(InitKeyboard()), FormatHResult(step.result));

    EXPECT_EQ(session.log.Names(), step.callsMade);
    EXPECT_EQ(g_keyboard->directInput, step.keepsDirectInput ? fakes.directInputs.Last() : nullptr);
    EXPECT_EQ(g_keyboard->keyboardDevice, step.keepsDevice ? fakes.devices.Last() : nullptr);
    if (step.keepsDevice) {
        EXPECT_FALSE(fakes.devices.Last()->acquired);
    }

    CallLog released;
    if (step.keepsDevice)
        released = {kUnacquire, kReleaseDevice};
    if (step.keepsDirectInput)
        released.push_back(kReleaseDirectInput);
    EXPECT_EQ(DestroyKeyboard(), released);
    EXPECT_THAT(session.Unreleased(), IsEmpty());
}

const CallLog kUpToCreate = {kCreate};
const CallLog kUpToCreateDevice = {kCreate, kCreateDevice};
const CallLog kUpToSetDataFormat = {kCreate, kCreateDevice, kSetDataFormat};
const CallLog kUpToSetCooperativeLevel = {kCreate, kCreateDevice, kSetDataFormat, kSetCooperativeLevel};

INSTANTIATE_TEST_SUITE_P(
    EachStep, KeyboardFailingStepTest,
    ::testing::Values(
        FailingStep{"DirectInput8Create", "DirectInput8Create", DIERR_OLDDIRECTINPUTVERSION, kUpToCreate, false,
                    false},
        FailingStep{"DirectInput8Create", "DirectInput8Create", E_OUTOFMEMORY, kUpToCreate, false, false},
        FailingStep{"CreateDevice", "directinput.CreateDevice", DIERR_DEVICENOTREG, kUpToCreateDevice, true, false},
        FailingStep{"SetDataFormat", "keyboard.SetDataFormat", DIERR_ACQUIRED, kUpToSetDataFormat, true, true},
        FailingStep{"SetCooperativeLevel", "keyboard.SetCooperativeLevel", DIERR_INVALIDPARAM, kUpToSetCooperativeLevel,
                    true, true},
        FailingStep{"SetCooperativeLevel", "keyboard.SetCooperativeLevel", E_HANDLE, kUpToSetCooperativeLevel, true, true},
        FailingStep{"SetCooperativeLevel", "keyboard.SetCooperativeLevel", E_FAIL, kUpToSetCooperativeLevel, true, true},
        // The neighbours of E_NOTIMPL, which alone is answered with a message.
        FailingStep{"SetCooperativeLevel", "keyboard.SetCooperativeLevel", E_NOINTERFACE, kUpToSetCooperativeLevel, true,
                    true},
        FailingStep{"SetCooperativeLevel", "keyboard.SetCooperativeLevel",
                    HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED), kUpToSetCooperativeLevel, true, true},
        FailingStep{"SetCooperativeLevel", "keyboard.SetCooperativeLevel",
                    MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, HRESULT_CODE(E_NOTIMPL)), kUpToSetCooperativeLevel,
                    true, true}),
    FailingStepName);

TEST_F(KeyboardTest, SuccessCodesOtherThanZeroCountAsSuccessAndInitKeyboardStillReturnsZero)
{
    session.failures.Fail("DirectInput8Create", S_FALSE);
    session.failures.Fail("directinput.CreateDevice", DI_POLLEDDEVICE);
    session.failures.Fail("keyboard.SetDataFormat", S_FALSE);
    session.failures.Fail("keyboard.SetCooperativeLevel", DI_POLLEDDEVICE);

    EXPECT_EQ(FormatHResult(InitKeyboard()), FormatHResult(0));
    EXPECT_EQ(session.log.Names(), kFullInit);
}

class KeyboardAcquireFailsTest : public KeyboardTest, public ::testing::WithParamInterface<HRESULT> {};

TEST_P(KeyboardAcquireFailsTest, InitKeyboardStillReturnsZeroAndKeepsEverything)
{
    session.failures.Fail("keyboard.Acquire", GetParam());

    EXPECT_EQ(FormatHResult(InitKeyboard()), FormatHResult(0));

    EXPECT_EQ(session.log.Names(), kFullInit);
    EXPECT_EQ(g_keyboard->directInput, fakes.directInputs.Last());
    EXPECT_EQ(g_keyboard->keyboardDevice, fakes.devices.Last());
    EXPECT_EQ(DestroyKeyboard(), (CallLog{kUnacquire, kReleaseDevice, kReleaseDirectInput}));
    EXPECT_THAT(session.Unreleased(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Results, KeyboardAcquireFailsTest,
                         ::testing::Values(DIERR_OTHERAPPHASPRIO, DIERR_INPUTLOST, DIERR_NOTINITIALIZED, E_FAIL));

// --- The destructor ----------------------------------------------------------

class KeyboardDestructorTest : public KeyboardTest, public ::testing::WithParamInterface<HRESULT> {};

TEST_P(KeyboardDestructorTest, UnacquiresAndReleasesTheDeviceBeforeDirectInput)
{
    ASSERT_EQ(InitKeyboard(), 0);
    session.failures.Fail("keyboard.Unacquire", GetParam());

    EXPECT_EQ(DestroyKeyboard(), (CallLog{kUnacquire, kReleaseDevice, kReleaseDirectInput}));
    EXPECT_EQ(fakes.devices.Last()->Refs(), 0);
    EXPECT_EQ(fakes.directInputs.Last()->Refs(), 0);
}

// Whatever Unacquire answers, the objects go.
INSTANTIATE_TEST_SUITE_P(UnacquireResults, KeyboardDestructorTest, ::testing::Values(DI_OK, DI_NOEFFECT, E_FAIL));

// --- SetKeyboardAcquired -----------------------------------------------------

struct AcquireCase {
    const char* name;
    bool initialise;
    const char* failInitAt; // null: InitKeyboard succeeds
    bool acquire;
    CallLog expected;
};

void PrintTo(const AcquireCase& c, std::ostream* out)
{
    *out << c.name;
}

std::string AcquireCaseName(const ::testing::TestParamInfo<AcquireCase>& info)
{
    return info.param.name;
}

class SetKeyboardAcquiredTest : public KeyboardTest, public ::testing::WithParamInterface<AcquireCase> {};

TEST_P(SetKeyboardAcquiredTest, CallsTheDeviceOnlyWhenThereIsOne)
{
    const AcquireCase& c = GetParam();
    if (c.initialise) {
        if (c.failInitAt != nullptr)
            session.failures.Fail(c.failInitAt, E_FAIL);
        InitKeyboard();
        if (c.failInitAt != nullptr)
            session.failures.Stop(c.failInitAt);
    }
    const size_t before = session.log.Calls().size();

    SetKeyboardAcquired(c.acquire);

    EXPECT_EQ(session.log.Names(before), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetKeyboardAcquiredTest,
    ::testing::Values(AcquireCase{"BeforeInitKeyboardTrue", false, nullptr, true, {}},
                      AcquireCase{"BeforeInitKeyboardFalse", false, nullptr, false, {}},
                      AcquireCase{"NoDirectInputTrue", true, "DirectInput8Create", true, {}},
                      AcquireCase{"NoDeviceTrue", true, "directinput.CreateDevice", true, {}},
                      AcquireCase{"NoDeviceFalse", true, "directinput.CreateDevice", false, {}},
                      AcquireCase{"DeviceWithoutFormatTrue", true, "keyboard.SetDataFormat", true, {kAcquire}},
                      AcquireCase{"InitialisedTrue", true, nullptr, true, {kAcquire}},
                      AcquireCase{"InitialisedFalse", true, nullptr, false, {kUnacquire}}),
    AcquireCaseName);

} // namespace
