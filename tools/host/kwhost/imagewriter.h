// Writing a frame to a picture file: PNG through QImage, PGM and PPM by hand
// so that 16-bit samples keep their full depth (maxval 65535, big-endian).
// Needs Qt Gui (QImage) but no display.
#ifndef KWHOST_IMAGEWRITER_H
#define KWHOST_IMAGEWRITER_H

#include <QtCore/QString>

#include "kwhost/pixellayout.h"

namespace kwhost {

// A frame's pixels, rows packed without padding, samples as the camera sent
// them (16-bit samples little-endian).
struct FrameImage {
    const unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    PixelLayout layout = PixelLayout::Unknown;
};

// File names as printf reads them with one number: %d or %0Nd is the frame
// number (zero-padded to N digits), %% a '%'; any other '%' is refused.
// Why a file name cannot work (unknown extension, several placeholders, a
// stray '%'), or empty.
QString checkSavePath(const QString& path);
// Why frames of this layout cannot be saved under this (checked) name: its
// folder is missing or not writable, or its format cannot hold the layout
// (an Unknown layout passes that part). Empty when they can.
QString checkDestination(const QString& path, PixelLayout layout);
// True when the name holds %d or %0Nd: every frame gets a file of its own.
bool savesEveryFrame(const QString& path);
// The name with the frame number in place of %d / %0Nd and '%' for %%.
QString framePath(const QString& path, quint64 frameNumber);

// Writes the frame in the format the file's extension names. Grey frames go
// to .pgm, colour frames to .ppm; the fourth byte of 32-bit pixels is not
// written. pngLevel is the zlib level of PNG files, 0 (fastest) to 9
// (smallest), -1 for Qt's default. Only a regular file is written (a FIFO
// or a device is refused without blocking), and a failed write removes the
// file. Returns the reason on failure, empty on success.
QString writeImage(const QString& path, const FrameImage& frame, int pngLevel = -1);

// An errno value as a host says it: "no space left on the device".
QString describeErrno(int error);

}  // namespace kwhost

#endif  // KWHOST_IMAGEWRITER_H
