// Replayed pictures as a frame source: the device's picture feed, claimed
// in order as frame events start, taken when their pixels are made.
#ifndef MVSIM_PICTURESOURCE_H
#define MVSIM_PICTURESOURCE_H

#include "framesource.h"
#include "picturefeed.h"

#include <atomic>
#include <memory>

namespace mvsim {

class PictureSource : public FrameSource {
public:
    // `zeroCopy`: frames are the feed's cached pictures, not copies of them.
    PictureSource(std::shared_ptr<PictureFeed> feed, bool stamp, bool zeroCopy)
        : feed_(std::move(feed)), stamp_(stamp), zeroCopy_(zeroCopy)
    {}

    std::size_t frameBytes() const override { return feed_->frameBytes(); }
    bool nextPicture(unsigned* index) override;
    bool hasPicture() const override { return !feed_->through(); }
    Filled fill(unsigned char* frame, unsigned number, unsigned picture) override;
    bool stamped() const override { return stamp_; }
    void interrupt() override;
    void grabEnded() override;

private:
    const std::shared_ptr<PictureFeed> feed_;
    const bool stamp_;
    const bool zeroCopy_;
    std::atomic<bool> interrupted_{false};
};

}  // namespace mvsim

#endif  // MVSIM_PICTURESOURCE_H
