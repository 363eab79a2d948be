// Frames the camera lost, from the best source the loaded SDK offers: the
// stand-in's ledger of frame fates (a count per fate, such as a frame that
// found the host busy or no free buffer), else its plain lost counter, else
// the gaps in the frame numbers it stamps, else nothing. The stand-in's
// functions are looked up by name at run time (kwhost::SdkControl), so the
// viewer runs over SDKs without them.
#ifndef KWVIEW_LOSTFRAMES_H
#define KWVIEW_LOSTFRAMES_H

#include <QtCore/QList>
#include <QtCore/QPair>
#include <QtCore/QString>

#include "kwhost/sdkcontrol.h"

namespace kwview {

struct LostFrames {
    enum class Source { Unknown, Fates, Counters, FrameNumbers };
    Source source = Source::Unknown;
    quint64 total = 0;
    QList<QPair<QString, quint64>> byFate;  // the fates that lose a frame, with their counts

    // "0", "12 (no free buffer 10, trigger during exposure 2)", "unknown".
    QString text() const;
    // The counts since an earlier reading of the same source.
    LostFrames since(const LostFrames& earlier) const;
};

// The losses among the fates the stand-in's ledger tells apart (delivered
// frames and frames made while no callback was registered are none).
LostFrames lostFramesOf(const kwhost::FrameFates& fates);

}  // namespace kwview

#endif  // KWVIEW_LOSTFRAMES_H
