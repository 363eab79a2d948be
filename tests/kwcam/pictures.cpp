#include "pictures.h"

#include <QtCore/QFile>
#include <QtCore/QRegularExpression>
#include <QtGui/QImage>

namespace {

QString readPnm(const QString& path, Picture* picture)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const QByteArray bytes = file.readAll();
    // Magic, width, height and maxval, each followed by one whitespace byte.
    const QRegularExpression header(QStringLiteral("^P([56])\\s+(\\d+)\\s+(\\d+)\\s+(\\d+)\\s"));
    const QRegularExpressionMatch match = header.match(QString::fromLatin1(bytes.left(64)));
    if (!match.hasMatch())
        return QStringLiteral("no PGM/PPM header");
    picture->channels = match.captured(1) == QLatin1String("5") ? 1 : 3;
    picture->width = match.captured(2).toInt();
    picture->height = match.captured(3).toInt();
    const int maxValue = match.captured(4).toInt();
    if (maxValue != 255 && maxValue != 65535)
        return QStringLiteral("maxval %1").arg(maxValue);
    picture->wide = maxValue == 65535;

    const size_t count = static_cast<size_t>(picture->width) * picture->height * picture->channels;
    const int sampleBytes = picture->wide ? 2 : 1;
    const int start = match.capturedLength(0);
    if (bytes.size() != start + static_cast<int>(count) * sampleBytes)
        return QStringLiteral("%1 bytes of pixels, %2 expected").arg(bytes.size() - start).arg(count * sampleBytes);
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.constData()) + start;
    picture->samples.resize(count);
    for (size_t i = 0; i < count; ++i)
        picture->samples[i] = picture->wide ? ((data[2 * i] << 8) | data[2 * i + 1]) : data[i];
    return QString();
}

QString readPng(const QString& path, Picture* picture)
{
    QImage image;
    if (!image.load(path, "png"))
        return QStringLiteral("QImage cannot read it");
    picture->width = image.width();
    picture->height = image.height();
    const QImage::Format format = image.format();
    picture->wide = format == QImage::Format_Grayscale16 || format == QImage::Format_RGBX64 ||
        format == QImage::Format_RGBA64 || format == QImage::Format_RGBA64_Premultiplied;
    const bool grey = format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16 ||
        (format == QImage::Format_Indexed8 && image.isGrayscale());
    picture->channels = grey ? 1 : 3;
    picture->samples.clear();
    picture->samples.reserve(static_cast<size_t>(picture->width) * picture->height * picture->channels);
    if (grey) {
        const QImage g = image.convertToFormat(picture->wide ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
        for (int y = 0; y < g.height(); ++y)
            for (int x = 0; x < g.width(); ++x)
                picture->samples.push_back(picture->wide ? reinterpret_cast<const quint16*>(g.constScanLine(y))[x]
                                                         : g.constScanLine(y)[x]);
        return QString();
    }
    const QImage c = image.convertToFormat(QImage::Format_RGBX64);
    for (int y = 0; y < c.height(); ++y) {
        const QRgba64* row = reinterpret_cast<const QRgba64*>(c.constScanLine(y));
        for (int x = 0; x < c.width(); ++x) {
            const unsigned rgb[3] = {row[x].red(), row[x].green(), row[x].blue()};
            for (unsigned v : rgb)
                picture->samples.push_back(picture->wide ? v : v >> 8);
        }
    }
    return QString();
}

}  // namespace

QString readPicture(const QString& path, Picture* picture)
{
    if (path.endsWith(QLatin1String(".png")))
        return readPng(path, picture);
    return readPnm(path, picture);
}
