// Frames a camera lost, as every host states them: from the best source the
// loaded SDK offers. The stand-in's ledger counts each frame event by its
// fate, and its table of fates names them and says which count as lost
// (kwcam, the viewer and the kit take both from there, so the words are
// the stand-in's own); else its plain lost counter; else the gaps in the
// frame numbers it stamps; else nothing is known.
#ifndef KWHOST_LOSSES_H
#define KWHOST_LOSSES_H

#include <QtCore/QString>
#include <QtCore/QVector>

namespace kwhost {

class SdkControl;

struct LossCause {
    QString name;  // as the stand-in's table of fates names it: "no free buffer"
    quint64 count = 0;
    bool countsAsLost = false;  // false: told apart (such as "dropped at stop"), not lost
};

struct Losses {
    enum class Source { Unknown, Ledger, Counters, FrameNumbers };
    Source source = Source::Unknown;
    quint64 lost = 0;  // the frames that count as lost
    // With the ledger: every fate but delivery, in the table's order.
    QVector<LossCause> causes;

    // The one way hosts print losses:
    //   "3 (SDK counters: 2 no free buffer, 1 trigger during exposure; not lost: 2 dropped at stop)"
    //   "3 (SDK counters)", "2 (gaps in frame numbers)", "unknown".
    QString text() const;
    // What happened since an earlier reading of the same source (the
    // reading itself when the sources differ).
    Losses since(const Losses& earlier) const;
    // This reading, taken as the acquisition ended, with the fates that are
    // no loss (frames cut off by the stop, by the device going) as a later
    // reading of the same source, taken after the stop, tells them.
    Losses withEndingFrom(const Losses& later) const;
};

// What the SDK itself tells of the device's losses since it was added: the
// ledger, else the counters, else Unknown.
Losses sdkLosses(const SdkControl& sdk, int device);
// Losses counted by the host from the frame numbers it saw.
Losses lossesFromFrameNumbers(quint64 missing);

// Follows one acquisition: the SDK's reading at its start, and at the end
// the difference, or the gaps in the frame numbers where the SDK tells
// nothing.
class LossWatch {
public:
    LossWatch(const SdkControl& sdk, int device);
    // Reads the SDK's account as the acquisition starts.
    void begin();
    // The losses since begin(); numbered: frames came with stamps, missing
    // the frames missing between them (the fallback).
    Losses sinceBegin(bool numbered, quint64 missing) const;

private:
    const SdkControl* m_sdk;
    int m_device;
    Losses m_atBegin;
};

}  // namespace kwhost

#endif  // KWHOST_LOSSES_H
