#include "platform/CNotifyChannel.h"

void CNotifyChannel::Attach(INotifyReceiver* receiver)
{
    std::lock_guard guard(m_lock);
    m_receiver = receiver;
}

void CNotifyChannel::Detach()
{
    std::lock_guard guard(m_lock);
    m_receiver = nullptr;
}

void CNotifyChannel::Post(unsigned message, std::uint64_t wParam, std::int64_t lParam)
{
    // Held across the call so Detach cannot complete while a post is under way;
    // receivers only queue, so this never blocks for long.
    std::lock_guard guard(m_lock);
    if (m_receiver)
        m_receiver->PostMessage(message, wParam, lParam);
}
