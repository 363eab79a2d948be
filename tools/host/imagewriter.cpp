#include "kwhost/imagewriter.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QtEndian>
#include <QtGui/QImage>
#include <QtGui/QImageWriter>

#include <cstring>

namespace kwhost {

namespace {

enum class FileType { Unknown, Png, Pgm, Ppm };

FileType fileTypeOf(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return FileType::Png;
    if (suffix == QLatin1String("pgm"))
        return FileType::Pgm;
    if (suffix == QLatin1String("ppm"))
        return FileType::Ppm;
    return FileType::Unknown;
}

const QRegularExpression& framePlaceholder()
{
    static const QRegularExpression placeholder(QStringLiteral("%(0[0-9]+)?d"));
    return placeholder;
}

// Sample c of pixel (x, y), 0..255 or, for 16-bit samples, 0..65535.
quint16 sampleAt(const FrameImage& frame, int x, int y, int c)
{
    const int pixelBytes = bytesPerPixel(frame.layout);
    const unsigned char* pixel =
        frame.data + (static_cast<qint64>(y) * frame.width + x) * pixelBytes + channelOffset(frame.layout, c);
    if (hasWideSamples(frame.layout))
        return qFromLittleEndian<quint16>(pixel);
    return *pixel;
}

QString writePnm(const QString& path, const FrameImage& frame, FileType type)
{
    const int channels = channelCount(frame.layout);
    if (type == FileType::Pgm && channels != 1)
        return QStringLiteral("a colour frame (%1) is saved as .ppm or .png, not .pgm").arg(layoutName(frame.layout));
    if (type == FileType::Ppm && channels != 3)
        return QStringLiteral("a grey frame (%1) is saved as .pgm or .png, not .ppm").arg(layoutName(frame.layout));

    const bool wide = hasWideSamples(frame.layout);
    QByteArray out = QStringLiteral("P%1\n%2 %3\n%4\n")
                         .arg(type == FileType::Pgm ? 5 : 6)
                         .arg(frame.width)
                         .arg(frame.height)
                         .arg(wide ? 65535 : 255)
                         .toLatin1();
    const qint64 header = out.size();
    out.resize(static_cast<int>(header + static_cast<qint64>(frame.width) * frame.height * channels * (wide ? 2 : 1)));
    unsigned char* at = reinterpret_cast<unsigned char*>(out.data()) + header;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const quint16 sample = sampleAt(frame, x, y, c);
                if (wide) {
                    qToBigEndian<quint16>(sample, at);
                    at += 2;
                } else {
                    *at++ = static_cast<unsigned char>(sample);
                }
            }
        }
    }

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(out) != out.size() ||
        !file.flush())
        return file.errorString();
    return QString();
}

QImage toImage(const FrameImage& frame)
{
    const int w = frame.width;
    const int h = frame.height;
    switch (frame.layout) {
    case PixelLayout::Gray8: {
        QImage image(w, h, QImage::Format_Grayscale8);
        for (int y = 0; y < h && !image.isNull(); ++y)
            memcpy(image.scanLine(y), frame.data + static_cast<qint64>(y) * w, static_cast<size_t>(w));
        return image;
    }
    case PixelLayout::Gray16: {
#if QT_VERSION >= QT_VERSION_CHECK(5, 13, 0)
        QImage image(w, h, QImage::Format_Grayscale16);
        for (int y = 0; y < h && !image.isNull(); ++y) {
            quint16* row = reinterpret_cast<quint16*>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                row[x] = sampleAt(frame, x, y, 0);
        }
#else
        // No 16-bit grey image before Qt 5.13: keep the high byte.
        QImage image(w, h, QImage::Format_Grayscale8);
        for (int y = 0; y < h && !image.isNull(); ++y) {
            uchar* row = image.scanLine(y);
            for (int x = 0; x < w; ++x)
                row[x] = static_cast<uchar>(sampleAt(frame, x, y, 0) >> 8);
        }
#endif
        return image;
    }
    case PixelLayout::Rgb48: {
#if QT_VERSION >= QT_VERSION_CHECK(5, 12, 0)
        QImage image(w, h, QImage::Format_RGBX64);
        for (int y = 0; y < h && !image.isNull(); ++y) {
            QRgba64* row = reinterpret_cast<QRgba64*>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                row[x] = QRgba64::fromRgba64(sampleAt(frame, x, y, 0), sampleAt(frame, x, y, 1),
                                             sampleAt(frame, x, y, 2), 0xFFFF);
        }
#else
        // No 16-bit colour image before Qt 5.12: keep the high bytes.
        QImage image(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h && !image.isNull(); ++y) {
            uchar* row = image.scanLine(y);
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    row[3 * x + c] = static_cast<uchar>(sampleAt(frame, x, y, c) >> 8);
        }
#endif
        return image;
    }
    case PixelLayout::Rgb24:
    case PixelLayout::Bgr24:
    case PixelLayout::Rgba32:
    case PixelLayout::Bgra32: {
        QImage image(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h && !image.isNull(); ++y) {
            uchar* row = image.scanLine(y);
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    row[3 * x + c] = static_cast<uchar>(sampleAt(frame, x, y, c));
        }
        return image;
    }
    case PixelLayout::Unknown:
        break;
    }
    return QImage();
}

QString writePng(const QString& path, const FrameImage& frame)
{
    const QImage image = toImage(frame);
    if (image.isNull())
        return QStringLiteral("cannot make a %1x%2 picture").arg(frame.width).arg(frame.height);
    QImageWriter writer(path, "png");
    if (!writer.write(image))
        return writer.errorString();
    return QString();
}

}  // namespace

QString checkSavePath(const QString& path)
{
    if (fileTypeOf(path) == FileType::Unknown)
        return QStringLiteral("'%1' does not end in .png, .pgm or .ppm").arg(path);
    QRegularExpressionMatchIterator it = framePlaceholder().globalMatch(path);
    int placeholders = 0;
    while (it.hasNext()) {
        it.next();
        ++placeholders;
    }
    if (placeholders > 1)
        return QStringLiteral("'%1' has more than one frame-number placeholder").arg(path);
    return QString();
}

bool savesEveryFrame(const QString& path)
{
    return framePlaceholder().match(path).hasMatch();
}

QString framePath(const QString& path, quint64 frameNumber)
{
    const QRegularExpressionMatch match = framePlaceholder().match(path);
    if (!match.hasMatch())
        return path;
    const int width = match.captured(1).isEmpty() ? 0 : match.captured(1).toInt();
    QString result = path;
    result.replace(match.capturedStart(), match.capturedLength(),
                   QStringLiteral("%1").arg(frameNumber, width, 10, QLatin1Char('0')));
    return result;
}

QString writeImage(const QString& path, const FrameImage& frame)
{
    if (frame.data == nullptr || frame.width <= 0 || frame.height <= 0)
        return QStringLiteral("no frame to save");
    if (frame.layout == PixelLayout::Unknown)
        return QStringLiteral("the frame's pixel layout is unknown");
    switch (fileTypeOf(path)) {
    case FileType::Png:
        return writePng(path, frame);
    case FileType::Pgm:
    case FileType::Ppm:
        return writePnm(path, frame, fileTypeOf(path));
    case FileType::Unknown:
        break;
    }
    return QStringLiteral("'%1' does not end in .png, .pgm or .ppm").arg(path);
}

}  // namespace kwhost
