// Where the pixels of a frame come from. The test pattern is the first
// source; others (replayed pictures) plug in behind the same interface.
#ifndef MVSIM_FRAMESOURCE_H
#define MVSIM_FRAMESOURCE_H

#include "pattern.h"

#include <cstddef>
#include <memory>

namespace mvsim {

class FrameSource {
public:
    struct Filled {
        bool waited = false;  // the picture was not ready: the sensor waited for it
        // A source that shares its pixels instead of writing them: the frame
        // is these (frameBytes() long), kept alive by `hold` until the
        // frame has been delivered. Null: the frame is in its buffer.
        const unsigned char* zeroCopy = nullptr;
        std::shared_ptr<const void> hold;
    };

    virtual ~FrameSource() = default;
    virtual std::size_t frameBytes() const = 0;
    // The picture the next frame event shows, claimed as the event starts
    // (under the acquisition's lock, from any thread that starts one):
    // false when there is none left, as when pictures replay once.
    virtual bool nextPicture(unsigned* picture)
    {
        *picture = 0;
        return true;
    }
    // Whether a frame event now would find a picture.
    virtual bool hasPicture() const { return true; }
    // Writes the pixels of frame `number`, showing the claimed `picture`,
    // into `frame` (frameBytes() long), or names them in Filled::zeroCopy.
    // May wait for the picture. Called by one thread at a time per source.
    virtual Filled fill(unsigned char* frame, unsigned number, unsigned picture) = 0;
    // Whether the frame stamp goes over the first bytes of each frame.
    virtual bool stamped() const { return true; }
    // Ends a wait in fill(): the acquisition stops. Any thread.
    virtual void interrupt() {}
    // The acquisition has delivered its last frame.
    virtual void grabEnded() {}
};

// The test pattern of MVSIM_PatternValue.
class PatternSource : public FrameSource {
public:
    PatternSource(unsigned width, unsigned height, unsigned pixelType) : writer_(width, height, pixelType) {}
    std::size_t frameBytes() const override { return writer_.frameBytes(); }
    Filled fill(unsigned char* frame, unsigned number, unsigned /*picture*/) override
    {
        writer_.fill(frame, number);
        return {};
    }

private:
    const PatternWriter writer_;
};

}  // namespace mvsim

#endif  // MVSIM_FRAMESOURCE_H
