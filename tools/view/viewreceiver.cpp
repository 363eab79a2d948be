#include "viewreceiver.h"

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
    // The members describe this frame during this call only.
    FrameView frame;
    frame.data = pCamera->m_pImageData;
    frame.width = pCamera->m_nWidth;
    frame.height = pCamera->m_nHeight;
    frame.layout = m_deviceLayout != kwhost::PixelLayout::Unknown
        ? m_deviceLayout
        : kwhost::layoutOfPluginFormat(pCamera->m_nPixelFormat, pCamera->m_nBitsPerPixel);
    frame.bayer = m_deviceLayout == kwhost::PixelLayout::Gray8 ? m_bayer : BayerPattern::None;
    const qsizetype size = frame.byteCount();
    readStamp(frame.data, size);

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

void ViewReceiver::readStamp(const unsigned char* data, qsizetype bytes)
{
    quint32 number = 0;
    if (bytes <= 0 || !kwhost::readFrameStamp(data, static_cast<quint64>(bytes), &number))
        return;
    m_stamped.store(true, std::memory_order_relaxed);
    if (m_haveNumber)
        m_stampGaps.fetch_add(kwhost::framesMissingBetween(m_lastNumber, number), std::memory_order_relaxed);
    m_haveNumber = true;
    m_lastNumber = number;
}

}  // namespace kwview
