// One camera of the Python module: the plug-in's camera object, its frame
// callback feeding the FrameRing, and the settings and reports a Camera
// offers, through the host layer only. No Python in here: the bindings
// (module.cpp) decide where the interpreter lock is held.
//
// Threads: the control operations (start, stop, close, settings) are
// serialised by one mutex and may come from any thread; OnImageReady runs on
// the SDK's thread and touches only the ring and atomics; close() closes the
// ring first, so that a consumer waiting in pop() wakes at once.
#ifndef KWPY_CAMERA_H
#define KWPY_CAMERA_H

#include <QtCore/QString>
#include <QtCore/QVariantMap>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "framering.h"
#include "kwhost/losses.h"
#include "kwhost/pixellayout.h"
#include "kwhost/plugin.h"
#include "kwhost/sdkcontrol.h"
#include "kwhost/sdkdevice.h"
#include "kwhost/trigger.h"

namespace kwpy {

// A value the camera cannot take; the message names the range.
class ValueFailure : public std::invalid_argument {
public:
    explicit ValueFailure(const QString& reason) : std::invalid_argument(reason.toStdString()) {}
};

struct Range {
    bool known = false;
    double min = 0;
    double max = 0;
};

// Frames lost since the camera was opened: those the ring gave up, and the
// device's by the host layer's one account of losses.
struct Losses {
    quint64 ringFull = 0;  // given up by the ring: the program took frames too slowly
    quint64 tooLarge = 0;  // larger than the frame the device announced
    kwhost::Losses device;
    quint64 total() const { return ringFull + tooLarge + device.lost; }
};

class CameraCore : public ICameraCallback {
public:
    // Opens the camera of key; buffers is the ring's length. Throws
    // HostFailure.
    CameraCore(const kwhost::Plugin& plugin, const QString& key, kwhost::TriggerChoice trigger, int buffers);
    ~CameraCore() override;
    CameraCore(const CameraCore&) = delete;
    CameraCore& operator=(const CameraCore&) = delete;

    // SDK thread.
    void OnImageReady(ICameraObject* camera) override;

    const QString& key() const { return m_key; }
    bool isClosed() const { return m_closed.load(std::memory_order_acquire); }
    bool isGrabbing() const { return m_grabbing.load(std::memory_order_acquire); }
    void start();
    void stop();
    void close();  // idempotent

    // The ring frames arrive in; it outlives close() (closed) for the
    // consumers still holding it.
    const std::shared_ptr<FrameRing>& ring() const { return m_ring; }
    kwhost::PixelLayout layout() const { return m_layout; }
    QString pixelTypeName() const { return m_pixelTypeName; }
    int frameWidth() const { return m_width; }
    int frameHeight() const { return m_height; }
    // Frames the device lost since the last call (0 where the SDK keeps no
    // ledger); consumer threads.
    quint64 takeDeviceLosses();

    double exposure();
    Range exposureRange();
    void setExposure(double value);
    double gain();
    Range gainRange();
    void setGain(double value);
    bool whiteBalance(unsigned int ratios[3]);
    void setWhiteBalance(const long long ratios[3]);
    kwhost::TriggerChoice trigger();
    void setTrigger(kwhost::TriggerChoice trigger);
    void snap();
    void pulse();
    QVariantMap info();
    Losses lost();

private:
    void receive(ICameraObject* camera);
    void startLocked();
    void stopLocked();
    void requireOpen() const;
    void setWhole(const char* name, int propertyId, double value, const Range& range, const char* unit);

    const kwhost::Plugin& m_plugin;
    const QString m_key;
    const kwhost::SdkControl m_sdk;
    int m_device = -1;
    kwhost::DeviceReport m_report;
    bool m_reportKnown = false;

    std::mutex m_control;
    tagQZ_CAMERA_CONFIG m_config;
    std::unique_ptr<kwhost::CameraObject> m_object;
    std::atomic<bool> m_closed{false};
    std::atomic<bool> m_grabbing{false};
    kwhost::TriggerChoice m_trigger;
    double m_exposure = 0;
    double m_gain = 0;
    bool m_whiteBalanceSet = false;
    unsigned int m_whiteBalance[3] = {0, 0, 0};

    kwhost::PixelLayout m_layout = kwhost::PixelLayout::Gray8;
    QString m_pixelTypeName;
    int m_width = 0;
    int m_height = 0;
    std::shared_ptr<FrameRing> m_ring;

    // Written on the SDK's thread.
    std::atomic<quint64> m_arrived{0};
    std::atomic<int> m_pluginFormat{0};
    std::atomic<int> m_pluginBits{0};

    std::mutex m_lossMutex;
    kwhost::Losses m_lossesAtOpen;
    quint64 m_deviceLostSeen = 0;
};

}  // namespace kwpy

#endif  // KWPY_CAMERA_H
