#include "worker/CSegmentPlan.h"
#include "worker/DirectoryFirst.h"

#include <gtest/gtest.h>

TEST(SegmentPlan, SlotsSplitTheLargestRangeAndGiveBackWhatTheyLeave)
{
    CSegmentPlan plan(100, 10);
    EXPECT_EQ(plan.Take(0), (ByteRange{0, 100}));
    plan.Finish(0, 20);
    EXPECT_EQ(plan.Take(1), (ByteRange{60, 100}));   // the upper half of what slot 0 has left
    EXPECT_EQ(plan.EndOf(0), 60u);
    EXPECT_EQ(plan.Take(2), (ByteRange{40, 60}));   // ties: the first of the largest
    EXPECT_EQ(plan.EndOf(0), 40u);
    // Slot 2 fails before a byte: slot 0's transfer simply runs on to 60.
    plan.Release(2);
    EXPECT_EQ(plan.EndOf(0), 60u);
    // Slot 1 fails after some bytes: the rest is missing work, taken whole.
    plan.Finish(60, 5);
    plan.Release(1);
    EXPECT_EQ(plan.Take(3), (ByteRange{65, 100}));
    // Too little left to halve: nothing for another slot.
    plan.Finish(20, 40);
    plan.Finish(65, 20);
    EXPECT_EQ(plan.Take(0), std::nullopt);
    plan.Finish(85, 15);
    EXPECT_TRUE(plan.Complete());
    EXPECT_EQ(plan.Take(3), std::nullopt);
}

TEST(SegmentPlan, RecordsRoundTripAndAnythingElseIsNoRecord)
{
    CSegmentPlan plan(1000);
    plan.Finish(0, 100);
    plan.Finish(500, 100);
    plan.Finish(100, 50);   // joins the first range
    std::uint64_t size = 0;
    std::int64_t time = 0;
    std::vector<ByteRange> finished;
    ASSERT_TRUE(CSegmentPlan::ParseRecord(plan.Record(1700000000), size, time, finished));
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(time, 1700000000);
    EXPECT_EQ(finished, (std::vector<ByteRange>{{0, 150}, {500, 600}}));
    CSegmentPlan again(1000);
    EXPECT_TRUE(again.SetFinished(finished));
    EXPECT_EQ(again.Take(0), (ByteRange{150, 500}));   // the first missing range
    EXPECT_FALSE(again.SetFinished({{900, 1001}}));    // past the end of the file

    for (const char* bad : {"", "VORN part-state 1\nsize 10\n", "VORN part-state 2\nsize 10\ntime 1\n",
                            "VORN part-state 1\nsize 10\ntime 1\nrange 5 2\n", "VORN part-state 1\nsize x\ntime 1\n",
                            "VORN part-state 1\nsize 10 11\ntime 1\n", "VORN part-state 1\nsize 10\ntime 1\nrm -rf\n"})
        EXPECT_FALSE(CSegmentPlan::ParseRecord(bad, size, time, finished)) << bad;
}

TEST(SegmentPlan, ARetiredSlotLeavesItsRangeToTheTransferBelowAndFewRangesAreSplit)
{
    CSegmentPlan plan(100, 10);
    EXPECT_EQ(plan.Take(0), (ByteRange{0, 100}));
    plan.Finish(0, 20);
    EXPECT_EQ(plan.Take(1), (ByteRange{60, 100}));   // to the end of the file: only slot 0 is cut
    plan.Finish(60, 10);
    // Slot 1 ends: slot 0 runs on to the end, over what slot 1 fetched.
    plan.Retire(1);
    EXPECT_EQ(plan.EndOf(0), 100u);
    EXPECT_EQ(plan.EndOf(1), 0u);
    EXPECT_EQ(plan.RunningCount(), 1);
    plan.Finish(20, 80);
    EXPECT_TRUE(plan.Complete());

    // Without a transfer that ends where it began, what is left is missing work.
    CSegmentPlan other(100, 10);
    other.Take(0);
    other.Take(1);   // 50..100
    other.Finish(0, 50);
    other.Finish(50, 5);
    other.Retire(1);
    EXPECT_EQ(other.Take(2), (ByteRange{55, 100}));

    // A slot whose range is done halves another's only while fewer than asked hold one.
    CSegmentPlan few(100, 10);
    few.Take(0);
    few.Take(1);
    few.Finish(0, 50);
    EXPECT_EQ(few.Take(0, 1), std::nullopt);
    EXPECT_EQ(few.Take(0, 2), (ByteRange{75, 100}));
}

