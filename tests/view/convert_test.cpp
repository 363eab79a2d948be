// The viewer's frame conversion and its triple buffer, without a camera:
// display images, readouts, contrast stretch, demosaic and histograms of
// frames built byte by byte.
#include <QtTest/QtTest>

#include <atomic>
#include <thread>
#include <vector>

#include "frameconvert.h"
#include "latestframe.h"
#include "lostframes.h"

using kwhost::PixelLayout;
using kwview::BayerPattern;
using kwview::DisplayOptions;
using kwview::FrameView;

Q_DECLARE_METATYPE(PixelLayout)
Q_DECLARE_METATYPE(BayerPattern)

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

}  // namespace

class ConvertTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void displayedPixelMatchesSamples_data();
    void displayedPixelMatchesSamples();
    void readoutNamesRawSamples_data();
    void readoutNamesRawSamples();
    void wideFramesAreStretched_data();
    void wideFramesAreStretched();
    void demosaicRestoresUniformColour_data();
    void demosaicRestoresUniformColour();
    void demosaicInterpolatesRampsExactly();
    void rawMosaicStaysGrey();
    void histogramCountsEachChannel();
    void invalidFramesGiveNothing();
    void tripleBufferHandsOverNewestFrame();
    void tripleBufferNeverTearsAFrame();
    void lostFramesCountSinceOpenByFate();
};

// Two pixels of each layout; the second one is checked against the colour
// the display must show.
void ConvertTest::displayedPixelMatchesSamples_data()
{
    QTest::addColumn<PixelLayout>("layout");
    QTest::addColumn<QByteArray>("secondPixel");
    QTest::addColumn<QRgb>("shown");
    QTest::newRow("Gray8") << PixelLayout::Gray8 << QByteArray("\xAB", 1) << qRgb(0xAB, 0xAB, 0xAB);
    QTest::newRow("Rgb24") << PixelLayout::Rgb24 << QByteArray("\x10\x20\x30", 3) << qRgb(0x10, 0x20, 0x30);
    QTest::newRow("Bgr24") << PixelLayout::Bgr24 << QByteArray("\x10\x20\x30", 3) << qRgb(0x30, 0x20, 0x10);
    QTest::newRow("Rgba32 ignores the fourth byte")
        << PixelLayout::Rgba32 << QByteArray("\x10\x20\x30\x00", 4) << qRgb(0x10, 0x20, 0x30);
    QTest::newRow("Bgra32") << PixelLayout::Bgra32 << QByteArray("\x10\x20\x30\x7F", 4) << qRgb(0x30, 0x20, 0x10);
    // Wide samples through the full range 0..65535: the high byte, rounded
    // down.
    QTest::newRow("Gray16") << PixelLayout::Gray16 << QByteArray("\xFF\x80", 2) << qRgb(0x80, 0x80, 0x80);
    QTest::newRow("Rgb48") << PixelLayout::Rgb48 << QByteArray("\x00\x10\x00\x20\xFF\xFF", 6)
                           << qRgb(0x0F, 0x1F, 0xFF);
}

void ConvertTest::displayedPixelMatchesSamples()
{
    QFETCH(PixelLayout, layout);
    QFETCH(QByteArray, secondPixel);
    QFETCH(QRgb, shown);
    std::vector<unsigned char> bytes(static_cast<size_t>(secondPixel.size()), 0);
    bytes.insert(bytes.end(), secondPixel.begin(), secondPixel.end());
    DisplayOptions options;
    options.autoStretch = false;  // 0..65535
    const QImage image = kwview::toDisplayImage(frameOf(bytes, 2, 1, layout), options);
    QCOMPARE(image.size(), QSize(2, 1));
    QCOMPARE(image.pixel(1, 0), shown);
    QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 0));
}

