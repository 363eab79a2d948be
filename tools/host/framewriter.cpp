#include "kwhost/framewriter.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace kwhost {

FrameWriter::FrameWriter(const QString& pattern, qint64 budgetBytes, std::function<void()> onNews, WriteFunction write)
    : m_pattern(pattern), m_budget(budgetBytes), m_onNews(std::move(onNews)), m_write(std::move(write))
{
    m_thread = std::thread([this]() { run(); });
}

FrameWriter::~FrameWriter()
{
    abandon();
    finish();
}

bool FrameWriter::offer(const FrameImage& frame, quint64 number)
{
    const qint64 size = static_cast<qint64>(frame.width) * frame.height * bytesPerPixel(frame.layout);
    if (frame.data == nullptr || size <= 0)
        return false;
    Job job;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || m_failed || (m_heldBytes > 0 && m_heldBytes + size > m_budget)) {
            ++m_counts.notSaved;
            return false;
        }
        // Reserved before the copy, so that the writer's thread never waits
        // for it and the budget holds while the copy is made.
        m_heldBytes += size;
        if (!m_spare.empty()) {
            job.bytes.swap(m_spare.back());
            m_spare.pop_back();
            m_spareBytes -= static_cast<qint64>(job.bytes.capacity());
        }
    }
    // A recycled buffer has its pages already: no allocation on this thread.
    job.bytes.assign(frame.data, frame.data + size);
    job.image = frame;
    job.image.data = job.bytes.data();
    job.number = number;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(job));
        ++m_counts.queued;
    }
    m_wake.notify_one();
    return true;
}

void FrameWriter::abandon()
{
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Job& job : m_queue)
            m_heldBytes -= static_cast<qint64>(job.bytes.size());
        m_counts.abandoned += m_queue.size();
        m_counts.queued -= m_queue.size();
        dropped.swap(m_queue);
    }
    // The buffers are freed outside the lock.
}

void FrameWriter::finish()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

FrameWriter::Counts FrameWriter::counts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}

void FrameWriter::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this]() { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return;  // stopping, and nothing left to write
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        const bool skip = m_failed;
        lock.unlock();

        QString error;
        double seconds = 0;
        if (!skip) {
            const auto start = std::chrono::steady_clock::now();
            error = m_write(framePath(m_pattern, job.number), job.image);
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        const qint64 size = static_cast<qint64>(job.bytes.size());
        const quint64 number = job.number;

        lock.lock();
        // Kept for the next frame while the budget allows, else freed
        // outside the lock.
        std::vector<unsigned char> release;
        if (m_heldBytes + m_spareBytes + static_cast<qint64>(job.bytes.capacity()) <= m_budget + size) {
            m_spareBytes += static_cast<qint64>(job.bytes.capacity());
            m_spare.push_back(std::move(job.bytes));
        } else {
            release.swap(job.bytes);
        }
        m_heldBytes -= size;
        --m_counts.queued;
        m_counts.writingSeconds += seconds;
        bool news = m_queue.empty();
        if (skip) {
            ++m_counts.notSaved;
        } else if (!error.isEmpty()) {
            if (m_counts.error.isEmpty())
                m_counts.error = QStringLiteral("cannot save frame %1 to %2: %3")
                                     .arg(number)
                                     .arg(framePath(m_pattern, number), error);
            ++m_counts.notSaved;
            m_failed = true;
            news = true;
        } else {
            ++m_counts.saved;
        }
        if (!release.empty() || (news && m_onNews)) {
            lock.unlock();
            release = std::vector<unsigned char>();
            if (news && m_onNews)
                m_onNews();
            lock.lock();
        }
    }
}

}  // namespace kwhost
