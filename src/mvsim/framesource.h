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
    virtual ~FrameSource() = default;
    virtual std::size_t frameBytes() const = 0;
    // Writes the pixels of frame `number` into `frame` (frameBytes() long)
    // and returns the index of the picture it shows (0 for a computed one).
    // Called by one thread at a time per source.
    virtual unsigned fill(unsigned char* frame, unsigned number) = 0;
};

// The test pattern of MVSIM_PatternValue.
class PatternSource : public FrameSource {
public:
    PatternSource(unsigned width, unsigned height, unsigned pixelType) : writer_(width, height, pixelType) {}
    std::size_t frameBytes() const override { return writer_.frameBytes(); }
    unsigned fill(unsigned char* frame, unsigned number) override {
        writer_.fill(frame, number);
        return 0;
    }

private:
    const PatternWriter writer_;
};

}  // namespace mvsim

#endif  // MVSIM_FRAMESOURCE_H
