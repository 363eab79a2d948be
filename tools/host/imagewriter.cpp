#include "kwhost/imagewriter.h"

#include <QtCore/QBuffer>
#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QtEndian>
#include <QtGui/QImage>
#include <QtGui/QImageWriter>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A file name as printf would read it with one number: "%%" is a '%', "%d"
// or "%0Nd" (N digits) is the frame number, zero-padded to N digits.
struct SaveName {
    QString prefix;  // the whole name, '%%' resolved, when there is no placeholder
    QString suffix;
    bool placeholder = false;
    int width = 0;
    QString error;
};

SaveName parseSaveName(const QString& path)
{
    SaveName name;
    QString* part = &name.prefix;
    for (int i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        if (c != QLatin1Char('%')) {
            part->append(c);
            continue;
        }
        if (i + 1 < path.size() && path.at(i + 1) == QLatin1Char('%')) {
            part->append(c);
            ++i;
            continue;
        }
        int end = i + 1;
        QString digits;
        while (end < path.size() && path.at(end).isDigit())
            digits.append(path.at(end++));
        const bool valid = end < path.size() && path.at(end) == QLatin1Char('d') &&
            (digits.isEmpty() || (digits.startsWith(QLatin1Char('0')) && digits.size() <= 3));
        if (!valid) {
            name.error = QStringLiteral("a '%' starts %d, %0Nd (N up to 2 digits) or %%");
            return name;
        }
        if (name.placeholder) {
            name.error = QStringLiteral("more than one frame-number placeholder");
            return name;
        }
        name.placeholder = true;
        name.width = digits.toInt();
        part = &name.suffix;
        i = end;
    }
    return name;
}

