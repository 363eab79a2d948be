// A decoded picture: its size, what its samples are, and the samples.
#ifndef MVSIM_REPLAY_PICTURE_H
#define MVSIM_REPLAY_PICTURE_H

#include <cstddef>
#include <string>
#include <vector>

namespace mvsim {

// What a picture holds, as the device's pixel type is chosen and converted
// from it. Palette pictures count as grey when every entry is an opaque
// grey, otherwise as colour (with alpha when an entry is not opaque).
enum class PictureKind { Grey8, Grey16, Rgb8, Rgba8, Rgb16, Rgba16 };

unsigned channelsOf(PictureKind kind);
bool isWide(PictureKind kind);  // 16-bit samples
const char* kindName(PictureKind kind);

struct Picture {
    unsigned width = 0;
    unsigned height = 0;
    PictureKind kind = PictureKind::Grey8;
    // Row after row without padding, channels interleaved in the order
    // grey, or red, green, blue (, alpha); 16-bit samples as two bytes,
    // little-endian, as the stand-in lays them out in frames.
    std::vector<unsigned char> samples;

    unsigned sample(unsigned x, unsigned y, unsigned channel) const;
};

// The memory one decoded picture may take: $MVSIM_REPLAY_MAX_MB MiB (a whole
// number from 1), else 1024 MiB. A picture whose header declares more is
// refused before any of it is decoded, so that a small file declaring a huge
// size cannot take the host's memory.
std::size_t pictureByteLimit();
// False with the reason when width x height pixels of bytesPerPixel bytes
// exceed the limit.
bool withinPictureLimit(unsigned width, unsigned height, unsigned bytesPerPixel, std::string* reason);

// Reads a picture's size from its header, without decoding its pixels.
// False with the reason ("not a picture", "cannot read: ...") otherwise.
bool probePicture(const std::string& path, unsigned* width, unsigned* height, std::string* reason);

// Decodes a whole picture. Binary and plain PGM and PPM are read here,
// samples as the file has them whatever their maximum value (16-bit ones
// too, which Qt's reader would scale to 8 bits); every other format through
// Qt's image readers, 16-bit PNG and TIFF samples kept.
bool decodePicture(const std::string& path, Picture* picture, std::string* reason);

}  // namespace mvsim

#endif  // MVSIM_REPLAY_PICTURE_H
