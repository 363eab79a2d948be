// Frames the camera lost, from the best source the loaded SDK offers: the
// stand-in's ledger of frame fates (a count per fate, such as a frame that
// found the host busy or no free buffer), else its plain lost counter, else
// the gaps in the frame numbers it stamps, else nothing. The ledger's
// functions are looked up by name at run time, so the viewer runs over SDKs
// without them.
#ifndef KWVIEW_LOSTFRAMES_H
#define KWVIEW_LOSTFRAMES_H

#include <QtCore/QList>
#include <QtCore/QPair>
#include <QtCore/QString>

namespace kwview {

struct LostFrames {
    enum class Source { Unknown, Fates, Counters, FrameNumbers };
    Source source = Source::Unknown;
    quint64 total = 0;
    QList<QPair<QString, quint64>> byFate;  // the fates that lose a frame, with their counts

    // "0", "12 (no buffer 10, missed trigger 2)", "unknown".
    QString text() const;
    // The counts since an earlier reading of the same source.
    LostFrames since(const LostFrames& earlier) const;
};

// The ledger of frame fates, when the SDK keeps one.
class FateLedger {
public:
    FateLedger();  // looks the function up; after the SDK is loaded
    bool available() const { return m_fates != nullptr; }
    // Lost frames by fate of a device (the stand-in's id) since it was
    // added; false without a ledger.
    bool read(int device, LostFrames* lost) const;

private:
    // The stand-in's record of settled frame events by fate, field by field.
    struct FateCounts {
        unsigned long long delivered;
        unsigned long long noBuffer;
        unsigned long long missed;
        unsigned long long dropped;
        unsigned long long unplugged;
        unsigned long long noCallback;
    };
    using GetFrameFates = int (*)(int, FateCounts*);

    GetFrameFates m_fates = nullptr;
};

}  // namespace kwview

#endif  // KWVIEW_LOSTFRAMES_H
