#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

// Which bytes of a file being downloaded may be read: written and, for a
// listed archive, checked. Readers wait for the bytes they need on a
// condition variable; the download tells what arrived, or that it ended
// without them. Thread-safe.
class CArrivingBytes {
public:
    enum class Wait { Ready, Failed, Stopped };
    struct Range {
        std::uint64_t begin;
        std::uint64_t end;
    };

    explicit CArrivingBytes(std::uint64_t size) : m_size(size) {}
    CArrivingBytes(const CArrivingBytes&) = delete;
    CArrivingBytes& operator=(const CArrivingBytes&) = delete;

    std::uint64_t Size() const { return m_size; }
    // Bytes [begin, end) may be read. Ranges may come in any order and overlap.
    void Arrived(std::uint64_t begin, std::uint64_t end);
    // Bytes [begin, end) may no longer be read: they are about to be written
    // again, or a piece proved wrong and is fetched again. A reader that
    // waited for them before reads them again (see Unchanged).
    void Withdrawn(std::uint64_t begin, std::uint64_t end);
    // The download ended without all the bytes, or the run is being stopped:
    // every wait returns at once from now on.
    void Fail();
    void Stop();
    // Waits until all of [begin, end) may be read, or the download failed or
    // stopped (then a wait never returns Ready again); Failed at once for a
    // range that does not lie within the file. `readyEnd`, when
    // given, is set to where the readable run holding `begin` ends.
    Wait WaitFor(std::uint64_t begin, std::uint64_t end, std::uint64_t* readyEnd = nullptr);
    // Counts what arrived: a reader that found nothing new waits for a change.
    std::uint64_t Changes() const;
    // Waits until Changes() differs from `seen`; Failed or Stopped as WaitFor.
    Wait WaitForChange(std::uint64_t seen);
    // Whether all of [begin, end) may be read now, without waiting.
    bool Has(std::uint64_t begin, std::uint64_t end) const;
    bool Complete() const { return Has(0, m_size); }
    // The readable ranges now: sorted, disjoint, not touching.
    std::vector<Range> Ready() const;
    // Bytes not readable yet.
    std::uint64_t Missing() const;
    // Fail or Stop was called.
    bool Ended() const;
    // Counts withdrawals: a reader takes it before its wait and asks
    // Unchanged after reading, so bytes rewritten meanwhile are read again.
    std::uint64_t Stamp() const;
    bool Unchanged(std::uint64_t stamp) const { return Stamp() == stamp; }

private:
    // The end of the readable run holding `begin`; `begin` when there is none.
    std::uint64_t RunEnd(std::uint64_t begin) const;
    bool HasLocked(std::uint64_t begin, std::uint64_t end) const;

    const std::uint64_t m_size;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Range> m_ready;   // sorted, disjoint, not touching
    bool m_failed = false;
    bool m_stopped = false;
    std::uint64_t m_withdrawals = 0;
    std::uint64_t m_changes = 0;
};
