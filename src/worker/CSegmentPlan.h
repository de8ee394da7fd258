#pragma once
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

struct ByteRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;   // one past the last byte
    bool operator==(const ByteRange&) const = default;
};

// Which bytes of a file are on disk and which connection fetches which of the
// rest. Connections are numbered slots; each works on one range at a time,
// from its start upwards, and a range's end may move down while it runs when
// another slot takes half of it. Not thread-safe: the caller serialises.
class CSegmentPlan {
public:
    // `minimumSplit`: a running range is halved only when at least twice this is left.
    explicit CSegmentPlan(std::uint64_t size, std::uint64_t minimumSplit = 1 << 20);

    std::uint64_t Size() const { return m_size; }
    // Finished ranges, sorted and merged.
    const std::vector<ByteRange>& Finished() const { return m_finished; }
    std::uint64_t FinishedBytes() const;
    bool Complete() const { return FinishedBytes() == m_size; }
    // Takes these as finished (from a state record); false when one lies
    // outside the file, and then nothing is taken.
    bool SetFinished(const std::vector<ByteRange>& ranges);
    // Forgets all progress and all running ranges.
    void Reset();

    // The next range for `slot`: a missing range nobody works on, or else the
    // upper half of the largest range still running, taken only while fewer
    // than `mostRunning` other slots hold a range. Empty when there is none.
    std::optional<ByteRange> Take(int slot, int mostRunning = std::numeric_limits<int>::max());
    // The last `bytes` of the work for `slot`, from the range that runs to the
    // file's end (or to the finished bytes that do), so that no transfer more
    // is cut than that one at its new end; else as Take.
    std::optional<ByteRange> TakeTail(int slot, std::uint64_t bytes);
    // `range` for `slot`, ahead of the order Take follows: a range running
    // into it ends where it begins, one running inside it ends at once (what
    // that leaves becomes missing work). Finished bytes in it are fetched
    // again: the caller chooses it.
    ByteRange TakeAhead(int slot, const ByteRange& range);
    // The first bytes of `range` that are not finished; nothing when all are.
    std::optional<ByteRange> FirstMissingIn(const ByteRange& range) const;
    // Slots that hold a range.
    int RunningCount() const { return static_cast<int>(m_running.size()); }
    // Where the range of `slot` ends now; 0 when it has none.
    std::uint64_t EndOf(int slot) const;
    // `size` bytes from `offset` are on disk.
    void Finish(std::uint64_t offset, std::uint64_t size);
    // Whether all of `range` is finished.
    bool Covers(const ByteRange& range) const;
    // `range` is to be fetched again (its bytes proved wrong).
    void Unfinish(const ByteRange& range);
    // `slot` gives up its range: what is left of it goes to the slot whose
    // range ends right where it begins (that transfer simply runs on), or
    // back to the missing ranges.
    void Release(int slot);
    // `slot` ends before its range is done: all of the range from where it
    // began goes to the slot whose range ends there, whose transfer runs on
    // over what `slot` fetched (the same bytes again) to its end, cutting no
    // transfer; otherwise as Release.
    void Retire(int slot);

    // A state record: the file's size and time, then its finished ranges.
    std::string Record(std::int64_t fileTime) const;
    // Reads a record; false when it is not one.
    static bool ParseRecord(const std::string& text, std::uint64_t& size, std::int64_t& fileTime,
                            std::vector<ByteRange>& finished);

private:
    struct Running {
        int slot;
        ByteRange left;        // begin advances as bytes are finished
        std::uint64_t start;   // where it began
    };
    std::vector<ByteRange> Missing() const;

    std::uint64_t m_size;
    std::uint64_t m_minimumSplit;
    std::vector<ByteRange> m_finished;
    std::vector<Running> m_running;
};
