// Frame layout by pixel type, the test pattern and the frame stamp.
#ifndef MVSIM_PATTERN_H
#define MVSIM_PATTERN_H

#include "exports.h"

#include <cstddef>
#include <vector>

namespace mvsim {

// Bits per pixel as the pixel type codes them (byte 2 of the code).
inline unsigned bitsPerPixel(unsigned pixelType)
{
    return (pixelType >> 16) & 0xFFu;
}

// Bytes of one frame: rows of ceil(width * bits / 8) bytes.
std::size_t frameBytes(unsigned width, unsigned height, unsigned pixelType);

unsigned patternValue(unsigned x, unsigned y, unsigned frameNumber, unsigned channel);

// Writes the pattern of one frame size and pixel type. The pattern of a row
// is the pattern of row 0 of frame 0 shifted by (2y + 3n) pixels, and it
// repeats every 256 pixels, so the writer prepares 511 pixels of row 0 once
// and builds every row from block copies out of it.
class PatternWriter {
public:
    PatternWriter(unsigned width, unsigned height, unsigned pixelType);

    std::size_t frameBytes() const { return rowBytes_ * height_; }
    void fill(unsigned char* frame, unsigned frameNumber) const;

private:
    unsigned height_;
    std::size_t unitBytes_;  // bytes the pattern treats as one pixel
    std::size_t rowUnits_;   // such pixels per row
    std::size_t rowBytes_;
    std::vector<unsigned char> rowTemplate_;
};

// Writes the stamp over the first bytes of a frame, as far as it holds them.
void writeStamp(unsigned char* frame, std::size_t frameLen, const MvsimFrameStamp& stamp);

}  // namespace mvsim

#endif  // MVSIM_PATTERN_H
