// The viewer's ICameraCallback: counts every frame and copies one into the
// triple buffer whenever the display has taken the previous copy.
//
// OnImageReady runs on the SDK's acquisition thread and must return at once:
// the SDK loses frames that arrive while it runs. So it copies a frame only
// when the display is ready for one (the frame the display would see next),
// and counts the others as skipped; a camera far faster than the screen
// then costs one copy per painted frame, not one per frame. Everything the
// display reads is atomic or goes through the triple buffer.
#ifndef KWVIEW_VIEWRECEIVER_H
#define KWVIEW_VIEWRECEIVER_H

#include <QtCore/QtGlobal>

#include <atomic>

#include "cameraobject.h"
#include "frameconvert.h"
#include "latestframe.h"

namespace kwview {

class ViewReceiver : public ICameraCallback {
public:
    // How frames are read: the device's own layout and mosaic when the SDK
    // can tell them, else Unknown and the plug-in's report is used. Only
    // while no callback runs (before start).
    void setDeviceFormat(kwhost::PixelLayout layout, BayerPattern bayer);
    // Copy every frame, even those the display will never take (for
    // measuring the copy).
    void setCopyEveryFrame(bool on) { m_copyEveryFrame = on; }
    // Back to zero; only while no callback runs.
    void resetCounts();

    // SDK thread.
    void OnImageReady(ICameraObject* pCamera) override;

    // Any thread.
    quint64 frames() const { return m_frames.load(std::memory_order_relaxed); }
    quint64 bytes() const { return m_bytes.load(std::memory_order_relaxed); }
    quint64 copied() const { return m_copied.load(std::memory_order_relaxed); }
    // Frames missing between consecutive stand-in stamps; the lost count
    // over an SDK with no counters of its own.
    quint64 stampGaps() const { return m_stampGaps.load(std::memory_order_relaxed); }
    bool stamped() const { return m_stamped.load(std::memory_order_relaxed); }

    // The display's thread.
    LatestFrame& latest() { return m_latest; }

private:
    void countStamp(quint32 number);

    kwhost::PixelLayout m_deviceLayout = kwhost::PixelLayout::Unknown;
    BayerPattern m_bayer = BayerPattern::None;
    bool m_copyEveryFrame = false;

    std::atomic<quint64> m_frames{0};
    std::atomic<quint64> m_bytes{0};
    std::atomic<quint64> m_copied{0};
    std::atomic<quint64> m_stampGaps{0};
    std::atomic<bool> m_stamped{false};
    // SDK thread only.
    bool m_haveNumber = false;
    quint32 m_lastNumber = 0;

    LatestFrame m_latest;
};

}  // namespace kwview

#endif  // KWVIEW_VIEWRECEIVER_H
