#include "worker/CConnectionRamp.h"

#include <algorithm>

namespace {

using std::chrono::milliseconds;

// The path's time: the delay to the first byte (a few round trips), within
// bounds that keep a loopback judgement above timer noise and a dead-slow
// path from waiting for ever.
constexpr milliseconds kShortestUnit{25};
constexpr milliseconds kLongestUnit{3000};
// A connection that begins fetching is in slow start for a while: its first
// units are not measured. The first connection's rate, the one all others are
// judged by, is learnt later: on a lossy path slow start overshoots and its
// rate falls for some seconds before it settles.
constexpr int kWarmUnits = 2;
constexpr int kFirstWarmUnits = 4;
// On a fast path the receiver's window still grows after slow start.
constexpr milliseconds kShortestFirstWarm{500};
constexpr milliseconds kShortestWarm{100};
// A rise is judged over this many units and bytes; "no rise", which ends the
// trials, over more: a wrong rise costs a login, a wrong hold the speed of a
// long path. Pieces reach the disk 64 KiB at a time, so a few are needed.
constexpr int kRiseUnits = 3;
constexpr int kHoldUnits = 4;
constexpr milliseconds kShortestWindow{200};
constexpr std::uint64_t kRiseBytes = 256u << 10;
constexpr std::uint64_t kHoldBytes = 512u << 10;
// A new connection pays when it adds at least this share of what an average
// connection brought before it: the second must add half the first's rate
// to be taken early, a quarter once judged over the longer window.
constexpr double kGain = 0.5;
constexpr double kLateGain = 0.25;
// At a steady count, a rate this much lower than the window before means the
// path changed.
constexpr double kDrop = 0.3;
// The share of the rate a trial gets while it is judged on a path one
// connection fills.
constexpr double kTrialShare = 0.25;
// One more login pays only when the rest of the file takes this long.
constexpr int kRestUnits = 12;
constexpr milliseconds kShortestRest{500};

}   // namespace

CConnectionRamp::CConnectionRamp(int most, std::uint64_t bytesLeft) : m_most(std::max(most, 1)), m_bytesLeft(bytesLeft)
{}

double CConnectionRamp::RateSince(const Point& from, const Point& now) const
{
    const auto span = now.at - from.at;
    if (span.count() <= 0 || now.bytes < from.bytes)
        return 0;
    return static_cast<double>(now.bytes - from.bytes) * 1000.0 / static_cast<double>(span.count());
}

bool CConnectionRamp::LongEnough(const Point& from, const Point& now, int units, std::uint64_t bytes) const
{
    return now.at - from.at >= std::max(kShortestWindow, units * m_unit) && now.bytes - from.bytes >= bytes;
}

bool CConnectionRamp::WorthAsking(const Point& now, double rate) const
{
    if (m_asked >= m_most || rate <= 0 || now.bytes >= m_bytesLeft)
        return false;
    const double restMs = static_cast<double>(m_bytesLeft - now.bytes) * 1000.0 / rate;
    return restMs >= static_cast<double>(std::max(kShortestRest, kRestUnits * m_unit).count());
}

CConnectionRamp::Step CConnectionRamp::Sample(milliseconds at, std::uint64_t bytes, int fetching)
{
    const Point now{at, bytes};
    switch (m_phase) {
    case Phase::FirstByte:
        if (bytes == 0)
            return Step::Hold;
        m_unit = std::clamp(at, kShortestUnit, kLongestUnit);
        m_target = 1;
        m_stageStart = m_windowStart = now;
        m_phase = Phase::Measuring;
        return Step::Hold;
    case Phase::Joining:
        // Measured once the one asked for holds a range.
        if (fetching >= m_target) {
            m_stageStart = m_windowStart = now;
            m_phase = Phase::Measuring;
        }
        return Step::Hold;
    case Phase::Measuring:
        return Judge(now, fetching);
    case Phase::Holding:
        return WatchHold(now, fetching);
    case Phase::Done:
        break;
    }
    return Step::Hold;
}

