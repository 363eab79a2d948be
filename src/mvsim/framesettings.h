// What a frame depends on: the acquisition keeps its own copy, which the
// device updates (under both locks) when a feature changes.
#ifndef MVSIM_FRAMESETTINGS_H
#define MVSIM_FRAMESETTINGS_H

namespace mvsim {

struct FrameSettings {
    unsigned width = 0;
    unsigned height = 0;
    unsigned pixelType = 0;
    float exposure = 0.0f;  // microseconds
    float gain = 0.0f;
    unsigned triggerMode = 0;
    unsigned triggerSource = 0;
    double frameRate = 0.0;
    double linePulseRate = 0.0;
    unsigned bufferCount = 3;
    double bandwidthMBps = 0.0;  // 0: instant readout
    bool instant = true;
};

}  // namespace mvsim

#endif  // MVSIM_FRAMESETTINGS_H
