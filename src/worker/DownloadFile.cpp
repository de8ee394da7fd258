#include "platform/CInternetException.h"
#include "platform/FileUtil.h"
#include "worker/BaseName.h"
#include "worker/CArchiveHasher.h"
#include "worker/CConnectionRamp.h"
#include "worker/CKELDownloadThread.h"
#include "worker/CSegmentPlan.h"
#include "worker/Messages.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kChunk = 65536;
// A running range is halved only when each half is worth a new transfer.
constexpr std::uint64_t kMinimumSplit = 1u << 20;
// The state record is written again after this much more, or this long.
constexpr std::uint64_t kRecordEvery = 64u << 20;
constexpr auto kRecordAfter = std::chrono::seconds(5);
constexpr std::int64_t kAnyTime = -2;

// Ranges travel as signed parameters; no file comes near 2^63 bytes.
std::int64_t Range(std::uint64_t v)
{
    return static_cast<std::int64_t>(v);
}

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
    SharedFetch(std::uint64_t size, int file, std::string name, std::function<bool()> stopped, int connections)
        // A slot is not used again: dropped ones leave theirs for good.
        : plan(size, kMinimumSplit),
          helpers(2 * static_cast<std::size_t>(std::max(connections, 1))),
          fd(file),
          remoteName(std::move(name)),
          stop(std::move(stopped))
    {}
    std::mutex lock;
    std::condition_variable helperEnded;
    std::condition_variable wake;   // an extra connection is to begin fetching
    CSegmentPlan plan;              // under `lock`
    int writeError = 0;             // under `lock`: errno of the first failed write
    int helpersRunning = 0;         // under `lock`: extra connections told to fetch that have not ended
    int active = 1;                 // under `lock`: slots below this fetch; the others, logged in, wait
    // under `lock`: a slot whose range is done halves another's only while fewer than this fetch
    int worth = std::numeric_limits<int>::max();
    std::vector<HelperState> helpers;   // under `lock`, by slot
    std::atomic<bool> over{false};      // the download is given up: extra connections end
    const int fd;
    const std::string remoteName;
    const std::function<bool()> stop;   // the run is being stopped
};

// One connection's fixed buffer: small pieces gather in it and go to disk
// in writes of 64 KiB at their place in the file, larger ones go straight
// from the connection's own buffer; only what is on disk counts as
// finished. The range's end is asked each time, as another connection may
// have taken the upper half of it meanwhile.
class PieceWriter {
public:
    // `flushed` is called after each write that reached the disk.
    PieceWriter(SharedFetch& s, int slot, std::function<void()> flushed = {})
        : m_s(s), m_slot(slot), m_buffer(std::make_unique<char[]>(kChunk)), m_flushed(std::move(flushed))
    {}

    void Start(bool open)
    {
        m_open = open;
        m_atEnd = m_failed = m_stopped = false;
    }
    void Open() { m_open = true; }
    bool AtEnd() const { return m_atEnd; }
    bool Failed() const { return m_failed; }
    bool Stopped() const { return m_stopped; }

    // The connection's sink: all of a piece, or less to cut the transfer at
    // the range's end (or after a failed write).
    std::size_t Take(std::uint64_t offset, const char* data, std::size_t size)
    {
        if (!m_open)
            return FtpPause;   // held until the file's time has been checked
        if (m_s.over || m_s.stop()) {
            m_stopped = true;
            return 0;
        }
        std::uint64_t end = 0;
        {
            std::lock_guard<std::mutex> hold(m_s.lock);
            end = m_s.plan.EndOf(m_slot);
        }
        if (offset >= end) {
            m_atEnd = true;
            return 0;
        }
        const std::size_t use = static_cast<std::size_t>(std::min<std::uint64_t>(size, end - offset));
        for (std::size_t done = 0; done < use;) {
            // A whole buffer's worth goes to disk straight from the piece.
            if (m_length == 0 && use - done >= kChunk) {
                if (!WriteAt(offset + done, data + done, use - done))
                    return 0;
                break;
            }
            if (m_length == 0)
                m_at = offset + done;
            const std::size_t n = std::min<std::size_t>(use - done, kChunk - m_length);
            std::memcpy(m_buffer.get() + m_length, data + done, n);
            m_length += n;
            done += n;
            if (m_length == kChunk && !Flush())
                return 0;
        }
        if (offset + use == end) {
            m_atEnd = true;
            if (!Flush())
                return 0;
        }
        return use;
    }

