#pragma once
#include "worker/CConnectionRamp.h"
#include "worker/CPieceCheck.h"
#include "worker/CPieceWriter.h"
#include "worker/FtpSettings.h"
#include "worker/SharedFetch.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CArchivePart;
class CFtpConnection;
class CStandbyLogin;

// Fetches what the part of one file lacks: over the worker's connection and
// over as many extra ones (same account, same folder) as the ramp finds
// paying, each with ranges of its own. Meanwhile the part's record is kept up
// to date and, for an archive the release list names, each piece is checked
// as soon as it is whole on disk, and fetched once more when it is wrong. Extra connections end with the object, on
// every way out; a part fetched into keeps its record then, so the next run
// fetches only what is missing.
class CSegmentFetch {
public:
    enum class Outcome {
        NothingLeft,   // no range is left: the part is complete, or the run was stopped meanwhile
        ServerEnded,   // the server ended a transfer short of its range: the file is shorter than listed
        Refused,       // the server refused the file
        TimeChanged,   // the file is not the one the part was begun from
        NoRestart,     // the server cannot start a transfer at an offset
        WriteFailed,
        Stopped,
    };

    struct Setup {
        std::uint64_t size = 0;   // the listed size
        int connections = 1;      // connections at most for this file
        int slots = 1;            // extra connections the download may try (the worker's setting)
        const FtpSettings& settings;
        const FtpTimeouts& timeouts;
        const ReleaseArchive* listed = nullptr;   // its pieces checked when given
        CStandbyLogin* standby = nullptr;         // the first extra connection, logging in already
        bool directoryFirst = false;              // a zip archive's central directory comes first
        std::function<bool()> stop;               // the run is being stopped
        // Bytes on disk of all connections together, told on this thread at
        // most once per 64 KiB of the total, the last ones always.
        std::function<void(std::uint64_t)> progress;
    };

    // `part` is open and outlives the object.
    CSegmentFetch(CArchivePart& part, const std::string& remoteName, Setup setup);
    ~CSegmentFetch();
    CSegmentFetch(const CSegmentFetch&) = delete;
    CSegmentFetch& operator=(const CSegmentFetch&) = delete;

    // The part is resumed when its record names the listed size, a known time
    // and ranges the part holds (the time is checked against the server's
    // with the first transfer); otherwise it is emptied. The kept pieces of a
    // listed archive are checked first: only the good ones count. A result
    // that is not Ok: it could not be emptied.
    FileResult Prepare();
    // Before Prepare: `bytes` is told what may be read of the part as it
    // arrives (kept ranges included); a StartAgain fails it.
    void Feed(std::shared_ptr<CArrivingBytes> bytes) { m_s.arriving = std::move(bytes); }
    bool Resuming() const { return m_resuming; }
    std::uint64_t FinishedBytes();

    // Fetches ranges until none is left, waiting meanwhile for the extra
    // connections, whose failures only hand their ranges back. Throws what
    // the worker's connection throws.
    Outcome Run(CFtpConnection& connection);
    // Not the file the part was begun from, or a server that cannot send
    // only the rest, before any extra connection came: the part can be
    // fetched from its first byte (StartAgain, then Run).
    bool MayStartAgain(Outcome outcome) const;
    FileResult StartAgain();

    // After Run: the part holds the whole file, or all the server sent of one
    // shorter than listed (the unpacking checks what arrived); with a release
    // list, the whole file with every piece checked.
    bool Whole(Outcome outcome);
    // After Run: a piece did not match twice, and the download was given up.
    bool PiecesRefused();
    // After Run: the first write that failed; Ok when none did.
    const FileResult& WriteError() const { return m_s.writeError; }
    // The part is complete or is to go: extra connections and the checkers
    // end now, and no record is written on the way out.
    void Settle();

private:
    std::optional<Outcome> FetchDirectoryFirst(CFtpConnection& connection,
                                               const std::function<bool(std::int64_t)>& begun,
                                               const std::function<bool()>& goOn);
    std::optional<std::uint64_t> LocateDirectory();
    bool Progress();
    void SaveRecordNowAndThen(std::uint64_t total);
    bool Begun(std::int64_t fileTime);
    void RampUp(std::uint64_t total);
    bool NoteLostConnections();   // under m_s.lock
    void StartHelper(int slot);
    void CheckKeptPieces();
    void EndChecks();
    void EndExtraConnections();

    CArchivePart& m_part;
    const Setup m_setup;
    SharedFetch m_s;
    CPieceWriter m_writer;   // the worker's connection's
    std::optional<CPieceCheck> m_pieces;
    std::vector<std::thread> m_threads;   // the extra connections
    std::string m_serverFolder;

    bool m_resuming = false;
    bool m_keepRecord = true;
    bool m_checkTime = true;
    bool m_directoryFirst;   // a segmented download fetches the central directory first
    std::int64_t m_expectTime;
    std::int64_t m_fileTime = -1;   // the server's, told with the first transfer

    CConnectionRamp m_ramp;
    std::chrono::steady_clock::time_point m_fetchBegan;
    std::uint64_t m_rampFrom = 0;
    std::uint64_t m_nextPost = 1;
    std::uint64_t m_nextRecord = 0;
    std::uint64_t m_nextWriteBack = 0;
    std::chrono::steady_clock::time_point m_lastRecord;
};
