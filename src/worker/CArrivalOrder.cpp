#include "worker/CArrivalOrder.h"

#include <algorithm>

CArrivalOrder::CArrivalOrder(const std::vector<CArrivingBytes::Range>& spans, std::uint64_t size) : m_spans(spans)
{
    m_byPlace.resize(m_spans.size());
    for (std::size_t i = 0; i < m_byPlace.size(); ++i)
        m_byPlace[i] = i;
    std::stable_sort(m_byPlace.begin(), m_byPlace.end(),
                     [this](std::size_t a, std::size_t b) { return m_spans[a].begin < m_spans[b].begin; });
    // An entry said to lie past the end never arrives: it is tried at once,
    // and fails as it would in a whole archive.
    for (std::size_t place = 0; place < m_byPlace.size(); ++place) {
        const CArrivingBytes::Range& span = m_spans[m_byPlace[place]];
        if (span.begin >= size || span.end > size)
            m_ready.push_back(m_byPlace[place]);
        else
            m_waiting.insert(m_waiting.end(), place);
    }
}

std::optional<std::size_t> CArrivalOrder::Next(CArrivingBytes& bytes)
{
    for (;;) {
        if (!m_ready.empty()) {
            const std::size_t entry = m_ready.front();
            m_ready.pop_front();
            return entry;
        }
        if (m_waiting.empty())
            return std::nullopt;
        // Taken before looking, so that nothing arriving meanwhile is missed.
        const std::uint64_t changes = bytes.Changes();
        const std::optional<std::size_t> received = Look(bytes.Ready());
        if (!m_ready.empty())
            continue;
        if (received) {
            m_waiting.erase(*received);
            return m_byPlace[*received];
        }
        if (bytes.WaitForChange(changes) != CArrivingBytes::Wait::Ready)
            return std::nullopt;
    }
}

std::optional<std::size_t> CArrivalOrder::Look(const std::vector<CArrivingBytes::Range>& ready)
{
    // In file order each entry ends where the next begins: a readable range
    // holds a run of whole entries, then at most one it ends within.
    std::optional<std::size_t> received;
    std::uint64_t most = 0;
    for (const CArrivingBytes::Range& r : ready) {
        const auto first = std::lower_bound(m_byPlace.begin(), m_byPlace.end(), r.begin,
                                            [this](std::size_t e, std::uint64_t at) { return m_spans[e].begin < at; });
        auto at = m_waiting.lower_bound(static_cast<std::size_t>(first - m_byPlace.begin()));
        while (at != m_waiting.end() && m_spans[m_byPlace[*at]].begin < r.end) {
            const CArrivingBytes::Range& span = m_spans[m_byPlace[*at]];
            if (span.end > r.end) {
                if (r.end - span.begin > most) {
                    most = r.end - span.begin;
                    received = *at;
                }
                break;
            }
            m_ready.push_back(m_byPlace[*at]);
            at = m_waiting.erase(at);
        }
    }
    return received;
}
