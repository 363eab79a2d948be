// A device's pictures as frames: a loader thread of the device's own
// decodes them ahead of the frame clock into a cache bounded in bytes.
#ifndef MVSIM_REPLAY_PICTUREFEED_H
#define MVSIM_REPLAY_PICTUREFEED_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mvsim {

// The cache bound: $MVSIM_REPLAY_CACHE_MB mebibytes, 1024 when unset. A
// value that is not a whole number is reported on stderr and the default
// used. Read at each call.
std::size_t replayCacheBytes();

// Pictures in the order they replay, decoded and converted to the device's
// pixel type. When every picture fits in the cache, each is decoded once and
// kept. Otherwise the feed streams: it keeps the pictures from the next one
// to deliver onwards, as many as fit (at least one), and decodes each again
// when its turn comes round.
//
// take() runs on the device's sensor side; the loader never runs anything
// of the host's. The owner destroys the feed only when no take() runs.
class PictureFeed {
public:
    struct Setup {
        std::vector<std::string> files;
        unsigned width = 0;
        unsigned height = 0;
        unsigned pixelType = 0;
        bool loop = true;
        // Frames are the cached pictures themselves: each picture's sum is
        // kept, so that checkZeroCopyFrames() can tell when a host wrote into one.
        bool zeroCopy = false;
        std::size_t cacheBytes = 0;
        bool active = true;  // see setActive()
    };

    using Frame = std::shared_ptr<const std::vector<unsigned char>>;

    struct Next {
        Frame frame;            // null when none: a once feed is through, or the wait was cancelled
        std::size_t index = 0;  // the picture's place in the order, from 0
        bool waited = false;    // the picture was not decoded yet when its turn came
    };

    struct Stats {
        unsigned long long decoded = 0;  // pictures decoded, counting repeats while streaming
        unsigned long long waits = 0;    // turns that waited for the loader
        std::size_t cachedMost = 0;      // most pictures held at once
    };

    // Starts the loader, which begins with the first pictures at once.
    // Throws std::system_error when no thread can be had.
    explicit PictureFeed(Setup setup);
    ~PictureFeed();  // stops and joins the loader
    PictureFeed(const PictureFeed&) = delete;
    PictureFeed& operator=(const PictureFeed&) = delete;

    // The picture the next frame event shows, in order: false when there is
    // none (replayed once and every picture shown, until a rewind). Claims
    // run ahead of take() by the frames in exposure and readout; a frame
    // that is lost before its pixels are made skips its picture, as a
    // camera's lost frame does its scene.
    bool claim(std::size_t* index);
    // Picture `index`, waiting for the loader as long as it takes, or until
    // `cancel` holds when wake() is called. The loader decodes ahead from
    // the picture after it.
    Next take(std::size_t index, const std::atomic<bool>& cancel);
    void wake();
    // A once feed whose pictures have all been claimed.
    bool through() const;
    // Claims start again from the first picture.
    void rewind();
    // The loader decodes ahead only while the device grabs: a device that
    // stopped keeps its cache and leaves the loader waiting, but for a
    // picture a take() waits for.
    void setActive(bool active);
    // Sharing frames: every cached picture that no longer matches its sum
    // (a host wrote into its frame) is reported on stderr in one line and
    // dropped from the cache, to be decoded again. Reads every cached picture.
    void checkZeroCopyFrames();

    std::size_t count() const { return setup_.files.size(); }
    bool streams() const { return window_ < setup_.files.size(); }
    const std::string& file(std::size_t index) const { return setup_.files[index]; }
    std::size_t frameBytes() const { return frameBytes_; }
    Stats stats() const;

private:
    void run();
    // The picture the loader should decode next, if any (lock held).
    bool wantedLocked(std::size_t* index) const;
    bool inWindowLocked(std::size_t index) const;
    void evictLocked();
    // False, with the line on stderr, when the picture changed.
    bool intactLocked(std::size_t index) const;
    Frame decode(std::size_t index) const;

    struct Cached {
        Frame frame;
        std::uint64_t sum = 0;  // sharing frames: the picture's sum as decoded
    };

    const Setup setup_;
    const std::size_t frameBytes_;
    std::size_t window_ = 1;  // pictures the cache holds

    mutable std::mutex mutex_;
    std::condition_variable loaded_;  // a picture entered the cache; or wake()
    std::condition_variable wanted_;  // the loader has work; or stop
    std::map<std::size_t, Cached> cache_;
    std::size_t cursor_ = 0;   // the picture take() wants next; count() when a once feed is through
    std::size_t claimed_ = 0;  // the next claim; count() when a once feed is through
    bool stop_ = false;
    bool active_ = true;
    int waiting_ = 0;  // take() calls waiting for the loader
    Stats stats_;
    std::thread loader_;
};

}  // namespace mvsim

#endif  // MVSIM_REPLAY_PICTUREFEED_H
