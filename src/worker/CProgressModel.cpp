#include "worker/CProgressModel.h"

#include <algorithm>

int CProgressModel::Bar::Scaled(int steps) const
{
    if (total == 0 || steps <= 0)
        return 0;
    const unsigned __int128 scaled =
        static_cast<unsigned __int128>(std::min(done, total)) * static_cast<unsigned>(steps) / total;
    return static_cast<int>(scaled);
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
