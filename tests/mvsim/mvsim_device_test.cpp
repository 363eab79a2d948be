// A device as a host meets it beyond frames: the new configuration keys and
// names, replugging, the ledger and its CSV file, and exclusive access
// across processes (a helper process holds or tries the device).
#include "mvsim_support.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mvsimtest;

namespace {

class DeviceTest : public testing::Test {
protected:
    void SetUp() override { MVSIM_Reset(); }
    void TearDown() override
    {
        MVSIM_Reset();
        EXPECT_EQ(MVSIM_AcquisitionThreads(), 0);
    }
};

std::string writeFile(const std::string& name, const std::string& content)
{
    const std::string path = testing::TempDir() + "mvsim_device_" + name;
    std::ofstream(path) << content;
    return path;
}

std::string oneDevice(const std::string& keys)
{
    return "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\"" + keys + "}]}";
}

TEST_F(DeviceTest, ConfigurationRefusesBadKeysAndNamesInOneLine)
{
    const struct {
        const char* name;
        std::string content;
        const char* reason;
    } cases[] = {
        {"buffers_zero", oneDevice(", \"bufferCount\": 0"), "devices[0].bufferCount: must be an integer 1..64"},
        {"buffers_many", oneDevice(", \"bufferCount\": 65"), "devices[0].bufferCount: must be an integer 1..64"},
        {"buffers_text", oneDevice(", \"bufferCount\": \"3\""), "devices[0].bufferCount: must be an integer"},
        {"buffers_fraction", oneDevice(", \"bufferCount\": 2.5"), "devices[0].bufferCount: must be an integer"},
        {"bandwidth_negative", oneDevice(", \"bandwidthMBps\": -1"), "devices[0].bandwidthMBps: must be a number >= 0"},
        {"bandwidth_text", oneDevice(", \"bandwidthMBps\": \"fast\""), "devices[0].bandwidthMBps: must be a number"},
        {"timing_unknown", oneDevice(", \"timing\": \"fast\""), "devices[0].timing: must be \"camera\" or \"instant\""},
        {"timing_number", oneDevice(", \"timing\": 1"), "devices[0].timing: must be a string"},
        {"ledger_zero", oneDevice(", \"ledgerSize\": 0"), "devices[0].ledgerSize: must be an integer 1..16777216"},
        {"model_empty", "{\"devices\": [{\"model\": \"\", \"serial\": \"S\"}]}", "devices[0].model: must not be empty"},
        {"serial_empty", "{\"devices\": [{\"model\": \"M\", \"serial\": \"\"}]}",
         "devices[0].serial: must not be empty"},
        {"model_space", "{\"devices\": [{\"model\": \"M 1\", \"serial\": \"S\"}]}",
         "devices[0].model: must not contain white space"},
        {"serial_tab", "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\\t1\"}]}",
         "devices[0].serial: must not contain white space"},
        {"same_key",
         "{\"devices\": [{\"model\": \"M\", \"serial\": \"S\"}, {\"model\": \"N\", \"serial\": \"S\"}, "
         "{\"model\": \"M\", \"serial\": \"S\"}]}",
         "devices[2]: same model and serial as devices[0]"},
        {"same_key_once_cut",
         "{\"devices\": [{\"model\": \"" + std::string(40, 'M') + "\", \"serial\": \"S\"}, {\"model\": \"" +
             std::string(40, 'M') + "X\", \"serial\": \"S\"}]}",
         "devices[1]: lists as the same camera key as devices[0]"},
        {"same_serial_once_cut",
         "{\"devices\": [{\"model\": \"M\", \"serial\": \"SERIAL-0123456789-A\"}, "
         "{\"model\": \"M\", \"serial\": \"SERIAL-0123456789-B\"}]}",
         "devices[1]: lists as the same camera key as devices[0], \"M SERIAL-012345678\""},
        {"model_nul", "{\"devices\": [{\"model\": \"M\\u0000A\", \"serial\": \"S\"}]}",
         "devices[0].model: must not contain a NUL character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = writeFile(std::string(c.name) + ".json", c.content);
        testing::internal::CaptureStderr();
        EXPECT_EQ(MVSIM_LoadConfig(path.c_str()), MVSIM_E_CONFIG);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("mvsim: " + path + ": " + c.reason), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "not one line: " << err;
        EXPECT_EQ(MVSIM_DeviceCount(), 0);
    }
    const std::string good =
        writeFile("good.json",
                  oneDevice(", \"bufferCount\": 64, \"bandwidthMBps\": 0, \"timing\": \"instant\", "
                            "\"ledgerSize\": 2"));
    EXPECT_EQ(MVSIM_LoadConfig(good.c_str()), MVSIM_OK);
    EXPECT_EQ(MVSIM_DeviceCount(), 1);
}

// The ledger keeps the most recent entries; the file written at stop has a
// header and one row per frame event of the grab, and its fates add up to
// the counters.
TEST_F(DeviceTest, LedgerRingAndItsCsvFile)
{
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "Ledger", "SN-L");
    setup.bufferCount = 1;
    setup.ledgerSize = 5;
    const int id = MVSIM_AddDevice(&setup);
    void* h = openHandle("SN-L");
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerMode", 1), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetEnumValue(h, "TriggerSource", MVSIM_TRIGGER_SOURCE_SOFTWARE), MVSIM_OK);
    // Frame 1 holds the only buffer while frames 2 and 3 are triggered.
    Recorder recorder;
    recorder.hook = [&](const Frame& f) {
        if (f.number == 1) {
            EXPECT_EQ(MV_CC_SetCommandValue(h, "TriggerSoftware"), MVSIM_OK);
            EXPECT_EQ(MV_CC_SetCommandValue(h, "TriggerSoftware"), MVSIM_OK);
        }
    };
    ASSERT_EQ(registerRecorder(h, recorder), MVSIM_OK);
    const std::string csv = testing::TempDir() + "mvsim_device_ledger.csv";
    std::remove(csv.c_str());
    ASSERT_EQ(setenv("MVSIM_LEDGER", csv.c_str(), 1), 0);
    ASSERT_EQ(MV_CC_StartGrabbing(h), MVSIM_OK);
    unsetenv("MVSIM_LEDGER");
    ASSERT_EQ(MV_CC_SetCommandValue(h, "TriggerSoftware"), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(1));
    for (unsigned n = 2; n <= 4; ++n) {
        ASSERT_EQ(MVSIM_WaitIdle(id, 30000), MVSIM_OK);
        ASSERT_EQ(MV_CC_SetCommandValue(h, "TriggerSoftware"), MVSIM_OK);
        ASSERT_TRUE(recorder.waitForFrames(n));
    }
    ASSERT_EQ(MVSIM_DeliverFrame(id, 0), MVSIM_OK);
    ASSERT_EQ(MV_CC_StopGrabbing(h), MVSIM_OK);

    // 7 events: 1 delivered, 2 and 3 without a buffer, 4..6 delivered, 7 on request.
    ASSERT_EQ(MVSIM_LedgerSize(id), 5);
    MvsimLedgerEntry e{};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(MVSIM_LedgerEntry(id, i, &e), MVSIM_OK);
        EXPECT_EQ(e.frameNumber, 3u + i) << "entry " << i << " of a ring that wrapped";
    }
    ASSERT_EQ(MVSIM_LedgerEntry(id, 0, &e), MVSIM_OK);
    EXPECT_EQ(e.fate, MVSIM_FATE_NO_BUFFER);
    ASSERT_EQ(MVSIM_LedgerEntry(id, 4, &e), MVSIM_OK);
    EXPECT_EQ(e.frameNumber, 7u);
    EXPECT_EQ(e.cause, MVSIM_CAUSE_REQUEST);
    EXPECT_EQ(e.fate, MVSIM_FATE_DELIVERED);
    EXPECT_EQ(MVSIM_LedgerEntry(id, 5, &e), MVSIM_E_PARAMETER);
    EXPECT_EQ(MVSIM_LedgerEntry(id, -1, &e), MVSIM_E_PARAMETER);
    EXPECT_EQ(MVSIM_LedgerEntry(id, 0, nullptr), MVSIM_E_PARAMETER);
    EXPECT_EQ(MVSIM_LedgerSize(99), MVSIM_E_NODEVICE);

