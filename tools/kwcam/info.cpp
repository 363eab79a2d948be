// kwcam info, and the rows of kwcam list --long: what the SDK's own getters
// tell of a device, what the plug-in reports once it has opened it, and,
// over the stand-in, what its control interface adds.
#include <QtCore/QTextStream>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "commands.h"
#include "deviceview.h"
#include "exitcodes.h"
#include "kwhost/pixellayout.h"
#include "kwhost/sdkcontrol.h"
#include "kwhost/sdkdevice.h"
#include "output.h"
#include "steps.h"

namespace kwcam {

namespace {

QString line(const char* name, const QString& value)
{
    return QStringLiteral("%1 %2\n").arg(QLatin1String(name) + QLatin1Char(':'), -15).arg(value);
}

// The SDK's codes: ExposureAuto 0 off, 1 once, 2 continuous;
// BalanceWhiteAuto 0 off, 1 continuous, 2 once.
QString autoMode(unsigned int mode, bool whiteBalance)
{
    if (mode == 0)
        return QStringLiteral("off");
    if (mode == (whiteBalance ? 2u : 1u))
        return QStringLiteral("once");
    if (mode == (whiteBalance ? 1u : 2u))
        return QStringLiteral("continuous");
    return QStringLiteral("mode %1").arg(mode);
}

// The plug-in tells its pixel format with a frame: one frame, free-running.
class FirstFrame : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_arrived || camera == nullptr)
            return;
        m_format = camera->m_nPixelFormat;
        m_bits = camera->m_nBitsPerPixel;
        m_arrived = true;
        m_changed.notify_all();
    }
    bool wait(int* format, int* bits)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(3), [this]() { return m_arrived; }))
            return false;
        *format = m_format;
        *bits = m_bits;
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_arrived = false;
    int m_format = 0;
    int m_bits = 0;
};

// "frame rate 30 fps at most, readout 115 MB/s, 3 frame buffers".
QString timingText(const MvsimDeviceTiming& timing)
{
    QStringList parts;
    if (timing.instantTiming != 0) {
        parts << QStringLiteral("instant (no exposure or readout time)");
    } else {
        parts << (timing.frameRate > 0 ? QStringLiteral("frame rate %1 fps at most").arg(timing.frameRate)
                                       : QStringLiteral("frame rate unlimited"));
        parts << (timing.bandwidthMBps > 0 ? QStringLiteral("readout %1 MB/s").arg(timing.bandwidthMBps)
                                           : QStringLiteral("instant readout"));
    }
    if (timing.linePulseRate > 0)
        parts << QStringLiteral("line-0 pulses %1/s").arg(timing.linePulseRate);
    parts << QStringLiteral("%1 frame buffers").arg(timing.bufferCount);
    return parts.join(QStringLiteral(", "));
}

QString pluginFormatName(int format)
{
    const QString name = CameraPixelFormatNames.value(static_cast<CameraPixelFormat>(format));
    return name.isEmpty() ? QStringLiteral("code %1").arg(format) : QStringLiteral("%1 (%2)").arg(name).arg(format);
}

const char kNotReported[] = "unknown (the SDK does not report it)";

}  // namespace

int runInfo(const Invocation& invocation)
{
    kwhost::Plugin plugin;
    if (!loadPlugin(invocation, &plugin))
        return kExitFailure;
    kwhost::Camera camera(plugin);
    if (!selectCamera(&camera, invocation, invocation.info.key))
        return kExitFailure;

    // The SDK's handle first: the plug-in's object opens the device later,
    // and one of them at a time can hold it.
    kwhost::DeviceReport report;
    QString error;
    if (!kwhost::readDevice(camera.key(), &report, &error)) {
        printError(QStringLiteral("cannot read %1: %2").arg(camera.key(), error));
        return kExitFailure;
    }
    const kwhost::SdkControl sdk;
    MvsimDeviceState state;
    const int device = sdk.findDevice(camera.key());
    const bool haveState = sdk.deviceState(device, &state);
    MvsimDeviceTiming timing;
    const bool haveTiming = sdk.deviceTiming(device, &timing);

    FirstFrame firstFrame;
    if (!openCamera(&camera, &firstFrame))
        return kExitFailure;
    const int pluginWidth = camera->m_nWidth;
    const int pluginHeight = camera->m_nHeight;
    camera->m_nTriggerMode = CameraTriggerModeFreeRun;
    int pluginFormat = 0;
    int pluginBits = 0;
    const bool haveFrame = camera->IStartCamera() && firstFrame.wait(&pluginFormat, &pluginBits);
    camera->IStopCamera();
    camera->ICloseCamera();

    QString text;
    text += line("camera", camera.key());
    text += line("plug-in", plugin.fileName());
    text += line("transport", report.transport);
    text += line("geometry", geometryText(report));
    text += line("pixel type", pixelTypeText(report));
    const kwhost::PixelLayout layout = report.pixelKnown ? kwhost::layoutOfDeviceType(report.pixel.nCurValue)
                                                         : kwhost::layoutOfPluginFormat(pluginFormat, pluginBits);
    if (haveFrame)
        text += line("plug-in format",
                     QStringLiteral("%1 at %2 bits, %3x%4; frames read as %5")
                         .arg(pluginFormatName(pluginFormat))
                         .arg(pluginBits)
                         .arg(pluginWidth)
                         .arg(pluginHeight)
                         .arg(kwhost::layoutName(layout)));
    else
        text += line("plug-in format", QStringLiteral("unknown (no frame within 3 s)"));
    text += line("exposure", floatText(report.exposureKnown, report.exposure, "us"));
    text += line("gain", floatText(report.gainKnown, report.gain, "dB"));
    if (haveState) {
        text += line("automatic",
                     QStringLiteral("exposure %1, white balance %2")
                         .arg(autoMode(state.exposureAuto, false), autoMode(state.balanceWhiteAuto, true)));
        text += line("white balance",
                     QStringLiteral("red %1, green %2, blue %3")
                         .arg(state.balanceRatioRed)
                         .arg(state.balanceRatioGreen)
                         .arg(state.balanceRatioBlue));
        text += line("trigger",
                     QStringLiteral("mode %1, source %2")
                         .arg(state.triggerMode != 0 ? QStringLiteral("on") : QStringLiteral("off"))
                         .arg(state.triggerSource == MVSIM_TRIGGER_SOURCE_SOFTWARE ? QStringLiteral("software")
                                  : state.triggerSource == MVSIM_TRIGGER_SOURCE_LINE0
                                  ? QStringLiteral("line 0")
                                  : QStringLiteral("code %1").arg(state.triggerSource)));
    } else {
        text += line("automatic", QLatin1String(kNotReported));
        text += line("white balance", QLatin1String(kNotReported));
        text += line("trigger", QLatin1String(kNotReported));
    }
    // Only a simulated device tells how it is timed; a camera's timing is its own.
    if (haveTiming)
        text += line("timing", timingText(timing));
    QTextStream(stdout) << text;
    return kExitSuccess;
}

}  // namespace kwcam
