// Saving a stream of frames without holding up the SDK's thread: frames are
// copied into a bounded queue and written to files by a thread of the
// writer's own.
//
// offer() runs on the SDK's thread inside OnImageReady. It never waits for a
// write: a frame that finds the queue's byte budget used up is not saved and
// counted as such. The queue holds at most the budget (and always one frame,
// however large), the frame being written included, so memory stays bounded
// whatever the number of frames.
#ifndef KWHOST_FRAMEWRITER_H
#define KWHOST_FRAMEWRITER_H

#include <QtCore/QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "kwhost/imagewriter.h"

namespace kwhost {

class FrameWriter {
public:
    // Writes one frame to path; returns the reason on failure, empty on success.
    using WriteFunction = std::function<QString(const QString& path, const FrameImage& frame)>;

    struct Counts {
        quint64 saved = 0;
        quint64 notSaved = 0;       // refused by a full queue or after a failure
        quint64 abandoned = 0;      // queued, then dropped by abandon()
        quint64 queued = 0;         // waiting or being written now
        double writingSeconds = 0;  // spent inside the write function
        QString error;              // the first failed write, empty if none
    };

    // pattern: a file name with a frame-number placeholder (see framePath).
    // onNews runs on the writer's thread after a failed write and whenever
    // the queue runs empty; it must not block (notify a SelfPipe).
    FrameWriter(
        const QString& pattern, qint64 budgetBytes, std::function<void()> onNews,
        WriteFunction write = [](const QString& path, const FrameImage& frame) { return writeImage(path, frame); });
    // Abandons what is queued and joins the thread.
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // One producer thread. Copies the frame into the queue when it fits;
    // false when it is not saved.
    bool offer(const FrameImage& frame, quint64 number);

    // Any thread. Drops the queued frames; the write in progress completes.
    void abandon();
    // Owner's thread: writes what is still queued (unless abandoned), then
    // joins the thread. Later offers are not saved.
    void finish();

    Counts counts() const;

private:
    struct Job {
        std::vector<unsigned char> bytes;
        FrameImage image;  // image.data points into bytes
        quint64 number = 0;
    };

    void run();

    const QString m_pattern;
    const qint64 m_budget;
    const std::function<void()> m_onNews;
    const WriteFunction m_write;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    qint64 m_heldBytes = 0;                           // queued and in writing
    std::vector<std::vector<unsigned char>> m_spare;  // written buffers kept for reuse
    qint64 m_spareBytes = 0;
    bool m_stopping = false;
    bool m_failed = false;
    Counts m_counts;
    std::thread m_thread;
};

// The byte budget hosts use by default: a few large frames.
const qint64 kFrameWriterBudget = 64 * 1024 * 1024;

}  // namespace kwhost

#endif  // KWHOST_FRAMEWRITER_H
