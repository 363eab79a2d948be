#include "kwhost/frame.h"

#include "kwhost/framestamp.h"

namespace kwhost {

HostFrame readFrame(const ICameraObject* camera, PixelLayout deviceLayout)
{
    HostFrame frame;
    frame.data = camera->m_pImageData;
    frame.width = camera->m_nWidth;
    frame.height = camera->m_nHeight;
    frame.pluginFormat = camera->m_nPixelFormat;
    frame.pluginBitsPerPixel = camera->m_nBitsPerPixel;
    frame.imageSize = camera->m_nImageSize;
    frame.frameCount = camera->m_nFrameCount;
    frame.layout = deviceLayout != PixelLayout::Unknown
        ? deviceLayout
        : layoutOfPluginFormat(frame.pluginFormat, frame.pluginBitsPerPixel);
    if (frame.data != nullptr && frame.width > 0 && frame.height > 0)
        frame.bytes = static_cast<quint64>(frame.width) * static_cast<quint64>(frame.height) *
            static_cast<quint64>(bytesPerPixel(frame.layout));
    frame.stamped = readFrameStamp(frame.data, frame.bytes, &frame.number);
    return frame;
}

}  // namespace kwhost