void ConvertTest::readoutNamesRawSamples_data()
{
    QTest::addColumn<PixelLayout>("layout");
    QTest::addColumn<BayerPattern>("bayer");
    QTest::addColumn<QByteArray>("pixel");
    QTest::addColumn<QString>("readout");
    QTest::newRow("grey 8") << PixelLayout::Gray8 << BayerPattern::None << QByteArray("\xC8", 1)
                            << QStringLiteral("(1, 1)  grey 200");
    QTest::newRow("grey 16") << PixelLayout::Gray16 << BayerPattern::None << QByteArray("\x39\x30", 2)
                             << QStringLiteral("(1, 1)  grey 12345");
    QTest::newRow("RGB") << PixelLayout::Rgb24 << BayerPattern::None << QByteArray("\x01\x02\x03", 3)
                         << QStringLiteral("(1, 1)  R 1  G 2  B 3");
    QTest::newRow("BGRA") << PixelLayout::Bgra32 << BayerPattern::None << QByteArray("\x01\x02\x03\x04", 4)
                          << QStringLiteral("(1, 1)  R 3  G 2  B 1");
    QTest::newRow("RGB 48") << PixelLayout::Rgb48 << BayerPattern::None
                            << QByteArray("\x01\x00\x00\x01\xFF\xFF", 6)
                            << QStringLiteral("(1, 1)  R 1  G 256  B 65535");
    // (1, 1) of an RG mosaic is blue, of a GR mosaic green, of BG red.
    QTest::newRow("Bayer RG") << PixelLayout::Gray8 << BayerPattern::RG << QByteArray("\x60", 1)
                              << QStringLiteral("(1, 1)  Bayer B 96");
    QTest::newRow("Bayer GR") << PixelLayout::Gray8 << BayerPattern::GR << QByteArray("\x60", 1)
                              << QStringLiteral("(1, 1)  Bayer G 96");
    QTest::newRow("Bayer BG") << PixelLayout::Gray8 << BayerPattern::BG << QByteArray("\x60", 1)
                              << QStringLiteral("(1, 1)  Bayer R 96");
}

void ConvertTest::readoutNamesRawSamples()
{
    QFETCH(PixelLayout, layout);
    QFETCH(BayerPattern, bayer);
    QFETCH(QByteArray, pixel);
    QFETCH(QString, readout);
    // A 2x2 frame of zeros with the pixel at (1, 1).
    std::vector<unsigned char> bytes(static_cast<size_t>(pixel.size()) * 3, 0);
    bytes.insert(bytes.end(), pixel.begin(), pixel.end());
    const FrameView frame = frameOf(bytes, 2, 2, layout, bayer);
    QCOMPARE(kwview::pixelReadout(frame, 1, 1), readout);
    QVERIFY(kwview::pixelReadout(frame, 2, 1).isEmpty());
    QVERIFY(kwview::pixelReadout(frame, 0, -1).isEmpty());
}

void ConvertTest::wideFramesAreStretched_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<QList<int>>("samples");
    QTest::addColumn<QList<int>>("shown");
    // Automatic: the frame's own range onto 0..255.
    QTest::newRow("automatic") << true << 0 << 0 << QList<int>{1000, 2000, 3000} << QList<int>{0, 127, 255};
    // Fixed: clamped outside the range.
    QTest::newRow("fixed") << false << 1000 << 1510 << QList<int>{0, 1255, 60000} << QList<int>{0, 127, 255};
    // A flat frame neither divides by zero nor goes black: the full scale.
    QTest::newRow("flat frame") << true << 0 << 0 << QList<int>{30000, 30000} << QList<int>{116, 116};
    QTest::newRow("inverted fixed range is made valid")
        << false << 500 << 100 << QList<int>{499, 500, 501} << QList<int>{0, 0, 255};
}

void ConvertTest::wideFramesAreStretched()
{
    QFETCH(bool, automatic);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(QList<int>, samples);
    QFETCH(QList<int>, shown);
    std::vector<unsigned char> bytes;
    for (int v : samples)
        put16(&bytes, v);
    DisplayOptions options;
    options.autoStretch = automatic;
    options.low = low;
    options.high = high;
    const QImage image = kwview::toDisplayImage(frameOf(bytes, samples.size(), 1, PixelLayout::Gray16), options);
    QCOMPARE(image.format(), QImage::Format_Grayscale8);
    for (int x = 0; x < samples.size(); ++x)
        QCOMPARE(qGray(image.pixel(x, 0)), shown.at(x));
}