    std::ifstream in(csv);
    std::string line;
    ASSERT_TRUE(std::getline(in, line)) << "no ledger file at " << csv;
    EXPECT_EQ(line,
              "model,serial,frame,cause,trigger_ns,exposure_start_ns,readout_end_ns,delivery_start_ns,"
              "delivery_end_ns,picture,fate");
    std::map<std::string, unsigned long long> byFate;
    int rows = 0;
    while (std::getline(in, line)) {
        ++rows;
        EXPECT_EQ(line.rfind("Ledger,SN-L,", 0), 0u) << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 10) << line;
        ++byFate[line.substr(line.rfind(',') + 1)];
    }
    EXPECT_EQ(rows, 5) << "one row per entry the ring still holds";
    MvsimFrameFates fates{};
    ASSERT_EQ(MVSIM_GetFrameFates(id, &fates), MVSIM_OK);
    EXPECT_EQ(fates.delivered, 5u);
    EXPECT_EQ(fates.noBuffer, 2u);
    EXPECT_EQ(byFate["delivered"], 4u);
    EXPECT_EQ(byFate["no free buffer"], 1u);
    const MvsimCounters c = counters(id);
    EXPECT_EQ(c.lost, fates.noBuffer + fates.missed);
    EXPECT_EQ(c.delivered, fates.delivered);
}

