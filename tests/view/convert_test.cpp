// The viewer's frame conversion, its triple buffer and its loss counts,
// without a camera: display images, readouts, contrast stretch, demosaic and
// histograms of frames built byte by byte.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include <thread>
#include <vector>

#include "frameconvert.h"
#include "latestframe.h"

using kwhost::PixelLayout;
using kwview::BayerPattern;
using kwview::DisplayOptions;
using kwview::FrameView;

namespace {

FrameView frameOf(const std::vector<unsigned char>& bytes, int width, int height, PixelLayout layout,
                  BayerPattern bayer = BayerPattern::None)
{
    FrameView frame;
    frame.data = bytes.data();
    frame.width = width;
    frame.height = height;
    frame.layout = layout;
    frame.bayer = bayer;
    return frame;
}

void put16(std::vector<unsigned char>* bytes, int value)
{
    bytes->push_back(static_cast<unsigned char>(value & 0xFF));
    bytes->push_back(static_cast<unsigned char>(value >> 8));
}

// A scene of three colour planes sampled through a mosaic: each pixel
// keeps the plane its pattern gives it.
std::vector<unsigned char> mosaic(BayerPattern pattern, int width, int height, int (*plane)(int c, int x, int y))
{
    std::vector<unsigned char> bytes;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            bytes.push_back(static_cast<unsigned char>(plane(kwview::bayerColour(pattern, x, y), x, y)));
    }
    return bytes;
}

int uniformPlane(int c, int, int)
{
    static const int colour[3] = {200, 100, 50};
    return colour[c];
}

// Every channel a different linear ramp: bilinear interpolation restores
// them exactly away from the edges.
int rampPlane(int c, int x, int y)
{
    switch (c) {
    case 0:
        return 10 + 8 * x;
    case 1:
        return 20 + 6 * y;
    default:
        return 30 + 4 * x + 4 * y;
    }
}

}  // namespace

// Two pixels of each layout, the first all zeros; the second must show as
// the colour given.
TEST(ViewConvert, DisplayedPixelMatchesSamples)
{
    struct Row {
        const char* name;
        PixelLayout layout;
        std::vector<unsigned char> pixel;
        QRgb shown;
    };
    const Row rows[] = {
        {"Gray8", PixelLayout::Gray8, {0xAB}, qRgb(0xAB, 0xAB, 0xAB)},
        {"Rgb24", PixelLayout::Rgb24, {0x10, 0x20, 0x30}, qRgb(0x10, 0x20, 0x30)},
        {"Bgr24", PixelLayout::Bgr24, {0x10, 0x20, 0x30}, qRgb(0x30, 0x20, 0x10)},
        {"Rgba32 ignores the fourth byte", PixelLayout::Rgba32, {0x10, 0x20, 0x30, 0x00}, qRgb(0x10, 0x20, 0x30)},
        {"Bgra32", PixelLayout::Bgra32, {0x10, 0x20, 0x30, 0x7F}, qRgb(0x30, 0x20, 0x10)},
        // Wide samples through the full range 0..65535: the high byte,
        // rounded down.
        {"Gray16", PixelLayout::Gray16, {0xFF, 0x80}, qRgb(0x80, 0x80, 0x80)},
        {"Rgb48", PixelLayout::Rgb48, {0x00, 0x10, 0x00, 0x20, 0xFF, 0xFF}, qRgb(0x0F, 0x1F, 0xFF)},
    };
    DisplayOptions options;
    options.autoStretch = false;  // 0..65535
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<unsigned char> bytes(row.pixel.size(), 0);
        bytes.insert(bytes.end(), row.pixel.begin(), row.pixel.end());
        const QImage image = kwview::toDisplayImage(frameOf(bytes, 2, 1, row.layout), options);
        ASSERT_EQ(image.size(), QSize(2, 1));
        EXPECT_EQ(image.pixel(1, 0), row.shown);
        EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    }
}

