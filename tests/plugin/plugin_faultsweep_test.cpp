// Fault sweep: every SDK call that an operation makes is made to fail in turn.
//
// The list of calls is not written down here: each operation first runs
// without faults and its calls are read from the stand-in's call log. Then,
// for each entry i, a fresh object in the same starting state runs the
// operation with exactly that call failing (by name and occurrence). So the
// sweep follows the plug-in's code: a call added to an operation is swept
// without touching this file, and only the table of consequences below needs
// an entry when a new kind of call appears.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>

#include "pluginhost.h"

using namespace kwtest;

namespace {

const int kNoResult = -1;  // the operation returns nothing
const size_t kHandleOffset = 80;

enum class Handle { None, Held };

// What a host and the SDK can observe after an operation.
struct Outcome {
    int result;
    bool opened;
    bool grabbing;
    int curTriggerMode;
    Handle handle;
    int warnings;     // warnings other than the per-frame entry
    int liveHandles;  // handles the stand-in still has
};

class FaultSweep;

struct Operation {
    const char* name;
    // Brings a fresh object into the state the operation starts from.
    std::function<void(FaultSweep&)> prepare;
    std::function<int(ICameraObject*)> run;
    Outcome succeeded;
    // The consequences of `call` (its `occurrence`th call in the operation)
    // failing.
    std::function<Outcome(const std::string& call, int occurrence)> failed;
};

void PrintTo(const Operation& op, std::ostream* out)
{
    *out << op.name;
}

class FaultSweep : public FreshCameraTest<::testing::TestWithParam<Operation>> {
public:
    // Line 0 without pulses: a grabbing device delivers no frame unless the
    // operation itself triggers one.
    void prepareClosed()
    {
        fresh(false);
        camera->m_nTriggerMode = 1;
    }

    void prepareOpen()
    {
        prepareClosed();
        ASSERT_EQ(camera->IOpenCamera(), 1);
    }

    void prepareGrabbing()
    {
        prepareOpen();
        ASSERT_EQ(camera->IStartCamera(), 1);
        ASSERT_EQ(camera->m_nCurTriggerMode, 1);
    }

