#include "support/ProgressRuns.h"
#include "worker/CProgressModel.h"

#include <gtest/gtest.h>

namespace {

// Replays `run` in stage 1 and checks the bar where the run passes 10, 50
// and 90 % of its total, and that it is shown from the first notice until
// one reaches the total (a download's last piece already does).
void ExpectReadWhole(const std::vector<Notice>& run)
{
    CNotifyChannel channel;
    CProgressModel model(channel);
    model.Take(UM_PROGRESS_BAR, 0, 100);   // stage 0: ignored
    EXPECT_EQ(model.CurrentBar(), nullptr);
    model.Take(UM_FILENAME_UPDATE, kApplicationChosen, 0);
    EXPECT_FALSE(model.CurrentBar()->shown);

    const auto total = static_cast<std::uint64_t>(run.front().lParam);
    int next = 0;
    bool ended = false;
    const int targets[] = {10, 50, 90};
    Replay(
        channel, run, [&](unsigned m, std::uint64_t w, std::int64_t l) { model.Take(m, w, l); },
        [&](std::size_t i) {
            const CProgressModel::Bar& bar = *model.CurrentBar();
            const Notice& n = run[i];
            ended = ended || (i > 0 && n.message == UM_PROGRESS_BAR && n.wParam == total);
            ASSERT_EQ(bar.shown, !ended) << i;
            ASSERT_EQ(bar.total, total);
            if (!ended && next < 3 && n.message == UM_PROGRESS_BAR && n.wParam * 100 >= targets[next] * total) {
                EXPECT_EQ(bar.done, n.wParam);
                // Within the 1 % that a notice may lag, never past it.
                EXPECT_GE(bar.Scaled(1000), targets[next] * 10) << total;
                EXPECT_LE(bar.Scaled(1000), targets[next] * 10 + 10) << total;
                ++next;
            }
        });
    EXPECT_EQ(next, 3);
    EXPECT_TRUE(ended);
}

}   // namespace

TEST(ProgressModel, DownloadsPast2And4GiBReadWholeAt10And50And90Percent)
{
    for (std::uint64_t total : {3584ull << 20, 4608ull << 20})
        ExpectReadWhole(DownloadRun("KEL_V12.zip", total));
}

TEST(ProgressModel, UnpackingMovesWithTheBytesOfALargeEntry)
{
    TempHome home;
    const std::vector<Notice> run = UnpackRun(home);
    ExpectReadWhole(run);
    // Every entry is announced, a large one moves the bar in steps of at
    // least 1 %, and positions never go back.
    const auto range = static_cast<std::uint64_t>(run.front().lParam);
    EXPECT_EQ(range, 1000u + (4u << 20) + 5u);
    std::uint64_t last = 0;
    int moves = 0;
    for (std::size_t i = 1; i + 1 < run.size(); ++i) {
        if (run[i].message != UM_PROGRESS_BAR)
            continue;
        EXPECT_GE(run[i].wParam, last);
        EXPECT_LT(run[i].wParam, range);
        last = run[i].wParam;
        ++moves;
    }
    EXPECT_GE(moves, 90);
    EXPECT_LE(moves, 104);
    EXPECT_EQ(run.back(), P(range, static_cast<std::int64_t>(range)));
}

TEST(ProgressModel, StagesNamesFailureNoticeAndTheResult)
{
    CNotifyChannel channel;
    CProgressModel model(channel);
    channel.appName.Set("KEL_V12");
    EXPECT_EQ(model.Take(UM_FILENAME_UPDATE, kApplicationChosen, 0), CProgressModel::Change::AppName);
    EXPECT_EQ(model.AppName(), "KEL_V12");
    model.Take(UM_PROGRESS_BAR, 0, 5000);
    model.Take(UM_PROGRESS_BAR, 3, -2);   // nothing
    EXPECT_EQ(model.BarOf(1)->done, 0u);
    EXPECT_EQ(model.Take(UM_PROGRESS_BAR, ~std::uint64_t{0}, -1), CProgressModel::Change::BarHidden);
    EXPECT_FALSE(model.BarOf(1)->shown);

    channel.updateName.Set("KELUPD01_24");
    model.Take(UM_FILENAME_UPDATE, kUpdateChosen, 0);
    model.Take(UM_PROGRESS_BAR, 0, 0);   // an empty run is shown, at 0
    EXPECT_TRUE(model.BarOf(2)->shown);
    EXPECT_EQ(model.BarOf(2)->Scaled(100), 0);
    EXPECT_EQ(model.Stage(), 2);
    EXPECT_FALSE(model.Result());

    for (RunResult r : {RunResult::Complete, RunResult::Failed, RunResult::InternetFailed}) {
        channel.statusText.Set(RunResultText(r));
        EXPECT_EQ(model.Take(UM_FILENAME_UPDATE, kJobOver, static_cast<std::int64_t>(r)), CProgressModel::Change::End);
        EXPECT_EQ(model.Result(), r);
        EXPECT_EQ(model.Status(), RunResultText(r));
    }
    model.Take(UM_FILENAME_UPDATE, kJobOver, 0);   // no known result is no success
    EXPECT_EQ(model.Result(), RunResult::Failed);
}

TEST(ProgressModel, ScaledBarIsExactForTotalsNear2To64)
{
    const std::uint64_t most = ~std::uint64_t{0};
    auto scaled = [](std::uint64_t done, std::uint64_t total, int steps) {
        CProgressModel::Bar bar;
        bar.done = done;
        bar.total = total;
        return bar.Scaled(steps);
    };
    EXPECT_EQ(scaled(most - 1, most, 2147483647), 2147483646);   // just short of the whole
    EXPECT_EQ(scaled(most / 2, most, 1000), 499);
    EXPECT_EQ(scaled(most, most, 1000), 1000);
    EXPECT_EQ(scaled(most, most - 1, 100), 100);   // past the total counts as the total
    EXPECT_EQ(scaled(1, most, 2147483647), 0);
}