    bool Flush()
    {
        const bool written = WriteAt(m_at, m_buffer.get(), m_length);
        m_length = 0;
        return written;
    }

private:
    bool WriteAt(std::uint64_t at, const char* p, std::size_t length)
    {
        if (!WriteAllAt(m_s.fd, p, length, at)) {
            const int error = errno;
            std::lock_guard<std::mutex> hold(m_s.lock);
            if (m_s.writeError == 0)
                m_s.writeError = error;
            m_failed = true;
            return false;
        }
        {
            std::lock_guard<std::mutex> hold(m_s.lock);
            m_s.plan.Finish(at, length);
        }
        if (m_flushed)
            m_flushed();
        return true;
    }

    SharedFetch& m_s;
    const int m_slot;
    std::unique_ptr<char[]> m_buffer;
    std::function<void()> m_flushed;
    std::uint64_t m_at = 0;
    std::size_t m_length = 0;
    bool m_open = true;
    bool m_atEnd = false;
    bool m_failed = false;
    bool m_stopped = false;
};

enum class Fetched {
    NothingLeft,   // the plan has no range for this connection now
    ServerEnded,   // the server ended a transfer short of its range: the file is shorter than listed
    Refused,       // the server refused the file
    TimeChanged,   // the file is not the one the part was begun from
    NoRestart,     // the server cannot start a transfer at an offset
    WriteFailed,
    Stopped,
};

// Fetches the ranges the plan hands `slot` over `connection`, one transfer
// each (REST to its start; cut at its end), until none is left for it.
// `checkTime` (the first transfer of the worker's own connection) asks the
// file's time and holds the first piece until `begun` has accepted it.
// `goOn` is asked while data flows. Throws what the connection throws.
Fetched FetchRanges(CFtpConnection& connection, SharedFetch& s, int slot, PieceWriter& writer, bool& checkTime,
                    const std::function<bool(std::int64_t)>& begun, const std::function<bool()>& goOn)
{
    auto release = [&] {
        std::lock_guard<std::mutex> hold(s.lock);
        s.plan.Release(slot);
    };
    for (;;) {
        std::optional<ByteRange> range;
        {
            std::lock_guard<std::mutex> hold(s.lock);
            if (slot > 0 && s.helpers[static_cast<std::size_t>(slot)].retired)
                return Fetched::NothingLeft;
            HelperState* h = slot > 0 ? &s.helpers[static_cast<std::size_t>(slot)] : nullptr;
            range = h && h->trial ? s.plan.TakeTail(slot, std::exchange(h->trial, 0)) : s.plan.Take(slot, s.worth);
            if (range && h)
                h->fetched = true;
        }
        if (!range)
            return Fetched::NothingLeft;
        writer.Start(/*open=*/!checkTime);
        bool started = false;
        try {
            started = connection.BeginTransfer(
                s.remoteName,
                [&](std::uint64_t offset, const char* data, std::size_t size) {
                    return writer.Take(offset, data, size);
                },
                range->begin, checkTime);
        } catch (const CInternetException& e) {
            // A range that ends within the first piece was cut here.
            if (writer.AtEnd() && e.Kind() == FtpError::SinkRefused)
                continue;
            writer.Flush();
            release();
            if (writer.Failed())
                return Fetched::WriteFailed;
            if (writer.Stopped())
                return Fetched::Stopped;
            if (range->begin > 0 && e.Kind() == FtpError::ResumeRefused)
                return Fetched::NoRestart;
            throw;
        }
        if (!started) {
            release();
            return Fetched::Refused;
        }
        if (checkTime) {
            checkTime = false;
            if (!begun(connection.CurrentFileTime())) {
                connection.AbortTransfer();
                release();
                return Fetched::TimeChanged;
            }
            writer.Open();
        }
        bool ended = false;
        try {
            connection.ResumeTransfer();
            while (!writer.AtEnd() && !(ended = connection.DriveTransfer())) {
                if (!goOn()) {
                    connection.AbortTransfer();
                    writer.Flush();
                    release();
                    return Fetched::Stopped;
                }
            }
            // The last range lets the server end the transfer, so the
            // connection stays logged in; any other is cut at its end.
            bool lastRange = false;
            {
                std::lock_guard<std::mutex> hold(s.lock);
                lastRange = s.plan.EndOf(slot) == s.plan.Size();
            }
            if (!ended && lastRange)
                connection.EndTransfer();
            else if (!ended)
                connection.AbortTransfer();
        } catch (const CInternetException& e) {
            // The transfer was cut here: at the range's end, or after a failed write.
            if (writer.Failed())
                return release(), Fetched::WriteFailed;
            if (writer.Stopped()) {
                writer.Flush();
                release();
                return Fetched::Stopped;
            }
            if (!(writer.AtEnd() && e.Kind() == FtpError::SinkRefused)) {
                writer.Flush();   // what came before the break is kept
                release();
                throw;
            }
        }
        if (!writer.AtEnd()) {
            writer.Flush();
            release();
            return writer.Failed() ? Fetched::WriteFailed : Fetched::ServerEnded;
        }
    }
}

