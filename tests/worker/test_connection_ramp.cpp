#include "worker/CConnectionRamp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A simulated download: `rate(t, n)` bytes per second with n connections
// fetching at t seconds; the first byte comes after `firstByte`, a connection
// asked for fetches `join` later (or never, when `refused`). Bytes reach the
// disk 64 KiB at a time, sampled every 50 ms, as the worker does.
struct Ramped {
    std::vector<double> adds;   // when each Add came, seconds
    int drops = 0;
    double dropAt = 0;
    std::uint64_t trialBytes = 0;   // what the first one asked for fetches first
    int asked = 0;
    int worth = 0;
    double seconds = 0;
};

Ramped Simulate(std::uint64_t size, std::chrono::milliseconds firstByte, std::chrono::milliseconds join,
                const std::function<double(double, int)>& rate, bool refused = false, int most = 4)
{
    CConnectionRamp ramp(most, size);
    std::vector<double> joinsAt;
    Ramped run;
    double fetched = 0;
    const double dt = 0.05;
    std::chrono::milliseconds at{0};
    for (; fetched < static_cast<double>(size) && at < 3600s; at += 50ms) {
        const double t = static_cast<double>(at.count()) / 1000.0;
        int fetching = at >= firstByte ? 1 : 0;
        for (double j : joinsAt)
            fetching += t >= j;
        if (fetching > 0)
            fetched += rate(t, fetching) * dt;
        const auto onDisk = static_cast<std::uint64_t>(fetched) / 65536 * 65536;
        const auto step = ramp.Sample(at, std::min<std::uint64_t>(onDisk, size), fetching);
        if (step == CConnectionRamp::Step::Add) {
            run.adds.push_back(t);
            if (run.adds.size() == 1)
                run.trialBytes = ramp.TrialBytes();
            if (refused)
                ramp.Lost();
            else
                joinsAt.push_back(t + static_cast<double>(join.count()) / 1000.0);
        } else if (step == CConnectionRamp::Step::Drop) {
            ++run.drops;
            run.dropAt = t;
            joinsAt.pop_back();
        }
    }
    run.asked = ramp.Asked();
    run.worth = ramp.Worth();
    run.seconds = static_cast<double>(at.count()) / 1000.0;
    return run;
}

// Rates that wander as on a real path: each 50 ms within ±`spread` of the mean.
std::function<double(double, int)> Noisy(std::function<double(double, int)> mean, double spread)
{
    auto random = std::make_shared<std::mt19937>(29);
    return [=](double t, int n) {
        std::uniform_real_distribution<double> share(1.0 - spread, 1.0 + spread);
        return mean(t, n) * share(*random);
    };
}

constexpr double kMiB = 1 << 20;

}   // namespace

TEST(ConnectionRamp, APathThatOneConnectionFillsGetsOneTrialAndNoMore)
{
    // 40 ms round trip, 100 Mbit/s: the first byte after about 4 round trips.
    const auto full = Noisy([](double, int) { return 11.9 * kMiB; }, 0.05);
    const Ramped run = Simulate(300 << 20, 160ms, 120ms, full);
    EXPECT_EQ(run.asked, 1);
    EXPECT_EQ(run.worth, 1);
    ASSERT_EQ(run.adds.size(), 1u);
    EXPECT_EQ(run.drops, 1);
    EXPECT_LT(run.adds[0], 2.0);   // judged within a second or two, not at the end
    // The trial's range lasts about until it is judged, at the quarter of the
    // rate a newcomer gets there: neither two flows long after, nor a split
    // of the first one's range before.
    const double joined = run.adds[0] + 0.12;
    const double untilDropped = 0.25 * 11.9 * kMiB * (run.dropAt - joined);
    EXPECT_GT(static_cast<double>(run.trialBytes), 0.7 * untilDropped);
    EXPECT_LT(static_cast<double>(run.trialBytes), 1.3 * untilDropped);
}

TEST(ConnectionRamp, ALossyLongPathGetsEveryConnectionSoon)
{
    // 150 ms round trip, 0.5 % loss: each connection gets about 160 KB/s, which swings widely.
    const auto lossy = Noisy([](double, int n) { return n * 160e3; }, 0.4);
    const Ramped run = Simulate(64 << 20, 600ms, 1650ms, lossy);
    EXPECT_EQ(run.asked, 4);
    EXPECT_EQ(run.worth, 4);
    ASSERT_EQ(run.adds.size(), 3u);
    EXPECT_EQ(run.drops, 0);
    EXPECT_LT(run.adds.back(), 25.0);   // of about 100 s in all
    // Slow start overshoots there: the rate sinks for tens of seconds, and still all are taken.
    const auto sinking = Noisy([](double t, int n) { return n * 160e3 * (1 + 2 * std::exp(-t / 15)); }, 0.4);
    EXPECT_EQ(Simulate(64 << 20, 860ms, 1650ms, sinking).worth, 4);
    // More than the connections allowed is never asked for.
    EXPECT_EQ(Simulate(64 << 20, 600ms, 1650ms, lossy, false, 2).asked, 2);
}

TEST(ConnectionRamp, APathThatChangesMidwayIsJudgedAgain)
{
    // Full at first; after 10 s each connection is held to 1 MiB/s.
    const auto changing = Noisy([](double t, int n) { return t < 10 ? 11.9 * kMiB : n * 1.0 * kMiB; }, 0.05);
    const Ramped run = Simulate(300 << 20, 160ms, 500ms, changing);
    ASSERT_EQ(run.adds.size(), 4u);
    EXPECT_EQ(run.drops, 1);
    EXPECT_LT(run.adds[0], 10.0);
    EXPECT_GT(run.adds[1], 10.0);
    EXPECT_EQ(run.asked, 4);
    EXPECT_EQ(run.worth, 4);

    // A rate that only swings at a steady count is no change.
    const auto swinging = Noisy([](double, int) { return 11.9 * kMiB; }, 0.25);
    EXPECT_EQ(Simulate(300 << 20, 160ms, 120ms, swinging).adds.size(), 1u);
}

TEST(ConnectionRamp, AServerThatRefusesExtraConnectionsIsNotAskedAgain)
{
    const auto lossy = Noisy([](double, int n) { return n * 160e3; }, 0.2);
    const Ramped run = Simulate(64 << 20, 600ms, 1650ms, lossy, /*refused=*/true);
    EXPECT_EQ(run.adds.size(), 1u);
    EXPECT_EQ(run.worth, 1);
}

TEST(ConnectionRamp, NoLoginForTheLastMomentsOfAFile)
{
    // A file that one connection fetches in well under a second: never a second one.
    const auto fast = [](double, int) { return 100 * kMiB; };
    EXPECT_TRUE(Simulate(64 << 20, 30ms, 30ms, fast).adds.empty());
    // A trial shares ranges at once: all asked for count until it is judged.
    CConnectionRamp ramp(4, 1 << 30);
    ramp.Sample(100ms, 1 << 20, 1);
    EXPECT_EQ(ramp.Worth(), 1);
    std::uint64_t bytes = 1 << 20;
    auto at = 100ms;
    while (ramp.Sample(at += 50ms, bytes += 1 << 20, 1) != CConnectionRamp::Step::Add)
        ASSERT_LT(at, 10s);
    EXPECT_EQ(ramp.Worth(), 2);
}