namespace {

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

void ConvertTest::demosaicRestoresUniformColour_data()
{
    QTest::addColumn<BayerPattern>("pattern");
    QTest::newRow("RG") << BayerPattern::RG;
    QTest::newRow("GR") << BayerPattern::GR;
    QTest::newRow("GB") << BayerPattern::GB;
    QTest::newRow("BG") << BayerPattern::BG;
}

void ConvertTest::demosaicRestoresUniformColour()
{
    QFETCH(BayerPattern, pattern);
    // Odd sizes: the mirrored edges must keep each pattern's parity.
    const std::vector<unsigned char> bytes = mosaic(pattern, 7, 5, uniformPlane);
    const QImage image = kwview::toDisplayImage(frameOf(bytes, 7, 5, PixelLayout::Gray8, pattern), DisplayOptions());
    QCOMPARE(image.size(), QSize(7, 5));
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x)
            QCOMPARE(image.pixel(x, y), qRgb(200, 100, 50));
    }
}

void ConvertTest::demosaicInterpolatesRampsExactly()
{
    const int w = 10;
    const int h = 8;
    const std::vector<unsigned char> bytes = mosaic(BayerPattern::RG, w, h, rampPlane);
    const QImage image = kwview::demosaicBilinear(frameOf(bytes, w, h, PixelLayout::Gray8, BayerPattern::RG));
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            const QRgb shown = image.pixel(x, y);
            const QString where = QStringLiteral("at (%1, %2)").arg(x).arg(y);
            QVERIFY2(qRed(shown) == rampPlane(0, x, y), qPrintable(where));
            QVERIFY2(qGreen(shown) == rampPlane(1, x, y), qPrintable(where));
            QVERIFY2(qBlue(shown) == rampPlane(2, x, y), qPrintable(where));
        }
    }
}

void ConvertTest::rawMosaicStaysGrey()
{
    const std::vector<unsigned char> bytes = mosaic(BayerPattern::RG, 4, 4, uniformPlane);
    DisplayOptions options;
    options.demosaic = false;
    const QImage image = kwview::toDisplayImage(frameOf(bytes, 4, 4, PixelLayout::Gray8, BayerPattern::RG), options);
    QCOMPARE(image.format(), QImage::Format_Grayscale8);
    QCOMPARE(qGray(image.pixel(0, 0)), 200);
    QCOMPARE(qGray(image.pixel(1, 0)), 100);
    QCOMPARE(qGray(image.pixel(1, 1)), 50);
}

void ConvertTest::histogramCountsEachChannel()
{
    // Grey: one channel, a bin per value.
    const std::vector<unsigned char> grey = {0, 5, 5, 255};
    kwview::Histogram histogram = kwview::computeHistogram(frameOf(grey, 2, 2, PixelLayout::Gray8));
    QCOMPARE(histogram.channels, 1);
    QCOMPARE(histogram.bins[0][5], 2u);
    QCOMPARE(histogram.bins[0][255], 1u);
    QCOMPARE(histogram.peak(), 2u);

    // Bayer: each colour from its own pixels (an RG 4x4 has 4 red, 8 green,
    // 4 blue).
    const std::vector<unsigned char> bayer = mosaic(BayerPattern::RG, 4, 4, uniformPlane);
    histogram = kwview::computeHistogram(frameOf(bayer, 4, 4, PixelLayout::Gray8, BayerPattern::RG));
    QCOMPARE(histogram.channels, 3);
    QCOMPARE(histogram.bins[0][200], 4u);
    QCOMPARE(histogram.bins[1][100], 8u);
    QCOMPARE(histogram.bins[2][50], 4u);
    QCOMPARE(histogram.bins[0][100], 0u);

    // Wide samples: 256 bins over 0..65535, each the sample's high byte;
    // BGR channels land in the right colour.
    std::vector<unsigned char> wide;
    put16(&wide, 0x01FF);
    put16(&wide, 0xFF00);
    histogram = kwview::computeHistogram(frameOf(wide, 2, 1, PixelLayout::Gray16));
    QCOMPARE(histogram.maxValue, 65535);
    QCOMPARE(histogram.bins[0][0x01], 1u);
    QCOMPARE(histogram.bins[0][0xFF], 1u);
    const std::vector<unsigned char> bgr = {1, 2, 3};
    histogram = kwview::computeHistogram(frameOf(bgr, 1, 1, PixelLayout::Bgr24));
    QCOMPARE(histogram.bins[0][3], 1u);
    QCOMPARE(histogram.bins[2][1], 1u);
}

