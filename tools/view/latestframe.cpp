#include "latestframe.h"

namespace kwview {

FrameView FrameSlot::view() const
{
    FrameView frame;
    frame.data = bytes.empty() ? nullptr : bytes.data();
    frame.width = width;
    frame.height = height;
    frame.layout = layout;
    frame.bayer = bayer;
    return frame;
}

void LatestFrame::publish()
{
    // Release: the reader that takes the slot sees its bytes.
    m_back = m_middle.exchange(m_back | kFresh, std::memory_order_acq_rel) & 3;
}

const FrameSlot* LatestFrame::takeNewest()
{
    if ((m_middle.load(std::memory_order_acquire) & kFresh) == 0)
        return nullptr;
    m_front = m_middle.exchange(m_front, std::memory_order_acq_rel) & 3;
    return &m_slots[m_front];
}

}  // namespace kwview
