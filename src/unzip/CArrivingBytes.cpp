#include "unzip/CArrivingBytes.h"

#include <algorithm>

void CArrivingBytes::Arrived(std::uint64_t begin, std::uint64_t end)
{
    end = std::min(end, m_size);
    if (begin >= end)
        return;
    {
        const std::lock_guard hold(m_lock);
        // Every range touching [begin, end) merges into it.
        auto first = std::lower_bound(m_ready.begin(), m_ready.end(), begin,
                                      [](const Range& r, std::uint64_t at) { return r.end < at; });
        auto last = first;
        while (last != m_ready.end() && last->begin <= end) {
            begin = std::min(begin, last->begin);
            end = std::max(end, last->end);
            ++last;
        }
        first = m_ready.erase(first, last);
        m_ready.insert(first, Range{begin, end});
        ++m_changes;
    }
    m_changed.notify_all();
}

void CArrivingBytes::Withdrawn(std::uint64_t begin, std::uint64_t end)
{
    const std::lock_guard hold(m_lock);
    // Most writes land on bytes no reader may have yet: nothing to take back.
    const auto touched =
        std::find_if(m_ready.begin(), m_ready.end(), [&](const Range& r) { return r.end > begin && r.begin < end; });
    if (touched == m_ready.end())
        return;
    ++m_withdrawals;
    std::vector<Range> kept;
    kept.reserve(m_ready.size() + 1);
    for (const Range& r : m_ready) {
        if (r.end <= begin || r.begin >= end) {
            kept.push_back(r);
            continue;
        }
        if (r.begin < begin)
            kept.push_back({r.begin, begin});
        if (r.end > end)
            kept.push_back({end, r.end});
    }
    m_ready = std::move(kept);
}

void CArrivingBytes::Fail()
{
    {
        const std::lock_guard hold(m_lock);
        m_failed = true;
    }
    m_changed.notify_all();
}

void CArrivingBytes::Stop()
{
    {
        const std::lock_guard hold(m_lock);
        m_stopped = true;
    }
    m_changed.notify_all();
}

CArrivingBytes::Wait CArrivingBytes::WaitFor(std::uint64_t begin, std::uint64_t end, std::uint64_t* readyEnd)
{
    // Bytes past the end never come: asked for by a record that lies.
    if (begin > end || end > m_size)
        return Wait::Failed;
    std::unique_lock hold(m_lock);
    // No timeout here: the download's own waits all have one, and it ends
    // every wait with Fail or Stop when it gives up.
    m_changed.wait(hold, [&] { return m_failed || m_stopped || HasLocked(begin, end); });
    if (m_stopped)
        return Wait::Stopped;
    if (m_failed)
        return Wait::Failed;
    if (readyEnd)
        *readyEnd = RunEnd(begin);
    return Wait::Ready;
}

bool CArrivingBytes::Has(std::uint64_t begin, std::uint64_t end) const
{
    const std::lock_guard hold(m_lock);
    return HasLocked(begin, end);
}

std::uint64_t CArrivingBytes::RunEnd(std::uint64_t begin) const
{
    const auto at = std::upper_bound(m_ready.begin(), m_ready.end(), begin,
                                     [](std::uint64_t b, const Range& r) { return b < r.begin; });
    return at != m_ready.begin() && std::prev(at)->end > begin ? std::prev(at)->end : begin;
}

bool CArrivingBytes::HasLocked(std::uint64_t begin, std::uint64_t end) const
{
    if (begin >= end)
        return begin <= m_size;
    return end <= m_size && RunEnd(begin) >= end;
}

std::vector<CArrivingBytes::Range> CArrivingBytes::Ready() const
{
    const std::lock_guard hold(m_lock);
    return m_ready;
}

std::uint64_t CArrivingBytes::Missing() const
{
    const std::lock_guard hold(m_lock);
    std::uint64_t ready = 0;
    for (const Range& r : m_ready)
        ready += r.end - r.begin;
    return m_size - ready;
}

bool CArrivingBytes::Ended() const
{
    const std::lock_guard hold(m_lock);
    return m_failed || m_stopped;
}

std::uint64_t CArrivingBytes::Stamp() const
{
    const std::lock_guard hold(m_lock);
    return m_withdrawals;
}

std::uint64_t CArrivingBytes::Changes() const
{
    const std::lock_guard hold(m_lock);
    return m_changes;
}

CArrivingBytes::Wait CArrivingBytes::WaitForChange(std::uint64_t seen)
{
    std::unique_lock hold(m_lock);
    m_changed.wait(hold, [&] { return m_failed || m_stopped || m_changes != seen; });
    if (m_stopped)
        return Wait::Stopped;
    return m_failed ? Wait::Failed : Wait::Ready;
}
