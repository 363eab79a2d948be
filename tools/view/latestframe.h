// Hands the newest frame from the SDK's thread to the display: a triple
// buffer. The writer fills its back slot and swaps it with the middle one;
// the reader swaps its front slot with the middle one when that holds a
// frame it has not seen. Neither side waits for the other, and no slot is
// read and written at once.
#ifndef KWVIEW_LATESTFRAME_H
#define KWVIEW_LATESTFRAME_H

#include <QtCore/QtGlobal>

#include <atomic>
#include <vector>

#include "frameconvert.h"

namespace kwview {

// A frame copied out of the SDK's buffer, with what the display needs to
// read it.
struct FrameSlot {
    std::vector<unsigned char> bytes;
    int width = 0;
    int height = 0;
    kwhost::PixelLayout layout = kwhost::PixelLayout::Unknown;
    BayerPattern bayer = BayerPattern::None;
    quint64 sequence = 0;  // the frame's number among those received

    FrameView view() const;
};

class LatestFrame {
public:
    // Writer side: one thread at a time.
    FrameSlot& back() { return m_slots[m_back]; }
    void publish();
    // True while the frame published last has not been taken: a new copy
    // would only replace it unseen.
    bool pending() const { return (m_middle.load(std::memory_order_acquire) & kFresh) != 0; }

    // Reader side: one thread at a time. The newest frame not seen yet, or
    // null; it stays valid until the next call.
    const FrameSlot* takeNewest();

private:
    static constexpr int kFresh = 4;

    FrameSlot m_slots[3];
    std::atomic<int> m_middle{1};  // slot index, with kFresh when not taken yet
    int m_back = 0;                // writer's
    int m_front = 2;               // reader's
};

}  // namespace kwview

#endif  // KWVIEW_LATESTFRAME_H
