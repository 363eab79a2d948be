#include "viewreceiver.h"

#include "kwhost/frame.h"
#include "kwhost/framestamp.h"

#include <cstddef>
#include <cstring>

#include "mvsim/control.h"

namespace kwview {

void ViewReceiver::setDeviceFormat(kwhost::PixelLayout layout, BayerPattern bayer)
{
    m_deviceLayout = layout;
    m_bayer = bayer;
}

void ViewReceiver::resetCounts()
{
    m_frames.store(0, std::memory_order_relaxed);
    m_bytes.store(0, std::memory_order_relaxed);
    m_copied.store(0, std::memory_order_relaxed);
    m_stampGaps.store(0, std::memory_order_relaxed);
    m_stamped.store(false, std::memory_order_relaxed);
    m_haveNumber = false;
}

void ViewReceiver::OnImageReady(ICameraObject* pCamera)
{
    if (pCamera == nullptr)
        return;
    const kwhost::HostFrame seen = kwhost::readFrame(pCamera, m_deviceLayout);
    FrameView frame;
    frame.data = seen.data;
    frame.width = seen.width;
    frame.height = seen.height;
    frame.layout = seen.layout;
    frame.bayer = m_deviceLayout == kwhost::PixelLayout::Gray8 ? m_bayer : BayerPattern::None;
    const qsizetype size = frame.byteCount();
    if (seen.stamped)
        countStamp(seen.number);

    const quint64 sequence = m_frames.load(std::memory_order_relaxed) + 1;
    if (size > 0 && (m_copyEveryFrame || !m_latest.pending())) {
        FrameSlot& slot = m_latest.back();
        slot.bytes.resize(static_cast<size_t>(size));
        memcpy(slot.bytes.data(), frame.data, static_cast<size_t>(size));
        slot.width = frame.width;
        slot.height = frame.height;
        slot.layout = frame.layout;
        slot.bayer = frame.bayer;
        slot.sequence = sequence;
        m_latest.publish();
        m_copied.fetch_add(1, std::memory_order_relaxed);
    }
    m_bytes.fetch_add(static_cast<quint64>(size), std::memory_order_relaxed);
    m_frames.store(sequence, std::memory_order_relaxed);
}

void ViewReceiver::countStamp(quint32 number)
{
    m_stamped.store(true, std::memory_order_relaxed);
    if (m_haveNumber)
        m_stampGaps.fetch_add(kwhost::framesMissingBetween(m_lastNumber, number), std::memory_order_relaxed);
    m_haveNumber = true;
    m_lastNumber = number;
}

}  // namespace kwview
