#include "fakecamera.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "mvcameracontrol.h"
#include "pluginloader.h"

namespace gtest_genicam {
namespace {

const kwtest::PluginEntries& plugin()
{
    static const kwtest::PluginEntries loaded = kwtest::loadPluginEntries(KWCAM_PLUGIN_PATH);
    return loaded;
}

}  // namespace

FakeCamera::FakeCamera(std::vector<std::string> extraArgs)
{
    std::vector<std::string> args = {KWCAM_FAKE_CAMERA, "-i", "127.0.0.1", "-s", kSerial};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        // Gone with the test, also when the test is killed on a time-out:
        // a camera left behind would hold the port for the next case.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // Its chatter is of no use to the tests.
        std::freopen("/dev/null", "w", stdout);
        execv(argv[0], argv.data());
        _exit(127);
    }
}

FakeCamera::~FakeCamera()
{
    kill();
}

bool FakeCamera::waitDiscoverable(std::chrono::seconds limit)
{
    // The camera answers discovery once its control socket on 127.0.0.1 is
    // bound (port 3956); it tells nothing else. An enumeration here would
    // cost each case a second more.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream udp("/proc/net/udp");
        std::string line;
        while (std::getline(udp, line))
            if (line.find(" 0100007F:0F74 ") != std::string::npos)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void FakeCamera::kill()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

long rampMismatches(const unsigned char* pixels, int width, int height)
{
    const int id = pixels[0];
    long bad = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bad += pixels[y * width + x] != static_cast<unsigned char>((x + y + id) % 255);
    return bad;
}

void Frames::OnImageReady(ICameraObject* camera)
{
    m_width = camera->m_nWidth;
    m_height = camera->m_nHeight;
    m_format = camera->m_nPixelFormat;
    if (checkRamp)
        m_mismatches += rampMismatches(camera->m_pImageData, camera->m_nWidth, camera->m_nHeight);
    // Before the count: what the action did is visible to a waiter.
    if (onFrame)
        onFrame(camera);
    // Notified under the lock: a waiter may destroy this object (and the
    // condition) as soon as it sees the count.
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_count;
    m_arrived.notify_all();
}

bool Frames::waitFor(int n, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, limit, [&] { return m_count >= n; });
}

int Frames::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

Host::Host(const QString& key)
{
    config.nCameraType = CameraTypeHik;
    config.strCameraName = QStringLiteral("emulated camera");
    config.strCameraKey = key;
    config.nCameraIndex = 0;
    config.nPixelFormat = 1;
    config.nTimeout = 1000;
    config.nExposureTime = 10000;
    config.nGain = 0;
    object = plugin().create(&config, &frames);
    // A new object's mode is line 0, which the emulated camera never fires.
    object->m_nTriggerMode = CameraTriggerModeFreeRun;
}

Host::~Host()
{
    destroy();
}

void Host::destroy()
{
    if (object != nullptr)
        plugin().destroy(object);
    object = nullptr;
}

void deleteCamera(ICameraObject* object)
{
    plugin().destroy(object);
}

void unitScale(ICameraObject* camera)
{
    tagQZ_CAMERA_PROPERTY gain{CameraPropertyGain, 0};
    tagQZ_CAMERA_PROPERTY exposure{CameraPropertyExposureTime, 10000};
    EXPECT_TRUE(camera->ISetProperty(&gain));
    EXPECT_TRUE(camera->ISetProperty(&exposure));
}

void returnsWithin(std::chrono::seconds limit, const char* what, const std::function<void()>& f)
{
    auto done = std::async(std::launch::async, f);
    if (done.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not return within %lld s: deadlock\n", what,
                     static_cast<long long>(limit.count()));
        std::_Exit(1);
    }
    done.get();
}

pid_t startHolder(std::string* line)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl(KWCAM_GENICAM_HOLDER, KWCAM_GENICAM_HOLDER, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    line->clear();
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        line->push_back(c);
    close(fds[0]);
    return pid;
}

int reap(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1000;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

}  // namespace gtest_genicam
