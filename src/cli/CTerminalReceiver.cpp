#include "cli/CTerminalReceiver.h"

void CTerminalReceiver::PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam)
{
    {
        std::lock_guard guard(m_lock);
        m_queue.push_back({message, wParam, lParam});
    }
    m_arrived.notify_one();
}

std::optional<CTerminalReceiver::Message> CTerminalReceiver::Wait(std::chrono::milliseconds limit)
{
    std::unique_lock guard(m_lock);
    if (!m_arrived.wait_for(guard, limit, [&] { return !m_queue.empty(); }))
        return std::nullopt;
    Message m = m_queue.front();
    m_queue.pop_front();
    return m;
}
