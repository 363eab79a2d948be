// The stamp the stand-in writes over a frame's first bytes, as every host
// reads it: the frame number, and the frames missing between two numbers.
// Frames of any other SDK carry no stamp (or the magic only by chance, and
// then their numbers do not run in sequence either).
#ifndef KWHOST_FRAMESTAMP_H
#define KWHOST_FRAMESTAMP_H

#include <QtCore/QtGlobal>

#include <cstddef>

#include "mvsim/control.h"

namespace kwhost {

// The bytes a frame needs to carry a stamp's magic and frame number.
constexpr quint64 kFrameStampBytes = offsetof(MvsimFrameStamp, frameNumber) + sizeof(unsigned int);

// True, with the frame number, when the frame of frameBytes bytes at data
// carries the stand-in's stamp.
bool readFrameStamp(const unsigned char* data, quint64 frameBytes, quint32* number);

// The frames missing between two consecutive stamped frames: 5 after 2
// misses 3 and 4. None when the numbers do not rise (a restart of the
// numbering, or numbers that are no stamp).
quint64 framesMissingBetween(quint32 previous, quint32 next);

// The frame numbers of one grab, fed from the callback's thread one frame
// at a time.
class FrameNumbers {
public:
    // A frame: stamped with number, or not stamped at all.
    void add(bool stamped, quint32 number);

    quint64 frames() const { return m_frames; }
    // Every frame so far was stamped (true before the first).
    bool numbered() const { return m_numbered; }
    quint32 first() const { return m_first; }
    quint32 last() const { return m_last; }
    // Each number followed its predecessor.
    bool inSequence() const { return m_inSequence; }
    quint64 missing() const { return m_missing; }

private:
    quint64 m_frames = 0;
    bool m_numbered = true;
    quint32 m_first = 0;
    quint32 m_last = 0;
    bool m_inSequence = true;
    quint64 m_missing = 0;
};

}  // namespace kwhost

#endif  // KWHOST_FRAMESTAMP_H
