// The kit's own cameras over the stand-in: small frames at high rates, so
// that thousands of frames cost little, one camera per pixel type, one at a
// known rate, one to pull out, and a second of another size.
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

#include "harness.h"

namespace kwcheck {
namespace cameras {

const char* const kMain = "KIT-MONO8 K0000001";
const char* const kRate = "KIT-RATE K0000007";
const char* const kUnplug = "KIT-UNPLUG K0000008";
const char* const kSecond = "KIT-SECOND K0000009";

const std::vector<Typed>& typed()
{
    static const std::vector<Typed> list = {
        {kMain, "Mono8", MVSIM_PIXEL_MONO8},
        {"KIT-RGB8 K0000002", "RGB8", MVSIM_PIXEL_RGB8},
        {"KIT-RGBA8 K0000003", "RGBa8", MVSIM_PIXEL_RGBA8},
        {"KIT-RGB16 K0000004", "RGB16", MVSIM_PIXEL_RGB16},
        {"KIT-MONO16 K0000005", "Mono16", MVSIM_PIXEL_MONO16},
        {"KIT-BAYER8 K0000006", "BayerRG8", MVSIM_PIXEL_BAYERRG8},
    };
    return list;
}

namespace {

QJsonObject device(const QString& key, const char* pixelFormat, double frameRate, int width, int height)
{
    QJsonObject limitsExposure{{"min", kExposureMin}, {"max", kExposureMax}, {"value", kExposure}};
    QJsonObject limitsGain{{"min", kGainMin}, {"max", kGainMax}, {"value", kGain}};
    return QJsonObject{
        {"model", key.section(QLatin1Char(' '), 0, 0)},
        {"serial", key.section(QLatin1Char(' '), 1, 1)},
        {"transport", "gige"},
        {"width", width},
        {"height", height},
        {"pixelFormat", pixelFormat},
        {"exposure", limitsExposure},
        {"gain", limitsGain},
        {"frameRate", frameRate},
        // Frames take no time to expose and read out, so that rates and
        // counts depend on the plug-in and the host alone.
        {"timing", "instant"},
    };
}

}  // namespace

QByteArray configuration()
{
    QJsonArray devices;
    for (const Typed& camera : typed())
        devices.append(device(QString::fromLatin1(camera.key), camera.name, 1000, 64, 48));
    devices.append(device(QString::fromLatin1(kRate), "Mono8", kRateFps, 64, 48));
    devices.append(device(QString::fromLatin1(kUnplug), "Mono8", 1000, 64, 48));
    devices.append(device(QString::fromLatin1(kSecond), "Mono8", 1000, 80, 60));
    return QJsonDocument(QJsonObject{{"devices", devices}}).toJson();
}

}  // namespace cameras
}  // namespace kwcheck
