#pragma once
#include "platform/CFile.h"
#include "platform/CFolder.h"
#include "unzip/CArrivingBytes.h"
#include "worker/CArrivalOrder.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class CUnzipper;

// Unpacks an archive on a thread of its own while it is still being
// downloaded: each entry as soon as its bytes are there (and checked), into
// a folder nobody sees yet. It posts nothing: the worker follows its state
// once the download has ended, and moves the entries into place.
class CArrivingUnpack {
public:
    enum class End {
        Unpacked,   // every entry was tried; some may have failed
        Refused,    // an entry nothing here decodes: the reason says which and why
        FallBack,   // the archive cannot be read as it arrives: it is unpacked after its download
        Stopped,
    };
    struct Setup {
        CFile archive;   // the part being downloaded, opened for reading
        std::shared_ptr<CArrivingBytes> bytes;
        std::string archivePath;   // names it
        CFolder target;            // where the entries go
        std::string targetPath;
        std::string reserved;   // an entry's first folder part that is refused
        std::function<bool()> stop;
        // Free room where the entries go, and bytes of the archive still to
        // come, when the unpacking began.
        FreeRoom room;
        std::uint64_t missing = 0;
        // A second reading handle on the part: with it, an archive of at
        // least `secondFrom` entries is unpacked by two unzippers at once.
        CFile second;
        int secondFrom = 0;
        // An archive of fewer entries falls back: it is unpacked after its
        // download, one entry after another.
        int fewest = 1;
    };
    struct State {
        bool opened = false;          // the directory was read: count and total are known
        int count = 0;                // entries in the archive
        std::uint64_t total = 0;      // their recorded sizes added up
        int done = 0;                 // entries finished (written or failed)
        std::uint64_t unpacked = 0;   // recorded sizes of the entries done, and what the current one has written
        int failures = 0;
        std::optional<End> end;
        std::string reason;   // for Refused
        bool operator==(const State&) const = default;
    };

    explicit CArrivingUnpack(Setup setup);   // starts the thread
    ~CArrivingUnpack();                      // stops it (every read ends) and waits for it
    CArrivingUnpack(const CArrivingUnpack&) = delete;
    CArrivingUnpack& operator=(const CArrivingUnpack&) = delete;

    // The state once it differs from `seen`, or after `limit`.
    State Follow(const State& seen, std::chrono::milliseconds limit);
    // Waits `pause`, or less when the unpacking ends meanwhile. Entries done
    // then wake nobody: a follower that is told of each one takes the
    // unzippers' processor time.
    void Pause(std::chrono::milliseconds pause);
    // Every byte of the archive may be read.
    bool Arrived() const { return m_setup.bytes->Complete(); }

private:
    void Run();
    End Unpack();
    End UnpackSecond(CFile archive, CFolder target);
    End UnpackShared(CUnzipper& unzipper, int slot);
    void Publish(const std::function<void(State&)>& change);
    // What an unzipper's end means for the others: the first end that is not
    // Unpacked ends them all and is the archive's.
    End Ended(End end);
    bool Over();
    std::optional<std::size_t> NextEntry();
    void Prepare(CUnzipper& unzipper);   // the settings every unzipper here has
    End Interrupted() const;

    Setup m_setup;
    std::mutex m_lock;
    std::condition_variable m_changed;
    State m_state;              // under m_lock
    bool m_following = false;   // under m_lock: Follow waits for any change
    // The entries not given to an unzipper yet, under m_pick: by their
    // arrival, or (entries landing on one name) in the archive's order.
    std::mutex m_pick;
    std::optional<CArrivalOrder> m_order;
    std::size_t m_next = 0;
    std::size_t m_count = 0;   // set before the unzippers start
    // Under m_lock: the sizes of the entries done, what each unzipper has
    // written of its current one.
    std::uint64_t m_finished = 0;
    std::uint64_t m_writing[2] = {0, 0};
    std::optional<End> m_over;
    std::thread m_thread;
};