TEST(SegmentPlan, TheCentralDirectoryComesFirstAndTheRestAsUsual)
{
    constexpr std::uint64_t kMiB = 1 << 20;
    const std::uint64_t size = 10 * kMiB;
    const ByteRange tail{size - kDirectoryTail, size};

    // With the release list: the whole pieces from the directory's to the end.
    ReleaseArchive listed;
    listed.size = size;
    listed.directoryOffset = 9 * kMiB + 500;
    listed.pieceSize = kMiB;
    CSegmentPlan signedPlan(size, kMiB);
    const std::optional<ByteRange> pieces = DirectoryFirst(signedPlan, &listed, std::nullopt);
    EXPECT_EQ(pieces, (ByteRange{9 * kMiB, size}));
    signedPlan.TakeAhead(0, *pieces);
    signedPlan.Finish(9 * kMiB, kMiB);
    EXPECT_EQ(DirectoryFirst(signedPlan, &listed, std::nullopt), std::nullopt);
    EXPECT_EQ(signedPlan.Take(0), (ByteRange{0, 9 * kMiB}));
    // A resumed part lacking some of them: only what it lacks, never a kept byte again.
    ASSERT_TRUE(signedPlan.SetFinished({{9 * kMiB + 100, 9 * kMiB + 200}}));
    EXPECT_EQ(DirectoryFirst(signedPlan, &listed, std::nullopt), (ByteRange{9 * kMiB, 9 * kMiB + 100}));

    // Without: the tail, then a directory that begins before it, to the end.
    CSegmentPlan plan(size, kMiB);
    EXPECT_EQ(DirectoryFirst(plan, nullptr, std::nullopt), tail);
    plan.TakeAhead(0, tail);
    // An extra connection that comes meanwhile takes what nobody has.
    EXPECT_EQ(plan.TakeTail(1, kMiB), (ByteRange{0, tail.begin}));
    plan.Finish(tail.begin, kDirectoryTail);
    EXPECT_EQ(DirectoryFirst(plan, nullptr, std::nullopt), std::nullopt);   // end records not read
    EXPECT_EQ(DirectoryFirst(plan, nullptr, tail.begin + 10), std::nullopt);
    EXPECT_EQ(DirectoryFirst(plan, nullptr, 6 * kMiB), (ByteRange{6 * kMiB, size}));
    // Its range runs into the directory: it ends where the directory begins.
    plan.TakeAhead(0, {6 * kMiB, size});
    EXPECT_EQ(plan.EndOf(1), 6 * kMiB);
    plan.Finish(6 * kMiB, size - 6 * kMiB);
    EXPECT_EQ(DirectoryFirst(plan, nullptr, 6 * kMiB), std::nullopt);
    plan.Release(1);
    EXPECT_EQ(plan.Take(0), (ByteRange{0, 6 * kMiB}));
    // A trial takes the last bytes of the work, just before the directory.
    EXPECT_EQ(plan.TakeTail(2, kMiB), (ByteRange{5 * kMiB, 6 * kMiB}));
    EXPECT_EQ(plan.EndOf(0), 5 * kMiB);

    // A resumed part that holds the tail does not fetch it again.
    CSegmentPlan resumed(size, kMiB);
    ASSERT_TRUE(resumed.SetFinished({{0, kMiB}, {size - 2 * kMiB, size}}));
    EXPECT_EQ(DirectoryFirst(resumed, nullptr, std::nullopt), std::nullopt);
    EXPECT_EQ(DirectoryFirst(resumed, nullptr, 3 * kMiB), (ByteRange{3 * kMiB, size}));
    EXPECT_EQ(resumed.Take(0), (ByteRange{kMiB, size - 2 * kMiB}));
}
