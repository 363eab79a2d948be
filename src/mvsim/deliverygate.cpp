#include "deliverygate.h"

namespace mvsim {

bool DeliveryGate::enter(const std::atomic<bool>* cancelled, bool* waited)
{
    const std::thread::id self = std::this_thread::get_id();
    if (waited)
        *waited = false;
    if (holder_.load() == self) {
        ++depth_;
        return true;
    }
    std::thread::id none;
    if (holder_.compare_exchange_strong(none, self)) {
        depth_ = 1;
        return true;
    }
    if (waited)
        *waited = true;
    // Counted as waiting before trying again: leave() either sees the count
    // and notifies under the mutex, or frees the turn before the next try.
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiters_;
    // A free gate is taken whatever `cancelled` says: a stop only drops
    // frames that would otherwise have waited for another callback.
    bool taken = false;
    changed_.wait(lock, [&] {
        std::thread::id free;
        taken = holder_.compare_exchange_strong(free, self);
        return taken || (cancelled && cancelled->load());
    });
    --waiters_;
    if (taken)
        depth_ = 1;
    return taken;
}

void DeliveryGate::leave()
{
    if (--depth_ > 0)
        return;
    holder_.store(std::thread::id());
    if (waiters_.load() > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        changed_.notify_all();
    }
}

void DeliveryGate::wake()
{
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
}

bool DeliveryGate::heldByThisThread() const
{
    return holder_.load() == std::this_thread::get_id();
}

}  // namespace mvsim