// A replugged device is listed again and opens afresh; handles from before
// stay dead but can be destroyed.
TEST_F(DeviceTest, ReplugListsTheDeviceAgainAndLeavesOldHandlesDead)
{
    const int id = addDevice("Replug", "SN-R");
    void* old = openHandle("SN-R");
    ASSERT_NE(old, nullptr);
    ASSERT_EQ(MV_CC_SetExposureTime(old, 500.0f), MVSIM_OK);
    EXPECT_EQ(MVSIM_ReplugDevice(id), MVSIM_E_CALLORDER) << "still plugged in";
    ASSERT_EQ(MVSIM_UnplugDevice(id), MVSIM_OK);
    EXPECT_EQ(MVSIM_DeviceCount(), 0);
    ASSERT_EQ(MVSIM_ReplugDevice(id), MVSIM_OK);
    EXPECT_EQ(MVSIM_DeviceCount(), 1);
    EXPECT_EQ(MVSIM_FindDevice("Replug", "SN-R"), id);
    EXPECT_EQ(MVSIM_ReplugDevice(42), MVSIM_E_NODEVICE);

    void* fresh = openHandle("SN-R");
    ASSERT_NE(fresh, nullptr) << "the replugged device does not open";
    EXPECT_EQ(state(id).exposure, 10000.0f) << "features come back as configured";
    Recorder recorder;
    ASSERT_EQ(registerRecorder(fresh, recorder), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(fresh), MVSIM_OK);
    ASSERT_TRUE(recorder.waitForFrames(3)) << "no frames after the replug";

    MVCC_INTVALUE intValue;
    MVCC_FLOATVALUE floatValue;
    const struct {
        const char* call;
        std::function<int()> run;
    } calls[] = {
        {"OpenDevice", [&] { return MV_CC_OpenDevice(old, MV_ACCESS_EXCLUSIVE, 0); }},
        {"GetWidth", [&] { return MV_CC_GetWidth(old, &intValue); }},
        {"GetExposureTime", [&] { return MV_CC_GetExposureTime(old, &floatValue); }},
        {"SetGain", [&] { return MV_CC_SetGain(old, 1.0f); }},
        {"SetEnumValue", [&] { return MV_CC_SetEnumValue(old, "TriggerMode", 1); }},
        {"SetCommandValue", [&] { return MV_CC_SetCommandValue(old, "TriggerSoftware"); }},
        {"RegisterImageCallBack", [&] { return MV_CC_RegisterImageCallBack(old, nullptr, nullptr); }},
        {"StartGrabbing", [&] { return MV_CC_StartGrabbing(old); }},
        {"StopGrabbing", [&] { return MV_CC_StopGrabbing(old); }},
    };
    for (const auto& c : calls)
        EXPECT_EQ(c.run(), MVSIM_E_NODEVICE) << c.call;
    EXPECT_EQ(state(id).grabbing, 1) << "a dead handle stopped the new one's acquisition";
    EXPECT_EQ(MV_CC_DestroyHandle(old), MVSIM_OK);
    EXPECT_EQ(state(id).openHandles, 1) << "destroying a dead handle closed the device";
    ASSERT_EQ(MV_CC_StopGrabbing(fresh), MVSIM_OK);
    EXPECT_EQ(MV_CC_DestroyHandle(fresh), MVSIM_OK);
}

