// The memory layout of a frame's pixels: what a host needs to count bytes,
// read samples and save frames.
//
// The plug-in's report (m_nPixelFormat, m_nBitsPerPixel) is not enough: it
// announces 48-bit RGB as 16-bit grey and every type it does not know
// (16-bit mono, Bayer) as 8-bit grey. When the SDK can tell the device's own
// pixel type (the stand-in can, see sdkcontrol.h), the layout comes from that
// type; otherwise the plug-in's report is all there is.
#ifndef KWHOST_PIXELLAYOUT_H
#define KWHOST_PIXELLAYOUT_H

#include <QtCore/QString>

namespace kwhost {

enum class PixelLayout {
    Unknown,
    Gray8,   // also raw 8-bit Bayer mosaics
    Gray16,  // little-endian samples
    Rgb24,
    Bgr24,
    Rgba32,  // the fourth byte is not part of the picture
    Bgra32,
    Rgb48,  // little-endian samples
};

int bytesPerPixel(PixelLayout layout);
int channelCount(PixelLayout layout);     // colour channels kept when saving: 1 or 3 (0 for Unknown)
bool hasWideSamples(PixelLayout layout);  // 16 bits per channel
// Byte offset of channel c (0 red or grey, 1 green, 2 blue) within a pixel.
int channelOffset(PixelLayout layout, int c);
QString layoutName(PixelLayout layout);  // "8-bit grey", "24-bit RGB", ...

// Layout of a device pixel type (GigE Vision coding); Unknown for a type
// whose layout cannot be told.
PixelLayout layoutOfDeviceType(unsigned int pixelType);
// Display name of a device pixel type: "Mono8", ..., or the code in hex.
QString deviceTypeName(unsigned int pixelType);
// Layout as the plug-in reports it through the contract's members.
PixelLayout layoutOfPluginFormat(int pixelFormat, int bitsPerPixel);

}  // namespace kwhost

#endif  // KWHOST_PIXELLAYOUT_H
