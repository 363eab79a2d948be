#include "frameconvert.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kwview {

using kwhost::PixelLayout;

namespace {

// GigE Vision codes of the 8-bit mosaics.
struct BayerRow {
    unsigned int type;
    BayerPattern pattern;
};
const BayerRow kBayerTypes[] = {
    {0x01080008u, BayerPattern::GR},
    {0x01080009u, BayerPattern::RG},
    {0x0108000Au, BayerPattern::GB},
    {0x0108000Bu, BayerPattern::BG},
};

// A neighbour's index across an edge, mirrored about the edge pixel so that
// it keeps the mosaic's parity.
int mirrored(int i, int n)
{
    if (n == 1)
        return 0;
    if (i < 0)
        return -i;
    if (i >= n)
        return 2 * n - 2 - i;
    return i;
}

// Wide samples mapped onto 0..255 through [low, high]; one table per frame
// costs less than a division per sample.
std::vector<unsigned char> stretchTable(int low, int high)
{
    std::vector<unsigned char> table(65536);
    const int span = std::max(1, high - low);
    for (int v = 0; v < 65536; ++v) {
        const int clamped = std::min(std::max(v, low), low + span);
        table[static_cast<size_t>(v)] = static_cast<unsigned char>((clamped - low) * 255 / span);
    }
    return table;
}

const char* const kColourNames[3] = {"R", "G", "B"};

}  // namespace

BayerPattern bayerPatternOfDeviceType(unsigned int pixelType)
{
    for (const BayerRow& row : kBayerTypes) {
        if (row.type == pixelType)
            return row.pattern;
    }
    return BayerPattern::None;
}

int bayerColour(BayerPattern pattern, int x, int y)
{
    // Colours of the top-left 2x2 cell, row by row.
    static const std::array<std::array<int, 4>, 5> cells = {{
        {{1, 1, 1, 1}},  // None: no mosaic
        {{0, 1, 1, 2}},  // RG
        {{1, 0, 2, 1}},  // GR
        {{1, 2, 0, 1}},  // GB
        {{2, 1, 1, 0}},  // BG
    }};
    return cells[static_cast<size_t>(pattern)][static_cast<size_t>((y & 1) * 2 + (x & 1))];
}

bool FrameView::valid() const
{
    return data != nullptr && width > 0 && height > 0 && kwhost::bytesPerPixel(layout) > 0;
}

qsizetype FrameView::byteCount() const
{
    return valid() ? static_cast<qsizetype>(width) * height * kwhost::bytesPerPixel(layout) : 0;
}

int FrameView::sample(int x, int y, int c) const
{
    const int bpp = kwhost::bytesPerPixel(layout);
    const unsigned char* p = data + (static_cast<qsizetype>(y) * width + x) * bpp + kwhost::channelOffset(layout, c);
    return kwhost::hasWideSamples(layout) ? p[0] | (p[1] << 8) : p[0];
}

void stretchRange(const FrameView& frame, const DisplayOptions& options, int* low, int* high)
{
    if (!kwhost::hasWideSamples(frame.layout)) {
        *low = 0;
        *high = 255;
        return;
    }
    if (!options.autoStretch) {
        *low = std::max(0, std::min(options.low, 65534));
        *high = std::max(*low + 1, std::min(options.high, 65535));
        return;
    }
    const qsizetype samples = frame.byteCount() / 2;
    int lo = 65535;
    int hi = 0;
    // Every sample of every channel: for RGB48 the three share one range, so
    // that the colours keep their balance.
    for (qsizetype i = 0; i < samples; ++i) {
        const int v = frame.data[2 * i] | (frame.data[2 * i + 1] << 8);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    if (samples == 0 || hi <= lo) {
        // A flat frame has no range to stretch: it is shown at its level on
        // the full scale rather than all black.
        lo = 0;
        hi = 65535;
    }
    *low = lo;
    *high = hi;
}

QImage demosaicBilinear(const FrameView& frame)
{
    if (!frame.valid() || frame.layout != PixelLayout::Gray8)
        return QImage();
    const int w = frame.width;
    const int h = frame.height;
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        const unsigned char* up = frame.data + static_cast<qsizetype>(mirrored(y - 1, h)) * w;
        const unsigned char* row = frame.data + static_cast<qsizetype>(y) * w;
        const unsigned char* down = frame.data + static_cast<qsizetype>(mirrored(y + 1, h)) * w;
        unsigned char* out = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int left = mirrored(x - 1, w);
            const int right = mirrored(x + 1, w);
            const int own = bayerColour(frame.bayer, x, y);
            const int across = row[left] + row[right];  // the row's other colour
            const int along = up[x] + down[x];          // the column's other colour
            const int diagonal = up[left] + up[right] + down[left] + down[right];
            int rgb[3] = {0, 0, 0};
            if (own == 1) {
                // Green: the row neighbours carry one of red and blue, the
                // column neighbours the other (none in a frame one pixel
                // wide).
                const int rowColour = bayerColour(frame.bayer, right, y);
                if (rowColour != 1) {
                    rgb[rowColour] = (across + 1) / 2;
                    rgb[2 - rowColour] = (along + 1) / 2;
                }
                rgb[1] = row[x];
            } else {
                // Red or blue: green on the four sides, the other on the
                // four corners.
                rgb[own] = row[x];
                rgb[1] = (across + along + 2) / 4;
                rgb[2 - own] = (diagonal + 2) / 4;
            }
            out[3 * x] = static_cast<unsigned char>(rgb[0]);
            out[3 * x + 1] = static_cast<unsigned char>(rgb[1]);
            out[3 * x + 2] = static_cast<unsigned char>(rgb[2]);
        }
    }
    return image;
}

