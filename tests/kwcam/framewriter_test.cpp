// The frame writer's queue and thread, with a write function of the test's
// own: frames are saved in order, a full queue refuses frames without
// waiting for a write, abandoning drops what is queued, and a failed write
// stops the saving. Runs under ThreadSanitizer (label "threaded").
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "kwhost/framewriter.h"

namespace {

using kwhost::FrameImage;
using kwhost::FrameWriter;

const std::chrono::seconds kPatience(60);

// Records the writes; each write waits while the gate is closed.
class Sink {
public:
    QString write(const QString& path, const FrameImage& frame)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_entered;
        m_changed.notify_all();
        m_changed.wait(lock, [this]() { return m_open; });
        m_paths.push_back(path);
        m_firstBytes.push_back(frame.data[0]);
        return path == m_failOn ? QStringLiteral("disk full") : QString();
    }
    void setGate(bool open)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = open;
        m_changed.notify_all();
    }
    bool waitEntered(int n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [&]() { return m_entered >= n; });
    }
    void failOn(const QString& path) { m_failOn = path; }
    std::vector<QString> paths()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_paths;
    }
    std::vector<unsigned char> firstBytes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_firstBytes;
    }
    FrameWriter::WriteFunction function()
    {
        return [this](const QString& path, const FrameImage& frame) { return write(path, frame); };
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = true;
    int m_entered = 0;
    QString m_failOn;
    std::vector<QString> m_paths;
    std::vector<unsigned char> m_firstBytes;
};

// A 10x10 grey frame whose bytes all hold value.
struct TestFrame {
    explicit TestFrame(unsigned char value) : bytes(100, value)
    {
        image.data = bytes.data();
        image.width = 10;
        image.height = 10;
        image.layout = kwhost::PixelLayout::Gray8;
    }
    std::vector<unsigned char> bytes;
    FrameImage image;
};

TEST(FrameWriter, SavesEveryFrameInOrderFromAnotherThread)
{
    Sink sink;
    FrameWriter writer(QStringLiteral("f%03d.pgm"), 1 << 20, nullptr, sink.function());
    std::thread producer([&]() {
        for (unsigned n = 1; n <= 50; ++n) {
            TestFrame frame(static_cast<unsigned char>(n));
            writer.offer(frame.image, n);  // the source buffer is gone after the call
        }
    });
    producer.join();
    writer.finish();

    const FrameWriter::Counts counts = writer.counts();
    EXPECT_EQ(counts.saved + counts.notSaved, 50u);
    EXPECT_EQ(counts.abandoned, 0u);
    EXPECT_EQ(counts.queued, 0u);
    EXPECT_TRUE(counts.error.isEmpty());
    // The budget holds 10000 frames: none is refused.
    EXPECT_EQ(counts.saved, 50u);
    const std::vector<QString> paths = sink.paths();
    const std::vector<unsigned char> firstBytes = sink.firstBytes();
    ASSERT_EQ(paths.size(), 50u);
    for (unsigned n = 1; n <= 50; ++n) {
        EXPECT_EQ(paths[n - 1], QStringLiteral("f%1.pgm").arg(n, 3, 10, QLatin1Char('0')));
        EXPECT_EQ(firstBytes[n - 1], n) << "frame " << n << " was not copied at the offer";
    }
}

TEST(FrameWriter, FullQueueRefusesWithoutWaitingAndAbandonDropsTheQueue)
{
    Sink sink;
    sink.setGate(false);
    // Room for three 100-byte frames: the one in writing and two queued.
    FrameWriter writer(QStringLiteral("f%d.pgm"), 300, nullptr, sink.function());
    TestFrame frame(7);
    ASSERT_TRUE(writer.offer(frame.image, 1));
    ASSERT_TRUE(sink.waitEntered(1)) << "the writer never took the first frame";
    // The writer is stuck in a write: these offers must return all the same.
    EXPECT_TRUE(writer.offer(frame.image, 2));
    EXPECT_TRUE(writer.offer(frame.image, 3));
    EXPECT_FALSE(writer.offer(frame.image, 4));
    EXPECT_FALSE(writer.offer(frame.image, 5));
    EXPECT_EQ(writer.counts().queued, 3u);

    writer.abandon();
    sink.setGate(true);
    writer.finish();
    const FrameWriter::Counts counts = writer.counts();
    EXPECT_EQ(counts.saved, 1u);
    EXPECT_EQ(counts.notSaved, 2u);
    EXPECT_EQ(counts.abandoned, 2u);
    EXPECT_EQ(counts.queued, 0u);
    EXPECT_EQ(sink.paths(), std::vector<QString>{QStringLiteral("f1.pgm")});
    EXPECT_FALSE(writer.offer(frame.image, 6)) << "a finished writer took a frame";
}

TEST(FrameWriter, FailedWriteIsReportedAndStopsTheSaving)
{
    Sink sink;
    sink.failOn(QStringLiteral("f2.pgm"));
    std::mutex newsMutex;
    std::condition_variable newsArrived;
    int news = 0;
    FrameWriter writer(
        QStringLiteral("f%d.pgm"), 1 << 20,
        [&]() {
            std::lock_guard<std::mutex> lock(newsMutex);
            ++news;
            newsArrived.notify_all();
        },
        sink.function());
    TestFrame frame(1);
    for (unsigned n = 1; n <= 2; ++n)
        writer.offer(frame.image, n);
    {
        std::unique_lock<std::mutex> lock(newsMutex);
        ASSERT_TRUE(newsArrived.wait_for(lock, kPatience, [&]() { return !writer.counts().error.isEmpty(); }));
    }
    EXPECT_FALSE(writer.offer(frame.image, 3)) << "saving went on after a failed write";
    writer.finish();
    const FrameWriter::Counts counts = writer.counts();
    EXPECT_EQ(counts.saved, 1u);
    EXPECT_EQ(counts.notSaved, 2u);
    EXPECT_EQ(counts.error, QStringLiteral("cannot save frame 2 to f2.pgm: disk full"));
    std::lock_guard<std::mutex> lock(newsMutex);
    EXPECT_GE(news, 1);
}

}  // namespace
