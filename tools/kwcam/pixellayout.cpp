#include "pixellayout.h"

#include "cameraobject.h"
#include "mvsim/control.h"

namespace kwcam {

namespace {

// Device pixel types outside the stand-in's set that cameras commonly send.
const unsigned int kPixelBgr8 = 0x02180015u;
const unsigned int kPixelBgra8 = 0x02200017u;

// GigE Vision coding: the top byte says mono (1) or colour (2), the next one
// how many bits a pixel occupies.
unsigned int occupiedBits(unsigned int pixelType)
{
    return (pixelType >> 16) & 0xFFu;
}

bool isMono(unsigned int pixelType)
{
    return (pixelType >> 24) == 0x01u;
}

}  // namespace

int bytesPerPixel(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Gray8:
        return 1;
    case PixelLayout::Gray16:
        return 2;
    case PixelLayout::Rgb24:
    case PixelLayout::Bgr24:
        return 3;
    case PixelLayout::Rgba32:
    case PixelLayout::Bgra32:
        return 4;
    case PixelLayout::Rgb48:
        return 6;
    case PixelLayout::Unknown:
        break;
    }
    return 0;
}

int channelCount(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Gray8:
    case PixelLayout::Gray16:
        return 1;
    case PixelLayout::Unknown:
        return 0;
    default:
        return 3;
    }
}

bool hasWideSamples(PixelLayout layout)
{
    return layout == PixelLayout::Gray16 || layout == PixelLayout::Rgb48;
}

QString layoutName(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Gray8:
        return QStringLiteral("8-bit grey");
    case PixelLayout::Gray16:
        return QStringLiteral("16-bit grey");
    case PixelLayout::Rgb24:
        return QStringLiteral("24-bit RGB");
    case PixelLayout::Bgr24:
        return QStringLiteral("24-bit BGR");
    case PixelLayout::Rgba32:
        return QStringLiteral("32-bit RGBA");
    case PixelLayout::Bgra32:
        return QStringLiteral("32-bit BGRA");
    case PixelLayout::Rgb48:
        return QStringLiteral("48-bit RGB");
    case PixelLayout::Unknown:
        break;
    }
    return QStringLiteral("unknown layout");
}

PixelLayout layoutOfDeviceType(unsigned int pixelType)
{
    switch (pixelType) {
    case MVSIM_PIXEL_MONO8:
    case MVSIM_PIXEL_BAYERRG8:
        return PixelLayout::Gray8;
    case MVSIM_PIXEL_MONO16:
        return PixelLayout::Gray16;
    case MVSIM_PIXEL_RGB8:
        return PixelLayout::Rgb24;
    case MVSIM_PIXEL_RGBA8:
        return PixelLayout::Rgba32;
    case MVSIM_PIXEL_RGB16:
        return PixelLayout::Rgb48;
    case kPixelBgr8:
        return PixelLayout::Bgr24;
    case kPixelBgra8:
        return PixelLayout::Bgra32;
    default:
        break;
    }
    // Other mono types in a whole number of bytes (Bayer 8, Mono12 in 16
    // bits, ...) keep their samples as they are; packed types have no layout
    // the tool can save.
    if (isMono(pixelType) && occupiedBits(pixelType) == 8)
        return PixelLayout::Gray8;
    if (isMono(pixelType) && occupiedBits(pixelType) == 16)
        return PixelLayout::Gray16;
    return PixelLayout::Unknown;
}

QString deviceTypeName(unsigned int pixelType)
{
    switch (pixelType) {
    case MVSIM_PIXEL_MONO8:
        return QStringLiteral("Mono8");
    case MVSIM_PIXEL_MONO16:
        return QStringLiteral("Mono16");
    case MVSIM_PIXEL_RGB8:
        return QStringLiteral("RGB8");
    case MVSIM_PIXEL_RGBA8:
        return QStringLiteral("RGBa8");
    case MVSIM_PIXEL_RGB16:
        return QStringLiteral("RGB16");
    case MVSIM_PIXEL_BAYERRG8:
        return QStringLiteral("BayerRG8");
    case kPixelBgr8:
        return QStringLiteral("BGR8");
    case kPixelBgra8:
        return QStringLiteral("BGRa8");
    default:
        return QStringLiteral("0x%1").arg(pixelType, 8, 16, QChar('0'));
    }
}

PixelLayout layoutOfPluginFormat(int pixelFormat, int bitsPerPixel)
{
    switch (pixelFormat) {
    case CameraPixelFormatGray8:
        return PixelLayout::Gray8;
    case CameraPixelFormatRgb24:
        return PixelLayout::Rgb24;
    case CameraPixelFormatRgb32:
        return PixelLayout::Rgba32;
    case CameraPixelFormatGray16:
        return PixelLayout::Gray16;
    case CameraPixelFormatRgb48:
        return PixelLayout::Rgb48;
    case CameraPixelFormatBgr24:
        return PixelLayout::Bgr24;
    case CameraPixelFormatBgr32:
        return PixelLayout::Bgra32;
    default:
        break;
    }
    // A code the contract does not name: only the depth is left to go by.
    switch (bitsPerPixel) {
    case 8:
        return PixelLayout::Gray8;
    case 16:
        return PixelLayout::Gray16;
    case 24:
        return PixelLayout::Rgb24;
    case 32:
        return PixelLayout::Rgba32;
    case 48:
        return PixelLayout::Rgb48;
    default:
        return PixelLayout::Unknown;
    }
}

}  // namespace kwcam
