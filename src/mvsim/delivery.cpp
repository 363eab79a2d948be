#include "delivery.h"

namespace mvsim {

bool deliverFrame(const Handover& frame, Ledger& ledger, Ledger::Id id, DeliveryGate& gate, Turn turn,
                  const std::atomic<bool>* cancelled, long long readyAt, std::chrono::steady_clock::time_point* end)
{
    if (cancelled && cancelled->load(std::memory_order_relaxed))
        return false;
    if (!frame.callback) {
        ledger.settle(id, MVSIM_FATE_NO_CALLBACK);
        return true;
    }
    bool waited = false;
    if (turn == Turn::Take && !gate.enter(cancelled, &waited))
        return false;
    const long long start = waited || !readyAt ? nowNs() : readyAt;
    frame.callback(frame.data, frame.info, frame.user);
    *end = std::chrono::steady_clock::now();
    if (turn == Turn::Take)
        gate.leave();
    ledger.settleDelivered(id, start, toNs(*end));
    return true;
}

}  // namespace mvsim
