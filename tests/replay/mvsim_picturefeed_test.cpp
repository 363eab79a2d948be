// The picture cache and its loader thread: order in loop and once modes,
// rewind, decoding once what fits, and streaming what does not, in order
// and within the bound.
#include "picturefeed.h"
#include "replay_pictures.h"

#include "mvsim/control.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mvsim;

namespace {

constexpr unsigned W = 6;
constexpr unsigned H = 4;
constexpr std::size_t FrameBytes = W * H;

class PictureFeedTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    // Pictures 0..n-1, every sample of picture i equal to 10 + i.
    std::vector<std::string> pictures(unsigned n)
    {
        std::vector<std::string> files;
        for (unsigned i = 0; i < n; ++i) {
            QImage img(W, H, QImage::Format_Grayscale8);
            img.fill(static_cast<uint>(10 + i));
            const QString path = dir_.filePath(QString("p%1.pgm").arg(i));
            EXPECT_TRUE(img.save(path));
            files.push_back(path.toStdString());
        }
        return files;
    }

    std::unique_ptr<PictureFeed> feed(unsigned n, bool loop, std::size_t cacheFrames, bool active = true)
    {
        PictureFeed::Setup setup;
        setup.files = pictures(n);
        setup.width = W;
        setup.height = H;
        setup.pixelType = MVSIM_PIXEL_MONO8;
        setup.loop = loop;
        setup.cacheBytes = cacheFrames * FrameBytes;
        setup.active = active;
        return std::make_unique<PictureFeed>(setup);
    }

    // Takes `frames` pictures and checks that they come as `first`, first+1,
    // ... modulo n, each with its own samples.
    void expectSequence(PictureFeed& f, unsigned frames, unsigned first = 0)
    {
        for (unsigned k = 0; k < frames; ++k) {
            const std::size_t expected = (first + k) % f.count();
            std::size_t index = 0;
            ASSERT_TRUE(f.claim(&index)) << "frame " << k;
            ASSERT_EQ(index, expected) << "frame " << k;
            const PictureFeed::Next next = f.take(index, cancel_);
            ASSERT_TRUE(next.frame) << "frame " << k;
            ASSERT_EQ(next.index, expected) << "frame " << k;
            ASSERT_EQ(next.frame->size(), FrameBytes);
            ASSERT_EQ(*next.frame, std::vector<unsigned char>(FrameBytes, static_cast<unsigned char>(10 + expected)))
                << "picture " << expected;
        }
    }

    QTemporaryDir dir_;
    std::atomic<bool> cancel_{false};
};

TEST_F(PictureFeedTest, LoopRepeatsInOrderAndDecodesWhatFitsOnce)
{
    auto f = feed(5, true, 100);
    EXPECT_FALSE(f->streams());
    expectSequence(*f, 15);
    EXPECT_FALSE(f->through());
    EXPECT_EQ(f->stats().decoded, 5u);
    EXPECT_EQ(f->stats().cachedMost, 5u);
}

TEST_F(PictureFeedTest, OnceEndsAfterTheLastUntilRewound)
{
    for (std::size_t cacheFrames : {std::size_t(100), std::size_t(2)}) {
        SCOPED_TRACE(cacheFrames == 2 ? "streaming" : "cached");
        auto f = feed(4, false, cacheFrames);
        expectSequence(*f, 4);
        EXPECT_TRUE(f->through());
        std::size_t index = 0;
        for (int i = 0; i < 2; ++i)
            EXPECT_FALSE(f->claim(&index)) << "a picture after the last";
        f->rewind();
        EXPECT_FALSE(f->through());
        expectSequence(*f, 4);
        EXPECT_TRUE(f->through());
        // A rewind in the middle starts over as well.
        f->rewind();
        expectSequence(*f, 2);
        f->rewind();
        expectSequence(*f, 4);
    }
}

TEST_F(PictureFeedTest, LargerThanTheCacheStreamsInOrderWithinTheBound)
{
    constexpr unsigned n = 12;
    auto f = feed(n, true, 3);
    EXPECT_TRUE(f->streams());
    expectSequence(*f, 3 * n);
    const PictureFeed::Stats stats = f->stats();
    EXPECT_LE(stats.cachedMost, 3u);
    EXPECT_GE(stats.decoded, 3u * n) << "every turn decodes its picture again";
}

TEST_F(PictureFeedTest, ACacheSmallerThanOnePictureStillHoldsOne)
{
    auto f = feed(3, true, 0);
    EXPECT_TRUE(f->streams());
    expectSequence(*f, 7);
    EXPECT_EQ(f->stats().cachedMost, 1u);
}

TEST_F(PictureFeedTest, AFileChangedSinceTheChecksGivesABlackFrame)
{
    PictureFeed::Setup setup;
    setup.files = pictures(2);
    ASSERT_TRUE(replaytest::writeFile(QString::fromStdString(setup.files[1]), "broken now"));
    setup.width = W;
    setup.height = H;
    setup.pixelType = MVSIM_PIXEL_MONO8;
    setup.cacheBytes = 1 << 20;
    PictureFeed f(setup);
    EXPECT_EQ(*f.take(0, cancel_).frame, std::vector<unsigned char>(FrameBytes, 10));
    EXPECT_EQ(*f.take(1, cancel_).frame, std::vector<unsigned char>(FrameBytes, 0));
}

TEST_F(PictureFeedTest, APictureSkippedByALostFrameMovesTheWindow)
{
    // Streaming: claims 0..5, but the frames of 1, 2 and 4 were lost before
    // their pixels were made.
    auto f = feed(8, true, 2);
    std::size_t index = 0;
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(f->claim(&index));
    for (std::size_t wanted : {0u, 3u, 5u}) {
        const PictureFeed::Next next = f->take(wanted, cancel_);
        ASSERT_TRUE(next.frame);
        EXPECT_EQ(next.index, wanted);
        EXPECT_EQ(next.frame->front(), 10 + wanted);
    }
    EXPECT_LE(f->stats().cachedMost, 2u);
}

TEST_F(PictureFeedTest, ACancelledWaitReturnsNoFrame)
{
    // A cache of one picture, and the wait is for one outside the window
    // the loader works on; cancel set before: returns at once.
    auto f = feed(4, true, 1);
    cancel_ = true;
    f->wake();
    const PictureFeed::Next next = f->take(2, cancel_);
    if (next.frame)  // the loader may have been quick enough
        EXPECT_EQ(next.frame->front(), 12);
    else
        EXPECT_TRUE(next.waited);
}

TEST_F(PictureFeedTest, AnInactiveFeedDecodesOnlyWhatIsTaken)
{
    // Paused from the start: each take waits for its picture, decoded for
    // it alone; the second round finds them all in the cache.
    auto f = feed(6, true, 100, false);
    for (unsigned k = 0; k < 6; ++k) {
        std::size_t index = 0;
        ASSERT_TRUE(f->claim(&index));
        const PictureFeed::Next next = f->take(index, cancel_);
        ASSERT_TRUE(next.frame);
        EXPECT_TRUE(next.waited) << "picture " << index;
        EXPECT_EQ(f->stats().decoded, k + 1) << "decoded ahead while paused";
    }
    expectSequence(*f, 6);
    EXPECT_EQ(f->stats().waits, 6u);
    EXPECT_EQ(f->stats().decoded, 6u);
}

TEST_F(PictureFeedTest, DestroyedWhileTheLoaderWorks)
{
    // The loader is still decoding ahead when the feed goes: it stops and
    // joins without a take.
    auto f = feed(20, true, 4);
    f.reset();
}

}  // namespace
