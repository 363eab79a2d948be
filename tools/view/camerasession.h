// One camera as the viewer drives it: open and close by key, trigger mode,
// start and stop, snap and line-0 pulses, exposure, gain and white balance
// within the device's limits, and the counts the status line shows. Free of
// widgets: the window and the tests call it alike, on the main thread.
//
// Everything goes through the contract; the SDK is asked directly only for
// the limits (before the plug-in opens the camera), and the stand-in's
// control functions, when the loaded SDK has them, give the device's pixel
// type, line-0 pulses and its frame counters.
#ifndef KWVIEW_CAMERASESSION_H
#define KWVIEW_CAMERASESSION_H

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <memory>

#include "kwhost/camera.h"
#include "kwhost/camerasession.h"
#include "kwhost/losses.h"
#include "kwhost/plugin.h"
#include "kwhost/property.h"
#include "kwhost/sdkcontrol.h"
#include "kwhost/sdkdevice.h"
#include "kwhost/trigger.h"
#include "viewreceiver.h"

namespace kwview {

using kwhost::TriggerChoice;

// A setting's value and limits as the device reports them.
using Bounds = kwhost::Limits;

class CameraSession {
public:
    explicit CameraSession(const kwhost::Plugin& plugin);
    ~CameraSession();  // stops and closes
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    QStringList cameraKeys() const;

    // Opens the camera the key names (the first listed when empty); closes
    // the one open before.
    bool open(const QString& key, QString* error);
    // Stops acquisition and closes the camera; also while the camera waits
    // for a trigger that never comes.
    void close();
    bool isOpen() const;
    bool isGrabbing() const;
    QString key() const;

    // A new trigger mode takes effect at start: while grabbing, acquisition
    // is restarted in it.
    bool setTrigger(TriggerChoice trigger, QString* error);
    TriggerChoice trigger() const { return m_trigger; }
    bool start(QString* error);
    void stop();
    void snap();  // one software trigger
    bool canPulse() const;
    bool pulseLine0();  // true when the pulse triggered a frame

    // Values are bounded by the device's limits where they are known.
    bool setExposure(int microseconds, QString* error);
    bool setGain(int decibels, QString* error);
    // channel 0 red, 1 green, 2 blue.
    bool setWhiteBalance(int channel, int ratio, QString* error);

    // Exposure time (µs) and gain (dB) with their limits, read as kwcam info
    // reads them: through the SDK, before the plug-in opens the camera.
    const Bounds& exposure() const { return m_host.exposure(); }
    const Bounds& gain() const { return m_host.gain(); }
    // The last ratios set, or the device's when the stand-in tells them.
    int whiteBalance(int channel) const;
    static int maxWhiteBalance() { return kwhost::kMaxWhiteBalance; }

    // How frames are read: "Mono8", "BayerRG8", ... when the SDK tells the
    // device's type, else the plug-in's report.
    QString pixelTypeName() const { return m_pixelTypeName; }

    ViewReceiver& receiver() { return m_receiver; }
    // Frames the camera lost since open, with their fates where the SDK
    // keeps them.
    kwhost::Losses lostFrames() const;

private:
    const kwhost::Plugin& m_plugin;
    ViewReceiver m_receiver;  // outlives the camera of m_host
    kwhost::CameraSession m_host;
    TriggerChoice m_trigger = TriggerChoice::Free;
    int m_whiteBalance[3] = {1024, 1024, 1024};
    QString m_pixelTypeName;
    kwhost::Losses m_lostAtOpen;
};

}  // namespace kwview

#endif  // KWVIEW_CAMERASESSION_H
