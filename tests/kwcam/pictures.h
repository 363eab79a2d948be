// Reads a picture the tool saved back into plain samples, whatever the file
// format, so that cases compare pixels without caring how they were stored.
#ifndef KWCAM_TESTS_PICTURES_H
#define KWCAM_TESTS_PICTURES_H

#include <QtCore/QString>

#include <vector>

struct Picture {
    int width = 0;
    int height = 0;
    int channels = 0;               // 1 grey, 3 colour
    bool wide = false;              // 16 bits per sample in the file
    std::vector<unsigned> samples;  // row by row, channel by channel

    unsigned at(int x, int y, int c) const { return samples[(static_cast<size_t>(y) * width + x) * channels + c]; }
};

// PNG through QImage, PGM and PPM (P5/P6) by hand. Returns the reason on
// failure, empty on success.
QString readPicture(const QString& path, Picture* picture);

#endif  // KWCAM_TESTS_PICTURES_H
