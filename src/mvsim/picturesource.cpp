#include "picturesource.h"

#include <algorithm>
#include <cstring>

namespace mvsim {

bool PictureSource::nextPicture(unsigned* index)
{
    std::size_t claimed = 0;
    if (!feed_->claim(&claimed))
        return false;
    *index = static_cast<unsigned>(claimed);
    return true;
}

FrameSource::Filled PictureSource::fill(unsigned char* frame, unsigned /*number*/, unsigned picture)
{
    Filled filled;
    const PictureFeed::Next next = feed_->take(picture, interrupted_);
    filled.waited = next.waited;
    if (next.frame && zeroCopy_) {
        filled.zeroCopy = next.frame->data();
        filled.hold = next.frame;
    } else if (next.frame)
        std::memcpy(frame, next.frame->data(), std::min(next.frame->size(), feed_->frameBytes()));
    else
        std::memset(frame, 0, feed_->frameBytes());  // stopping: the frame is dropped anyway
    return filled;
}

void PictureSource::grabEnded()
{
    feed_->checkZeroCopyFrames();
}

void PictureSource::interrupt()
{
    interrupted_ = true;
    feed_->wake();
}

}  // namespace mvsim
