#include "replaysetup.h"

#include "naturalorder.h"
#include "pictureconvert.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonValue>

#include <algorithm>

namespace mvsim {

namespace {

// Bad files named in one error line; the rest are counted.
constexpr std::size_t namedAtMost = 8;

std::string nameOf(const std::string& path)
{
    return QFileInfo(QString::fromStdString(path)).fileName().toStdString();
}

std::string sizeText(unsigned width, unsigned height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

// The pictures replay->images names, or "<reason>". Entries of a folder that
// can hold no picture (links to nothing, link loops, pipes, sockets,
// devices) go to bad as "<name>: <reason>": reading a pipe would block.
std::string listPictures(const std::string& images, const std::string& baseDir, std::vector<std::string>* files,
                         std::vector<std::string>* bad)
{
    QFileInfo info(QString::fromStdString(images));
    if (info.isRelative() && !baseDir.empty())
        info = QFileInfo(QDir(QString::fromStdString(baseDir)), QString::fromStdString(images));
    if (info.isSymLink() && !info.exists())
        return images + " is a link to nothing";
    if (!info.exists())
        return "no file or folder " + images;
    if (info.isDir()) {
        const QDir dir(info.absoluteFilePath());
        if (!dir.isReadable())
            return "cannot read folder " + images;
        const QFileInfoList entries =
            dir.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
        for (const QFileInfo& entry : entries) {
            if (entry.isSymLink() && !entry.exists())
                bad->push_back(entry.fileName().toStdString() + ": a link to nothing (or a loop of links)");
            else if (!entry.isFile())
                bad->push_back(entry.fileName().toStdString() + ": not a regular file");
            else
                files->push_back(entry.filePath().toStdString());
        }
        std::sort(files->begin(), files->end(),
                  [](const std::string& a, const std::string& b) { return naturalLess(nameOf(a), nameOf(b)); });
        std::sort(bad->begin(), bad->end(), naturalLess);
        if (files->empty() && bad->empty())
            return "folder " + images + " holds no pictures";
        return {};
    }
    if (!info.isFile())
        return images + " is not a regular file";
    files->push_back(info.absoluteFilePath().toStdString());
    return {};
}

}  // namespace

std::string readReplayKeys(const QJsonObject& entry, ReplaySetup* replay)
{
    const QJsonValue images = entry.value(QLatin1String("images"));
    if (!images.isUndefined()) {
        if (!images.isString() || images.toString().isEmpty())
            return "images: must be the path of a picture file or folder";
        replay->images = images.toString().toStdString();
    }
    const QJsonValue mode = entry.value(QLatin1String("replay"));
    if (!mode.isUndefined()) {
        if (mode == QJsonValue(QLatin1String("loop")))
            replay->once = false;
        else if (mode == QJsonValue(QLatin1String("once")))
            replay->once = true;
        else
            return "replay: must be \"loop\" or \"once\"";
    }
    const QJsonValue stamp = entry.value(QLatin1String("stamp"));
    if (!stamp.isUndefined()) {
        if (!stamp.isBool())
            return "stamp: must be true or false";
        replay->stamp = stamp.toBool();
    }
    const QJsonValue zeroCopy = entry.value(QLatin1String("sharedFrames"));
    if (!zeroCopy.isUndefined()) {
        if (!zeroCopy.isBool())
            return "sharedFrames: must be true or false";
        replay->zeroCopy = zeroCopy.toBool();
    }
    if (replay->images.empty()) {
        for (const char* key : {"replay", "stamp", "sharedFrames"})
            if (entry.contains(QLatin1String(key)))
                return std::string(key) + ": needs images";
    }
    return {};
}

std::string prepareReplay(ReplaySetup* replay, ReplayGeometry* geometry, const std::string& baseDir)
{
    replay->files.clear();
    // The stamp would be written into the cached picture itself.
    if (replay->zeroCopy && replay->stamp)
        return "sharedFrames: cannot go with stamp, which writes into every frame";
    if (geometry->pixelTypeGiven && !convertsTo(geometry->pixelType))
        return "pixelFormat: pictures convert to Mono8, Mono16, RGB8, RGBa8, RGB16 or BayerRG8 only";
    // Every file is looked at, so that one error names all the bad ones.
    std::vector<std::string> bad;
    const std::string listed = listPictures(replay->images, baseDir, &replay->files, &bad);
    if (!listed.empty()) {
        replay->files.clear();
        return "images: " + listed;
    }
    std::string mismatch;
    bool haveWidth = geometry->widthGiven;
    bool haveHeight = geometry->heightGiven;
    for (std::size_t i = 0; i < replay->files.size(); ++i) {
        const std::string& file = replay->files[i];
        unsigned width = 0;
        unsigned height = 0;
        std::string reason;
        bool ok = false;
        if (i == 0) {
            // The first picture is decoded whole: it decides the pixel type,
            // and a broken one is better found now than on the first frame.
            Picture first;
            ok = decodePicture(file, &first, &reason);
            width = first.width;
            height = first.height;
            if (ok && !geometry->pixelTypeGiven)
                geometry->pixelType = pixelTypeFor(first.kind);
        } else {
            ok = probePicture(file, &width, &height, &reason);
        }
        if (!ok) {
            bad.push_back(nameOf(file) + ": " + reason);
            continue;
        }
        if (!haveWidth) {
            geometry->width = width;
            haveWidth = true;
        }
        if (!haveHeight) {
            geometry->height = height;
            haveHeight = true;
        }
        if (mismatch.empty() && (width != geometry->width || height != geometry->height))
            mismatch = nameOf(file) + " is " + sizeText(width, height) + ", the device is " +
                sizeText(geometry->width, geometry->height);
    }
    std::string problem;
    if (!bad.empty()) {
        for (std::size_t i = 0; i < bad.size() && i < namedAtMost; ++i)
            problem += (i ? "; " : "") + bad[i];
        if (bad.size() > namedAtMost)
            problem += "; and " + std::to_string(bad.size() - namedAtMost) + " more bad files";
    } else if (!mismatch.empty()) {
        problem = mismatch;
    } else if (geometry->width < 1 || geometry->width > 65535 || geometry->height < 1 || geometry->height > 65535) {
        problem = nameOf(replay->files.front()) + " is " + sizeText(geometry->width, geometry->height) +
            ", more than a device's 65535x65535";
    }
    if (!problem.empty()) {
        replay->files.clear();
        return "images: " + problem;
    }
    return {};
}

}  // namespace mvsim
