#include "netpbm.h"

#include <algorithm>
#include <cstdint>

namespace mvsim {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads header tokens and plain samples: decimal numbers separated by
// white space, with comments from '#' to the end of the line.
class Scanner {
public:
    explicit Scanner(const QByteArray& data) : data_(data) {}

    bool number(std::uint32_t* value)
    {
        skipSpaceAndComments();
        if (at_ >= data_.size() || data_[at_] < '0' || data_[at_] > '9')
            return false;
        std::uint64_t v = 0;
        while (at_ < data_.size() && data_[at_] >= '0' && data_[at_] <= '9') {
            v = v * 10 + static_cast<unsigned>(data_[at_] - '0');
            if (v > 0xFFFFFFFFu)
                return false;
            ++at_;
        }
        *value = static_cast<std::uint32_t>(v);
        return true;
    }

    // The single white-space byte between the header and a binary raster.
    bool endOfHeader()
    {
        if (at_ >= data_.size() || !isSpace(data_[at_]))
            return false;
        ++at_;
        return true;
    }

    int position() const { return at_; }

private:
    void skipSpaceAndComments()
    {
        while (at_ < data_.size()) {
            if (isSpace(data_[at_])) {
                ++at_;
            } else if (data_[at_] == '#') {
                while (at_ < data_.size() && data_[at_] != '\n' && data_[at_] != '\r')
                    ++at_;
            } else {
                break;
            }
        }
    }

    const QByteArray& data_;
    int at_ = 2;  // after the magic number
};

}  // namespace

NetpbmRead readNetpbm(const QByteArray& data, bool headerOnly, Picture* picture, std::string* reason,
                      std::size_t* binaryEnd)
{
    if (data.size() < 2 || data[0] != 'P' || (data[1] != '2' && data[1] != '3' && data[1] != '5' && data[1] != '6'))
        return NetpbmRead::Other;
    const bool plain = data[1] == '2' || data[1] == '3';
    const unsigned channels = (data[1] == '3' || data[1] == '6') ? 3 : 1;
    Scanner scan(data);
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t maxValue = 0;
    if (!scan.number(&width) || !scan.number(&height) || !scan.number(&maxValue)) {
        *reason = "broken Netpbm header";
        return NetpbmRead::Failed;
    }
    if (width < 1 || height < 1 || width > 65535 || height > 65535 || maxValue < 1 || maxValue > 65535) {
        *reason = "Netpbm header out of range (size 1..65535, maximum value 1..65535)";
        return NetpbmRead::Failed;
    }
    const bool wide = maxValue > 255;
    picture->width = width;
    picture->height = height;
    picture->kind = channels == 1 ? (wide ? PictureKind::Grey16 : PictureKind::Grey8)
                                  : (wide ? PictureKind::Rgb16 : PictureKind::Rgb8);
    const std::size_t samples = static_cast<std::size_t>(width) * height * channels;
    if (!withinPictureLimit(width, height, channels * (wide ? 2 : 1), reason))
        return NetpbmRead::Failed;
    if (headerOnly) {
        if (binaryEnd)
            *binaryEnd = plain ? 0 : static_cast<std::size_t>(scan.position()) + 1 + samples * (wide ? 2 : 1);
        return NetpbmRead::Done;
    }
    picture->samples.assign(samples * (wide ? 2 : 1), 0);
    unsigned char* out = picture->samples.data();
    if (plain) {
        for (std::size_t i = 0; i < samples; ++i) {
            std::uint32_t v = 0;
            if (!scan.number(&v) || v > maxValue) {
                *reason = "broken or missing sample " + std::to_string(i);
                return NetpbmRead::Failed;
            }
            if (wide) {
                out[2 * i] = static_cast<unsigned char>(v & 0xFF);
                out[2 * i + 1] = static_cast<unsigned char>(v >> 8);
            } else {
                out[i] = static_cast<unsigned char>(v);
            }
        }
        return NetpbmRead::Done;
    }
    if (!scan.endOfHeader()) {
        *reason = "broken Netpbm header";
        return NetpbmRead::Failed;
    }
    const std::size_t rasterBytes = picture->samples.size();
    const auto start = static_cast<std::size_t>(scan.position());
    if (static_cast<std::size_t>(data.size()) - start < rasterBytes) {
        *reason = "truncated: " + std::to_string(rasterBytes) + " bytes of samples expected, " +
            std::to_string(static_cast<std::size_t>(data.size()) - start) + " found";
        return NetpbmRead::Failed;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(data.constData()) + start;
    if (wide) {
        // Netpbm keeps 16-bit samples big-endian; frames little-endian.
        for (std::size_t i = 0; i < samples; ++i) {
            out[2 * i] = in[2 * i + 1];
            out[2 * i + 1] = in[2 * i];
        }
    } else {
        std::copy(in, in + rasterBytes, out);
    }
    return NetpbmRead::Done;
}

}  // namespace mvsim
