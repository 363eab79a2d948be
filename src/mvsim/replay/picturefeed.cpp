#include "picturefeed.h"

#include "picture.h"
#include "pictureconvert.h"

#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace mvsim {

namespace {

constexpr std::size_t defaultCacheMb = 1024;

// A sum of a picture's bytes that changes with any of them (four
// independent lanes of multiply-and-rotate, so that it runs near the speed
// of reading the picture).
std::uint64_t pictureSum(const std::vector<unsigned char>& bytes)
{
    std::uint64_t lane[4] = {1, 2, 3, 4};
    const std::size_t words = bytes.size() / 8;
    std::size_t i = 0;
    auto mix = [](std::uint64_t h, std::uint64_t w) {
        h ^= w * 0x9E3779B97F4A7C15ull;
        return (h << 31 | h >> 33) * 0xBF58476D1CE4E5B9ull;
    };
    for (; i + 4 <= words; i += 4)
        for (int k = 0; k < 4; ++k) {
            std::uint64_t w;
            std::memcpy(&w, bytes.data() + (i + k) * 8, 8);
            lane[k] = mix(lane[k], w);
        }
    std::uint64_t h = mix(mix(lane[0], lane[1]), mix(lane[2], lane[3]));
    for (std::size_t b = i * 8; b < bytes.size(); ++b)
        h = mix(h, bytes[b]);
    return mix(h, bytes.size());
}

}  // namespace

std::size_t replayCacheBytes()
{
    // Read whenever a device gets its pictures, so that a test can set it.
    const QByteArray text = qgetenv("MVSIM_REPLAY_CACHE_MB");
    if (text.isEmpty())
        return defaultCacheMb << 20;
    bool ok = false;
    const qulonglong mb = text.toULongLong(&ok);
    if (!ok || mb > (std::numeric_limits<std::size_t>::max() >> 20)) {
        std::fprintf(stderr, "mvsim: MVSIM_REPLAY_CACHE_MB: \"%s\" is not a number of mebibytes; using %zu\n",
                     text.constData(), defaultCacheMb);
        return defaultCacheMb << 20;
    }
    return static_cast<std::size_t>(mb) << 20;
}

PictureFeed::PictureFeed(Setup setup)
    : setup_(std::move(setup)), frameBytes_(convertedFrameBytes(setup_.width, setup_.height, setup_.pixelType))
{
    const std::size_t fit = frameBytes_ ? setup_.cacheBytes / frameBytes_ : setup_.files.size();
    window_ = std::max<std::size_t>(1, std::min(fit, setup_.files.size()));
    active_ = setup_.active;
    loader_ = std::thread([this] { run(); });
}

PictureFeed::~PictureFeed()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wanted_.notify_all();
    loaded_.notify_all();
    loader_.join();
}

bool PictureFeed::claim(std::size_t* index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (claimed_ >= count())
        return false;
    *index = claimed_++;
    if (claimed_ == count() && setup_.loop)
        claimed_ = 0;
    return true;
}

PictureFeed::Next PictureFeed::take(std::size_t index, const std::atomic<bool>& cancel)
{
    std::unique_lock<std::mutex> lock(mutex_);
    Next next;
    if (index >= count())
        return next;
    next.index = index;
    if (cursor_ != index) {
        // Frames lost before their pixels were made, or a rewind: the
        // window moves to the picture wanted now.
        cursor_ = index;
        evictLocked();
        wanted_.notify_all();
    }
    auto found = cache_.find(index);
    if (found == cache_.end()) {
        next.waited = true;
        ++stats_.waits;
        ++waiting_;
        wanted_.notify_all();
        loaded_.wait(lock, [&] {
            found = cache_.find(index);
            return found != cache_.end() || cancel.load() || stop_;
        });
        --waiting_;
        if (found == cache_.end())
            return next;  // cancelled: no frame
    }
    next.frame = found->second.frame;
    cursor_ = index + 1;
    if (cursor_ == count() && setup_.loop)
        cursor_ = 0;
    evictLocked();
    // The loader is woken only when the window now has a picture for it to
    // decode: with every picture cached it has none, and waking it for each
    // frame would cost a thread switch a frame on the sensor's cores. The
    // loader checks for work under the lock before it waits, so a wake-up
    // left out here is never one it needed.
    std::size_t missing = 0;
    const bool work = wantedLocked(&missing);
    lock.unlock();
    if (work)
        wanted_.notify_all();
    return next;
}