// Runs the helper that opens the device of the configuration in another
// process. "try" prints the result of MV_CC_OpenDevice and exits; "hold"
// prints it and keeps the device until killed.
class Helper {
public:
    // With asUser, the helper runs as that user (the test must run as root).
    Helper(const char* mode, const std::string& config, uid_t asUser = 0)
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            if (asUser != 0 && (setgid(asUser) != 0 || setuid(asUser) != 0))
                _exit(126);
            execl(MVSIM_HOLDER_PATH, MVSIM_HOLDER_PATH, mode, config.c_str(), "SN-X", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        read_ = fdopen(out[0], "r");
    }
    ~Helper()
    {
        kill();
        if (read_)
            fclose(read_);
    }
    // The result the helper printed, or a text saying why there is none.
    std::string result()
    {
        char line[64] = {};
        if (!read_ || !fgets(line, sizeof line, read_))
            return "no result";
        return std::string(line, strcspn(line, "\n"));
    }
    void kill()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    int wait()
    {
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    FILE* read_ = nullptr;
};

const std::string openOk = "open 0";
const std::string openAccess = "open " + std::to_string(MVSIM_E_ACCESS);

// A device used by one user of the machine is free for the next once its
// holder is gone, also in a shared folder with the sticky bit and a umask
// that would keep the lock file to its maker.
TEST_F(DeviceTest, ADeviceIsFreeForAnotherUserOnceItsHolderIsGone)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the other process as another user";
    const uid_t nobody = 65534;
    const std::string dir = testing::TempDir() + "mvsim_device_shared_" + std::to_string(getpid());
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(chmod(dir.c_str(), 01777), 0);  // as /tmp
    ASSERT_EQ(setenv("MVSIM_RUNTIME_DIR", dir.c_str(), 1), 0);
    const std::string config = writeFile("users.json", "{\"devices\": [{\"model\": \"Users\", \"serial\": \"SN-X\"}]}");
    ASSERT_EQ(chmod(config.c_str(), 0644), 0);
    // The build tree may lie where the other user cannot reach it.
    const pid_t probe = fork();
    if (probe == 0)
        _exit(setgid(nobody) == 0 && setuid(nobody) == 0 && access(MVSIM_HOLDER_PATH, X_OK) == 0 &&
                      access(config.c_str(), R_OK) == 0
                  ? 0
                  : 1);
    int probeStatus = 0;
    ASSERT_EQ(waitpid(probe, &probeStatus, 0), probe);
    if (!WIFEXITED(probeStatus) || WEXITSTATUS(probeStatus) != 0)
        GTEST_SKIP() << "the user nobody cannot run " << MVSIM_HOLDER_PATH;
    ASSERT_EQ(MVSIM_LoadConfig(config.c_str()), MVSIM_OK);

    const mode_t umaskBefore = umask(022);
    void* h = openHandle("SN-X");
    umask(umaskBefore);
    ASSERT_NE(h, nullptr);
    struct stat info {};
    ASSERT_EQ(stat((dir + "/mvsim-Users-SN-X.lock").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u) << "the umask kept the lock file to its maker";
    {
        Helper other("try", config, nobody);
        EXPECT_EQ(other.result(), openAccess) << "held by root: refused to another user too";
        EXPECT_EQ(other.wait(), 0);
    }
    ASSERT_EQ(MV_CC_DestroyHandle(h), MVSIM_OK);
    {
        Helper other("try", config, nobody);
        EXPECT_EQ(other.result(), openOk) << "the device stays locked to root after root closed it";
        EXPECT_EQ(other.wait(), 0);
    }
    // A lock file left 0644 by an older release serves every user as well.
    ASSERT_EQ(chmod((dir + "/mvsim-Users-SN-X.lock").c_str(), 0644), 0);
    {
        Helper other("try", config, nobody);
        EXPECT_EQ(other.result(), openOk);
        EXPECT_EQ(other.wait(), 0);
    }
    unsetenv("MVSIM_RUNTIME_DIR");
}

TEST_F(DeviceTest, AnotherProcessCannotOpenAHeldDevice)
{
    const std::string dir = testing::TempDir() + "mvsim_device_runtime_" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    ASSERT_EQ(setenv("MVSIM_RUNTIME_DIR", dir.c_str(), 1), 0);
    const std::string config =
        writeFile("shared.json", "{\"devices\": [{\"model\": \"Shared\", \"serial\": \"SN-X\"}]}");
    ASSERT_EQ(MVSIM_LoadConfig(config.c_str()), MVSIM_OK);

    // Held here: the other process is refused until it is closed here.
    void* h = openHandle("SN-X");
    ASSERT_NE(h, nullptr);
    {
        Helper other("try", config);
        EXPECT_EQ(other.result(), openAccess);
        EXPECT_EQ(other.wait(), 0);
    }
    ASSERT_EQ(MV_CC_DestroyHandle(h), MVSIM_OK);
    {
        Helper other("try", config);
        EXPECT_EQ(other.result(), openOk);
        EXPECT_EQ(other.wait(), 0);
    }

    // Held there: refused here until the holder is killed.
    {
        Helper holder("hold", config);
        ASSERT_EQ(holder.result(), openOk);
        h = createHandle("SN-X");
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(MV_CC_OpenDevice(h, MV_ACCESS_EXCLUSIVE, 0), MVSIM_E_ACCESS);
        holder.kill();
        EXPECT_EQ(MV_CC_OpenDevice(h, MV_ACCESS_EXCLUSIVE, 0), MVSIM_OK) << "a killed holder still blocks";
        EXPECT_EQ(MV_CC_DestroyHandle(h), MVSIM_OK);
    }
    unsetenv("MVSIM_RUNTIME_DIR");
}

}  // namespace
