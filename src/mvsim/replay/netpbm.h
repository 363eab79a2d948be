// Grey and colour Netpbm files (PGM, PPM; plain and binary), read with
// their samples as they are: Qt's reader scales samples to 8 bits.
#ifndef MVSIM_REPLAY_NETPBM_H
#define MVSIM_REPLAY_NETPBM_H

#include "picture.h"

#include <QByteArray>

#include <string>

namespace mvsim {

enum class NetpbmRead {
    Other,  // not a PGM or PPM file: for the other readers
    Done,
    Failed,  // a PGM or PPM file that is broken; reason set
};

// Reads the picture in `data`, a whole file or (with headerOnly) its
// beginning; with headerOnly only width, height and kind are filled, and
// `binaryEnd` (unless null) gets the size a binary file must have at least,
// 0 for a plain one.
NetpbmRead readNetpbm(const QByteArray& data, bool headerOnly, Picture* picture, std::string* reason,
                      std::size_t* binaryEnd = nullptr);

}  // namespace mvsim

#endif  // MVSIM_REPLAY_NETPBM_H
