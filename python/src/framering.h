// The hand-over of frames from the SDK's thread to Python: a bounded ring of
// preallocated frame buffers, and the pool that refills it.
//
// push() runs on the SDK's thread inside OnImageReady: it copies the frame
// into a free slot (the only copy a frame gets), never allocates, never
// touches the interpreter, and holds the ring's mutex only to pick a slot and
// to publish it. When every slot holds a frame nobody took, the oldest is
// given up for the new one and counted.
//
// pop() runs on a consumer thread: it takes the oldest frame by swapping its
// buffer for a spare one, so the frame's buffer leaves the ring without a
// copy and becomes the memory of a numpy array. The spare comes from a
// BufferPool, which keeps the buffers that arrays gave back.
#ifndef KWPY_FRAMERING_H
#define KWPY_FRAMERING_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kwpy {

// Frame buffers of one size, kept for reuse up to a bound. Any thread; never
// the SDK's (take() may allocate).
class BufferPool {
public:
    BufferPool(size_t bytes, size_t keep);
    ~BufferPool();
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;

    size_t bufferBytes() const { return m_bytes; }
    // A kept buffer, else a new one; null when memory is short.
    unsigned char* take();
    // Keeps the buffer when there is room, frees it otherwise.
    void giveBack(unsigned char* buffer);
    size_t kept() const;

    static void release(unsigned char* buffer);

private:
    const size_t m_bytes;
    const size_t m_keep;
    mutable std::mutex m_mutex;
    std::vector<unsigned char*> m_kept;
};

struct FrameMeta {
    uint64_t number = 0;      // the stamp's frame number, else the arrival count
    int64_t timestampNs = 0;  // CLOCK_MONOTONIC at arrival
    int width = 0;
    int height = 0;
    size_t bytes = 0;
    uint64_t droppedBefore = 0;  // given up by the ring since the frame taken before this one
};

class FrameRing {
public:
    enum class Taken { Frame, Empty, Stopped, Closed };

    // slots buffers of the pool's size (at least 2: one is written while the
    // others wait), all taken from the pool now. Throws std::bad_alloc when
    // they cannot be had.
    FrameRing(size_t slots, std::shared_ptr<BufferPool> pool);
    ~FrameRing();
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;

    const std::shared_ptr<BufferPool>& pool() const { return m_pool; }
    size_t slotBytes() const { return m_pool->bufferBytes(); }

    // SDK thread, one frame at a time. False (and counted as too large) for a
    // frame larger than a slot; nothing after close().
    bool push(const unsigned char* data, FrameMeta meta);

    // Consumer threads. Waits until a frame is there, the ring is closed or
    // until passes. On Frame, *spare (a buffer from the pool) has gone into
    // the ring and *spare is the frame's buffer now, described by *meta.
    Taken pop(unsigned char** spare, FrameMeta* meta, std::chrono::steady_clock::time_point until);
    // Any thread: wakes every waiter; pop() answers Closed from now on and
    // push() takes nothing.
    void close();
    // Any thread, once acquisition has stopped: waiters wake, and pop()
    // answers Stopped when no frame is left, until clear().
    void stopped();
    // Frames not taken are given up (not counted as dropped), and pop() waits
    // again after stopped(). Only while no push() runs.
    void clear();

    uint64_t dropped() const;   // given up for newer frames, in all
    uint64_t tooLarge() const;  // frames that did not fit a slot
    uint64_t received() const;  // frames pushed, fitting or not

private:
    struct Slot {
        unsigned char* data = nullptr;
        FrameMeta meta;
    };

    const std::shared_ptr<BufferPool> m_pool;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    // Frames waiting, oldest first, as a circle of m_queue.size() places.
    std::vector<Slot> m_queue;
    size_t m_first = 0;
    size_t m_count = 0;
    // Free buffers, the one given back last on top: the next frame goes into
    // the buffer most likely still in the processor's caches.
    std::vector<unsigned char*> m_free;
    unsigned char* m_writing = nullptr;  // push()'s buffer while it copies
    uint64_t m_droppedSinceTaken = 0;
    uint64_t m_dropped = 0;
    uint64_t m_tooLarge = 0;
    uint64_t m_received = 0;
    bool m_closed = false;
    bool m_stopped = false;
};

}  // namespace kwpy

#endif  // KWPY_FRAMERING_H
