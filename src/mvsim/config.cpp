#include "config.h"

#include "pattern.h"
#include "schedule.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace mvsim {

namespace {

struct PixelName {
    const char* name;
    unsigned type;
};

const PixelName pixelNames[] = {
    {"Mono8", MVSIM_PIXEL_MONO8}, {"RGB8", MVSIM_PIXEL_RGB8},     {"RGBa8", MVSIM_PIXEL_RGBA8},
    {"RGB16", MVSIM_PIXEL_RGB16}, {"Mono16", MVSIM_PIXEL_MONO16}, {"BayerRG8", MVSIM_PIXEL_BAYERRG8},
};

// A failure while reading one entry: where it is and why.
struct ConfigError {
    std::string where;
    std::string reason;
};

bool isInteger(const QJsonValue& v)
{
    return v.isDouble() && std::floor(v.toDouble()) == v.toDouble();
}

std::string describeType(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Null:
        return "null";
    case QJsonValue::Bool:
        return "a boolean";
    case QJsonValue::Double:
        return "a number";
    case QJsonValue::String:
        return "a string";
    case QJsonValue::Array:
        return "an array";
    case QJsonValue::Object:
        return "an object";
    case QJsonValue::Undefined:
        break;
    }
    return "undefined";
}

// What a value is, for "must be ..., not <what>": numbers as they stand,
// other values by their type.
std::string describeValue(const QJsonValue& v)
{
    if (!v.isDouble())
        return describeType(v);
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v.toDouble());
    return text;
}

// How many single-letter edits turn a into b, letters compared in any case.
std::size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A key the reader does not know is refused, naming the known key nearest to
// it: a misspelt key left unread would leave its default without a word.
// "comment" is allowed everywhere and ignored, as JSON has no comments.
void refuseUnknownKeys(const QJsonObject& o, const std::string& where, std::initializer_list<const char*> known)
{
    for (auto it = o.begin(); it != o.end(); ++it) {
        const std::string key = it.key().toStdString();
        if (key == "comment" || std::any_of(known.begin(), known.end(), [&](const char* k) { return key == k; }))
            continue;
        // A key cut short or misspelt ("bufers") is nearest to the start of
        // the key it meant ("bufferCount").
        const auto distance = [&](const std::string& k) {
            return std::min(editDistance(key, k), editDistance(key, k.substr(0, key.size())) + 1);
        };
        const char* nearest = *known.begin();
        for (const char* k : known)
            if (distance(k) < distance(nearest))
                nearest = k;
        throw ConfigError{where + "." + key, std::string("unknown key (the nearest known one is \"") + nearest + "\")"};
    }
}

std::string readText(const QJsonObject& o, const char* key, const std::string& where, bool required,
                     std::string fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) {
        if (required)
            throw ConfigError{where + "." + key, "missing"};
        return fallback;
    }
    if (!v.isString())
        throw ConfigError{where + "." + key, "must be a string, not " + describeType(v)};
    return v.toString().toStdString();
}

unsigned readSize(const QJsonObject& o, const char* key, const std::string& where, unsigned fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return fallback;
    if (!isInteger(v) || v.toDouble() < 1 || v.toDouble() > 65535)
        throw ConfigError{where + "." + key, "must be an integer 1..65535, not " + describeValue(v)};
    return static_cast<unsigned>(v.toDouble());
}

double readRate(const QJsonObject& o, const char* key, const std::string& where, double fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return fallback;
    if (!v.isDouble() || !(v.toDouble() >= 0) || std::isinf(v.toDouble()))
        throw ConfigError{where + "." + key, "must be a number >= 0, not " + describeValue(v)};
    return v.toDouble();
}

