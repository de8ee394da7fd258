#include "worker/CSegmentPlan.h"

#include <algorithm>
#include <sstream>

namespace {

const char* const kRecordHead = "VORN part-state 1";

// Sorted, with touching and overlapping ranges joined; empty ones dropped.
std::vector<ByteRange> Merged(std::vector<ByteRange> ranges)
{
    std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.begin < b.begin; });
    std::vector<ByteRange> out;
    for (const ByteRange& r : ranges) {
        if (r.begin >= r.end)
            continue;
        if (!out.empty() && r.begin <= out.back().end)
            out.back().end = std::max(out.back().end, r.end);
        else
            out.push_back(r);
    }
    return out;
}

}   // namespace

CSegmentPlan::CSegmentPlan(std::uint64_t size, std::uint64_t minimumSplit)
    : m_size(size), m_minimumSplit(std::max<std::uint64_t>(minimumSplit, 1))
{}

std::uint64_t CSegmentPlan::FinishedBytes() const
{
    std::uint64_t n = 0;
    for (const ByteRange& r : m_finished)
        n += r.end - r.begin;
    return n;
}

bool CSegmentPlan::SetFinished(const std::vector<ByteRange>& ranges)
{
    for (const ByteRange& r : ranges)
        if (r.begin > r.end || r.end > m_size)
            return false;
    m_finished = Merged(ranges);
    return true;
}

void CSegmentPlan::Reset()
{
    m_finished.clear();
    m_running.clear();
}

std::vector<ByteRange> CSegmentPlan::Missing() const
{
    std::vector<ByteRange> covered = m_finished;
    for (const Running& r : m_running)
        covered.push_back(r.left);
    std::vector<ByteRange> gaps;
    std::uint64_t at = 0;
    for (const ByteRange& r : Merged(covered)) {
        if (r.begin > at)
            gaps.push_back({at, r.begin});
        at = std::max(at, r.end);
    }
    if (at < m_size)
        gaps.push_back({at, m_size});
    return gaps;
}

std::optional<ByteRange> CSegmentPlan::Take(int slot, int mostRunning)
{
    Release(slot);
    // Work nobody has comes first, the lowest range of it, so one connection
    // fetches a file from its start to its end.
    if (const std::vector<ByteRange> gaps = Missing(); !gaps.empty()) {
        m_running.push_back({slot, gaps.front(), gaps.front().begin});
        return gaps.front();
    }
    if (RunningCount() >= mostRunning)
        return std::nullopt;
    auto largest = std::max_element(m_running.begin(), m_running.end(), [](const Running& a, const Running& b) {
        return a.left.end - a.left.begin < b.left.end - b.left.begin;
    });
    if (largest == m_running.end() || largest->left.end - largest->left.begin < 2 * m_minimumSplit)
        return std::nullopt;
    const std::uint64_t middle = largest->left.begin + (largest->left.end - largest->left.begin) / 2;
    const ByteRange upper{middle, largest->left.end};
    largest->left.end = middle;
    m_running.push_back({slot, upper, upper.begin});
    return upper;
}

std::optional<ByteRange> CSegmentPlan::TakeTail(int slot, std::uint64_t bytes)
{
    Release(slot);
    // The work ends where the finished bytes at the file's end begin (those
    // of the central directory, fetched first).
    const std::uint64_t workEnd =
        !m_finished.empty() && m_finished.back().end == m_size ? m_finished.back().begin : m_size;
    const auto last = std::find_if(m_running.begin(), m_running.end(), [&](const Running& r) {
        return r.left.end == workEnd && r.left.end - r.left.begin >= bytes + m_minimumSplit;
    });
    if (bytes == 0 || !Missing().empty() || last == m_running.end())
        return Take(slot);
    const ByteRange tail{workEnd - bytes, workEnd};
    last->left.end = tail.begin;
    m_running.push_back({slot, tail, tail.begin});
    return tail;
}

