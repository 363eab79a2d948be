// The report printed on stdout at the end of a grab, one "name: value" line
// per item so that scripts can pick lines out.
#ifndef KWCAM_SUMMARY_H
#define KWCAM_SUMMARY_H

#include <QtCore/QString>

#include "framereceiver.h"

namespace kwcam {

struct Summary {
    QString plugin;  // the library the camera object came from
    QString key;
    QString trigger;  // "free-running", "software at 10 Hz", ...
    quint64 target = 0;
    FrameStats stats;
    double seconds = 0;
    QString deviceType;  // the device's own pixel type name, when the SDK tells it
    enum class LostSource { Counters, FrameNumbers, Unknown } lostSource = LostSource::Unknown;
    quint64 lost = 0;
    QString pictures;  // recorded pictures the frames showed, empty when the device shows none
    QString saved;  // what was saved, empty for nothing
};

QString formatSummary(const Summary& summary);

}  // namespace kwcam

#endif  // KWCAM_SUMMARY_H
