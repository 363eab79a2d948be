#include "config.h"

#include "pattern.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>

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
        throw ConfigError{where + "." + key, "must be 1..65535"};
    return static_cast<unsigned>(v.toDouble());
}

double readRate(const QJsonObject& o, const char* key, const std::string& where, double fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return fallback;
    if (!v.isDouble() || !(v.toDouble() >= 0) || std::isinf(v.toDouble()))
        throw ConfigError{where + "." + key, "must be a number >= 0"};
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
    float* targets[] = {min, max, value};
    const char* names[] = {"min", "max", "value"};
    for (int i = 0; i < 3; ++i) {
        const QJsonValue n = limits.value(QLatin1String(names[i]));
        if (n.isUndefined())
            continue;
        if (!n.isDouble())
            throw ConfigError{at + "." + names[i], "must be a number"};
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
        throw ConfigError{where + "." + key, "must be an integer " + std::to_string(min) + ".." + std::to_string(max)};
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
    return name;
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
    if (setup.ledgerSize < 1 || setup.ledgerSize > maxLedgerSize)
        return "ledgerSize: must be an integer 1.." + std::to_string(maxLedgerSize);
    return {};
}

ConfigResult loadConfigFile(const std::string& path)
{
    ConfigResult result;
    const std::string prefix = path + ": ";
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = prefix + "cannot read: " + file.errorString().toStdString();
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        result.error = prefix + "bad JSON at offset " + std::to_string(parseError.offset) + ": " +
            parseError.errorString().toStdString();
        return result;
    }
    try {
        if (!doc.isObject())
            throw ConfigError{"top level", "must be an object with a devices array"};
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
            const DeviceSetup& added = result.devices.back();
            for (std::size_t j = 0; j + 1 < result.devices.size(); ++j)
                if (result.devices[j].modelName == added.modelName &&
                    result.devices[j].serialNumber == added.serialNumber)
                    throw ConfigError{where, "same model and serial as devices[" + std::to_string(j) + "]"};
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
