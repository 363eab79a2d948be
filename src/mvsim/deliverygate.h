// One image callback at a time per device, as a camera delivers them: the
// acquisition thread and MVSIM_DeliverFrame take turns.
#ifndef MVSIM_DELIVERYGATE_H
#define MVSIM_DELIVERYGATE_H

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace mvsim {

// A leaf lock: nothing else is taken while its mutex is held. The turn is
// re-entrant on the thread that has it, so a callback that delivers another
// frame of the same device runs it nested instead of waiting for itself.
class DeliveryGate {
public:
    // Waits for the turn. While another thread has it, gives up and returns
    // false once `cancelled` holds (checked whenever wake() is called).
    bool enter(const std::atomic<bool>* cancelled = nullptr);
    void leave();
    // Makes waiting threads check their cancellation.
    void wake();
    bool heldByThisThread();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id holder_;
    unsigned depth_ = 0;
};

}  // namespace mvsim

#endif  // MVSIM_DELIVERYGATE_H
