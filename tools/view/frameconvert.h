// From a frame's bytes to what the viewer shows: the display image, the
// histogram and the readout of one pixel. Free of widgets (QImage only), so
// that tests and benchmarks call it directly.
//
// Samples are read as the camera sent them: rows packed without padding,
// 16-bit samples little-endian. A Bayer frame is a grey mosaic whose pixels
// each carry one colour, in the order its pattern names for the top-left 2x2
// cell.
#ifndef KWVIEW_FRAMECONVERT_H
#define KWVIEW_FRAMECONVERT_H

#include <QtCore/QString>
#include <QtGui/QImage>

#include <vector>

#include "kwhost/pixellayout.h"

namespace kwview {

enum class BayerPattern { None, RG, GR, GB, BG };

// The mosaic a device pixel type carries (GigE Vision coding), None for the
// others.
BayerPattern bayerPatternOfDeviceType(unsigned int pixelType);
// Colour of mosaic pixel (x, y): 0 red, 1 green, 2 blue.
int bayerColour(BayerPattern pattern, int x, int y);

// One frame as the viewer reads it; the bytes are not owned.
struct FrameView {
    const unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    kwhost::PixelLayout layout = kwhost::PixelLayout::Unknown;
    BayerPattern bayer = BayerPattern::None;  // with Gray8 only

    bool valid() const;
    qsizetype byteCount() const;
    // Sample of channel c (0 red or grey, 1 green, 2 blue) of pixel (x, y).
    int sample(int x, int y, int c) const;
};

// How to show a frame. Wide samples (16 bits) are stretched linearly from
// [low, high] onto 0..255; automatic takes the frame's own range.
struct DisplayOptions {
    bool autoStretch = true;
    int low = 0;
    int high = 65535;
    bool demosaic = true;  // Bayer frames in colour, else the raw mosaic in grey
};

// The range a wide frame is stretched from: the options' fixed one, or the
// frame's smallest and largest sample (over every channel).
void stretchRange(const FrameView& frame, const DisplayOptions& options, int* low, int* high);

// The display image: Format_Grayscale8 for grey frames and raw mosaics,
// Format_RGB888 for colour. A null image for an invalid frame.
QImage toDisplayImage(const FrameView& frame, const DisplayOptions& options);

// Bilinear demosaic of an 8-bit mosaic into RGB888: every missing colour is
// the mean of the nearest pixels that carry it (2 or 4 neighbours), edges
// mirrored.
QImage demosaicBilinear(const FrameView& frame);

// Sample counts per channel (1 for grey, 3 for colour and Bayer, each Bayer
// colour from its own pixels), 256 bins each; wide samples fall into bins
// of 256 values.
struct Histogram {
    int channels = 0;
    int maxValue = 255;  // largest sample value: 255 or 65535
    std::vector<quint32> bins[3];
    quint32 peak() const;  // largest count in any bin
};
Histogram computeHistogram(const FrameView& frame);

// The raw sample under the cursor, as an engineer reads it:
// "x 12 y 40  grey 173", "R 10 G 20 B 30", "Bayer G 96" and so on; empty
// outside the frame.
QString pixelReadout(const FrameView& frame, int x, int y);

}  // namespace kwview

#endif  // KWVIEW_FRAMECONVERT_H
