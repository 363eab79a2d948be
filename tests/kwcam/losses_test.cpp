// The host layer's frame numbers and losses: gaps counted from stamped frame
// numbers (the only source over an SDK without counters), the stand-in's
// table of fates read through its control interface, and losses stated
// since an earlier reading.
#include <gtest/gtest.h>

#include <QtCore/QSet>

#include <vector>

#include "kwhost/framestamp.h"
#include "kwhost/losses.h"
#include "kwhost/sdkcontrol.h"
#include "mvsim/control.h"

namespace {

TEST(HostFrameNumbers, CountsTheFramesMissingBetweenStamps)
{
    struct Case {
        std::vector<quint32> numbers;
        quint64 missing;
        bool inSequence;
    };
    const Case cases[] = {
        {{1, 2, 5}, 2, false},     // 3 and 4
        {{1, 2, 3, 4}, 0, true},   //
        {{1, 3, 5, 7}, 3, false},  // one per gap
        {{10, 20}, 9, false},      //
        {{7}, 0, true},            //
        {{5, 2, 3}, 0, false},     // numbering restarted: nothing is known missing
        {{0xFFFFFFFEu, 0xFFFFFFFFu}, 0, true},
    };
    for (const Case& c : cases) {
        kwhost::FrameNumbers numbers;
        for (quint32 n : c.numbers)
            numbers.add(true, n);
        EXPECT_EQ(numbers.missing(), c.missing) << "first " << c.numbers.front() << ", " << c.numbers.size();
        EXPECT_EQ(numbers.inSequence(), c.inSequence) << "first " << c.numbers.front();
        EXPECT_TRUE(numbers.numbered());
        EXPECT_EQ(numbers.first(), c.numbers.front());
        EXPECT_EQ(numbers.last(), c.numbers.back());
    }
    kwhost::FrameNumbers unstamped;
    unstamped.add(true, 1);
    unstamped.add(false, 0);
    unstamped.add(true, 9);
    EXPECT_FALSE(unstamped.numbered());
    EXPECT_EQ(unstamped.missing(), 0u);
}

TEST(HostFrameNumbers, ReadsTheStampOfFramesLongEnoughToHoldIt)
{
    MvsimFrameStamp stamp = {};
    stamp.magic = MVSIM_STAMP_MAGIC;
    stamp.frameNumber = 42;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&stamp);
    quint32 number = 0;
    EXPECT_TRUE(kwhost::readFrameStamp(bytes, kwhost::kFrameStampBytes, &number));
    EXPECT_EQ(number, 42u);
    EXPECT_FALSE(kwhost::readFrameStamp(bytes, kwhost::kFrameStampBytes - 1, &number));
    EXPECT_FALSE(kwhost::readFrameStamp(nullptr, 64, &number));
    stamp.magic ^= 1u;
    EXPECT_FALSE(kwhost::readFrameStamp(bytes, sizeof stamp, &number));
}

TEST(HostLosses, FateTableNamesEveryFateOnceAndCountsTheLostOnes)
{
    const int fates = MVSIM_FateCount();
    ASSERT_EQ(fates, static_cast<int>(MVSIM_FATE_NO_PICTURE) + 1);
    QSet<QString> names;
    QSet<unsigned int> lost;
    const kwhost::SdkControl sdk;
    for (int f = 0; f < fates; ++f) {
        QString name;
        bool countsAsLost = false;
        ASSERT_TRUE(sdk.fateInfo(static_cast<unsigned int>(f), &name, &countsAsLost)) << f;
        EXPECT_FALSE(name.isEmpty());
        names.insert(name);
        if (countsAsLost)
            lost.insert(static_cast<unsigned int>(f));
    }
    EXPECT_EQ(names.size(), fates) << "two fates share a name";
    // The counters' "lost" is the sum of these.
    EXPECT_EQ(lost, (QSet<unsigned int>{MVSIM_FATE_NO_BUFFER, MVSIM_FATE_MISSED, MVSIM_FATE_NO_PICTURE}));
    EXPECT_EQ(MVSIM_FateInfo(static_cast<unsigned int>(fates), nullptr, nullptr), MVSIM_E_PARAMETER);
    unsigned long long counts[16];
    EXPECT_EQ(MVSIM_GetFateCounts(12345, counts, 16), MVSIM_E_NODEVICE);
    EXPECT_EQ(MVSIM_GetFateCounts(0, nullptr, 16), MVSIM_E_PARAMETER);
}

kwhost::Losses ledgerReading(quint64 noBuffer, quint64 missed, quint64 dropped)
{
    kwhost::Losses losses;
    losses.source = kwhost::Losses::Source::Ledger;
    losses.causes = {{QStringLiteral("no free buffer"), noBuffer, true},
                     {QStringLiteral("trigger during exposure"), missed, true},
                     {QStringLiteral("dropped at stop"), dropped, false}};
    losses.lost = noBuffer + missed;
    return losses;
}

TEST(HostLosses, StatedSinceAnEarlierReadingOneWay)
{
    const kwhost::Losses atOpen = ledgerReading(5, 1, 0);
    struct Case {
        kwhost::Losses now;
        const char* text;
    };
    const Case cases[] = {
        {ledgerReading(15, 3, 0), "12 (SDK counters: 10 no free buffer, 2 trigger during exposure)"},
        {ledgerReading(5, 1, 0), "0 (SDK counters)"},
        {ledgerReading(15, 1, 0), "10 (SDK counters: 10 no free buffer)"},
        // Told apart, and not in the number.
        {ledgerReading(5, 1, 2), "0 (SDK counters; not lost: 2 dropped at stop)"},
        {ledgerReading(6, 1, 2), "1 (SDK counters: 1 no free buffer; not lost: 2 dropped at stop)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.now.since(atOpen).text(), QLatin1String(c.text));

    // Another source than at open: no difference is taken.
    kwhost::Losses counters;
    counters.source = kwhost::Losses::Source::Counters;
    counters.lost = 4;
    EXPECT_EQ(counters.since(atOpen).text(), QStringLiteral("4 (SDK counters)"));
    EXPECT_EQ(kwhost::lossesFromFrameNumbers(2).text(), QStringLiteral("2 (gaps in frame numbers)"));
    EXPECT_EQ(kwhost::Losses().text(), QStringLiteral("unknown"));

    // The stop's own fates come from the reading after it; the losses stay
    // as the grab ended.
    const kwhost::Losses ended = ledgerReading(3, 0, 0).withEndingFrom(ledgerReading(4, 1, 2));
    EXPECT_EQ(ended.text(), QStringLiteral("3 (SDK counters: 3 no free buffer; not lost: 2 dropped at stop)"));
}

}  // namespace