CConnectionRamp::Step CConnectionRamp::Judge(const Point& now, int fetching)
{
    if (fetching < m_target) {
        // One of them ended or went between ranges: measured again once all fetch.
        m_phase = Phase::Joining;
        return Step::Hold;
    }
    // While warming up, the window starts at the latest sample.
    const bool first = m_learning && m_asked == 1;
    const milliseconds warm =
        first ? std::max(kShortestFirstWarm, kFirstWarmUnits * m_unit) : std::max(kShortestWarm, kWarmUnits * m_unit);
    if (now.at - m_stageStart.at < warm) {
        m_windowStart = now;
        return Step::Hold;
    }
    const double rate = RateSince(m_windowStart, now);
    if (m_learning) {
        if (!LongEnough(m_windowStart, now, kRiseUnits, kRiseBytes))
            return Step::Hold;
        m_learning = false;
        m_baseline = rate;
        return AskOneMore(now, rate, fetching);
    }
    const double others = static_cast<double>(m_target - 1);
    const bool judged = LongEnough(m_windowStart, now, kHoldUnits, kHoldBytes);
    // Once two paid, the path limits each connection (loss, a long round
    // trip) more than all together; rates there swing and sink for tens of
    // seconds after the start, so a further one fails only when the total
    // falls clearly.
    const double lateBar = m_paid >= 2 ? 1.0 - kDrop : 1.0 + kLateGain / others;
    // There a clear rise is also taken sooner.
    const int riseUnits = m_paid >= 2 ? kRiseUnits - 1 : kRiseUnits;
    if ((rate >= m_baseline * (1.0 + kGain / others) && LongEnough(m_windowStart, now, riseUnits, kRiseBytes)) ||
        (judged && rate >= m_baseline * lateBar)) {
        m_paid = m_target;
        // A rise is taken the moment it shows, when the rate is likely high:
        // the next is judged by no more than each connection bringing as much
        // as the first ones did.
        m_baseline = std::min(rate, m_baseline * static_cast<double>(m_target) / others);
        return AskOneMore(now, rate, fetching);
    }
    if (!judged)
        return Step::Hold;
    // Two flows that share a full path lose more than one alone: the last
    // goes, and the rate of the others is learnt afresh.
    m_paid = m_target - 1;
    --m_asked;
    HoldAt(now, 0, fetching - 1);
    return Step::Drop;
}

CConnectionRamp::Step CConnectionRamp::AskOneMore(const Point& now, double rate, int fetching)
{
    if (!WorthAsking(now, rate)) {
        HoldAt(now, rate, fetching);
        return Step::Hold;
    }
    ++m_asked;
    m_target = fetching + 1;
    m_phase = Phase::Joining;
    return Step::Add;
}

void CConnectionRamp::HoldAt(const Point& now, double rate, int fetching)
{
    m_phase = m_asked < m_most ? Phase::Holding : Phase::Done;
    m_held = rate;
    m_heldFetching = fetching;
    m_windowStart = now;
}

CConnectionRamp::Step CConnectionRamp::WatchHold(const Point& now, int fetching)
{
    if (fetching != m_heldFetching) {
        // Fewer fetch as their ranges end: the rate at the new count is learnt first.
        m_heldFetching = fetching;
        m_held = 0;
        m_windowStart = now;
        return Step::Hold;
    }
    if (!LongEnough(m_windowStart, now, kHoldUnits, kHoldBytes))
        return Step::Hold;
    const double rate = RateSince(m_windowStart, now);
    const bool changed = m_held > 0 && rate < m_held * (1.0 - kDrop);
    m_held = rate;
    m_windowStart = now;
    if (!changed || fetching == 0 || m_asked >= m_most)
        return Step::Hold;
    // The window held the change: the rate at this count is learnt anew
    // before another is asked for.
    m_learning = true;
    m_target = fetching;
    m_stageStart = m_windowStart = now;
    m_phase = Phase::Measuring;
    return Step::Hold;
}

void CConnectionRamp::Lost()
{
    if (m_phase == Phase::Joining || m_phase == Phase::Measuring)
        m_paid = std::max(1, m_target - 1);
    m_phase = Phase::Done;
}

std::uint64_t CConnectionRamp::TrialBytes() const
{
    if (m_paid > 1 || m_target < 2)
        return 0;
    // What a newcomer gets over its warm-up and the longest judgement beside
    // one that already fills the path: about a quarter of the rate. A larger
    // range outlasts its judgement, and the two flows sharing a full path
    // knock the first one's sending rate down for seconds after.
    const auto span = std::max(kShortestWarm, kWarmUnits * m_unit) + std::max(kShortestWindow, kHoldUnits * m_unit);
    return static_cast<std::uint64_t>(m_baseline * kTrialShare * static_cast<double>(span.count()) / 1000.0);
}

int CConnectionRamp::Worth() const
{
    // During a trial the newest counts, so that ranges are shared among all of them.
    return m_phase == Phase::Joining || m_phase == Phase::Measuring ? std::max(m_paid, m_target) : m_paid;
}
