// Natural name order: runs of digits compare by their value, so "2.png"
// comes before "10.png".
#ifndef MVSIM_REPLAY_NATURALORDER_H
#define MVSIM_REPLAY_NATURALORDER_H

#include <string>

namespace mvsim {

// Strict weak order over names. Digit runs compare by value (then by length,
// so "07" sorts after "7"); other bytes compare as unsigned bytes. Names
// equal that way fall back to plain byte order, so the order is total.
bool naturalLess(const std::string& a, const std::string& b);

}  // namespace mvsim

#endif  // MVSIM_REPLAY_NATURALORDER_H
