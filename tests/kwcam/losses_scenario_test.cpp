// One grab with a loss of every cause, stated by the three hosts: kwcam's
// summary line, the viewer's status line and the kit's report read the same
// reading of the stand-in's ledger and must say the same words and numbers.
#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "kwhost/losses.h"
#include "kwhost/sdkcontrol.h"
#include "mvcameracontrol.h"
#include "mvsim/control.h"
#include "report.h"
#include "summary.h"
#include "viewerwindow.h"

namespace {

const auto kPatience = std::chrono::seconds(30);

// The first frame stays in the callback until released: the device's only
// buffer is taken meanwhile.
class HeldCallback {
public:
    static void call(unsigned char*, MV_FRAME_OUT_INFO*, void* user)
    {
        HeldCallback* self = static_cast<HeldCallback*>(user);
        std::unique_lock<std::mutex> lock(self->m_mutex);
        ++self->m_frames;
        self->m_changed.notify_all();
        self->m_changed.wait_for(lock, kPatience, [self] { return self->m_released; });
    }
    bool waitForFrame()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [this] { return m_frames > 0; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_frames = 0;
    bool m_released = false;
};

bool until(const std::function<bool()>& holds)
{
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (!holds()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

unsigned long long fate(int device, unsigned int which)
{
    unsigned long long counts[16] = {};
    MVSIM_GetFateCounts(device, counts, 16);
    return counts[which];
}

void* openDevice()
{
    MV_CC_DEVICE_INFO_LIST list;
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MVSIM_OK || list.nDeviceNum != 1)
        return nullptr;
    void* handle = nullptr;
    if (MV_CC_CreateHandle(&handle, list.pDeviceInfo[0]) != MVSIM_OK)
        return nullptr;
    if (MV_CC_OpenDevice(handle, MV_ACCESS_EXCLUSIVE, 0) != MVSIM_OK) {
        MV_CC_DestroyHandle(handle);
        return nullptr;
    }
    return handle;
}

// The text after "prefix" up to "end" (or the line's end).
QString between(const QString& text, const QString& prefix, const QString& end)
{
    const int from = text.indexOf(prefix);
    if (from < 0)
        return QString();
    const int start = from + prefix.size();
    int stop = end.isEmpty() ? text.indexOf(QLatin1Char('\n'), start) : text.indexOf(end, start);
    if (stop < 0)
        stop = text.size();
    return text.mid(start, stop - start);
}

TEST(HostLosses, EveryCauseStatedAlikeByKwcamTheViewerAndTheKit)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString picture = folder.filePath(QStringLiteral("only.pgm"));
    QFile file(picture);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("P5\n64 8\n255\n");
    file.write(QByteArray(64 * 8, '\x40'));
    file.close();

    MVSIM_Reset();
    MvsimDeviceSetup setup;
    MVSIM_DefaultSetup(&setup, "KW-LOSSES", "L0001");
    setup.width = 64;
    setup.height = 8;
    setup.instantTiming = 0;
    setup.bandwidthMBps = 0;  // instant readout: an exposure is all a frame takes
    setup.exposureMin = 10;
    setup.exposure = 100000;  // 100 ms: a second pulse lands in the first exposure
    setup.frameRate = 1000;
    setup.bufferCount = 1;
    const int device = MVSIM_AddDevice(&setup);
    ASSERT_GE(device, 0);
    void* handle = openDevice();
    ASSERT_NE(handle, nullptr);
    HeldCallback held;
    ASSERT_EQ(MV_CC_RegisterImageCallBack(handle, &HeldCallback::call, &held), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetExposureAutoMode(handle, 0), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetExposureTime(handle, 100000), MVSIM_OK);

    // No free buffer: free-running while the only buffer is in the callback.
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    ASSERT_TRUE(held.waitForFrame());
    ASSERT_TRUE(until([&] { return fate(device, MVSIM_FATE_NO_BUFFER) > 0; }));
    held.release();
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);

    // A trigger during an exposure, and an exposure cut off by the stop.
    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerMode", 1), MVSIM_OK);
    ASSERT_EQ(MV_CC_SetEnumValue(handle, "TriggerSource", MVSIM_TRIGGER_SOURCE_LINE0), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    ASSERT_EQ(MVSIM_PulseLine0(device), MVSIM_OK);
    EXPECT_EQ(MVSIM_PulseLine0(device), MVSIM_E_CALLORDER);
    ASSERT_EQ(MV_CC_StopGrabbing(handle), MVSIM_OK);

    // The only picture shown, then a trigger with none left; then one more
    // exposure, cut off by the unplug.
    ASSERT_EQ(MVSIM_SetPictures(device, picture.toLocal8Bit().constData(), 1), MVSIM_OK);
    ASSERT_EQ(MV_CC_StartGrabbing(handle), MVSIM_OK);
    ASSERT_EQ(MVSIM_PulseLine0(device), MVSIM_OK);
    ASSERT_EQ(MVSIM_WaitIdle(device, 30000), MVSIM_OK);
    MVSIM_PulseLine0(device);
    ASSERT_TRUE(until([&] { return fate(device, MVSIM_FATE_NO_PICTURE) > 0; }));
    ASSERT_EQ(MVSIM_RewindPictures(device), MVSIM_OK);
    ASSERT_EQ(MVSIM_PulseLine0(device), MVSIM_OK);
    ASSERT_EQ(MVSIM_UnplugDevice(device), MVSIM_OK);
    MV_CC_DestroyHandle(handle);

    const kwhost::SdkControl sdk;
    const kwhost::Losses losses = kwhost::sdkLosses(sdk, device);
    ASSERT_EQ(losses.source, kwhost::Losses::Source::Ledger);
    MvsimCounters counters;
    ASSERT_EQ(MVSIM_GetCounters(device, &counters), MVSIM_OK);
    EXPECT_EQ(losses.lost, counters.lost);
    const QString expected = losses.text();
    for (unsigned int f :
         {MVSIM_FATE_NO_BUFFER, MVSIM_FATE_MISSED, MVSIM_FATE_NO_PICTURE, MVSIM_FATE_DROPPED, MVSIM_FATE_UNPLUGGED}) {
        const char* name = nullptr;
        ASSERT_EQ(MVSIM_FateInfo(f, &name, nullptr), MVSIM_OK);
        EXPECT_TRUE(expected.contains(QStringLiteral("%1 %2").arg(fate(device, f)).arg(QLatin1String(name))))
            << "no " << name << " in " << expected.toStdString();
        EXPECT_GT(fate(device, f), 0u) << name;
    }

    kwcam::Summary summary;
    summary.losses = losses;
    const QString kwcamSays = between(kwcam::formatSummary(summary), QStringLiteral("frames lost:  "), QString());
    const QString viewerSays = between(kwview::ViewerWindow::statusText(10, 1.0, 1.0, losses, 5, 5),
                                       QStringLiteral(" · lost "), QStringLiteral(" · shown"));
    const QString kitSays = between(kwcheck::lossesNote(losses), QStringLiteral("frames lost: "), QString());
    EXPECT_EQ(kwcamSays, expected);
    EXPECT_EQ(viewerSays, expected);
    EXPECT_EQ(kitSays, expected);
    MVSIM_Reset();
}

}  // namespace
