#include "pictureconvert.h"

#include "mvsim/control.h"

#include <cstring>

namespace mvsim {

namespace {

unsigned luminance(unsigned r, unsigned g, unsigned b)
{
    return (299 * r + 587 * g + 114 * b + 500) / 1000;
}

// Sample of the picture as grey, at the picture's depth.
unsigned greyAt(const Picture& p, const unsigned char* pixel)
{
    const bool wide = isWide(p.kind);
    auto at = [&](unsigned c) -> unsigned {
        return wide ? (pixel[2 * c] | (static_cast<unsigned>(pixel[2 * c + 1]) << 8)) : pixel[c];
    };
    if (channelsOf(p.kind) == 1)
        return at(0);
    return luminance(at(0), at(1), at(2));
}

// Red, green, blue and alpha of a pixel, at 8 or 16 bits as asked.
void colourAt(const Picture& p, const unsigned char* pixel, bool to16, unsigned out[4])
{
    const bool wide = isWide(p.kind);
    const unsigned channels = channelsOf(p.kind);
    auto at = [&](unsigned c) -> unsigned {
        const unsigned v = wide ? (pixel[2 * c] | (static_cast<unsigned>(pixel[2 * c + 1]) << 8)) : pixel[c];
        if (wide == to16)
            return v;
        return to16 ? v * 257 : v >> 8;
    };
    if (channels == 1) {
        out[0] = out[1] = out[2] = at(0);
    } else {
        out[0] = at(0);
        out[1] = at(1);
        out[2] = at(2);
    }
    out[3] = channels == 4 ? at(3) : (to16 ? 65535u : 255u);
}

unsigned depthTo(unsigned value, bool fromWide, bool toWide)
{
    if (fromWide == toWide)
        return value;
    return toWide ? value * 257 : value >> 8;
}

void put16(unsigned char* at, unsigned value)
{
    at[0] = static_cast<unsigned char>(value & 0xFF);
    at[1] = static_cast<unsigned char>(value >> 8);
}

}  // namespace

bool samePixels(PictureKind kind, unsigned pixelType)
{
    switch (pixelType) {
    case MVSIM_PIXEL_MONO8:
    case MVSIM_PIXEL_BAYERRG8:
        return kind == PictureKind::Grey8;
    case MVSIM_PIXEL_MONO16:
        return kind == PictureKind::Grey16;
    case MVSIM_PIXEL_RGB8:
        return kind == PictureKind::Rgb8;
    case MVSIM_PIXEL_RGBA8:
        return kind == PictureKind::Rgba8;
    case MVSIM_PIXEL_RGB16:
        return kind == PictureKind::Rgb16;
    default:
        return false;
    }
}

unsigned pixelTypeFor(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Grey8:
        return MVSIM_PIXEL_MONO8;
    case PictureKind::Grey16:
        return MVSIM_PIXEL_MONO16;
    case PictureKind::Rgb8:
        return MVSIM_PIXEL_RGB8;
    case PictureKind::Rgba8:
        return MVSIM_PIXEL_RGBA8;
    case PictureKind::Rgb16:
    case PictureKind::Rgba16:
        return MVSIM_PIXEL_RGB16;
    }
    return MVSIM_PIXEL_MONO8;
}

bool convertsTo(unsigned pixelType)
{
    switch (pixelType) {
    case MVSIM_PIXEL_MONO8:
    case MVSIM_PIXEL_MONO16:
    case MVSIM_PIXEL_RGB8:
    case MVSIM_PIXEL_RGBA8:
    case MVSIM_PIXEL_RGB16:
    case MVSIM_PIXEL_BAYERRG8:
        return true;
    default:
        return false;
    }
}

std::size_t convertedFrameBytes(unsigned width, unsigned height, unsigned pixelType)
{
    return static_cast<std::size_t>(width) * height * (((pixelType >> 16) & 0xFFu) / 8);
}

void convertPicture(const Picture& picture, unsigned pixelType, unsigned char* frame)
{
    if (samePixels(picture.kind, pixelType)) {
        std::memcpy(frame, picture.samples.data(), picture.samples.size());
        return;
    }
    const bool wide = isWide(picture.kind);
    const std::size_t pixelBytes = channelsOf(picture.kind) * (wide ? 2u : 1u);
    const unsigned char* in = picture.samples.data();
    unsigned char* out = frame;
    for (unsigned y = 0; y < picture.height; ++y) {
        for (unsigned x = 0; x < picture.width; ++x, in += pixelBytes) {
            unsigned rgba[4];
            switch (pixelType) {
            case MVSIM_PIXEL_MONO8:
                *out++ = static_cast<unsigned char>(depthTo(greyAt(picture, in), wide, false));
                break;
            case MVSIM_PIXEL_MONO16:
                put16(out, depthTo(greyAt(picture, in), wide, true));
                out += 2;
                break;
            case MVSIM_PIXEL_RGB8:
            case MVSIM_PIXEL_RGBA8:
                colourAt(picture, in, false, rgba);
                for (unsigned c = 0; c < (pixelType == MVSIM_PIXEL_RGB8 ? 3u : 4u); ++c)
                    *out++ = static_cast<unsigned char>(rgba[c]);
                break;
            case MVSIM_PIXEL_RGB16:
                colourAt(picture, in, true, rgba);
                for (unsigned c = 0; c < 3; ++c, out += 2)
                    put16(out, rgba[c]);
                break;
            case MVSIM_PIXEL_BAYERRG8:
                if (channelsOf(picture.kind) == 1) {
                    *out++ = static_cast<unsigned char>(depthTo(greyAt(picture, in), wide, false));
                } else {
                    colourAt(picture, in, false, rgba);
                    // RGGB: R G on even rows, G B on odd ones.
                    const unsigned channel = (y % 2 == 0) ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2);
                    *out++ = static_cast<unsigned char>(rgba[channel]);
                }
                break;
            default:
                return;
            }
        }
    }
}

}  // namespace mvsim
