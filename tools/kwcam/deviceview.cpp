#include "deviceview.h"

#include <QtCore/QStringList>

#include "cameraobject.h"
#include "kwhost/pixellayout.h"

namespace kwcam {

namespace {

QString number(float value)
{
    return QString::number(static_cast<double>(value), 'g', 10);
}

}  // namespace

QString geometryText(const kwhost::DeviceReport& report)
{
    if (!report.widthKnown || !report.heightKnown)
        return QStringLiteral("unknown (the SDK did not report it)");
    return QStringLiteral("%1x%2 (width %3 to %4, height %5 to %6)")
        .arg(report.width.nCurValue)
        .arg(report.height.nCurValue)
        .arg(report.width.nMin)
        .arg(report.width.nMax)
        .arg(report.height.nMin)
        .arg(report.height.nMax);
}

QString pixelTypeText(const kwhost::DeviceReport& report)
{
    if (!report.pixelKnown)
        return QStringLiteral("unknown (the SDK did not report it)");
    QStringList supported;
    for (unsigned int i = 0; i < report.pixel.nSupportedNum; ++i)
        supported << kwhost::deviceTypeName(report.pixel.nSupportValue[i]);
    QString text = kwhost::deviceTypeName(report.pixel.nCurValue);
    if (!supported.isEmpty())
        text += QStringLiteral(" (supported: %1)").arg(supported.join(QStringLiteral(", ")));
    return text;
}

QString floatText(bool known, const MVCC_FLOATVALUE& value, const char* unit)
{
    if (!known)
        return QStringLiteral("unknown (the SDK did not report it)");
    return QStringLiteral("%1 %2 (%3 to %4)")
        .arg(number(value.fCurValue), QLatin1String(unit), number(value.fMin), number(value.fMax));
}

QString propertyRange(const QString& key, int propertyId)
{
    if (propertyId != CameraPropertyExposureTime && propertyId != CameraPropertyGain)
        return QString();
    kwhost::DeviceReport report;
    QString error;
    if (!kwhost::readDevice(key, &report, &error))
        return QString();
    const bool exposure = propertyId == CameraPropertyExposureTime;
    if (!(exposure ? report.exposureKnown : report.gainKnown))
        return QString();
    const MVCC_FLOATVALUE& value = exposure ? report.exposure : report.gain;
    return QStringLiteral("from %1 to %2").arg(number(value.fMin), number(value.fMax));
}

QString deviceRow(const QString& key, int keyWidth)
{
    kwhost::DeviceReport report;
    QString error;
    const QString start = QStringLiteral("%1  ").arg(key, -keyWidth);
    if (!kwhost::readDevice(key, &report, &error))
        return start + QStringLiteral("(%1)").arg(error);
    QString geometry = QStringLiteral("?");
    if (report.widthKnown && report.heightKnown)
        geometry = QStringLiteral("%1x%2").arg(report.width.nCurValue).arg(report.height.nCurValue);
    const QString pixel = report.pixelKnown ? kwhost::deviceTypeName(report.pixel.nCurValue) : QStringLiteral("?");
    const QString exposure =
        report.exposureKnown ? number(report.exposure.fCurValue) + QStringLiteral(" us") : QStringLiteral("?");
    const QString gain = report.gainKnown ? number(report.gain.fCurValue) + QStringLiteral(" dB") : QStringLiteral("?");
    return start +
        QStringLiteral("%1  %2  %3  exposure %4  gain %5")
            .arg(report.transport, -4)
            .arg(geometry, -9)
            .arg(pixel, -8)
            .arg(exposure, gain);
}

}  // namespace kwcam
