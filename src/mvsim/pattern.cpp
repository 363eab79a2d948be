#include "pattern.h"

#include <algorithm>
#include <cstring>

namespace mvsim {

namespace {

// How a pixel type's bytes map to pattern channels.
struct Layout {
    std::size_t unitBytes;     // bytes of one pattern pixel
    unsigned channels;         // channels in it
    std::size_t channelBytes;  // 1, or 2 for 16-bit channels
};

Layout layoutOf(unsigned pixelType)
{
    const unsigned bits = bitsPerPixel(pixelType);
    if (pixelType == MVSIM_PIXEL_MONO16)
        return {2, 1, 2};
    if (pixelType == MVSIM_PIXEL_RGB16)
        return {6, 3, 2};
    if (bits != 0 && bits % 8 == 0)
        return {bits / 8, bits / 8, 1};
    // Packed types: each byte of a row is a pixel of its own, channel 0.
    return {1, 1, 1};
}

}  // namespace

std::size_t frameBytes(unsigned width, unsigned height, unsigned pixelType)
{
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * bitsPerPixel(pixelType) + 7) / 8;
    return rowBytes * height;
}

unsigned patternValue(unsigned x, unsigned y, unsigned frameNumber, unsigned channel)
{
    return (x + 2u * y + 3u * frameNumber + 64u * channel) & 0xFFu;
}

PatternWriter::PatternWriter(unsigned width, unsigned height, unsigned pixelType) : height_(height)
{
    const Layout layout = layoutOf(pixelType);
    const unsigned bits = bitsPerPixel(pixelType);
    unitBytes_ = layout.unitBytes;
    if (bits % 8 == 0) {
        rowUnits_ = width;
        rowBytes_ = static_cast<std::size_t>(width) * unitBytes_;
    } else {
        rowBytes_ = (static_cast<std::size_t>(width) * bits + 7) / 8;
        rowUnits_ = rowBytes_;
    }
    // A 16-bit channel holds value * 257: both of its little-endian bytes
    // are the value itself.
    rowTemplate_.resize(511 * unitBytes_);
    for (unsigned x = 0; x < 511; ++x)
        for (unsigned c = 0; c < layout.channels; ++c)
            for (std::size_t b = 0; b < layout.channelBytes; ++b)
                rowTemplate_[x * unitBytes_ + c * layout.channelBytes + b] =
                    static_cast<unsigned char>(patternValue(x, 0, 0, c));
}

namespace {

// Copies a short row piece in 32-byte moves the compiler makes inline: a
// library call per row costs more than the copy in the smallest frames.
inline void copyShort(unsigned char* to, const unsigned char* from, std::size_t n)
{
    if (n < 32) {
        for (std::size_t i = 0; i < n; ++i)
            to[i] = from[i];
        return;
    }
    for (std::size_t i = 0; i + 32 < n; i += 32)
        std::memcpy(to + i, from + i, 32);
    std::memcpy(to + n - 32, from + n - 32, 32);  // the last 32, overlapping the loop's
}

// Rows of at most 256 bytes, each from its place in the row template. Built
// for processors with 32-byte moves as well, chosen when the library loads
// (not in sanitized builds, whose run-time is not ready for the choice yet).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) &&                \
    !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("avx2", "default")))
#endif
void fillShortRows(unsigned char* frame, const unsigned char* rowTemplate, std::size_t rowBytes, std::size_t unitBytes,
                   unsigned height, unsigned frameNumber)
{
    for (unsigned y = 0; y < height; ++y) {
        const unsigned shift = (2u * y + 3u * frameNumber) & 0xFFu;
        copyShort(frame + static_cast<std::size_t>(y) * rowBytes, rowTemplate + shift * unitBytes, rowBytes);
    }
}

}  // namespace

void PatternWriter::fill(unsigned char* frame, unsigned frameNumber) const
{
    if (rowBytes_ <= 256) {
        fillShortRows(frame, rowTemplate_.data(), rowBytes_, unitBytes_, height_, frameNumber);
        return;
    }
    for (unsigned y = 0; y < height_; ++y) {
        const unsigned shift = (2u * y + 3u * frameNumber) & 0xFFu;
        const unsigned char* source = rowTemplate_.data() + shift * unitBytes_;
        unsigned char* row = frame + static_cast<std::size_t>(y) * rowBytes_;
        for (std::size_t x = 0; x < rowUnits_; x += 256) {
            const std::size_t units = std::min<std::size_t>(256, rowUnits_ - x);
            std::memcpy(row + x * unitBytes_, source, units * unitBytes_);
        }
    }
}

void writeStamp(unsigned char* frame, std::size_t frameLen, const MvsimFrameStamp& stamp)
{
    std::memcpy(frame, &stamp, std::min(frameLen, sizeof stamp));
}

}  // namespace mvsim