QImage toDisplayImage(const FrameView& frame, const DisplayOptions& options)
{
    if (!frame.valid())
        return QImage();
    const int w = frame.width;
    const int h = frame.height;
    const int bpp = kwhost::bytesPerPixel(frame.layout);
    const qsizetype rowBytes = static_cast<qsizetype>(w) * bpp;

    switch (frame.layout) {
    case PixelLayout::Gray8: {
        if (frame.bayer != BayerPattern::None && options.demosaic)
            return demosaicBilinear(frame);
        QImage image(w, h, QImage::Format_Grayscale8);
        for (int y = 0; y < h; ++y)
            memcpy(image.scanLine(y), frame.data + y * rowBytes, static_cast<size_t>(w));
        return image;
    }
    case PixelLayout::Rgb24: {
        QImage image(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; ++y)
            memcpy(image.scanLine(y), frame.data + y * rowBytes, static_cast<size_t>(rowBytes));
        return image;
    }
    case PixelLayout::Gray16:
    case PixelLayout::Rgb48: {
        int low = 0;
        int high = 0;
        stretchRange(frame, options, &low, &high);
        const std::vector<unsigned char> table = stretchTable(low, high);
        const int channels = kwhost::channelCount(frame.layout);
        QImage image(w, h, channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        for (int y = 0; y < h; ++y) {
            const unsigned char* in = frame.data + y * rowBytes;
            unsigned char* out = image.scanLine(y);
            for (int i = 0; i < w * channels; ++i)
                out[i] = table[static_cast<size_t>(in[2 * i] | (in[2 * i + 1] << 8))];
        }
        return image;
    }
    case PixelLayout::Bgr24:
    case PixelLayout::Rgba32:
    case PixelLayout::Bgra32: {
        const int r = kwhost::channelOffset(frame.layout, 0);
        const int g = kwhost::channelOffset(frame.layout, 1);
        const int b = kwhost::channelOffset(frame.layout, 2);
        QImage image(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; ++y) {
            const unsigned char* in = frame.data + y * rowBytes;
            unsigned char* out = image.scanLine(y);
            for (int x = 0; x < w; ++x, in += bpp, out += 3) {
                out[0] = in[r];
                out[1] = in[g];
                out[2] = in[b];
            }
        }
        return image;
    }
    case PixelLayout::Unknown:
        break;
    }
    return QImage();
}

quint32 Histogram::peak() const
{
    quint32 most = 0;
    for (int c = 0; c < channels; ++c) {
        for (quint32 n : bins[c])
            most = std::max(most, n);
    }
    return most;
}

Histogram computeHistogram(const FrameView& frame)
{
    Histogram histogram;
    if (!frame.valid())
        return histogram;
    const bool mosaic = frame.layout == PixelLayout::Gray8 && frame.bayer != BayerPattern::None;
    histogram.channels = mosaic ? 3 : kwhost::channelCount(frame.layout);
    const bool wide = kwhost::hasWideSamples(frame.layout);
    histogram.maxValue = wide ? 65535 : 255;
    for (int c = 0; c < histogram.channels; ++c)
        histogram.bins[c].assign(256, 0);

    if (mosaic) {
        for (int y = 0; y < frame.height; ++y) {
            const unsigned char* row = frame.data + static_cast<qsizetype>(y) * frame.width;
            for (int x = 0; x < frame.width; ++x)
                ++histogram.bins[bayerColour(frame.bayer, x, y)][row[x]];
        }
        return histogram;
    }
    const int bpp = kwhost::bytesPerPixel(frame.layout);
    const qsizetype pixels = static_cast<qsizetype>(frame.width) * frame.height;
    for (int c = 0; c < histogram.channels; ++c) {
        const unsigned char* p = frame.data + kwhost::channelOffset(frame.layout, c);
        std::vector<quint32>& bins = histogram.bins[c];
        // A wide sample's high byte is its bin.
        const int binByte = wide ? 1 : 0;
        for (qsizetype i = 0; i < pixels; ++i, p += bpp)
            ++bins[p[binByte]];
    }
    return histogram;
}

QString pixelReadout(const FrameView& frame, int x, int y)
{
    if (!frame.valid() || x < 0 || y < 0 || x >= frame.width || y >= frame.height)
        return QString();
    QString text = QStringLiteral("(%1, %2)  ").arg(x).arg(y);
    if (frame.layout == PixelLayout::Gray8 && frame.bayer != BayerPattern::None)
        return text +
            QStringLiteral("Bayer %1 %2")
                .arg(QLatin1String(kColourNames[bayerColour(frame.bayer, x, y)]))
                .arg(frame.sample(x, y, 0));
    if (kwhost::channelCount(frame.layout) == 1)
        return text + QStringLiteral("grey %1").arg(frame.sample(x, y, 0));
    return text +
        QStringLiteral("R %1  G %2  B %3")
            .arg(frame.sample(x, y, 0))
            .arg(frame.sample(x, y, 1))
            .arg(frame.sample(x, y, 2));
}

}  // namespace kwview