void PictureFeed::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
    }
    loaded_.notify_all();
}

bool PictureFeed::through() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return claimed_ >= count();
}

void PictureFeed::rewind()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        claimed_ = 0;
        cursor_ = 0;
        evictLocked();
    }
    wanted_.notify_all();
}

void PictureFeed::setActive(bool active)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        active_ = active;
    }
    wanted_.notify_all();
}

PictureFeed::Stats PictureFeed::stats() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stats_;
}

// The window: the next picture to deliver and those after it (wrapping
// round when looping), as many as the cache holds.
bool PictureFeed::inWindowLocked(std::size_t index) const
{
    if (!streams())
        return true;
    if (cursor_ >= count())
        return false;  // a once feed that is through needs nothing until a rewind
    const std::size_t ahead = index >= cursor_ ? index - cursor_ : (setup_.loop ? index + count() - cursor_ : count());
    return ahead < window_;
}

bool PictureFeed::wantedLocked(std::size_t* index) const
{
    if (cursor_ >= count())
        return false;
    if (!active_) {
        // Paused: only the picture a take() waits for.
        if (waiting_ == 0 || cache_.count(cursor_))
            return false;
        *index = cursor_;
        return true;
    }
    for (std::size_t k = 0; k < window_; ++k) {
        std::size_t i = cursor_ + k;
        if (i >= count()) {
            if (!setup_.loop)
                return false;
            i -= count();
        }
        if (cache_.find(i) == cache_.end()) {
            *index = i;
            return true;
        }
    }
    return false;
}

void PictureFeed::evictLocked()
{
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (inWindowLocked(it->first)) {
            ++it;
            continue;
        }
        if (setup_.zeroCopy)
            intactLocked(it->first);  // reported; it goes anyway
        it = cache_.erase(it);
    }
}

bool PictureFeed::intactLocked(std::size_t index) const
{
    const Cached& cached = cache_.at(index);
    if (pictureSum(*cached.frame) == cached.sum)
        return true;
    std::fprintf(stderr,
                 "mvsim: %s: the host wrote into a shared frame of this picture; later frames showed the change "
                 "(with sharedFrames, frames are for reading only)\n",
                 setup_.files[index].c_str());
    return false;
}

void PictureFeed::checkZeroCopyFrames()
{
    if (!setup_.zeroCopy)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = cache_.begin(); it != cache_.end();)
            it = intactLocked(it->first) ? std::next(it) : cache_.erase(it);
    }
    wanted_.notify_all();
}

PictureFeed::Frame PictureFeed::decode(std::size_t index) const
{
    Picture picture;
    std::string reason;
    const std::string& path = setup_.files[index];
    const bool decoded = decodePicture(path, &picture, &reason);
    const bool fits = decoded && picture.width == setup_.width && picture.height == setup_.height;
    // A picture that is the frame already gives its samples away: no copy.
    if (fits && samePixels(picture.kind, setup_.pixelType))
        return std::make_shared<const std::vector<unsigned char>>(std::move(picture.samples));
    auto frame = std::make_shared<std::vector<unsigned char>>(frameBytes_, 0);
    if (!decoded) {
        // Checked when the device was set up; changed on disk since.
        std::fprintf(stderr, "mvsim: %s: %s; its frame is black\n", path.c_str(), reason.c_str());
    } else if (!fits) {
        std::fprintf(stderr, "mvsim: %s: is %ux%u now, the device is %ux%u; its frame is black\n", path.c_str(),
                     picture.width, picture.height, setup_.width, setup_.height);
    } else {
        convertPicture(picture, setup_.pixelType, frame->data());
    }
    return frame;
}

// The loader: decodes the first picture of the window that is missing,
// outside the lock, and keeps it if it is still wanted.
void PictureFeed::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        std::size_t index = 0;
        if (!wantedLocked(&index)) {
            wanted_.wait(lock);
            continue;
        }
        lock.unlock();
        Frame frame = decode(index);
        const std::uint64_t sum = setup_.zeroCopy ? pictureSum(*frame) : 0;
        lock.lock();
        ++stats_.decoded;
        if (inWindowLocked(index)) {
            Cached& cached = cache_[index];
            cached.frame = std::move(frame);
            cached.sum = sum;
            stats_.cachedMost = std::max(stats_.cachedMost, cache_.size());
            loaded_.notify_all();
        }
    }
}

}  // namespace mvsim
