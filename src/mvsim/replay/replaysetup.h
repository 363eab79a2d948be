// A device's pictures as its setup names them: the "images", "replay",
// "stamp" and "sharedFrames" keys, the listing of a folder and the checks of
// every picture.
#ifndef MVSIM_REPLAY_REPLAYSETUP_H
#define MVSIM_REPLAY_REPLAYSETUP_H

#include "picture.h"

#include <QJsonObject>

#include <string>
#include <vector>

namespace mvsim {

struct ReplaySetup {
    std::string images;              // a picture file or a folder of them; empty: the test pattern
    bool once = false;               // deliver each picture once, then no more frames (until a rewind)
    bool stamp = false;              // write the frame stamp over the first bytes of each picture
    bool zeroCopy = false;           // frames are the cached pictures themselves, not copies of them
    std::vector<std::string> files;  // filled by prepareReplay: the pictures, in natural name order
};

// Reads "images", "replay" ("loop" or "once"), "stamp" and "sharedFrames"
// (booleans) of one device entry. Returns "" or "<key>: <reason>".
std::string readReplayKeys(const QJsonObject& entry, ReplaySetup* replay);

// The device geometry a replay fills in and checks.
struct ReplayGeometry {
    unsigned width = 0;
    unsigned height = 0;
    unsigned pixelType = 0;
    bool widthGiven = false;
    bool heightGiven = false;
    bool pixelTypeGiven = false;
};

// Lists replay->images (a relative path counts from baseDir), checks every
// picture's header and decodes the first. A width, height or pixel type the
// setup leaves open is taken from the first picture. Returns "" or
// "<key>: <reason>", naming the files at fault: every unreadable file or
// non-picture in a folder, or the first picture whose size is not the
// device's ("images: shot-0007.png is 640x480, the device is 1280x1024").
std::string prepareReplay(ReplaySetup* replay, ReplayGeometry* geometry, const std::string& baseDir);

}  // namespace mvsim

#endif  // MVSIM_REPLAY_REPLAYSETUP_H
