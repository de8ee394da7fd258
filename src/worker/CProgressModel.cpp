#include "worker/CProgressModel.h"

#include <algorithm>

namespace {

// a * b / c rounded down, exactly, for a quotient below 2^64 (a <= c does it):
// the 128-bit product in two halves, then divided one bit at a time.
std::uint64_t MultiplyDivide(std::uint64_t a, std::uint64_t b, std::uint64_t c)
{
    const std::uint64_t low32 = 0xFFFFFFFFu;
    const std::uint64_t aLow = a & low32, aHigh = a >> 32, bLow = b & low32, bHigh = b >> 32;
    const std::uint64_t lowLow = aLow * bLow;
    const std::uint64_t middle = (lowLow >> 32) + (aHigh * bLow & low32) + aLow * bHigh;   // cannot overflow
    const std::uint64_t high = aHigh * bHigh + (aHigh * bLow >> 32) + (middle >> 32);
    const std::uint64_t low = (middle << 32) | (lowLow & low32);
    if (high == 0)
        return low / c;   // every size a disk holds, at the scales of a bar

    std::uint64_t quotient = 0;
    std::uint64_t remainder = 0;
    for (int bit = 127; bit >= 0; --bit) {
        const bool carry = (remainder >> 63) != 0;   // the shifted remainder is 2^64 or more
        remainder = (remainder << 1) | (((bit >= 64 ? high >> (bit - 64) : low >> bit)) & 1u);
        quotient <<= 1;
        if (carry || remainder >= c) {
            remainder -= c;   // wraps to the true difference, which is below c
            quotient |= 1u;
        }
    }
    return quotient;
}

}   // namespace

int CProgressModel::Bar::Scaled(int steps) const
{
    if (total == 0 || steps <= 0)
        return 0;
    return static_cast<int>(MultiplyDivide(std::min(done, total), static_cast<unsigned>(steps), total));
}

const CProgressModel::Bar* CProgressModel::BarOf(int stage) const
{
    return stage == 1 || stage == 2 ? &m_bars[stage - 1] : nullptr;
}

CProgressModel::Notice CProgressModel::Capture(const CNotifyChannel& channel, unsigned message, std::uint64_t wParam,
                                               std::int64_t lParam)
{
    Notice n{message, wParam, lParam, {}, {}, BarCount::Unknown};
    if (message == UM_PROGRESS_BAR) {
        n.counts = channel.barCounts;
    } else if (message == UM_FILENAME_UPDATE) {
        if (wParam == kStatusChanged || wParam == kJobOver)
            n.text = channel.statusText.Get();
        else if (wParam == kApplicationChosen)
            n.text = channel.appName.Get();
        else if (wParam == kUpdateChosen)
            n.text = channel.updateName.Get();
        if (wParam == kJobOver)
            n.reason = channel.failureReason.Get();
    }
    return n;
}

CProgressModel::Change CProgressModel::Take(const Notice& notice)
{
    if (notice.message == UM_PROGRESS_BAR)
        return TakeProgress(notice);
    if (notice.message != UM_FILENAME_UPDATE)
        return Change::None;
    switch (notice.wParam) {
    case kStatusChanged:
        m_status = notice.text;
        return Change::Status;
    case kApplicationChosen:
        m_appName = notice.text;
        m_stage = 1;
        return Change::AppName;
    case kUpdateChosen:
        m_updateName = notice.text;
        m_stage = 2;
        return Change::UpdateName;
    case kJobOver: {
        m_status = notice.text;
        m_reason = notice.reason;
        const std::int64_t lParam = notice.lParam;
        // Anything but a known result is no success.
        m_result = lParam == static_cast<std::int64_t>(RunResult::Complete)         ? RunResult::Complete
                   : lParam == static_cast<std::int64_t>(RunResult::InternetFailed) ? RunResult::InternetFailed
                                                                                    : RunResult::Failed;
        return Change::End;
    }
    default:
        return Change::None;
    }
}

// The rules in their order: position 0 starts a run (whatever the range),
// a position equal to the range ends it, any other moves it while the range
// is positive. Positions are read signed, so the failure notice (-1, -1) ends a run.
CProgressModel::Change CProgressModel::TakeProgress(const Notice& notice)
{
    if (m_stage != 1 && m_stage != 2)
        return Change::None;
    Bar& bar = m_bars[m_stage - 1];
    const auto position = static_cast<std::int64_t>(notice.wParam);
    const std::int64_t lParam = notice.lParam;
    if (position == 0) {
        bar = {true, 0, lParam > 0 ? static_cast<std::uint64_t>(lParam) : 0, notice.counts, false};
        return Change::BarStarted;
    }
    if (position == lParam) {
        bar.shown = false;
        bar.finished = position > 0;
        return Change::BarHidden;
    }
    if (lParam > 0 && position > 0) {
        bar.done = static_cast<std::uint64_t>(position);
        return Change::BarMoved;
    }
    return Change::None;
}
