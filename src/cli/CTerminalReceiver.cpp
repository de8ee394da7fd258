#include "cli/CTerminalReceiver.h"

void CTerminalReceiver::PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam)
{
    // On the worker's thread, right after it wrote the slot this notice announces.
    CProgressModel::Notice notice = CProgressModel::Capture(m_channel, message, wParam, lParam);
    {
        std::lock_guard guard(m_lock);
        m_queue.push_back(std::move(notice));
    }
    m_arrived.notify_one();
}

std::optional<CProgressModel::Notice> CTerminalReceiver::Wait(std::chrono::milliseconds limit)
{
    std::unique_lock guard(m_lock);
    if (!m_arrived.wait_for(guard, limit, [&] { return !m_queue.empty(); }))
        return std::nullopt;
    CProgressModel::Notice n = std::move(m_queue.front());
    m_queue.pop_front();
    return n;
}
