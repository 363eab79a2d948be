#include "picture.h"

#include "netpbm.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QVector>

#include <cstdlib>
#include <cstring>

namespace mvsim {

namespace {

// A Netpbm header, comments included, fits in this many bytes in practice.
constexpr qint64 headerBytes = 64 * 1024;

bool openFile(QFile& file, std::string* reason)
{
    if (file.open(QIODevice::ReadOnly))
        return true;
    *reason = "cannot read: " + file.errorString().toStdString();
    return false;
}

void put16(unsigned char* at, unsigned value)
{
    at[0] = static_cast<unsigned char>(value & 0xFF);
    at[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

// Palette pictures (also 1-bit ones): grey when every entry is an opaque
// grey, so that a grey BMP or palette PNG replays as the grey it shows.
void fromPalette(const QImage& source, Picture* picture)
{
    const QImage image =
        source.format() == QImage::Format_Indexed8 ? source : source.convertToFormat(QImage::Format_Indexed8);
    const QVector<QRgb> table = image.colorTable();
    bool grey = true;
    bool alpha = false;
    for (QRgb c : table) {
        grey = grey && qRed(c) == qGreen(c) && qGreen(c) == qBlue(c) && qAlpha(c) == 255;
        alpha = alpha || qAlpha(c) != 255;
    }
    picture->kind = grey ? PictureKind::Grey8 : (alpha ? PictureKind::Rgba8 : PictureKind::Rgb8);
    const unsigned channels = channelsOf(picture->kind);
    picture->samples.resize(static_cast<std::size_t>(picture->width) * picture->height * channels);
    unsigned char* out = picture->samples.data();
    for (unsigned y = 0; y < picture->height; ++y) {
        const uchar* row = image.constScanLine(static_cast<int>(y));
        for (unsigned x = 0; x < picture->width; ++x) {
            const QRgb c = row[x] < table.size() ? table[row[x]] : qRgb(0, 0, 0);
            const unsigned char values[4] = {static_cast<unsigned char>(qRed(c)), static_cast<unsigned char>(qGreen(c)),
                                             static_cast<unsigned char>(qBlue(c)),
                                             static_cast<unsigned char>(qAlpha(c))};
            for (unsigned ch = 0; ch < channels; ++ch)
                *out++ = values[ch];
        }
    }
}

void fromImage(const QImage& image, Picture* picture)
{
    picture->width = static_cast<unsigned>(image.width());
    picture->height = static_cast<unsigned>(image.height());
    const std::size_t pixels = static_cast<std::size_t>(picture->width) * picture->height;
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
        fromPalette(image, picture);
        return;
    case QImage::Format_Grayscale8:
    case QImage::Format_Alpha8:
        picture->kind = PictureKind::Grey8;
        picture->samples.resize(pixels);
        for (unsigned y = 0; y < picture->height; ++y)
            std::copy(image.constScanLine(static_cast<int>(y)),
                      image.constScanLine(static_cast<int>(y)) + picture->width,
                      picture->samples.data() + static_cast<std::size_t>(y) * picture->width);
        return;
#if QT_VERSION >= QT_VERSION_CHECK(5, 13, 0)
    case QImage::Format_Grayscale16:
        picture->kind = PictureKind::Grey16;
        picture->samples.resize(2 * pixels);
        for (unsigned y = 0; y < picture->height; ++y) {
            const auto* row = reinterpret_cast<const quint16*>(image.constScanLine(static_cast<int>(y)));
            unsigned char* out = picture->samples.data() + 2 * static_cast<std::size_t>(y) * picture->width;
            for (unsigned x = 0; x < picture->width; ++x)
                put16(out + 2 * x, row[x]);
        }
        return;
#endif
    default:
        break;
    }
#if QT_VERSION >= QT_VERSION_CHECK(5, 12, 0)
    // More than 8 bits a channel: keep 16.
    if (image.depth() == 64 || image.format() == QImage::Format_BGR30 ||
        image.format() == QImage::Format_A2BGR30_Premultiplied || image.format() == QImage::Format_RGB30 ||
        image.format() == QImage::Format_A2RGB30_Premultiplied) {
        const bool alpha = image.hasAlphaChannel();
        const QImage wide = image.convertToFormat(alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
        picture->kind = alpha ? PictureKind::Rgba16 : PictureKind::Rgb16;
        const unsigned channels = alpha ? 4 : 3;
        picture->samples.resize(2 * channels * pixels);
        unsigned char* out = picture->samples.data();
        for (unsigned y = 0; y < picture->height; ++y) {
            const auto* row = reinterpret_cast<const QRgba64*>(wide.constScanLine(static_cast<int>(y)));
            for (unsigned x = 0; x < picture->width; ++x) {
                const unsigned values[4] = {row[x].red(), row[x].green(), row[x].blue(), row[x].alpha()};
                for (unsigned ch = 0; ch < channels; ++ch, out += 2)
                    put16(out, values[ch]);
            }
        }
        return;
    }
#endif
    const bool alpha = image.hasAlphaChannel();
    const QImage rgb = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    picture->kind = alpha ? PictureKind::Rgba8 : PictureKind::Rgb8;
    const unsigned channels = alpha ? 4 : 3;
    picture->samples.resize(channels * pixels);
    unsigned char* out = picture->samples.data();
    for (unsigned y = 0; y < picture->height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(static_cast<int>(y)));
        for (unsigned x = 0; x < picture->width; ++x) {
            *out++ = static_cast<unsigned char>(qRed(row[x]));
            *out++ = static_cast<unsigned char>(qGreen(row[x]));
            *out++ = static_cast<unsigned char>(qBlue(row[x]));
            if (alpha)
                *out++ = static_cast<unsigned char>(qAlpha(row[x]));
        }
    }
}

std::string readerProblem(const QImageReader& reader)
{
    if (reader.error() == QImageReader::UnsupportedFormatError)
        return "not a picture";
    return "cannot decode: " + reader.errorString().toStdString();
}

// What Qt's reader will hold the decoded picture in, a pixel; 8 bytes (its
// widest formats) when the reader cannot tell before decoding.
unsigned readerBytesPerPixel(const QImageReader& reader)
{
    const QImage::Format format = reader.imageFormat();
    if (format == QImage::Format_Invalid)
        return 8;
    const unsigned bits = QImage::toPixelFormat(format).bitsPerPixel();
    return bits < 8 ? 1 : bits / 8;
}

}  // namespace

std::size_t pictureByteLimit()
{
    constexpr std::size_t defaultMiB = 1024;
    const char* text = std::getenv("MVSIM_REPLAY_MAX_MB");
    if (text == nullptr || *text == '\0')
        return defaultMiB << 20;
    char* end = nullptr;
    const unsigned long long mib = std::strtoull(text, &end, 10);
    // Not a whole number from 1, or more than memory can have: the default.
    if (*end != '\0' || mib < 1 || mib > (std::size_t(-1) >> 21) || std::strchr(text, '-'))
        return defaultMiB << 20;
    return static_cast<std::size_t>(mib) << 20;
}

bool withinPictureLimit(unsigned width, unsigned height, unsigned bytesPerPixel, std::string* reason)
{
    const std::size_t limit = pictureByteLimit();
    const std::size_t bytes = static_cast<std::size_t>(width) * height * bytesPerPixel;
    if (bytes <= limit)
        return true;
    *reason = std::to_string(width) + "x" + std::to_string(height) + " would take " +
        std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB decoded, more than the " + std::to_string(limit >> 20) +
        " MiB a picture may take (MVSIM_REPLAY_MAX_MB)";
    return false;
}

unsigned channelsOf(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Grey8:
    case PictureKind::Grey16:
        return 1;
    case PictureKind::Rgb8:
    case PictureKind::Rgb16:
        return 3;
    case PictureKind::Rgba8:
    case PictureKind::Rgba16:
        return 4;
    }
    return 1;
}

bool isWide(PictureKind kind)
{
    return kind == PictureKind::Grey16 || kind == PictureKind::Rgb16 || kind == PictureKind::Rgba16;
}

const char* kindName(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Grey8:
        return "8-bit grey";
    case PictureKind::Grey16:
        return "16-bit grey";
    case PictureKind::Rgb8:
        return "colour";
    case PictureKind::Rgba8:
        return "colour with alpha";
    case PictureKind::Rgb16:
        return "16-bit colour";
    case PictureKind::Rgba16:
        return "16-bit colour with alpha";
    }
    return "?";
}