void readLimits(const QJsonObject& o, const char* key, const std::string& where, float* min, float* max, float* value)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return;
    const std::string at = where + "." + key;
    if (!v.isObject())
        throw ConfigError{at, "must be an object with min, max and value"};
    const QJsonObject limits = v.toObject();
    refuseUnknownKeys(limits, at, {"min", "max", "value"});
    float* targets[] = {min, max, value};
    const char* names[] = {"min", "max", "value"};
    for (int i = 0; i < 3; ++i) {
        const QJsonValue n = limits.value(QLatin1String(names[i]));
        if (n.isUndefined())
            continue;
        if (!n.isDouble())
            throw ConfigError{at + "." + names[i], "must be a number, not " + describeValue(n)};
        // Limits are kept as the SDK's float records hold them.
        if (std::fabs(n.toDouble()) > std::numeric_limits<float>::max())
            throw ConfigError{at + "." + names[i], "must be at most 3.4e38 in size, not " + describeValue(n)};
        *targets[i] = static_cast<float>(n.toDouble());
    }
}

unsigned readCount(const QJsonObject& o, const char* key, const std::string& where, unsigned min, unsigned max,
                   unsigned fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return fallback;
    if (!isInteger(v) || v.toDouble() < min || v.toDouble() > max)
        throw ConfigError{where + "." + key,
                          "must be an integer " + std::to_string(min) + ".." + std::to_string(max) + ", not " +
                              describeValue(v)};
    return static_cast<unsigned>(v.toDouble());
}

// A model or serial number names the device in a camera key, "<model>
// <serial>": it must be there, and hold no space.
std::string readName(const QJsonObject& o, const char* key, const std::string& where)
{
    const std::string name = readText(o, key, where, true, {});
    if (name.empty())
        throw ConfigError{where + "." + key, "must not be empty"};
    if (name.find_first_of(" \t\r\n") != std::string::npos)
        throw ConfigError{where + "." + key, "must not contain white space"};
    // A device record's text ends at its first NUL: what follows would never
    // reach a host, and two names differing there would list alike.
    if (name.find('\0') != std::string::npos)
        throw ConfigError{where + "." + key, "must not contain a NUL character"};
    return name;
}

// The camera key a host sees for a device: its names as the device record
// holds them, cut to their fields.
std::string listedKey(const DeviceSetup& setup)
{
    return setup.modelName.substr(0, MV_MODEL_NAME_SIZE) + " " + setup.serialNumber.substr(0, MV_SERIAL_NUMBER_SIZE);
}

unsigned readPixelFormat(const QJsonObject& o, const std::string& where, unsigned fallback)
{
    const QJsonValue v = o.value(QLatin1String("pixelFormat"));
    const std::string at = where + ".pixelFormat";
    if (v.isUndefined())
        return fallback;
    if (v.isString()) {
        const std::string name = v.toString().toStdString();
        for (const PixelName& p : pixelNames)
            if (name == p.name)
                return p.type;
        throw ConfigError{at, "unknown pixel format \"" + name + "\""};
    }
    if (!isInteger(v) || v.toDouble() < 1 || v.toDouble() > 4294967295.0)
        throw ConfigError{at, "must be a pixel format name or a pixel type code"};
    return static_cast<unsigned>(v.toDouble());
}

// "<key>: <reason>" of a check, as the error of that key of the entry.
ConfigError keyError(const std::string& where, const std::string& problem)
{
    return ConfigError{where + "." + problem.substr(0, problem.find(':')), problem.substr(problem.find(':') + 2)};
}

// Recorded pictures: the keys, the listing and checks of the pictures, and
// the geometry the setup leaves to the first picture. A relative path
// counts from the configuration file's folder.
void readPictures(const QJsonObject& o, const std::string& where, const std::string& baseDir, DeviceSetup* setup)
{
    const std::string keys = readReplayKeys(o, &setup->replay);
    if (!keys.empty())
        throw keyError(where, keys);
    if (setup->replay.images.empty())
        return;
    ReplayGeometry geometry;
    geometry.width = setup->width;
    geometry.height = setup->height;
    geometry.pixelType = setup->pixelType;
    geometry.widthGiven = o.contains(QLatin1String("width"));
    geometry.heightGiven = o.contains(QLatin1String("height"));
    geometry.pixelTypeGiven = o.contains(QLatin1String("pixelFormat"));
    const std::string problem = prepareReplay(&setup->replay, &geometry, baseDir);
    if (!problem.empty())
        throw keyError(where, problem);
    setup->width = geometry.width;
    setup->height = geometry.height;
    setup->pixelType = geometry.pixelType;
}

