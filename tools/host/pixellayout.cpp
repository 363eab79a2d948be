#include "kwhost/pixellayout.h"

#include "cameraobject.h"
#include "mvsim/control.h"

namespace kwhost {

namespace {

// Everything known of a layout, in one row: the other functions only look
// rows up.
struct LayoutRow {
    PixelLayout layout;
    const char* name;
    int bytesPerPixel;
    int channels;
    bool wide;
    int offsets[3];    // byte offset of red (or grey), green, blue
    int pluginFormat;  // the contract's code for it
    int pluginBits;    // bits per pixel a plug-in reports for a code it does not name
};

const LayoutRow kLayouts[] = {
    {PixelLayout::Gray8, "8-bit grey", 1, 1, false, {0, 0, 0}, CameraPixelFormatGray8, 8},
    {PixelLayout::Gray16, "16-bit grey", 2, 1, true, {0, 0, 0}, CameraPixelFormatGray16, 16},
    {PixelLayout::Rgb24, "24-bit RGB", 3, 3, false, {0, 1, 2}, CameraPixelFormatRgb24, 24},
    {PixelLayout::Bgr24, "24-bit BGR", 3, 3, false, {2, 1, 0}, CameraPixelFormatBgr24, 0},
    {PixelLayout::Rgba32, "32-bit RGBA", 4, 3, false, {0, 1, 2}, CameraPixelFormatRgb32, 32},
    {PixelLayout::Bgra32, "32-bit BGRA", 4, 3, false, {2, 1, 0}, CameraPixelFormatBgr32, 0},
    {PixelLayout::Rgb48, "48-bit RGB", 6, 3, true, {0, 2, 4}, CameraPixelFormatRgb48, 48},
};

const LayoutRow* rowOf(PixelLayout layout)
{
    for (const LayoutRow& row : kLayouts) {
        if (row.layout == layout)
            return &row;
    }
    return nullptr;
}

// Device pixel types with a name and a layout: the stand-in's set and the
// byte-ordered colour types cameras commonly send.
struct DeviceTypeRow {
    unsigned int type;
    const char* name;
    PixelLayout layout;
};

const DeviceTypeRow kDeviceTypes[] = {
    {MVSIM_PIXEL_MONO8, "Mono8", PixelLayout::Gray8}, {MVSIM_PIXEL_MONO16, "Mono16", PixelLayout::Gray16},
    {MVSIM_PIXEL_RGB8, "RGB8", PixelLayout::Rgb24},   {MVSIM_PIXEL_RGBA8, "RGBa8", PixelLayout::Rgba32},
    {MVSIM_PIXEL_RGB16, "RGB16", PixelLayout::Rgb48}, {MVSIM_PIXEL_BAYERRG8, "BayerRG8", PixelLayout::Gray8},
    {0x02180015u, "BGR8", PixelLayout::Bgr24},        {0x02200017u, "BGRa8", PixelLayout::Bgra32},
};

const DeviceTypeRow* deviceRowOf(unsigned int pixelType)
{
    for (const DeviceTypeRow& row : kDeviceTypes) {
        if (row.type == pixelType)
            return &row;
    }
    return nullptr;
}

}  // namespace

int bytesPerPixel(PixelLayout layout)
{
    const LayoutRow* row = rowOf(layout);
    return row != nullptr ? row->bytesPerPixel : 0;
}

int channelCount(PixelLayout layout)
{
    const LayoutRow* row = rowOf(layout);
    return row != nullptr ? row->channels : 0;
}

bool hasWideSamples(PixelLayout layout)
{
    const LayoutRow* row = rowOf(layout);
    return row != nullptr && row->wide;
}

int channelOffset(PixelLayout layout, int c)
{
    const LayoutRow* row = rowOf(layout);
    return row != nullptr && c >= 0 && c < 3 ? row->offsets[c] : 0;
}

QString layoutName(PixelLayout layout)
{
    const LayoutRow* row = rowOf(layout);
    return row != nullptr ? QLatin1String(row->name) : QStringLiteral("unknown layout");
}

PixelLayout layoutOfDeviceType(unsigned int pixelType)
{
    if (const DeviceTypeRow* row = deviceRowOf(pixelType))
        return row->layout;
    // Other mono types in a whole number of bytes (Bayer 8, Mono12 in 16
    // bits, ...) keep their samples as they are; packed types have no layout
    // a host can save. GigE Vision coding: the top byte says mono (1) or
    // colour (2), the next one how many bits a pixel occupies.
    const bool mono = (pixelType >> 24) == 0x01u;
    const unsigned int bits = (pixelType >> 16) & 0xFFu;
    if (mono && bits == 8)
        return PixelLayout::Gray8;
    if (mono && bits == 16)
        return PixelLayout::Gray16;
    return PixelLayout::Unknown;
}

QString deviceTypeName(unsigned int pixelType)
{
    if (const DeviceTypeRow* row = deviceRowOf(pixelType))
        return QLatin1String(row->name);
    return QStringLiteral("0x%1").arg(pixelType, 8, 16, QChar('0'));
}

PixelLayout layoutOfPluginFormat(int pixelFormat, int bitsPerPixel)
{
    for (const LayoutRow& row : kLayouts) {
        if (row.pluginFormat == pixelFormat)
            return row.layout;
    }
    // A code the contract does not name: only the depth is left to go by.
    for (const LayoutRow& row : kLayouts) {
        if (row.pluginBits != 0 && row.pluginBits == bitsPerPixel)
            return row.layout;
    }
    return PixelLayout::Unknown;
}

}  // namespace kwhost