unsigned Picture::sample(unsigned x, unsigned y, unsigned channel) const
{
    const unsigned channels = channelsOf(kind);
    const std::size_t index = (static_cast<std::size_t>(y) * width + x) * channels + channel;
    if (isWide(kind))
        return samples[2 * index] | (static_cast<unsigned>(samples[2 * index + 1]) << 8);
    return samples[index];
}

bool probePicture(const std::string& path, unsigned* width, unsigned* height, std::string* reason)
{
    QFile file(QString::fromStdString(path));
    if (!openFile(file, reason))
        return false;
    Picture header;
    std::size_t binaryEnd = 0;
    switch (readNetpbm(file.read(headerBytes), true, &header, reason, &binaryEnd)) {
    case NetpbmRead::Done:
        // A binary file shorter than its samples is refused now; plain
        // files are counted only when decoded.
        if (file.size() < static_cast<qint64>(binaryEnd)) {
            *reason =
                "truncated: " + std::to_string(file.size()) + " bytes, " + std::to_string(binaryEnd) + " expected";
            return false;
        }
        *width = header.width;
        *height = header.height;
        return true;
    case NetpbmRead::Failed:
        return false;
    case NetpbmRead::Other:
        break;
    }
    file.seek(0);
    QImageReader reader(&file);
    if (!reader.canRead()) {
        *reason = readerProblem(reader);
        return false;
    }
    QSize size = reader.size();
    if (size.isValid() &&
        !withinPictureLimit(static_cast<unsigned>(size.width()), static_cast<unsigned>(size.height()),
                            readerBytesPerPixel(reader), reason))
        return false;
    if (!size.isValid()) {
        // The format's reader cannot tell its size without decoding.
        const QImage image = reader.read();
        if (image.isNull()) {
            *reason = readerProblem(reader);
            return false;
        }
        size = image.size();
    }
    *width = static_cast<unsigned>(size.width());
    *height = static_cast<unsigned>(size.height());
    return true;
}

bool decodePicture(const std::string& path, Picture* picture, std::string* reason)
{
    QFile file(QString::fromStdString(path));
    if (!openFile(file, reason))
        return false;
    const QByteArray start = file.read(2);
    if (start.size() == 2 && start[0] == 'P' &&
        (start[1] == '2' || start[1] == '3' || start[1] == '5' || start[1] == '6')) {
        const QByteArray data = start + file.readAll();
        return readNetpbm(data, false, picture, reason) == NetpbmRead::Done;
    }
    file.seek(0);
    QImageReader reader(&file);
    const QSize size = reader.size();
    if (size.isValid() &&
        !withinPictureLimit(static_cast<unsigned>(size.width()), static_cast<unsigned>(size.height()),
                            readerBytesPerPixel(reader), reason))
        return false;
    const QImage image = reader.read();
    if (image.isNull()) {
        *reason = readerProblem(reader);
        return false;
    }
    fromImage(image, picture);
    return true;
}

}  // namespace mvsim
