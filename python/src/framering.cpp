#include "framering.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace kwpy {

namespace {

// Rows start on cache lines, as numpy and OpenCV like them.
const size_t kAlignment = 64;

}  // namespace

BufferPool::BufferPool(size_t bytes, size_t keep) : m_bytes(bytes == 0 ? 1 : bytes), m_keep(keep)
{
    m_kept.reserve(keep);
}

BufferPool::~BufferPool()
{
    for (unsigned char* buffer : m_kept)
        release(buffer);
}

unsigned char* BufferPool::take()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_kept.empty()) {
            unsigned char* buffer = m_kept.back();
            m_kept.pop_back();
            return buffer;
        }
    }
    void* memory = nullptr;
    if (posix_memalign(&memory, kAlignment, m_bytes) != 0)
        return nullptr;
    // Touched here, so that the kernel maps its pages now and not while the
    // SDK's thread copies the first frame into it.
    memset(memory, 0, m_bytes);
    return static_cast<unsigned char*>(memory);
}

void BufferPool::giveBack(unsigned char* buffer)
{
    if (buffer == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_kept.size() < m_keep) {
            m_kept.push_back(buffer);
            return;
        }
    }
    release(buffer);
}

size_t BufferPool::kept() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_kept.size();
}

void BufferPool::release(unsigned char* buffer)
{
    free(buffer);
}

FrameRing::FrameRing(size_t slots, std::shared_ptr<BufferPool> pool)
    : m_pool(std::move(pool)), m_queue(slots < 2 ? 2 : slots)
{
    m_free.reserve(m_queue.size());
    for (size_t i = 0; i < m_queue.size(); ++i) {
        unsigned char* buffer = m_pool->take();
        if (buffer == nullptr) {
            for (unsigned char* made : m_free)
                BufferPool::release(made);
            throw std::bad_alloc();
        }
        m_free.push_back(buffer);
    }
}

FrameRing::~FrameRing()
{
    for (unsigned char* buffer : m_free)
        m_pool->giveBack(buffer);
    for (size_t i = 0; i < m_count; ++i)
        m_pool->giveBack(m_queue[(m_first + i) % m_queue.size()].data);
    m_pool->giveBack(m_writing);
}

bool FrameRing::push(const unsigned char* data, FrameMeta meta)
{
    unsigned char* buffer = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return false;
        ++m_received;
        if (meta.bytes > m_pool->bufferBytes()) {
            ++m_tooLarge;
            return false;
        }
        if (!m_free.empty()) {
            buffer = m_free.back();
            m_free.pop_back();
        } else {
            // Every other buffer holds a frame nobody took: the oldest goes.
            buffer = m_queue[m_first].data;
            m_first = (m_first + 1) % m_queue.size();
            --m_count;
            ++m_dropped;
            ++m_droppedSinceTaken;
        }
        m_writing = buffer;
    }
    // The buffer is this thread's alone until it is queued.
    memcpy(buffer, data, meta.bytes);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writing = nullptr;
        if (m_closed) {
            m_free.push_back(buffer);
            return false;
        }
        meta.droppedBefore = 0;
        Slot& slot = m_queue[(m_first + m_count) % m_queue.size()];
        slot.data = buffer;
        slot.meta = meta;
        ++m_count;
    }
    m_ready.notify_one();
    return true;
}

FrameRing::Taken FrameRing::pop(unsigned char** spare, FrameMeta* meta, std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_ready.wait_until(lock, until, [this]() { return m_closed || m_count > 0 || m_stopped; }))
        return Taken::Empty;
    if (m_closed)
        return Taken::Closed;
    if (m_count == 0)
        return Taken::Stopped;
    Slot& slot = m_queue[m_first];
    *meta = slot.meta;
    meta->droppedBefore = m_droppedSinceTaken;
    m_droppedSinceTaken = 0;
    m_free.push_back(*spare);
    *spare = slot.data;
    slot.data = nullptr;
    m_first = (m_first + 1) % m_queue.size();
    --m_count;
    return Taken::Frame;
}

void FrameRing::close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_ready.notify_all();
}

void FrameRing::stopped()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_ready.notify_all();
}

void FrameRing::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = false;
    for (; m_count > 0; --m_count) {
        m_free.push_back(m_queue[m_first].data);
        m_first = (m_first + 1) % m_queue.size();
    }
    m_droppedSinceTaken = 0;
}

uint64_t FrameRing::dropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

uint64_t FrameRing::tooLarge() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tooLarge;
}

uint64_t FrameRing::received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

}  // namespace kwpy