TEST(ViewConvert, ReadoutNamesRawSamples)
{
    struct Row {
        PixelLayout layout;
        BayerPattern bayer;
        std::vector<unsigned char> pixel;
        const char* readout;
    };
    // (1, 1) of an RG mosaic is blue, of a GR mosaic green, of BG red.
    const Row rows[] = {
        {PixelLayout::Gray8, BayerPattern::None, {0xC8}, "(1, 1)  grey 200"},
        {PixelLayout::Gray16, BayerPattern::None, {0x39, 0x30}, "(1, 1)  grey 12345"},
        {PixelLayout::Rgb24, BayerPattern::None, {1, 2, 3}, "(1, 1)  R 1  G 2  B 3"},
        {PixelLayout::Bgra32, BayerPattern::None, {1, 2, 3, 4}, "(1, 1)  R 3  G 2  B 1"},
        {PixelLayout::Rgb48, BayerPattern::None, {1, 0, 0, 1, 0xFF, 0xFF}, "(1, 1)  R 1  G 256  B 65535"},
        {PixelLayout::Gray8, BayerPattern::RG, {0x60}, "(1, 1)  Bayer B 96"},
        {PixelLayout::Gray8, BayerPattern::GR, {0x60}, "(1, 1)  Bayer G 96"},
        {PixelLayout::Gray8, BayerPattern::BG, {0x60}, "(1, 1)  Bayer R 96"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.readout);
        // A 2x2 frame of zeros with the pixel at (1, 1).
        std::vector<unsigned char> bytes(row.pixel.size() * 3, 0);
        bytes.insert(bytes.end(), row.pixel.begin(), row.pixel.end());
        const FrameView frame = frameOf(bytes, 2, 2, row.layout, row.bayer);
        EXPECT_EQ(kwview::pixelReadout(frame, 1, 1), QString::fromUtf8(row.readout));
        EXPECT_TRUE(kwview::pixelReadout(frame, 2, 1).isEmpty());
        EXPECT_TRUE(kwview::pixelReadout(frame, 0, -1).isEmpty());
    }
}

TEST(ViewConvert, WideFramesAreStretched)
{
    struct Row {
        const char* name;
        bool automatic;
        int low, high;
        std::vector<int> samples;
        std::vector<int> shown;
    };
    const Row rows[] = {
        // Automatic: the frame's own range onto 0..255.
        {"automatic", true, 0, 0, {1000, 2000, 3000}, {0, 127, 255}},
        // Fixed: clamped outside the range.
        {"fixed", false, 1000, 1510, {0, 1255, 60000}, {0, 127, 255}},
        // A flat frame neither divides by zero nor goes black: the full
        // scale.
        {"flat frame", true, 0, 0, {30000, 30000}, {116, 116}},
        {"inverted fixed range is made valid", false, 500, 100, {499, 500, 501}, {0, 0, 255}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<unsigned char> bytes;
        for (int v : row.samples)
            put16(&bytes, v);
        DisplayOptions options;
        options.autoStretch = row.automatic;
        options.low = row.low;
        options.high = row.high;
        const int width = static_cast<int>(row.samples.size());
        const QImage image = kwview::toDisplayImage(frameOf(bytes, width, 1, PixelLayout::Gray16), options);
        ASSERT_EQ(image.format(), QImage::Format_Grayscale8);
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(qGray(image.pixel(x, 0)), row.shown[static_cast<size_t>(x)]) << "sample " << x;
    }
}

TEST(ViewConvert, DemosaicRestoresUniformColourForEveryPattern)
{
    for (BayerPattern pattern : {BayerPattern::RG, BayerPattern::GR, BayerPattern::GB, BayerPattern::BG}) {
        SCOPED_TRACE(static_cast<int>(pattern));
        // Odd sizes: the mirrored edges must keep each pattern's parity.
        const std::vector<unsigned char> bytes = mosaic(pattern, 7, 5, uniformPlane);
        const QImage image =
            kwview::toDisplayImage(frameOf(bytes, 7, 5, PixelLayout::Gray8, pattern), DisplayOptions());
        ASSERT_EQ(image.size(), QSize(7, 5));
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 7; ++x)
                ASSERT_EQ(image.pixel(x, y), qRgb(200, 100, 50)) << "at (" << x << ", " << y << ")";
        }
    }
}

TEST(ViewConvert, DemosaicInterpolatesRampsExactly)
{
    const int w = 10;
    const int h = 8;
    const std::vector<unsigned char> bytes = mosaic(BayerPattern::RG, w, h, rampPlane);
    const QImage image = kwview::demosaicBilinear(frameOf(bytes, w, h, PixelLayout::Gray8, BayerPattern::RG));
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            const QRgb shown = image.pixel(x, y);
            ASSERT_EQ(qRed(shown), rampPlane(0, x, y)) << "at (" << x << ", " << y << ")";
            ASSERT_EQ(qGreen(shown), rampPlane(1, x, y)) << "at (" << x << ", " << y << ")";
            ASSERT_EQ(qBlue(shown), rampPlane(2, x, y)) << "at (" << x << ", " << y << ")";
        }
    }
}

