#include "kwhost/property.h"

#include <algorithm>
#include <cmath>

namespace kwhost {

namespace {

struct Named {
    const char* name;
    int id;
};

const Named kProperties[] = {
    {"exposure", CameraPropertyExposureTime},    {"gain", CameraPropertyGain},
    {"wb-red", CameraPropertyBalanceRatioRed},   {"wb-green", CameraPropertyBalanceRatioGreen},
    {"wb-blue", CameraPropertyBalanceRatioBlue},
};

}  // namespace

bool propertyFromName(const QString& name, int* id)
{
    for (const Named& property : kProperties) {
        if (name == QLatin1String(property.name)) {
            *id = property.id;
            return true;
        }
    }
    return false;
}

QString propertyNames()
{
    QString names;
    for (const Named& property : kProperties)
        names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + QLatin1String(property.name);
    return names;
}

Limits limitsOf(bool known, const MVCC_FLOATVALUE& record)
{
    Limits limits;
    limits.known = known;
    limits.value = record.fCurValue;
    limits.min = record.fMin;
    limits.max = record.fMax;
    return limits;
}

int boundedValue(int value, const Limits& limits)
{
    const int lowest = static_cast<int>(std::ceil(limits.min));
    const int highest = static_cast<int>(std::floor(limits.max));
    return !limits.known || highest < lowest ? value : std::min(std::max(value, lowest), highest);
}

bool setProperty(ICameraObject* camera, int id, int value)
{
    tagQZ_CAMERA_PROPERTY property;
    property.nPropertyId = id;
    property.nValue = value;
    return camera != nullptr && camera->ISetProperty(&property);
}

bool setBounded(ICameraObject* camera, int id, int value, const Limits& limits, int* applied)
{
    *applied = boundedValue(value, limits);
    return setProperty(camera, id, *applied);
}

}  // namespace kwhost