DeviceSetup readDevice(const QJsonValue& entry, const std::string& where, const std::string& baseDir)
{
    if (!entry.isObject())
        throw ConfigError{where, "must be an object, not " + describeType(entry)};
    const QJsonObject o = entry.toObject();
    refuseUnknownKeys(o, where,
                      {"model", "serial", "transport", "width", "height", "pixelFormat", "exposure", "gain",
                       "frameRate", "linePulseRate", "bufferCount", "bandwidthMBps", "timing", "ledgerSize", "images",
                       "replay", "stamp", "sharedFrames"});
    DeviceSetup setup;
    setup.exclusive = true;
    setup.modelName = readName(o, "model", where);
    setup.serialNumber = readName(o, "serial", where);
    const std::string transport = readText(o, "transport", where, false, "gige");
    if (transport == "gige")
        setup.transport = MVSIM_TRANSPORT_GIGE;
    else if (transport == "usb")
        setup.transport = MVSIM_TRANSPORT_USB;
    else
        throw ConfigError{where + ".transport", "must be \"gige\" or \"usb\""};
    setup.width = readSize(o, "width", where, setup.width);
    setup.height = readSize(o, "height", where, setup.height);
    setup.pixelType = readPixelFormat(o, where, setup.pixelType);
    readLimits(o, "exposure", where, &setup.exposureMin, &setup.exposureMax, &setup.exposure);
    // No camera exposes for a negative time. (Devices added through the
    // control interface may, for tests of a host's range checks.)
    if (setup.exposureMin < 0 || setup.exposure < 0)
        throw ConfigError{where + ".exposure", "must not be negative"};
    readLimits(o, "gain", where, &setup.gainMin, &setup.gainMax, &setup.gain);
    setup.frameRate = readRate(o, "frameRate", where, setup.frameRate);
    setup.linePulseRate = readRate(o, "linePulseRate", where, setup.linePulseRate);
    setup.bufferCount = readCount(o, "bufferCount", where, 1, maxBufferCount, setup.bufferCount);
    setup.bandwidthMBps = readRate(o, "bandwidthMBps", where, setup.bandwidth());
    const std::string timing = readText(o, "timing", where, false, "camera");
    if (timing == "instant")
        setup.instant = true;
    else if (timing != "camera")
        throw ConfigError{where + ".timing", "must be \"camera\" or \"instant\""};
    setup.ledgerSize = readCount(o, "ledgerSize", where, 1, maxLedgerSize, setup.ledgerSize);
    readPictures(o, where, baseDir, &setup);
    const std::string problem = checkSetup(setup);
    if (!problem.empty())
        throw keyError(where, problem);
    return setup;
}

bool limitsHold(float min, float max, float value)
{
    return std::isfinite(min) && std::isfinite(max) && std::isfinite(value) && min <= value && value <= max;
}

DeviceSetup camera(const char* model, const char* serial, unsigned transport, unsigned width, unsigned height,
                   unsigned pixelType)
{
    DeviceSetup setup;
    setup.modelName = model;
    setup.serialNumber = serial;
    setup.transport = transport;
    setup.width = width;
    setup.height = height;
    setup.pixelType = pixelType;
    setup.exposureMin = 15.0f;
    setup.exposureMax = 1000000.0f;
    setup.exposure = 10000.0f;
    setup.gainMin = 0.0f;
    setup.gainMax = 20.0f;
    setup.gain = 0.0f;
    setup.frameRate = 30.0;
    setup.exclusive = true;
    return setup;
}

}  // namespace

