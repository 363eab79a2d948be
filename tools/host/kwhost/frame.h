// One frame as a host reads it inside OnImageReady: the contract's members,
// the true layout (the device's own where the SDK tells it: the plug-in's
// report announces 48-bit RGB as 16-bit grey and what it does not know as
// 8-bit grey), the bytes that layout makes, and the stand-in's stamp. The
// members, and so data, describe the frame during that call only.
#ifndef KWHOST_FRAME_H
#define KWHOST_FRAME_H

#include <QtCore/QtGlobal>

#include "cameraobject.h"
#include "kwhost/pixellayout.h"

namespace kwhost {

struct HostFrame {
    const unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    int pluginFormat = 0;  // m_nPixelFormat
    int pluginBitsPerPixel = 0;
    int imageSize = 0;  // m_nImageSize, as the contract counts it
    int frameCount = 0;
    PixelLayout layout = PixelLayout::Unknown;
    quint64 bytes = 0;  // width x height pixels of layout; 0 without pixels
    bool stamped = false;
    quint32 number = 0;  // the stamp's frame number
};

// deviceLayout: the device's layout when the SDK tells it, else Unknown.
HostFrame readFrame(const ICameraObject* camera, PixelLayout deviceLayout);

}  // namespace kwhost

#endif  // KWHOST_FRAME_H