ByteRange CSegmentPlan::TakeAhead(int slot, const ByteRange& range)
{
    Release(slot);
    for (Running& r : m_running) {
        if (r.left.begin < range.begin)
            r.left.end = std::min(r.left.end, range.begin);
        else if (r.left.begin < range.end)
            r.left.end = r.left.begin;
    }
    m_running.push_back({slot, range, range.begin});
    return range;
}

std::optional<ByteRange> CSegmentPlan::FirstMissingIn(const ByteRange& range) const
{
    if (range.begin >= range.end)
        return std::nullopt;
    std::uint64_t at = range.begin;
    for (const ByteRange& r : m_finished) {
        if (r.end <= at)
            continue;
        if (r.begin > at)
            return ByteRange{at, std::min(r.begin, range.end)};
        at = r.end;
        if (at >= range.end)
            return std::nullopt;
    }
    return at < range.end ? std::optional<ByteRange>(ByteRange{at, range.end}) : std::nullopt;
}

std::uint64_t CSegmentPlan::EndOf(int slot) const
{
    for (const Running& r : m_running)
        if (r.slot == slot)
            return r.left.end;
    return 0;
}

void CSegmentPlan::Finish(std::uint64_t offset, std::uint64_t size)
{
    if (size == 0)
        return;
    const std::uint64_t end = std::min(offset + size, m_size);
    std::vector<ByteRange> all = m_finished;
    all.push_back({offset, end});
    m_finished = Merged(std::move(all));
    for (Running& r : m_running)
        if (r.left.begin >= offset && r.left.begin < end)
            r.left.begin = std::min(end, r.left.end);
}

bool CSegmentPlan::Covers(const ByteRange& range) const
{
    return std::any_of(m_finished.begin(), m_finished.end(),
                       [&](const ByteRange& r) { return r.begin <= range.begin && range.end <= r.end; });
}

void CSegmentPlan::Unfinish(const ByteRange& range)
{
    std::vector<ByteRange> kept;
    for (const ByteRange& r : m_finished) {
        if (r.end <= range.begin || r.begin >= range.end) {
            kept.push_back(r);
            continue;
        }
        kept.push_back({r.begin, range.begin});
        kept.push_back({range.end, r.end});
    }
    m_finished = Merged(std::move(kept));
}

void CSegmentPlan::Release(int slot)
{
    const auto it = std::find_if(m_running.begin(), m_running.end(), [&](const Running& r) { return r.slot == slot; });
    if (it == m_running.end())
        return;
    const ByteRange left = it->left;
    m_running.erase(it);
    if (left.begin >= left.end)
        return;
    for (Running& r : m_running)
        if (r.left.end == left.begin) {
            r.left.end = left.end;
            return;
        }
}

void CSegmentPlan::Retire(int slot)
{
    const auto it = std::find_if(m_running.begin(), m_running.end(), [&](const Running& r) { return r.slot == slot; });
    if (it == m_running.end())
        return;
    const std::uint64_t start = it->start;
    const std::uint64_t end = it->left.end;
    for (Running& r : m_running)
        if (r.slot != slot && r.left.end == start && r.left.begin < start) {
            r.left.end = end;
            m_running.erase(it);
            return;
        }
    Release(slot);
}

std::string CSegmentPlan::Record(std::int64_t fileTime) const
{
    std::ostringstream out;
    out << kRecordHead << "\nsize " << m_size << "\ntime " << fileTime << "\n";
    for (const ByteRange& r : m_finished)
        out << "range " << r.begin << ' ' << r.end << "\n";
    return out.str();
}

bool CSegmentPlan::ParseRecord(const std::string& text, std::uint64_t& size, std::int64_t& fileTime,
                               std::vector<ByteRange>& finished)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kRecordHead)
        return false;
    bool haveSize = false, haveTime = false;
    finished.clear();
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "size")
            haveSize = static_cast<bool>(fields >> size);
        else if (key == "time")
            haveTime = static_cast<bool>(fields >> fileTime);
        else if (ByteRange r; key == "range" && fields >> r.begin >> r.end && r.begin <= r.end)
            finished.push_back(r);
        else
            return false;
        if (!(fields >> std::ws).eof())
            return false;
    }
    return haveSize && haveTime;
}