QString kindOfFile(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

// Writes bytes to path as a whole file. The open never blocks (a FIFO with
// no reader would hold the thread beyond any signal), and anything but a
// regular file is refused before a byte is written. A failed write removes
// what it left, so that no cut picture stays behind.
QString writeWholeFile(const QString& path, const char* data, qint64 size)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return describeErrno(errno);
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return describeErrno(error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return QStringLiteral("it is %1, not a regular file").arg(kindOfFile(info.st_mode));
    }
    int error = 0;
    if (ftruncate(fd, 0) != 0)
        error = errno;
    for (qint64 done = 0; error == 0 && done < size;) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(qMin<qint64>(size - done, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error != 0) {
        ::unlink(name.constData());
        return describeErrno(error);
    }
    return QString();
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

// Why a file of this type cannot hold frames of this layout, or empty.
QString formatProblem(FileType type, PixelLayout layout)
{
    const int channels = channelCount(layout);
    if (type == FileType::Pgm && channels == 3)
        return QStringLiteral("a colour frame (%1) is saved as .ppm or .png, not .pgm").arg(layoutName(layout));
    if (type == FileType::Ppm && channels == 1)
        return QStringLiteral("a grey frame (%1) is saved as .pgm or .png, not .ppm").arg(layoutName(layout));
    return QString();
}

QString writePnm(const QString& path, const FrameImage& frame, FileType type)
{
    const int channels = channelCount(frame.layout);
    const QString problem = formatProblem(type, frame.layout);
    if (!problem.isEmpty())
        return problem;

    const bool wide = hasWideSamples(frame.layout);
    // The plain layouts are already the file's samples: copied row-free.
    const bool asIs = frame.layout == PixelLayout::Gray8 || frame.layout == PixelLayout::Rgb24;
    QByteArray out = QStringLiteral("P%1\n%2 %3\n%4\n")
                         .arg(type == FileType::Pgm ? 5 : 6)
                         .arg(frame.width)
                         .arg(frame.height)
                         .arg(wide ? 65535 : 255)
                         .toLatin1();
    const qint64 header = out.size();
    out.resize(static_cast<int>(header + static_cast<qint64>(frame.width) * frame.height * channels * (wide ? 2 : 1)));
    unsigned char* at = reinterpret_cast<unsigned char*>(out.data()) + header;
    if (asIs)
        memcpy(at, frame.data, static_cast<size_t>(out.size() - header));
    else if (frame.layout == PixelLayout::Gray16) {
        const qint64 samples = static_cast<qint64>(frame.width) * frame.height;
        for (qint64 i = 0; i < samples; ++i)
            qToBigEndian<quint16>(qFromLittleEndian<quint16>(frame.data + 2 * i), at + 2 * i);
    }
    for (int y = 0; !asIs && frame.layout != PixelLayout::Gray16 && y < frame.height; ++y) {
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

    return writeWholeFile(path, out.constData(), out.size());
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
    case PixelLayout::Rgb24: {
        // Already the image's own layout: row by row, no per-pixel work.
        QImage image(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h && !image.isNull(); ++y)
            memcpy(image.scanLine(y), frame.data + static_cast<qint64>(y) * w * 3, static_cast<size_t>(w) * 3);
        return image;
    }
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

QString writePng(const QString& path, const FrameImage& frame, int level)
{
    const QImage image = toImage(frame);
    if (image.isNull())
        return QStringLiteral("cannot make a %1x%2 picture").arg(frame.width).arg(frame.height);
    // Encoded in memory, so that the file is written as every format's is.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // Qt's PNG writer takes the zlib level as a quality: 100 is level 0,
    // 0 is level 9.
    if (level >= 0)
        writer.setQuality(100 - (qMin(level, 9) * 91 + 8) / 9);
    if (!writer.write(image))
        return writer.errorString();
    buffer.close();
    return writeWholeFile(path, bytes.constData(), bytes.size());
}

}  // namespace

QString checkSavePath(const QString& path)
{
    const SaveName name = parseSaveName(path);
    if (!name.error.isEmpty())
        return QStringLiteral("'%1': %2").arg(path, name.error);
    if (fileTypeOf(name.prefix + name.suffix) == FileType::Unknown)
        return QStringLiteral("'%1' does not end in .png, .pgm or .ppm").arg(path);
    return QString();
}

QString checkDestination(const QString& path, PixelLayout layout)
{
    const QFileInfo file(framePath(path, 0));
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("the folder %1 does not exist").arg(folder.filePath());
    if (!folder.isWritable())
        return QStringLiteral("the folder %1 is not writable").arg(folder.filePath());
    // Only a file of its own: opening a FIFO or a device would block or
    // write where no picture belongs.
    struct stat info;
    if (!savesEveryFrame(path) && ::stat(QFile::encodeName(file.filePath()).constData(), &info) == 0 &&
        !S_ISREG(info.st_mode))
        return QStringLiteral("%1 is %2, not a regular file").arg(file.filePath(), kindOfFile(info.st_mode));
    return formatProblem(fileTypeOf(file.fileName()), layout);
}

bool savesEveryFrame(const QString& path)
{
    return parseSaveName(path).placeholder;
}

QString framePath(const QString& path, quint64 frameNumber)
{
    const SaveName name = parseSaveName(path);
    if (!name.placeholder)
        return name.prefix;
    return name.prefix + QStringLiteral("%1").arg(frameNumber, name.width, 10, QLatin1Char('0')) + name.suffix;
}

QString describeErrno(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("no space left on the device");
    case EDQUOT:
        return QStringLiteral("the disk quota is used up");
    case EFBIG:
        return QStringLiteral("the file would be larger than allowed");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case ENOENT:
        return QStringLiteral("no such file or folder");
    case EROFS:
        return QStringLiteral("the file system is read-only");
    case EISDIR:
        return QStringLiteral("it is a folder");
    case ENXIO:
        return QStringLiteral("it is a FIFO with no reader or a device that is not there");
    default:
        break;
    }
    QString text = QString::fromLocal8Bit(strerror(error));
    if (!text.isEmpty())
        text[0] = text.at(0).toLower();
    return text;
}

QString writeImage(const QString& path, const FrameImage& frame, int pngLevel)
{
    if (frame.data == nullptr || frame.width <= 0 || frame.height <= 0)
        return QStringLiteral("no frame to save");
    if (frame.layout == PixelLayout::Unknown)
        return QStringLiteral("the frame's pixel layout is unknown");
    switch (fileTypeOf(path)) {
    case FileType::Png:
        return writePng(path, frame, pngLevel);
    case FileType::Pgm:
    case FileType::Ppm:
        return writePnm(path, frame, fileTypeOf(path));
    case FileType::Unknown:
        break;
    }
    return QStringLiteral("'%1' does not end in .png, .pgm or .ppm").arg(path);
}

}  // namespace kwhost
