#pragma once
#include "platform/CFile.h"
#include "platform/FileResult.h"
#include "unzip/CArrivingBytes.h"
#include "worker/CSegmentPlan.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class CPieceCheck;
struct ReleaseArchive;

// A running range is halved only when each half is worth a new transfer.
inline constexpr std::uint64_t kMinimumSplit = 1u << 20;

// How far an extra connection got, under the lock of its download.
struct HelperState {
    bool started = false;   // its thread runs or ran
    bool fetched = false;   // it was handed a range
    bool ended = false;
    bool reported = false;     // told to the ramp as lost
    bool retired = false;      // it did not pay: it takes no more ranges
    std::uint64_t trial = 0;   // its first range: this many bytes at the file's end
};

// What the connections of one download share: the worker's thread and the
// threads of the extra connections.
struct SharedFetch {
    SharedFetch(std::uint64_t size, const CFile& part, std::string name, std::function<bool()> stopped, int connections)
        // A slot is not used again: dropped ones leave theirs for good.
        : plan(size, kMinimumSplit),
          helpers(2 * static_cast<std::size_t>(std::max(connections, 1))),
          file(part),
          remoteName(std::move(name)),
          stop(std::move(stopped))
    {}
    std::mutex lock;
    std::condition_variable helperEnded;
    std::condition_variable wake;   // an extra connection is to begin fetching
    CSegmentPlan plan;              // under `lock`
    FileResult writeError;          // under `lock`: the first failed write
    int helpersRunning = 0;         // under `lock`: extra connections told to fetch that have not ended
    int active = 1;                 // under `lock`: slots below this fetch; the others, logged in, wait
    // under `lock`: a slot whose range is done halves another's only while fewer than this fetch
    int worth = std::numeric_limits<int>::max();
    std::vector<HelperState> helpers;         // under `lock`, by slot
    std::atomic<bool> over{false};            // the download is given up: extra connections end
    CPieceCheck* pieces = nullptr;            // checks each piece as it is whole, when the archive is listed
    const ReleaseArchive* listed = nullptr;   // set before any connection runs: the pieces' sizes and hashes
    // Set before any connection runs, when the archive is unpacked while it
    // arrives: told each range on disk (or, when listed, each piece checked).
    std::shared_ptr<CArrivingBytes> arriving;
    const CFile& file;
    const std::string remoteName;
    const std::function<bool()> stop;   // the run is being stopped
};