void ConvertTest::invalidFramesGiveNothing()
{
    const std::vector<unsigned char> bytes(16, 0);
    const FrameView frames[] = {frameOf(bytes, 0, 4, PixelLayout::Gray8), frameOf(bytes, 4, 4, PixelLayout::Unknown),
                                FrameView()};
    for (const FrameView& frame : frames) {
        QVERIFY(kwview::toDisplayImage(frame, DisplayOptions()).isNull());
        QCOMPARE(kwview::computeHistogram(frame).channels, 0);
        QVERIFY(kwview::pixelReadout(frame, 0, 0).isEmpty());
    }
}

void ConvertTest::tripleBufferHandsOverNewestFrame()
{
    kwview::LatestFrame latest;
    QVERIFY(latest.takeNewest() == nullptr);
    for (quint64 sequence = 1; sequence <= 2; ++sequence) {
        latest.back().sequence = sequence;
        latest.publish();
        QVERIFY(latest.pending());
    }
    const kwview::FrameSlot* slot = latest.takeNewest();
    QVERIFY(slot != nullptr);
    QCOMPARE(slot->sequence, quint64(2));
    QVERIFY(!latest.pending());
    QVERIFY(latest.takeNewest() == nullptr);
    // The slot taken stays the reader's while the writer goes on.
    for (quint64 sequence = 3; sequence <= 6; ++sequence) {
        latest.back().sequence = sequence;
        latest.publish();
    }
    QCOMPARE(slot->sequence, quint64(2));
    QCOMPARE(latest.takeNewest()->sequence, quint64(6));
}

void ConvertTest::tripleBufferNeverTearsAFrame()
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
    QVERIFY(!torn);
    QVERIFY(!backwards);
    QCOMPARE(last, frames);
}

void ConvertTest::lostFramesCountSinceOpenByFate()
{
    using kwview::LostFrames;
    LostFrames atOpen;
    atOpen.source = LostFrames::Source::Fates;
    atOpen.byFate = {qMakePair(QStringLiteral("no buffer"), quint64(5)),
                     qMakePair(QStringLiteral("missed trigger"), quint64(1))};
    atOpen.total = 6;
    LostFrames now = atOpen;
    now.byFate[0].second = 15;
    now.byFate[1].second = 3;
    now.total = 18;
    // Counts since the open, each fate on its own; fates without losses are
    // not named.
    QCOMPARE(now.since(atOpen).text(), QStringLiteral("12 (no buffer 10, missed trigger 2)"));
    QCOMPARE(atOpen.since(atOpen).text(), QStringLiteral("0"));
    now.byFate[1].second = 1;
    now.total = 16;
    QCOMPARE(now.since(atOpen).text(), QStringLiteral("10 (no buffer 10)"));
    // Another source than at open (the SDK changed its mind): no difference
    // is taken.
    LostFrames counters;
    counters.source = LostFrames::Source::Counters;
    counters.total = 4;
    QCOMPARE(counters.since(atOpen).text(), QStringLiteral("4"));
    QCOMPARE(LostFrames().text(), QStringLiteral("unknown"));
}

QTEST_GUILESS_MAIN(ConvertTest)
#include "convert_test.moc"
