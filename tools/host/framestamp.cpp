#include "kwhost/framestamp.h"

#include <cstring>

namespace kwhost {

bool readFrameStamp(const unsigned char* data, quint64 frameBytes, quint32* number)
{
    if (data == nullptr || frameBytes < kFrameStampBytes)
        return false;
    MvsimFrameStamp stamp;
    memcpy(&stamp, data, static_cast<size_t>(kFrameStampBytes));
    if (stamp.magic != MVSIM_STAMP_MAGIC)
        return false;
    *number = stamp.frameNumber;
    return true;
}

quint64 framesMissingBetween(quint32 previous, quint32 next)
{
    return next > previous ? next - previous - 1u : 0;
}

void FrameNumbers::add(bool stamped, quint32 number)
{
    const bool firstFrame = m_frames++ == 0;
    if (!stamped) {
        m_numbered = false;
        return;
    }
    if (!m_numbered)
        return;
    if (firstFrame) {
        m_first = m_last = number;
        return;
    }
    if (number != static_cast<quint32>(m_last + 1u)) {
        m_inSequence = false;
        m_missing += framesMissingBetween(m_last, number);
    }
    m_last = number;
}

}  // namespace kwhost
