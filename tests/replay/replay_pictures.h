// Pictures the replay tests write: known samples in the formats the
// stand-in reads, into a temporary folder of the test's own.
#ifndef KWCAM_TESTS_REPLAY_PICTURES_H
#define KWCAM_TESTS_REPLAY_PICTURES_H

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

#include <string>

namespace replaytest {

enum class Kind { Grey8, Grey16, Rgb8, Rgba8, Rgb16 };

inline unsigned channels(Kind k)
{
    return k == Kind::Grey8 || k == Kind::Grey16 ? 1 : (k == Kind::Rgba8 ? 4 : 3);
}
inline bool wide(Kind k)
{
    return k == Kind::Grey16 || k == Kind::Rgb16;
}

// Sample c of pixel (x, y) of picture `seed`: spread over the whole range,
// different in every channel, low and high bytes unlike each other.
inline unsigned sampleOf(Kind k, unsigned seed, unsigned x, unsigned y, unsigned c)
{
    const unsigned v = (x * 4099u + y * 769u + c * 16411u + seed * 7919u + 13u) & 0xFFFFu;
    return wide(k) ? v : (v ^ (v >> 8)) & 0xFFu;
}

// A picture as Qt holds it; 16-bit kinds in Qt's 16-bit formats.
inline QImage makeImage(Kind k, unsigned seed, int w, int h)
{
    switch (k) {
    case Kind::Grey8: {
        QImage img(w, h, QImage::Format_Grayscale8);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.scanLine(y)[x] = static_cast<uchar>(sampleOf(k, seed, x, y, 0));
        return img;
    }
    case Kind::Grey16: {
        QImage img(w, h, QImage::Format_Grayscale16);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                reinterpret_cast<quint16*>(img.scanLine(y))[x] = static_cast<quint16>(sampleOf(k, seed, x, y, 0));
        return img;
    }
    case Kind::Rgb8:
    case Kind::Rgba8: {
        QImage img(w, h, k == Kind::Rgba8 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                reinterpret_cast<QRgb*>(img.scanLine(y))[x] =
                    qRgba(sampleOf(k, seed, x, y, 0), sampleOf(k, seed, x, y, 1), sampleOf(k, seed, x, y, 2),
                          k == Kind::Rgba8 ? sampleOf(k, seed, x, y, 3) : 255);
        return img;
    }
    case Kind::Rgb16: {
        QImage img(w, h, QImage::Format_RGBX64);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                reinterpret_cast<QRgba64*>(img.scanLine(y))[x] = QRgba64::fromRgba64(
                    sampleOf(k, seed, x, y, 0), sampleOf(k, seed, x, y, 1), sampleOf(k, seed, x, y, 2), 0xFFFF);
        return img;
    }
    }
    return QImage();
}

// A PGM or PPM with the samples as they are (plain when `plain`), 16-bit
// samples with the given maximum value.
inline bool writeNetpbm(const QString& path, Kind k, unsigned seed, int w, int h, bool plain, unsigned maxValue = 0)
{
    const unsigned n = channels(k);
    if (maxValue == 0)
        maxValue = wide(k) ? 65535 : 255;
    QByteArray out = QByteArray(plain ? (n == 1 ? "P2" : "P3") : (n == 1 ? "P5" : "P6")) + "\n# written by a test\n" +
        QByteArray::number(w) + " " + QByteArray::number(h) + "\n" + QByteArray::number(maxValue) + "\n";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (unsigned c = 0; c < n; ++c) {
                const unsigned v = sampleOf(k, seed, x, y, c) % (maxValue + 1);
                if (plain) {
                    out += QByteArray::number(v) + ' ';
                } else if (maxValue > 255) {
                    out += static_cast<char>(v >> 8);
                    out += static_cast<char>(v & 0xFF);
                } else {
                    out += static_cast<char>(v);
                }
            }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace replaytest

#endif  // KWCAM_TESTS_REPLAY_PICTURES_H
