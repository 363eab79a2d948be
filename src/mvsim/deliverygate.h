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
// A free turn is taken and given back without the mutex (one exchange
// each way): the acquisition takes it at every frame, others seldom.
class DeliveryGate {
public:
    // Waits for the turn. While another thread has it, gives up and returns
    // false once `cancelled` holds (checked whenever wake() is called).
    // `waited` (when given) tells whether the turn was not free at once.
    bool enter(const std::atomic<bool>* cancelled = nullptr, bool* waited = nullptr);
    void leave();
    // Makes waiting threads check their cancellation.
    void wake();
    bool heldByThisThread() const;

private:
    std::atomic<std::thread::id> holder_{std::thread::id()};
    unsigned depth_ = 0;           // touched by the holder only
    std::atomic<int> waiters_{0};  // threads in the slow path of enter()
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace mvsim

#endif  // MVSIM_DELIVERYGATE_H