// Whether `slot` is to fetch; waits, logged in, until it is or the download
// no longer needs it.
bool AwaitTurn(SharedFetch& s, int slot, const std::function<bool()>& giveUp)
{
    std::unique_lock<std::mutex> hold(s.lock);
    while (slot >= s.active) {
        if (giveUp())
            return false;
        s.wake.wait_for(hold, std::chrono::milliseconds(100));
    }
    return !giveUp();
}

// An extra connection: logs in with the same account, enters the same folder,
// waits for its turn and fetches what the plan hands it. Any failure of its
// own (421, a refused login, a timeout, a broken transfer) just ends it; what
// it had not fetched goes back to the others.
void RunExtraConnection(SharedFetch& s, int slot, const FtpSettings& settings, const FtpTimeouts& timeouts,
                        const std::string& folder, const std::function<bool()>& stop)
{
    try {
        const auto giveUp = [&] { return s.over.load() || stop(); };
        CFtpConnection connection(settings.host, settings.port, settings.user, settings.password, /*passive=*/true,
                                  timeouts, giveUp, settings.tls);
        if ((folder.empty() || connection.SetCurrentDirectory(folder)) && AwaitTurn(s, slot, giveUp)) {
            PieceWriter writer(s, slot);
            bool checkTime = false;
            FetchRanges(connection, s, slot, writer, checkTime, {}, [&] { return !giveUp(); });
        }
    } catch (...) {
        // The other connections carry on.
    }
    std::lock_guard<std::mutex> hold(s.lock);
    s.plan.Release(slot);
    s.helpers[static_cast<std::size_t>(slot)].ended = true;
    if (slot < s.active)
        --s.helpersRunning;
    s.helperEnded.notify_all();
}

// Ends the extra connections, on every way out of a download too.
struct ExtraConnections {
    SharedFetch& s;
    std::vector<std::thread> threads;
    void End()
    {
        s.over = true;
        s.wake.notify_all();
        for (std::thread& t : threads)
            t.join();
        threads.clear();
    }
    ~ExtraConnections() { End(); }
};

