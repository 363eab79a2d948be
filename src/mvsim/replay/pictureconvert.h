// From a decoded picture to a frame of the device's pixel type.
#ifndef MVSIM_REPLAY_PICTURECONVERT_H
#define MVSIM_REPLAY_PICTURECONVERT_H

#include "picture.h"

#include <cstddef>

namespace mvsim {

// The pixel type a device takes from its first picture when its setup names
// none: 8-bit grey Mono8, 16-bit grey Mono16, colour RGB8, colour with
// alpha RGBa8, 16-bit colour (with or without alpha) RGB16.
unsigned pixelTypeFor(PictureKind kind);

// Pixel types pictures convert to: Mono8, Mono16, RGB8, RGBa8, RGB16,
// BayerRG8.
bool convertsTo(unsigned pixelType);

// True when a picture of `kind` is a frame of `pixelType` as it is.
bool samePixels(PictureKind kind, unsigned pixelType);

// Bytes of one frame of a pixel type pictures convert to.
std::size_t convertedFrameBytes(unsigned width, unsigned height, unsigned pixelType);

// Writes the picture as a frame of `pixelType` (one that convertsTo() takes)
// into `frame` (convertedFrameBytes() long; the picture has the frame's
// size). Where pixel type and picture agree the samples are copied as they
// are. Otherwise:
//   colour to grey: luminance (299 R + 587 G + 114 B + 500) / 1000, at the
//     picture's depth;
//   grey to colour: the grey in each of R, G, B;
//   8 to 16 bits: sample * 257; 16 to 8 bits: the high byte;
//   alpha: 255 where the picture has none; dropped where the frame has none;
//   BayerRG8: a grey picture is the mosaic as it is; a colour picture gives
//     R at even rows and columns, B at odd rows and columns, G elsewhere.
void convertPicture(const Picture& picture, unsigned pixelType, unsigned char* frame);

}  // namespace mvsim

#endif  // MVSIM_REPLAY_PICTURECONVERT_H