namespace {

// Times longer than the schedule represents would run the device flat out
// once they overflowed; a day is far beyond any camera's.
std::string checkTimes(const DeviceSetup& setup)
{
    const double longest = FrameSchedule::longestSeconds;
    if (double(setup.exposureMax) > longest * 1e6)
        return "exposure: max " + std::to_string(double(setup.exposureMax)) +
            " us is longer than a day (86400000000 us), the longest exposure simulated";
    if (setup.frameRate > 0.0 && setup.frameRate < 1.0 / longest)
        return "frameRate: " + std::to_string(setup.frameRate) +
            " makes a frame period longer than a day; the least rate is 1/86400 (0.0000116)";
    if (setup.linePulseRate > 0.0 && setup.linePulseRate < 1.0 / longest)
        return "linePulseRate: " + std::to_string(setup.linePulseRate) +
            " makes a pulse period longer than a day; the least rate is 1/86400 (0.0000116)";
    const double bandwidth = setup.bandwidth();
    if (bandwidth > 0.0) {
        const double frameBytes = (double(setup.width) * setup.height * bitsPerPixel(setup.pixelType) + 7) / 8;
        if (frameBytes / (bandwidth * 1e6) > longest)
            return "bandwidthMBps: reading a frame of " + std::to_string(std::uint64_t(frameBytes)) + " bytes at " +
                std::to_string(bandwidth) + " MB/s takes longer than a day, the longest readout simulated";
    }
    return {};
}

}  // namespace

std::string checkSetup(const DeviceSetup& setup)
{
    if (setup.transport != MVSIM_TRANSPORT_GIGE && setup.transport != MVSIM_TRANSPORT_USB)
        return "transport: must be gige (1) or usb (4)";
    if (setup.width < 1 || setup.width > 65535)
        return "width: must be 1..65535";
    if (setup.height < 1 || setup.height > 65535)
        return "height: must be 1..65535";
    if (bitsPerPixel(setup.pixelType) == 0)
        return "pixelFormat: pixel type codes no bits per pixel";
    if (!limitsHold(setup.exposureMin, setup.exposureMax, setup.exposure))
        return "exposure: must have min <= value <= max";
    if (!limitsHold(setup.gainMin, setup.gainMax, setup.gain))
        return "gain: must have min <= value <= max";
    if (!(setup.frameRate >= 0) || std::isinf(setup.frameRate))
        return "frameRate: must be a number >= 0";
    if (!(setup.linePulseRate >= 0) || std::isinf(setup.linePulseRate))
        return "linePulseRate: must be a number >= 0";
    if (setup.bufferCount < 1 || setup.bufferCount > maxBufferCount)
        return "bufferCount: must be an integer 1.." + std::to_string(maxBufferCount);
    if (std::isnan(setup.bandwidthMBps) || std::isinf(setup.bandwidthMBps))
        return "bandwidthMBps: must be a number >= 0";
    if (const std::string t = checkTimes(setup); !t.empty())
        return t;
    if (setup.ledgerSize < 1 || setup.ledgerSize > maxLedgerSize)
        return "ledgerSize: must be an integer 1.." + std::to_string(maxLedgerSize);
    // Refused now rather than by the first start, which could only fail.
    const std::uint64_t frameBytes =
        (static_cast<std::uint64_t>(setup.width) * setup.height * bitsPerPixel(setup.pixelType) + 7) / 8;
    const std::uint64_t bufferBytes = frameBytes * setup.bufferCount;
    if (bufferBytes > maxBufferBytes)
        return "bufferCount: " + std::to_string(setup.bufferCount) + " frame buffers of " +
            std::to_string(setup.width) + "x" + std::to_string(setup.height) + " would take " +
            std::to_string((bufferBytes + (1u << 20) - 1) >> 20) + " MiB, more than the " +
            std::to_string(maxBufferBytes >> 20) + " MiB a device may have";
    return {};
}