struct AtExit {
    std::function<void()> run;
    ~AtExit() { run(); }
};

// The state record beside the part: written whole to a temporary file, made
// durable and renamed over the old one, so a crash leaves one or the other.
// The part's data is made durable first, so the record never claims bytes
// that are not on disk.
bool WriteRecord(int folder, int part, const std::string& recordName, const std::string& text)
{
    if (fdatasync(part) != 0)
        return false;
    const std::string temporary = recordName + ".new";
    CFileDescriptor file(
        openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file.IsOpen())
        return false;
    const bool written = WriteAll(file.Get(), text.data(), text.size()) && fsync(file.Get()) == 0 && file.Close();
    if (!written || renameat(folder, temporary.c_str(), folder, recordName.c_str()) != 0) {
        RemoveRegularFileAt(folder, temporary);
        return false;
    }
    return true;
}

std::string ReadRecord(int folder, const std::string& recordName)
{
    CFileDescriptor file(openat(folder, recordName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    // A record is a few lines; anything else there is no record of ours.
    if (!file.IsOpen() || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 65536)
        return {};
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    const ssize_t n = read(file.Get(), text.data(), text.size());
    return n == st.st_size ? text : std::string();
}

}   // namespace

void CKELDownloadThread::ForgetArchive()
{
    m_archiveInUse = false;
    m_archiveLock.Close();
    m_archiveName.clear();
}

bool CKELDownloadThread::LockArchive(int fd, const std::string& name)
{
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    m_archiveInUse = true;
    m_failure = name + " is held by another running copy of the program";
    return false;
}

bool CKELDownloadThread::TakeArchive(const std::string& name)
{
    ForgetArchive();
    if (!IsPlainFileName(name))
        return false;
    const CFileDescriptor folder = OpenFolderPath(m_downloadFolder, /*create=*/false);
    if (!folder.IsOpen())
        return false;
    CFileDescriptor file(openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!file.IsOpen() || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // Held from here until the archive is unpacked and deleted, so a second
    // running copy neither writes into it nor unpacks or deletes it meanwhile.
    if (!LockArchive(file.Get(), name))
        return false;
    m_archiveLock = std::move(file);
    m_archiveName = name;
    return true;
}

bool CKELDownloadThread::DownloadFile(CFtpConnection& connection, const std::string& remoteName,
                                      std::uint64_t expectedSize)
{
    // A name from the listing that is empty, would leave the Download folder
    // ("..", "a/b") or holds control characters is refused before anything is touched.
    ForgetArchive();
    m_writeFailed = false;
    m_archiveResumed = false;
    if (!IsPlainFileName(remoteName))
        return false;

    // The Download folder is made on a fresh machine; below it nothing is
    // reached through a link.
    const CFileDescriptor folder = OpenFolderPath(m_downloadFolder, /*create=*/true);
    if (!folder.IsOpen())
        return false;

    // A complete local copy is taken as it is; a folder or a link at its
    // name is never replaced.
    struct stat st {};
    if (fstatat(folder.Get(), remoteName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(st.st_mode))
            return false;
        if (static_cast<std::uint64_t>(st.st_size) == expectedSize)
            return TakeArchive(remoteName);
    }

    // Partial data has a name of its own, beside a record of what it holds;
    // only a complete file takes the archive's name. The part is locked like
    // a complete archive (see TakeArchive), and the lock goes with it.
    const std::string partName = remoteName + ".part";
    const std::string recordName = partName + "-state";
    CFileDescriptor part(
        openat(folder.Get(), partName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!part.IsOpen() || fstat(part.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (!LockArchive(part.Get(), remoteName))
        return false;

    // The part is resumed when its record names the listed size, a known
    // time and ranges the part holds; the time is checked against the
    // server's with the first transfer. Otherwise it is emptied, and only when
    // it is not empty already: truncating a file makes some file systems
    // (ext4) flush all it is given later when it is closed.
    SharedFetch s(
        expectedSize, part.Get(), remoteName, [this] { return StopRequested(); }, m_connections);
    std::uint64_t recordSize = 0;
    std::int64_t expectTime = kAnyTime;
    std::vector<ByteRange> finished;
    bool resuming = CSegmentPlan::ParseRecord(ReadRecord(folder.Get(), recordName), recordSize, expectTime, finished) &&
                    recordSize == expectedSize && expectTime >= 0 && s.plan.SetFinished(finished) &&
                    s.plan.FinishedBytes() > 0 &&
                    s.plan.Finished().back().end <= static_cast<std::uint64_t>(st.st_size);
    auto startAfresh = [&] {
        s.plan.Reset();
        RemoveRegularFileAt(folder.Get(), recordName);
        return fstat(part.Get(), &st) == 0 && (st.st_size == 0 || ftruncate(part.Get(), 0) == 0);
    };
    if (!resuming) {
        expectTime = kAnyTime;
        if (!startAfresh())
            return false;
    }

    // An archive whose signature is checked is hashed as it reaches the disk.
    std::optional<CArchiveHasher> hashing;
    auto hashFromStart = [&] {
        hashing.reset();
        if (!m_signature)
            return;
        m_signature->Restart();
        hashing.emplace(*m_signature, part.Get(), [&s] {
            std::lock_guard<std::mutex> hold(s.lock);
            const std::vector<ByteRange>& done = s.plan.Finished();
            return !done.empty() && done.front().begin == 0 ? done.front().end : 0;
        });
    };
    hashFromStart();

    // A failure or a stop keeps the part and its record: the next run fetches
    // only what is missing. Written once the extra connections have ended.
    std::int64_t fileTime = -1;   // the server's, told with the first transfer
    bool keepRecord = true;
    AtExit saveRecord{[&] {
        if (keepRecord && fileTime >= 0 && part.IsOpen())
            WriteRecord(folder.Get(), part.Get(), recordName, s.plan.Record(fileTime));   // best effort on the way out
    }};
    ExtraConnections extra{s, {}};

    // A local write that fails is no internet failure: the partial data goes,
    // so a full disk is not left full, and the run ends saying why.
    auto writeFailed = [&](int error) {
        extra.End();
        hashing.reset();
        keepRecord = false;
        part.Close();
        RemoveRegularFileAt(folder.Get(), partName);
        RemoveRegularFileAt(folder.Get(), recordName);
        m_failure = "cannot write " + remoteName + ": " + std::generic_category().message(error);
        if (error == ENOSPC || error == EDQUOT) {
            m_failure = remoteName + " - Not Enough Disk Space";
            SetText(m_pStatusText, m_failure);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        }
        m_writeFailed = true;
        return false;
    };

    // Extra connections, each logged in with the same account, taking ranges
    // of their own as the ramp asks for them. The first logs in as soon as
    // the file's transfer runs, so it is ready when it is asked for; the
    // others log in when asked for.
    const std::string serverFolder = [&] {
        std::string f = connection.GetCurrentDirectory();
        f.erase(0, f.find_first_not_of('/'));
        while (!f.empty() && f.back() == '/')
            f.pop_back();
        return f;
    }();
    const int most = expectedSize >= m_segmentMinimum ? std::max(m_connections, 1) : 1;
    auto startHelper = [&](int slot) {
        {
            std::lock_guard<std::mutex> hold(s.lock);
            s.helpers[static_cast<std::size_t>(slot)].started = true;
        }
        extra.threads.emplace_back(RunExtraConnection, std::ref(s), slot, std::cref(m_settings), std::cref(m_timeouts),
                                   serverFolder, [this] { return StopRequested(); });
    };
    CConnectionRamp ramp(most, expectedSize - s.plan.FinishedBytes());
    auto fetchBegan = std::chrono::steady_clock::now();
    std::uint64_t rampFrom = s.plan.FinishedBytes();
    // The ramp is asked with each progress; an extra connection asked for
    // that ended without a range (refused, broken) is lost to it.
    auto rampUp = [&](std::uint64_t total) {
        int fetching = 0;
        bool lost = false;
        {
            std::lock_guard<std::mutex> hold(s.lock);
            fetching = s.plan.RunningCount();
            for (int slot = 1; slot < s.active; ++slot) {
                HelperState& h = s.helpers[static_cast<std::size_t>(slot)];
                if (h.ended && !h.fetched && !h.reported)
                    lost = h.reported = true;
            }
        }
        if (lost)
            ramp.Lost();
        const auto at =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - fetchBegan);
        const CConnectionRamp::Step step = ramp.Sample(at, total - rampFrom, fetching);
        int slot = 0;
        bool started = true;
        {
            std::lock_guard<std::mutex> hold(s.lock);
            s.worth = ramp.Worth();
            if (step == CConnectionRamp::Step::Drop && s.active > 1) {
                // The newest takes no more; a range at the file's end it
                // finishes, any other goes to the one below it, which runs on.
                s.helpers[static_cast<std::size_t>(s.active - 1)].retired = true;
                if (s.plan.EndOf(s.active - 1) != expectedSize)
                    s.plan.Retire(s.active - 1);
            }
            if (step == CConnectionRamp::Step::Add && static_cast<std::size_t>(s.active) < s.helpers.size()) {
                slot = s.active++;
                HelperState& h = s.helpers[static_cast<std::size_t>(slot)];
                started = h.started;
                h.trial = ramp.TrialBytes();
                if (!h.ended)
                    ++s.helpersRunning;
            }
        }
        if (slot == 0)
            return;
        s.wake.notify_all();
        if (!started)
            startHelper(slot);
        // Once more than one paid, the next is likely to be asked for: it logs
        // in ahead, so that it fetches as soon as it is.
        const auto next = static_cast<std::size_t>(slot) + 1;
        if (ramp.Paid() >= 2 && ramp.Asked() < most && next < s.helpers.size() && !s.helpers[next].started)
            startHelper(slot + 1);
    };

    // Progress of all connections together, posted from this thread only:
    // a position and a percentage text at most once per 64 KiB of the total.
    // The record is brought up to date now and then. False once the run is
    // being stopped or a write failed.
    std::uint64_t nextPost = s.plan.FinishedBytes() + 1;
    std::uint64_t nextRecord = s.plan.FinishedBytes() + kRecordEvery;
    auto lastRecord = std::chrono::steady_clock::now();
    auto progress = [&] {
        std::uint64_t total = 0;
        int error = 0;
        {
            std::lock_guard<std::mutex> hold(s.lock);
            total = s.plan.FinishedBytes();
            error = s.writeError;
        }
        if (total >= nextPost) {
            // The last bytes are always told, once.
            nextPost = total >= expectedSize ? total + 1 : std::min(total + kChunk, expectedSize);
            PostNotify(UM_PROGRESS_BAR, total, Range(expectedSize));
            const double percent =
                expectedSize ? (static_cast<double>(total) * 100.0) / static_cast<double>(expectedSize) : 100.0;
            char text[512];
            std::snprintf(text, sizeof text, "%s - %.0lf%c Complete", BaseName(remoteName).c_str(), percent, '%');
            SetText(m_pStatusText, text);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        }
        // A complete part is renamed at once: it needs no record.
        if (fileTime >= 0 && total < expectedSize &&
            (total >= nextRecord || std::chrono::steady_clock::now() - lastRecord >= kRecordAfter)) {
            std::string record;
            {
                std::lock_guard<std::mutex> hold(s.lock);
                record = s.plan.Record(fileTime);
            }
            WriteRecord(folder.Get(), part.Get(), recordName, record);   // a missed one is written at the end
            nextRecord = total + kRecordEvery;
            lastRecord = std::chrono::steady_clock::now();
        }
        if (fileTime >= 0 && total <= expectedSize)
            rampUp(total);
        return error == 0 && !StopRequested();
    };

    // The bar starts at 0 as for any download, and moves at once to what the
    // part holds.
    PostBarStart(CNotifyChannel::BarCount::Downloaded, Range(expectedSize));
    if (resuming) {
        PostNotify(UM_PROGRESS_BAR, s.plan.FinishedBytes(), Range(expectedSize));
        char text[512];
        std::snprintf(text, sizeof text, "%s - resuming at %.0lf%c", remoteName.c_str(),
                      static_cast<double>(s.plan.FinishedBytes()) * 100.0 / static_cast<double>(expectedSize), '%');
        SetText(m_pStatusText, text);
        PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    }

    // Once the file's transfer runs (and is the file the part was begun
    // from), the first extra connection logs in.
    auto begun = [&](std::int64_t time) {
        fileTime = time;
        if (expectTime != kAnyTime && time != expectTime)
            return false;
        if (most > 1)
            startHelper(1);
        return true;
    };

    // This connection fetches ranges until none is left, waiting meanwhile
    // for the extra ones, whose failures only hand their ranges back.
    PieceWriter writer(s, 0, [&] { progress(); });
    bool checkTime = true;
    fetchBegan = std::chrono::steady_clock::now();
    Fetched outcome = Fetched::NothingLeft;
    for (;;) {
        outcome = FetchRanges(connection, s, 0, writer, checkTime, begun, progress);
        if (resuming && extra.threads.empty() && (outcome == Fetched::TimeChanged || outcome == Fetched::NoRestart)) {
            // Not the file the part was begun from, or a server that cannot
            // send only the rest: the part is fetched from its first byte.
            resuming = false;
            m_archiveResumed = false;
            expectTime = kAnyTime;
            checkTime = true;
            hashing.reset();
            if (!startAfresh())
                return writeFailed(errno);
            hashFromStart();
            nextPost = 1;
            ramp = CConnectionRamp(most, expectedSize);
            rampFrom = 0;
            fetchBegan = std::chrono::steady_clock::now();
            PostBarStart(CNotifyChannel::BarCount::Downloaded, Range(expectedSize));
            continue;
        }
        m_archiveResumed = resuming;
        const bool goOn = progress();
        if (outcome != Fetched::NothingLeft || !goOn)
            break;
        std::unique_lock<std::mutex> hold(s.lock);
        if (s.helpersRunning == 0)
            break;
        s.helperEnded.wait_for(hold, std::chrono::milliseconds(100));
    }
    extra.End();

    if (outcome == Fetched::WriteFailed || s.writeError != 0)
        return writeFailed(s.writeError ? s.writeError : EIO);
    if (outcome == Fetched::Refused) {
        PostNotify(UM_PROGRESS_BAR, static_cast<std::uint64_t>(-1), -1);   // failed: the bar goes
        return false;
    }
    // A server that ends the file early, after all that came before, ends it
    // as it does today: the unpacking checks what arrived.
    const bool shortFile = outcome == Fetched::ServerEnded && s.plan.Finished().size() <= 1 &&
                           (s.plan.Finished().empty() || s.plan.Finished().front().begin == 0);
    if (!s.plan.Complete() && !shortFile)
        return false;
    PostNotify(UM_PROGRESS_BAR, expectedSize, Range(expectedSize));

    // Made durable before it takes the archive's name; the descriptor that
    // wrote it keeps its lock until it is unpacked.
    if (fdatasync(part.Get()) != 0 || renameat(folder.Get(), partName.c_str(), folder.Get(), remoteName.c_str()) != 0)
        return writeFailed(errno);
    keepRecord = false;
    RemoveRegularFileAt(folder.Get(), recordName);
    m_archiveLock = std::move(part);
    m_archiveName = remoteName;
    return true;
}
