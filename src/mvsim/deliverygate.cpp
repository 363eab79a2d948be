#include "deliverygate.h"

namespace mvsim {

bool DeliveryGate::enter(const std::atomic<bool>* cancelled)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (depth_ > 0 && holder_ == self) {
        ++depth_;
        return true;
    }
    // A free gate is taken whatever `cancelled` says: a stop only drops
    // frames that would otherwise have waited for another callback.
    changed_.wait(lock, [&] { return depth_ == 0 || (cancelled && cancelled->load()); });
    if (depth_ != 0)
        return false;
    holder_ = self;
    depth_ = 1;
    return true;
}

void DeliveryGate::leave()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (--depth_ == 0) {
        holder_ = std::thread::id();
        changed_.notify_all();
    }
}

void DeliveryGate::wake()
{
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
}

bool DeliveryGate::heldByThisThread()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return depth_ > 0 && holder_ == std::this_thread::get_id();
}

}  // namespace mvsim