namespace {

// The file's bytes, or false with the reason. Only a regular file is read,
// and at most maxConfigBytes of it: a pipe would block the listing, and
// /dev/zero would never end. Opened without blocking, then checked, so that
// a pipe put in the file's place is not waited on either.
bool readConfigBytes(const std::string& path, QByteArray* bytes, std::string* reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        *reason = std::string("cannot read: ") + std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        *reason = "cannot read: not a regular file";
    else if (info.st_size > static_cast<off_t>(maxConfigBytes))
        *reason = "larger than " + std::to_string(maxConfigBytes >> 20) + " MiB, the most a configuration may be";
    if (reason->empty()) {
        // Read to the end, but never past the limit, should the file grow.
        bytes->resize(static_cast<int>(maxConfigBytes));
        std::size_t got = 0;
        while (got < maxConfigBytes) {
            const ssize_t n = ::read(fd, bytes->data() + got, maxConfigBytes - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                *reason = std::string("cannot read: ") + std::strerror(errno);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        bytes->resize(static_cast<int>(got));
    }
    ::close(fd);
    return reason->empty();
}

}  // namespace

ConfigResult loadConfigFile(const std::string& path)
{
    ConfigResult result;
    const std::string prefix = path + ": ";
    QByteArray bytes;
    std::string reason;
    if (!readConfigBytes(path, &bytes, &reason)) {
        result.error = prefix + reason;
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        result.error = prefix + "bad JSON at offset " + std::to_string(parseError.offset) + ": " +
            parseError.errorString().toStdString();
        return result;
    }
    try {
        if (!doc.isObject())
            throw ConfigError{"top level", "must be an object with a devices array"};
        refuseUnknownKeys(doc.object(), "top level", {"devices"});
        const QJsonValue devices = doc.object().value(QLatin1String("devices"));
        if (devices.isUndefined())
            throw ConfigError{"devices", "missing"};
        if (!devices.isArray())
            throw ConfigError{"devices", "must be an array, not " + describeType(devices)};
        const QJsonArray list = devices.toArray();
        if (list.size() > MV_MAX_DEVICE_NUM)
            throw ConfigError{"devices", "more than " + std::to_string(MV_MAX_DEVICE_NUM) + " devices"};
        for (int i = 0; i < list.size(); ++i) {
            const std::string where = "devices[" + std::to_string(i) + "]";
            result.devices.push_back(
                readDevice(list.at(i), where, QFileInfo(QString::fromStdString(path)).absolutePath().toStdString()));
            // One key, one device: the second could never be opened by it.
            // Keys are compared as hosts see them, cut to the record's fields.
            const DeviceSetup& added = result.devices.back();
            for (std::size_t j = 0; j + 1 < result.devices.size(); ++j) {
                const DeviceSetup& earlier = result.devices[j];
                if (earlier.modelName == added.modelName && earlier.serialNumber == added.serialNumber)
                    throw ConfigError{where, "same model and serial as devices[" + std::to_string(j) + "]"};
                if (listedKey(earlier) == listedKey(added))
                    throw ConfigError{where,
                                      "lists as the same camera key as devices[" + std::to_string(j) + "], \"" +
                                          listedKey(added) + "\" (a model name is cut to " +
                                          std::to_string(MV_MODEL_NAME_SIZE) + " bytes, a serial number to " +
                                          std::to_string(MV_SERIAL_NUMBER_SIZE) + ")"};
            }
        }
    } catch (const ConfigError& e) {
        result.devices.clear();
        result.error = prefix + e.where + ": " + e.reason;
        return result;
    }
    result.ok = true;
    return result;
}

std::vector<DeviceSetup> defaultDevices()
{
    return {
        camera("SIM-GM8-1280", "00A1B2C3D4", MVSIM_TRANSPORT_GIGE, 1280, 1024, MVSIM_PIXEL_MONO8),
        camera("SIM-UC24-2448", "00E5F6A7B8", MVSIM_TRANSPORT_USB, 2448, 2048, MVSIM_PIXEL_RGB8),
        camera("SIM-GM16-4096", "00C9D0E1F2", MVSIM_TRANSPORT_GIGE, 4096, 3000, MVSIM_PIXEL_MONO16),
    };
}

}  // namespace mvsim
