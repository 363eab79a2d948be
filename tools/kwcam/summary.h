// The report printed on stdout at the end of a grab, one "name: value" line
// per item so that scripts can pick lines out.
#ifndef KWCAM_SUMMARY_H
#define KWCAM_SUMMARY_H

#include <QtCore/QString>

#include "framereceiver.h"
#include "kwhost/losses.h"

namespace kwcam {

struct Summary {
    QString plugin;  // the library the camera object came from
    QString key;
    QString trigger;  // "free-running", "software at 10 Hz", ...
    quint64 target = 0;
    FrameStats stats;
    double seconds = 0;
    QString deviceType;  // the device's own pixel type name, when the SDK tells it
    kwhost::Losses losses;
    QString pictures;  // recorded pictures the frames showed, empty when the device shows none
    QString saved;     // what was saved (the file, or the name pattern), empty for nothing
    // Saving every frame: the writer's counts and times.
    bool everyFrame = false;
    quint64 savedFrames = 0;
    quint64 notSaved = 0;
    quint64 abandoned = 0;
    bool writesAbandoned = false;    // the queue was dropped at the end
    double writingSeconds = 0;       // inside the writes, on the writer's thread
    double writingAfterSeconds = 0;  // waited for the writes after the grab
};

QString formatSummary(const Summary& summary);

}  // namespace kwcam

#endif  // KWCAM_SUMMARY_H
