// Handing one frame to a device's image callback: the one routine for every
// frame, whatever made it (the acquisition's sensor or delivery thread, or
// MVSIM_DeliverFrame*).
#ifndef MVSIM_DELIVERY_H
#define MVSIM_DELIVERY_H

#include "deliverygate.h"
#include "exports.h"
#include "ledger.h"

#include <atomic>
#include <chrono>

namespace mvsim {

// What the callback is called with; null pointers are passed on as they are.
struct Handover {
    MvImageCallback callback = nullptr;  // none: the frame is settled as produced without one
    unsigned char* data = nullptr;
    _MV_FRAME_OUT_INFO_* info = nullptr;
    void* user = nullptr;
};

enum class Turn {
    Take,  // wait for the device's delivery turn
    Held,  // the caller has it already (a frame delivered from inside a callback)
};

// Runs on the calling thread, which holds no lock of the registry or the
// acquisition: the callback may call into the stand-in. Takes the delivery
// turn, runs the callback, gives the turn back and settles the frame as
// delivered with its delivery times. `readyAt` (steady-clock ns, 0 for
// none) is when the frame was in its buffer a moment ago: its delivery
// starts then unless it had to wait for its turn, which spares a clock read.
// Returns false, having called and settled nothing, when `cancelled` holds
// before the callback could start: the caller then settles the frame.
// `end` is when the callback returned.
bool deliverFrame(const Handover& frame, Ledger& ledger, Ledger::Id id, DeliveryGate& gate, Turn turn,
                  const std::atomic<bool>* cancelled, long long readyAt, std::chrono::steady_clock::time_point* end);

}  // namespace mvsim

#endif  // MVSIM_DELIVERY_H
