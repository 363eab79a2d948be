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

FrameRing::FrameRing(size_t slots, std::shared_ptr<BufferPool> pool) : m_pool(std::move(pool)), m_slots(slots)
{
    for (Slot& slot : m_slots) {
        slot.data = m_pool->take();
        if (slot.data == nullptr) {
            for (Slot& made : m_slots)
                BufferPool::release(made.data);
            throw std::bad_alloc();
        }
    }
}

FrameRing::~FrameRing()
{
    for (Slot& slot : m_slots)
        m_pool->giveBack(slot.data);
}

bool FrameRing::push(const unsigned char* data, FrameMeta meta)
{
    size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed || m_slots.empty())
            return false;
        ++m_received;
        if (meta.bytes > m_pool->bufferBytes()) {
            ++m_tooLarge;
            return false;
        }
        if (m_count == m_slots.size() - 1 && m_count > 0) {
            // Every other slot holds a frame nobody took: the oldest goes.
            m_first = (m_first + 1) % m_slots.size();
            --m_count;
            ++m_dropped;
            ++m_droppedSinceTaken;
        }
        index = (m_first + m_count) % m_slots.size();
    }
    // The slot after the ready ones is this thread's alone: pop() takes only
    // ready slots and only this thread makes slots ready.
    Slot& slot = m_slots[index];
    memcpy(slot.data, data, meta.bytes);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return false;
        meta.droppedBefore = 0;
        slot.meta = meta;
        ++m_count;
    }
    m_ready.notify_one();
    return true;
}

FrameRing::Taken FrameRing::pop(unsigned char** spare, FrameMeta* meta, std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_ready.wait_until(lock, until, [this]() { return m_closed || m_count > 0; }))
        return Taken::Empty;
    if (m_closed)
        return Taken::Closed;
    Slot& slot = m_slots[m_first];
    *meta = slot.meta;
    meta->droppedBefore = m_droppedSinceTaken;
    m_droppedSinceTaken = 0;
    unsigned char* frame = slot.data;
    slot.data = *spare;
    *spare = frame;
    m_first = (m_first + 1) % m_slots.size();
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

void FrameRing::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_count = 0;
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