    void prepareRequesting(int mode)
    {
        prepareOpen();
        camera->m_nTriggerMode = mode;
    }

protected:
    void checkOutcome(const Outcome& expected, int result, const LogCapture& log, void* handleBefore)
    {
        EXPECT_EQ(result, expected.result);
        EXPECT_EQ(camera->m_bOpened, expected.opened);
        EXPECT_EQ(camera->m_bGrabbing, expected.grabbing);
        EXPECT_EQ(camera->m_nCurTriggerMode, expected.curTriggerMode);
        void* handle = memberAt<void*>(camera, kHandleOffset);
        if (expected.handle == Handle::None) {
            EXPECT_EQ(handle, nullptr) << "m_hDevice";
        } else {
            EXPECT_NE(handle, nullptr) << "m_hDevice";
            if (handleBefore != nullptr) {
                EXPECT_EQ(handle, handleBefore) << "m_hDevice changed";
            }
        }
        int warnings = 0;
        for (const QString& line : log.lines())
            warnings += line.startsWith(QLatin1String("W: ")) ? 1 : 0;
        EXPECT_EQ(warnings, expected.warnings) << log.lines().join('\n').toStdString();
        EXPECT_EQ(MVSIM_LiveHandles(), expected.liveHandles);

        // The device agrees with the object.
        MvsimDeviceState state{};
        ASSERT_EQ(MVSIM_GetDeviceState(device, &state), 0);
        EXPECT_EQ(state.grabbing != 0, expected.grabbing) << "device grabbing";
        EXPECT_EQ(state.openHandles, expected.liveHandles) << "device held open";
        EXPECT_EQ(MVSIM_AcquisitionThreads(), expected.grabbing ? 1 : 0);
    }
};

TEST_P(FaultSweep, EachCallFailingInTurn)
{
    const Operation& op = GetParam();

    // The calls of a successful run.
    op.prepare(*this);
    ASSERT_FALSE(HasFatalFailure());
    MVSIM_ClearCallLog();
    {
        LogCapture log;
        void* before = memberAt<void*>(camera, kHandleOffset);
        const int result = op.run(camera);
        SCOPED_TRACE("successful run");
        checkOutcome(op.succeeded, result, log, before);
    }
    const std::vector<std::string> calls = callNames();
    ASSERT_FALSE(calls.empty()) << op.name << " made no SDK call";

    for (size_t i = 0; i < calls.size(); ++i) {
        const std::string& call = calls[i];
        const int occurrence = static_cast<int>(std::count(calls.begin(), calls.begin() + i + 1, call));
        SCOPED_TRACE(testing::Message() << op.name << ": call " << i << ", " << call << " #" << occurrence << " fails");
        op.prepare(*this);
        ASSERT_FALSE(HasFatalFailure());
        MVSIM_ClearCallLog();
        void* before = memberAt<void*>(camera, kHandleOffset);
        {
            LogCapture log;
            MVSIM_FailCall(call.c_str(), static_cast<unsigned>(occurrence), MVSIM_E_RESOURCE);
            const int result = op.run(camera);
            checkOutcome(op.failed(call, occurrence), result, log, before);
        }
        // The fault hit the call it was aimed at.
        const std::vector<std::string> made = callNames();
        ASSERT_GT(made.size(), i);
        EXPECT_TRUE(std::equal(calls.begin(), calls.begin() + i + 1, made.begin()))
            << "the calls up to the failing one differ from the successful run's";
        MVSIM_ClearFaults();

        // The next attempt succeeds.
        LogCapture log;
        before = memberAt<void*>(camera, kHandleOffset);
        const int result = op.run(camera);
        SCOPED_TRACE("next attempt");
        Outcome expected = op.succeeded;
        if (call == "MV_CC_DestroyHandle" && std::string(op.name) == "Close")
            expected.liveHandles = 1;  // see the close entry below
        checkOutcome(expected, result, log, before);
    }
}

Outcome withWarnings(Outcome outcome, int warnings)
{
    outcome.warnings = warnings;
    return outcome;
}

const Outcome kOpen = {1, true, false, 0, Handle::Held, 0, 1};
const Outcome kClosed = {0, false, false, 0, Handle::None, 0, 0};

Operation startWith(const char* name, int mode)
{
    const Outcome grabbing = {1, true, true, mode, Handle::Held, 0, 1};
    return {name, [mode](FaultSweep& s) { s.prepareRequesting(mode); },
            [](ICameraObject* c) { return c->IStartCamera(); }, grabbing,
            [mode](const std::string& call, int) {
                // The applied mode is recorded once all its settings went
                // through, before acquisition starts.
                const int applied = call == "MV_CC_StartGrabbing" ? mode : 0;
                return Outcome{0, true, false, applied, Handle::Held, 1, 1};
            }};
}

Operation setProperty(const char* name, int id, int value)
{
    const Outcome accepted = {1, true, false, 0, Handle::Held, 0, 1};
    return {name, [](FaultSweep& s) { s.prepareOpen(); },
            [id, value](ICameraObject* c) {
                tagQZ_CAMERA_PROPERTY property{id, value};
                return c->ISetProperty(&property) ? 1 : 0;
            },
            accepted,
            [accepted](const std::string& call, int) {
                // Leaving automatic exposure is best effort: the setting still
                // decides the result.
                Outcome o = withWarnings(accepted, 1);
                o.result = call == "MV_CC_SetExposureAutoMode" ? 1 : 0;
                return o;
            }};
}

const Operation kOperations[] = {
    {"Open", [](FaultSweep& s) { s.prepareClosed(); }, [](ICameraObject* c) { return c->IOpenCamera(); }, kOpen,
     [](const std::string&, int) { return withWarnings(kClosed, 1); }},

    // The results of both settings are not looked at.
    {"ApplyParameters",
     [](FaultSweep& s) { s.prepareOpen(); },
     [](ICameraObject* c) {
         c->m_pConfig->nExposureTime = 5000;
         c->m_pConfig->nGain = 5;
         c->IApplyParameters();
         return kNoResult;
     },
     {kNoResult, true, false, 0, Handle::Held, 0, 1},
     [](const std::string&, int) { return Outcome{kNoResult, true, false, 0, Handle::Held, 0, 1}; }},

    startWith("StartLine0", 1),
    startWith("StartFreeRunning", 2),
    startWith("StartSoftware", 4),

    {"Snap",
     [](FaultSweep& s) { s.prepareGrabbing(); },
     [](ICameraObject* c) {
         c->ISnapCamera();
         return kNoResult;
     },
     {kNoResult, true, true, 4, Handle::Held, 0, 1},
     [](const std::string& call, int) {
         // Software triggering counts as applied once both settings went
         // through; only the trigger command itself can fail after that.
         const int applied = call == "MV_CC_SetCommandValue" ? 4 : 1;
         return Outcome{kNoResult, true, true, applied, Handle::Held, 1, 1};
     }},

    setProperty("SetExposure", 1, 5000),
    setProperty("SetRedRatio", 2, 1500),
    setProperty("SetGreenRatio", 3, 1500),
    setProperty("SetBlueRatio", 4, 1500),
    setProperty("SetGain", 0x10000, 5),

    {"Stop",
     [](FaultSweep& s) { s.prepareGrabbing(); },
     [](ICameraObject* c) {
         c->IStopCamera();
         return kNoResult;
     },
     {kNoResult, true, false, 1, Handle::Held, 0, 1},
     [](const std::string&, int) { return Outcome{kNoResult, true, true, 1, Handle::Held, 1, 1}; }},

    {"Close",
     [](FaultSweep& s) { s.prepareGrabbing(); },
     [](ICameraObject* c) {
         c->ICloseCamera();
         return kNoResult;
     },
     {kNoResult, false, false, 1, Handle::None, 0, 0},
     [](const std::string& call, int) {
         // A failed stop is logged and the handle released regardless. A
         // failed destroy is not looked at: the object forgets the handle,
         // and the SDK, which refused to destroy it, keeps it and the device
         // open. Nothing in the contract lets a host see or undo that.
         if (call == "MV_CC_DestroyHandle")
             return Outcome{kNoResult, false, false, 1, Handle::None, 0, 1};
         return Outcome{kNoResult, false, false, 1, Handle::None, 1, 0};
     }},
};

INSTANTIATE_TEST_SUITE_P(Operations, FaultSweep, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

}  // namespace
