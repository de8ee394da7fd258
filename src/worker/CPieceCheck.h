#pragma once
#include "worker/CBlake2b.h"
#include "worker/CReleaseList.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct SharedFetch;

// Checks each piece of an archive against its release list as soon as the
// piece is whole on disk, whichever connections brought its bytes: a piece
// one connection wrote from its first byte to its last is hashed by that
// connection as it writes it (Stream), while the bytes are in memory; any
// other (split between connections, kept from an earlier run, written again)
// is queued, and checker threads (any free core) read it back from the page
// cache and hash it. A piece that does not match goes
// back to the download to be fetched once more; a second mismatch refuses the
// archive and ends the download. Everything but the hashing runs under the
// download's lock.
class CPieceCheck {
public:
    // `s` and `archive` outlive the object, whose end stops the checkers.
    CPieceCheck(SharedFetch& s, const ReleaseArchive& archive);
    ~CPieceCheck();
    CPieceCheck(const CPieceCheck&) = delete;
    CPieceCheck& operator=(const CPieceCheck&) = delete;

    // The pieces one connection writes from their first byte, hashed as the
    // bytes go to disk.
    class Stream {
    public:
        struct Hashed {
            std::size_t piece;
            PieceHash hash;
        };
        // Takes the `size` bytes written at `at`; adds the pieces they end
        // (this stream having had all of them) to `done`.
        void Add(const ReleaseArchive& archive, std::uint64_t at, const char* data, std::size_t size,
                 std::vector<Hashed>& done);
        void Reset() { m_on = false; }

    private:
        bool m_on = false;
        std::size_t m_piece = 0;
        std::uint64_t m_at = 0;
        CBlake2b m_hash;
    };

    // Under the lock, after the plan took `length` bytes from `at` as finished:
    // the pieces they completed are settled by the hashes the writing
    // connection made of them (`hashed`), or queued.
    void Finished(std::uint64_t at, std::uint64_t length, const std::vector<Stream::Hashed>& hashed = {});
    // Under the lock: every whole piece not checked yet is queued (the kept
    // pieces of a resumed part, before they count as fetched).
    void QueueWhole();
    // Waits, holding `hold` on the lock between, until no check is pending.
    void Drain(std::unique_lock<std::mutex>& hold);
    // Under the lock: checks queued or running; a piece failed twice; all matched.
    bool Busy() const { return m_pending > 0; }
    bool Refused() const { return m_refused; }
    bool AllGood() const;
    // Under the lock, none pending: the part starts again from its first byte.
    void Reset();

    // Checks every piece of the complete archive `file`, on the caller's thread
    // and the checkers' number beside it: true when all match. `stopped` is
    // set when `stop` (asked on the caller's thread only) ended it first.
    static bool WholeFileMatches(const CFile& file, const ReleaseArchive& archive, const std::function<bool()>& stop,
                                 bool& stopped);

private:
    enum class State : unsigned char { Open, Queued, Good };
    void Queue(std::size_t piece);
    void Settle(std::size_t piece, bool good);
    void Run();
    static bool Matches(const CFile& file, const ReleaseArchive& archive, std::size_t piece, std::vector<char>& buffer);

    SharedFetch& m_s;
    const ReleaseArchive& m_archive;
    std::vector<State> m_state;              // under the lock, by piece
    std::vector<unsigned char> m_failures;   // under the lock, by piece
    std::vector<bool> m_again;               // under the lock, by piece: written again while queued
    std::deque<std::size_t> m_queue;         // under the lock
    int m_pending = 0;                       // under the lock: queued or being hashed
    bool m_refused = false;                  // under the lock
    bool m_stop = false;                     // under the lock
    std::condition_variable m_wake;
    std::vector<std::thread> m_threads;
};