TEST(ViewConvert, RawMosaicStaysGrey)
{
    const std::vector<unsigned char> bytes = mosaic(BayerPattern::RG, 4, 4, uniformPlane);
    DisplayOptions options;
    options.demosaic = false;
    const QImage image = kwview::toDisplayImage(frameOf(bytes, 4, 4, PixelLayout::Gray8, BayerPattern::RG), options);
    EXPECT_EQ(image.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(qGray(image.pixel(0, 0)), 200);
    EXPECT_EQ(qGray(image.pixel(1, 0)), 100);
    EXPECT_EQ(qGray(image.pixel(1, 1)), 50);
}

TEST(ViewConvert, HistogramCountsEachChannel)
{
    // Grey: one channel, a bin per value.
    const std::vector<unsigned char> grey = {0, 5, 5, 255};
    kwview::Histogram histogram = kwview::computeHistogram(frameOf(grey, 2, 2, PixelLayout::Gray8));
    EXPECT_EQ(histogram.channels, 1);
    EXPECT_EQ(histogram.bins[0][5], 2u);
    EXPECT_EQ(histogram.bins[0][255], 1u);
    EXPECT_EQ(histogram.peak(), 2u);

    // Bayer: each colour from its own pixels (an RG 4x4 has 4 red, 8 green,
    // 4 blue).
    const std::vector<unsigned char> bayer = mosaic(BayerPattern::RG, 4, 4, uniformPlane);
    histogram = kwview::computeHistogram(frameOf(bayer, 4, 4, PixelLayout::Gray8, BayerPattern::RG));
    EXPECT_EQ(histogram.channels, 3);
    EXPECT_EQ(histogram.bins[0][200], 4u);
    EXPECT_EQ(histogram.bins[1][100], 8u);
    EXPECT_EQ(histogram.bins[2][50], 4u);
    EXPECT_EQ(histogram.bins[0][100], 0u);

    // Wide samples: 256 bins over 0..65535, each the sample's high byte.
    std::vector<unsigned char> wide;
    put16(&wide, 0x01FF);
    put16(&wide, 0xFF00);
    histogram = kwview::computeHistogram(frameOf(wide, 2, 1, PixelLayout::Gray16));
    EXPECT_EQ(histogram.maxValue, 65535);
    EXPECT_EQ(histogram.bins[0][0x01], 1u);
    EXPECT_EQ(histogram.bins[0][0xFF], 1u);
    // BGR channels land in the right colour.
    const std::vector<unsigned char> bgr = {1, 2, 3};
    histogram = kwview::computeHistogram(frameOf(bgr, 1, 1, PixelLayout::Bgr24));
    EXPECT_EQ(histogram.bins[0][3], 1u);
    EXPECT_EQ(histogram.bins[2][1], 1u);
}

TEST(ViewConvert, InvalidFramesGiveNothing)
{
    const std::vector<unsigned char> bytes(16, 0);
    const FrameView frames[] = {frameOf(bytes, 0, 4, PixelLayout::Gray8), frameOf(bytes, 4, 4, PixelLayout::Unknown),
                                FrameView()};
    for (const FrameView& frame : frames) {
        EXPECT_TRUE(kwview::toDisplayImage(frame, DisplayOptions()).isNull());
        EXPECT_EQ(kwview::computeHistogram(frame).channels, 0);
        EXPECT_TRUE(kwview::pixelReadout(frame, 0, 0).isEmpty());
    }
}

TEST(ViewTripleBuffer, HandsOverNewestFrame)
{
    kwview::LatestFrame latest;
    EXPECT_EQ(latest.takeNewest(), nullptr);
    for (quint64 sequence = 1; sequence <= 2; ++sequence) {
        latest.back().sequence = sequence;
        latest.publish();
        EXPECT_TRUE(latest.pending());
    }
    const kwview::FrameSlot* slot = latest.takeNewest();
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->sequence, 2u);
    EXPECT_FALSE(latest.pending());
    EXPECT_EQ(latest.takeNewest(), nullptr);
    // The slot taken stays the reader's while the writer goes on.
    for (quint64 sequence = 3; sequence <= 6; ++sequence) {
        latest.back().sequence = sequence;
        latest.publish();
    }
    EXPECT_EQ(slot->sequence, 2u);
    EXPECT_EQ(latest.takeNewest()->sequence, 6u);
}

TEST(ViewTripleBuffer, NeverTearsAFrame)
{
    // The writer fills every byte of a slot with its sequence; a slot the
    // reader sees with mixed bytes, or a sequence going back, is a fault.
    kwview::LatestFrame latest;
    const quint64 frames = 20000;
    std::thread writer([&latest]() {
        for (quint64 sequence = 1; sequence <= frames; ++sequence) {
            kwview::FrameSlot& slot = latest.back();
            slot.bytes.assign(4096, static_cast<unsigned char>(sequence));
            slot.sequence = sequence;
            latest.publish();
        }
    });
    quint64 last = 0;
    bool torn = false;
    bool backwards = false;
    while (last < frames && !torn && !backwards) {
        const kwview::FrameSlot* slot = latest.takeNewest();
        if (slot == nullptr) {
            std::this_thread::yield();
            continue;
        }
        backwards = slot->sequence <= last;
        for (unsigned char b : slot->bytes)
            torn = torn || b != static_cast<unsigned char>(slot->sequence);
        last = slot->sequence;
    }
    writer.join();
    EXPECT_FALSE(torn);
    EXPECT_FALSE(backwards);
    EXPECT_EQ(last, frames);
}
