#include "worker/CSegmentFetch.h"

#include "platform/CFtpConnection.h"
#include "platform/CInternetException.h"
#include "unzip/CCentralDirectory.h"
#include "worker/CArchivePart.h"
#include "worker/CStandbyLogin.h"
#include "worker/DirectoryFirst.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace {

using Fetched = CSegmentFetch::Outcome;

// The state record is written again after this much more, or this long.
constexpr std::uint64_t kRecordEvery = 64u << 20;
constexpr auto kRecordAfter = std::chrono::seconds(5);
// What has arrived is handed to the disk in steps of this size, so neither a
// record's sync nor the last one waits for much.
constexpr std::uint64_t kWriteBackEvery = 8u << 20;
constexpr std::int64_t kAnyTime = -2;
// Bytes already on disk that a transfer may run on over rather than be cut
// short: about what a path sends in the round trips of a new login.
constexpr std::uint64_t kRunOutAtMost = 8u << 20;

// Hands what is left of a slot's range back to the plan, on every way out of
// a transfer short of the range's end.
class RangeHold {
public:
    RangeHold(SharedFetch& s, int slot) : m_s(s), m_slot(slot) {}
    ~RangeHold()
    {
        if (m_kept)
            return;
        std::lock_guard<std::mutex> hold(m_s.lock);
        m_s.plan.Release(m_slot);
    }
    RangeHold(const RangeHold&) = delete;
    RangeHold& operator=(const RangeHold&) = delete;
    // The range is done: nothing goes back.
    void Keep() { m_kept = true; }

private:
    SharedFetch& m_s;
    const int m_slot;
    bool m_kept = false;
};

// The next range for `slot`; nothing once it is retired or none is left.
std::optional<ByteRange> TakeRange(SharedFetch& s, int slot)
{
    std::lock_guard<std::mutex> hold(s.lock);
    HelperState* h = slot > 0 ? &s.helpers[static_cast<std::size_t>(slot)] : nullptr;
    if (h && h->retired)
        return std::nullopt;
    std::optional<ByteRange> range =
        h && h->trial ? s.plan.TakeTail(slot, std::exchange(h->trial, 0)) : s.plan.Take(slot, s.worth);
    if (range && h)
        h->fetched = true;
    return range;
}

// Whether the transfer of `slot` may run on to the file's end: its range ends
// there, or all after it is on disk and short (the central directory,
// fetched first). A transfer cut short costs a new login; these bytes are let
// through unwritten.
bool RunsOut(SharedFetch& s, int slot)
{
    std::lock_guard<std::mutex> hold(s.lock);
    const std::uint64_t end = s.plan.EndOf(slot);
    const std::uint64_t size = s.plan.Size();
    return end == size || (end != 0 && size - end <= kRunOutAtMost && s.plan.Covers({end, size}));
}

// Drives a transfer that runs until its range is done; nothing then.
std::optional<Fetched> DriveRange(CFtpConnection& connection, SharedFetch& s, int slot, CPieceWriter& writer,
                                  RangeHold& range, const std::function<bool()>& goOn)
{
    bool ended = false;
    try {
        connection.ResumeTransfer();
        while (!writer.AtEnd() && !(ended = connection.DriveTransfer())) {
            if (!goOn()) {
                connection.AbortTransfer();
                writer.Flush();
                return Fetched::Stopped;
            }
        }
        // A range that runs out at the file's end lets the server end the
        // transfer, so the connection stays logged in; any other is cut at its end.
        if (!ended && RunsOut(s, slot))
            connection.EndTransfer();
        else if (!ended)
            connection.AbortTransfer();
    } catch (const CInternetException& e) {
        // The transfer was cut here: at the range's end, or after a failed write.
        if (writer.Failed())
            return Fetched::WriteFailed;
        if (writer.Stopped()) {
            writer.Flush();
            return Fetched::Stopped;
        }
        if (!(writer.AtEnd() && e.Kind() == FtpError::SinkRefused)) {
            writer.Flush();   // what came before the break is kept
            throw;
        }
    }
    if (!writer.AtEnd()) {
        writer.Flush();
        return writer.Failed() ? Fetched::WriteFailed : Fetched::ServerEnded;
    }
    range.Keep();
    return std::nullopt;
}

// One transfer for `range` (REST to its start; cut at its end): nothing when
// the range is done, else why the connection takes no more.
std::optional<Fetched> FetchRange(CFtpConnection& connection, SharedFetch& s, int slot, CPieceWriter& writer,
                                  const ByteRange& range, bool& checkTime,
                                  const std::function<bool(std::int64_t)>& begun, const std::function<bool()>& goOn)
{
    RangeHold hold(s, slot);
    writer.Start(/*open=*/!checkTime);
    bool started = false;
    try {
        started = connection.BeginTransfer(
            s.remoteName,
            [&](std::uint64_t offset, const char* data, std::size_t size) {
                const std::size_t taken = writer.Take(offset, data, size);
                return writer.AtEnd() && !writer.Failed() && !writer.Stopped() && RunsOut(s, slot) ? size : taken;
            },
            range.begin, checkTime);
    } catch (const CInternetException& e) {
        // A range that ends within the first piece was cut here.
        if (writer.AtEnd() && e.Kind() == FtpError::SinkRefused) {
            hold.Keep();
            return std::nullopt;
        }
        writer.Flush();
        if (writer.Failed())
            return Fetched::WriteFailed;
        if (writer.Stopped())
            return Fetched::Stopped;
        if (range.begin > 0 && e.Kind() == FtpError::ResumeRefused)
            return Fetched::NoRestart;
        throw;
    }
    if (!started)
        return Fetched::Refused;
    if (checkTime) {
        checkTime = false;
        if (!begun(connection.CurrentFileTime())) {
            connection.AbortTransfer();
            return Fetched::TimeChanged;
        }
        writer.Open();
    }
    return DriveRange(connection, s, slot, writer, hold, goOn);
}

// Fetches the ranges the plan hands `slot` over `connection` until none is
// left for it. `checkTime` (the first transfer of the worker's own
// connection) asks the file's time and holds the first piece until `begun`
// has accepted it. `goOn` is asked while data flows. Throws what the
// connection throws.
Fetched FetchRanges(CFtpConnection& connection, SharedFetch& s, int slot, CPieceWriter& writer, bool& checkTime,
                    const std::function<bool(std::int64_t)>& begun, const std::function<bool()>& goOn)
{
    for (;;) {
        const std::optional<ByteRange> range = TakeRange(s, slot);
        if (!range)
            return Fetched::NothingLeft;
        if (const std::optional<Fetched> stopped =
                FetchRange(connection, s, slot, writer, *range, checkTime, begun, goOn))
            return *stopped;
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

// An extra connection: logs in with the same account (or takes the one that
// logged in ahead), enters the same folder, waits for its turn and fetches
// what the plan hands it. Any failure of its own (421, a refused login, a
// timeout, a broken transfer) just ends it; what it had not fetched goes back
// to the others.
void RunExtraConnection(SharedFetch& s, int slot, const FtpSettings& settings, const FtpTimeouts& timeouts,
                        const std::string& folder, const std::function<bool()>& stop, CStandbyLogin* standby)
{
    try {
        const std::function<bool()> giveUp = [&] { return s.over.load() || stop(); };
        std::unique_ptr<CFtpConnection> connection =
            standby ? standby->Take(giveUp)
                    : std::make_unique<CFtpConnection>(settings.host, settings.port, settings.user, settings.password,
                                                       /*passive=*/true, timeouts, giveUp, settings.tls);
        if (connection && (folder.empty() || connection->SetCurrentDirectory(folder)) && AwaitTurn(s, slot, giveUp)) {
            CPieceWriter writer(s, slot);
            bool checkTime = false;
            FetchRanges(*connection, s, slot, writer, checkTime, {}, [&] { return !giveUp(); });
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

// The server's current folder as a path for the extra connections to enter.
std::string ServerFolder(const CFtpConnection& connection)
{
    std::string f = connection.GetCurrentDirectory();
    f.erase(0, f.find_first_not_of('/'));
    while (!f.empty() && f.back() == '/')
        f.pop_back();
    return f;
}

}   // namespace

CSegmentFetch::CSegmentFetch(CArchivePart& part, const std::string& remoteName, Setup setup)
    : m_part(part),
      m_setup(std::move(setup)),
      m_s(m_setup.size, part.File(), remoteName, m_setup.stop, m_setup.slots),
      m_writer(m_s, 0, [this] { Progress(); }),
      m_directoryFirst(m_setup.directoryFirst),
      m_expectTime(kAnyTime),
      m_ramp(m_setup.connections, m_setup.size)
{
    m_s.listed = m_setup.listed;
}

CSegmentFetch::~CSegmentFetch()
{
    EndExtraConnections();
    // The checkers end before the record is read: a piece they had not
    // settled counts as kept, and the next run checks it before it counts.
    EndChecks();
    // A failure or a stop keeps the part and its record: best effort on the way out.
    if (m_keepRecord && m_fileTime >= 0 && m_part.IsOpen())
        m_part.WriteRecord(m_s.plan.Record(m_fileTime));
}

FileResult CSegmentFetch::Prepare()
{
    std::uint64_t recordSize = 0;
    std::vector<ByteRange> finished;
    const std::uint64_t partSize = m_part.File().RegularSize().value_or(0);
    m_resuming = CSegmentPlan::ParseRecord(m_part.ReadRecord(), recordSize, m_expectTime, finished) &&
                 recordSize == m_setup.size && m_expectTime >= 0 && m_s.plan.SetFinished(finished) &&
                 m_s.plan.FinishedBytes() > 0 && m_s.plan.Finished().back().end <= partSize;
    if (!m_resuming) {
        m_expectTime = kAnyTime;
        m_s.plan.Reset();
        if (const FileResult emptied = m_part.StartAfresh(); !emptied.Ok())
            return emptied;
    }
    // What a resumed part kept may be read at once; a listed archive's once checked.
    if (m_s.arriving && !m_setup.listed)
        for (const ByteRange& kept : m_s.plan.Finished())
            m_s.arriving->Arrived(kept.begin, kept.end);
    CheckKeptPieces();
    m_nextRecord = m_s.plan.FinishedBytes() + kRecordEvery;
    m_lastRecord = std::chrono::steady_clock::now();
    return {};
}

std::uint64_t CSegmentFetch::FinishedBytes()
{
    std::lock_guard<std::mutex> hold(m_s.lock);
    return m_s.plan.FinishedBytes();
}

CSegmentFetch::Outcome CSegmentFetch::Run(CFtpConnection& connection)
{
    m_serverFolder = ServerFolder(connection);
    const std::uint64_t from = FinishedBytes();
    m_ramp = CConnectionRamp(m_setup.connections, m_setup.size - from);
    m_rampFrom = from;
    // The bar starts at 0 as for any download: the first progress tells what the part holds.
    m_nextPost = from + 1;
    m_checkTime = true;
    m_fetchBegan = std::chrono::steady_clock::now();
    const auto begun = [this](std::int64_t time) { return Begun(time); };
    const auto progress = [this] { return Progress(); };
    Outcome outcome = Outcome::NothingLeft;
    if (const std::optional<Outcome> ended = FetchDirectoryFirst(connection, begun, progress)) {
        if (!MayStartAgain(*ended))
            EndExtraConnections();
        return *ended;
    }
    for (;;) {
        outcome = FetchRanges(connection, m_s, 0, m_writer, m_checkTime, begun, progress);
        if (MayStartAgain(outcome))
            return outcome;
        const bool goOn = Progress();
        if (outcome != Outcome::NothingLeft || !goOn)
            break;
        std::unique_lock<std::mutex> hold(m_s.lock);
        if (m_pieces && m_pieces->Refused())
            break;
        if (m_s.helpersRunning == 0 && !(m_pieces && m_pieces->Busy())) {
            // The last extra connection may have handed its range back after
            // this one found nothing to take, or a piece proved wrong: then
            // it fetches that itself.
            if (m_s.plan.Complete() || m_s.plan.RunningCount() != 0)
                break;
            continue;
        }
        m_s.helperEnded.wait_for(hold, std::chrono::milliseconds(100));
    }
    EndExtraConnections();
    return outcome;
}

// The archive's central directory comes first, over the worker's connection,
// so that it can be read while the rest comes; extra connections join as
// usual meanwhile, and the transfer of the rest that reaches the directory
// runs on over it (RunsOut), so this costs one transfer more, no login. A
// server that cannot start a transfer at an offset, or that ends one early,
// gets the usual order. Nothing when the rest is to follow.
std::optional<CSegmentFetch::Outcome> CSegmentFetch::FetchDirectoryFirst(CFtpConnection& connection,
                                                                         const std::function<bool(std::int64_t)>& begun,
                                                                         const std::function<bool()>& goOn)
{
    // Without a release list the tail comes first, then the directory where
    // its end records say; with one, the listed range alone. Each once at most.
    for (int step = 0; step < 2 && m_directoryFirst; ++step) {
        const std::optional<std::uint64_t> directoryOffset = m_setup.listed ? std::nullopt : LocateDirectory();
        std::optional<ByteRange> range;
        {
            std::lock_guard<std::mutex> hold(m_s.lock);
            range = DirectoryFirst(m_s.plan, m_setup.listed, directoryOffset);
            if (range)
                m_s.plan.TakeAhead(0, *range);
        }
        if (!range)
            break;
        const std::optional<Outcome> ended = FetchRange(connection, m_s, 0, m_writer, *range, m_checkTime, begun, goOn);
        if (ended == Outcome::NoRestart || ended == Outcome::ServerEnded)
            m_directoryFirst = false;
        else if (ended)
            return ended;
    }
    return std::nullopt;
}

// Where the end records on disk put the central directory; nothing while the
// tail is not on disk, or when they cannot be read.
std::optional<std::uint64_t> CSegmentFetch::LocateDirectory()
{
    const auto onDisk = [this](std::uint64_t begin, std::uint64_t end) {
        std::lock_guard<std::mutex> hold(m_s.lock);
        return m_s.plan.Covers({begin, end});
    };
    const std::optional<CCentralDirectory::Place> place =
        CCentralDirectory::Locate(m_part.File(), m_setup.size, onDisk);
    if (!place)
        return std::nullopt;
    return place->offset;
}

bool CSegmentFetch::MayStartAgain(Outcome outcome) const
{
    return m_resuming && m_threads.empty() && (outcome == Outcome::TimeChanged || outcome == Outcome::NoRestart);
}

FileResult CSegmentFetch::StartAgain()
{
    m_resuming = false;
    m_expectTime = kAnyTime;
    // What was read of the part is no longer its bytes.
    if (m_s.arriving)
        m_s.arriving->Fail();
    {
        std::unique_lock<std::mutex> hold(m_s.lock);
        if (m_pieces) {
            m_pieces->Drain(hold);
            m_pieces->Reset();
        }
        m_s.plan.Reset();
    }
    return m_part.StartAfresh();
}

bool CSegmentFetch::Whole(Outcome outcome)
{
    std::lock_guard<std::mutex> hold(m_s.lock);
    if (m_pieces)
        return m_s.plan.Complete() && m_pieces->AllGood();
    const std::vector<ByteRange>& finished = m_s.plan.Finished();
    const bool shortFile =
        outcome == Outcome::ServerEnded && finished.size() <= 1 && (finished.empty() || finished.front().begin == 0);
    return m_s.plan.Complete() || shortFile;
}

bool CSegmentFetch::PiecesRefused()
{
    std::lock_guard<std::mutex> hold(m_s.lock);
    return m_pieces && m_pieces->Refused();
}

void CSegmentFetch::Settle()
{
    EndExtraConnections();
    EndChecks();
    m_keepRecord = false;
}

void CSegmentFetch::EndChecks()
{
    {
        std::lock_guard<std::mutex> hold(m_s.lock);
        m_s.pieces = nullptr;
    }
    m_pieces.reset();
}

// Progress of all connections together, on this thread only; the record is
// brought up to date now and then, and the ramp asked. False once the run is
// being stopped or a write failed.
bool CSegmentFetch::Progress()
{
    std::uint64_t total = 0;
    bool written = true;
    {
        std::lock_guard<std::mutex> hold(m_s.lock);
        total = m_s.plan.FinishedBytes();
        written = m_s.writeError.Ok();
    }
    if (total >= m_nextPost) {
        // The last bytes are always told, once.
        m_nextPost = total >= m_setup.size ? total + 1 : std::min(total + CPieceWriter::kChunk, m_setup.size);
        m_setup.progress(total);
    }
    if (total >= m_nextWriteBack) {
        m_part.File().StartWriteBack();
        m_nextWriteBack = total + kWriteBackEvery;
    }
    SaveRecordNowAndThen(total);
    if (m_fileTime >= 0 && total <= m_setup.size)
        RampUp(total);
    return written && !m_setup.stop();
}

void CSegmentFetch::SaveRecordNowAndThen(std::uint64_t total)
{
    // A complete part is renamed at once: it needs no record.
    if (m_fileTime < 0 || total >= m_setup.size ||
        (total < m_nextRecord && std::chrono::steady_clock::now() - m_lastRecord < kRecordAfter))
        return;
    std::string record;
    {
        std::lock_guard<std::mutex> hold(m_s.lock);
        record = m_s.plan.Record(m_fileTime);
    }
    m_part.WriteRecord(record);   // a missed one is written at the end
    m_nextRecord = total + kRecordEvery;
    m_lastRecord = std::chrono::steady_clock::now();
}

// Once the file's transfer runs (and is the file the part was begun from),
// the first extra connection logs in, so it is ready when it is asked for.
bool CSegmentFetch::Begun(std::int64_t fileTime)
{
    m_fileTime = fileTime;
    if (m_expectTime != kAnyTime && fileTime != m_expectTime)
        return false;
    if (m_setup.connections > 1)
        StartHelper(1);
    return true;
}

// The ramp is asked with each progress, and extra connections are asked for
// or dropped as it says.
void CSegmentFetch::RampUp(std::uint64_t total)
{
    int fetching = 0;
    bool lost = false;
    {
        std::lock_guard<std::mutex> hold(m_s.lock);
        fetching = m_s.plan.RunningCount();
        lost = NoteLostConnections();
    }
    if (lost)
        m_ramp.Lost();
    const auto at =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_fetchBegan);
    const CConnectionRamp::Step step = m_ramp.Sample(at, total - m_rampFrom, fetching);
    int slot = 0;
    bool started = true;
    {
        std::lock_guard<std::mutex> hold(m_s.lock);
        m_s.worth = m_ramp.Worth();
        if (step == CConnectionRamp::Step::Drop && m_s.active > 1) {
            // The newest takes no more; a range at the file's end it
            // finishes, any other goes to the one below it, which runs on.
            m_s.helpers[static_cast<std::size_t>(m_s.active - 1)].retired = true;
            if (m_s.plan.EndOf(m_s.active - 1) != m_setup.size)
                m_s.plan.Retire(m_s.active - 1);
        }
        if (step == CConnectionRamp::Step::Add && static_cast<std::size_t>(m_s.active) < m_s.helpers.size()) {
            slot = m_s.active++;
            HelperState& h = m_s.helpers[static_cast<std::size_t>(slot)];
            started = h.started;
            h.trial = m_ramp.TrialBytes();
            if (!h.ended)
                ++m_s.helpersRunning;
        }
    }
    if (slot == 0)
        return;
    m_s.wake.notify_all();
    if (!started)
        StartHelper(slot);
    // Once more than one paid, the next is likely to be asked for: it logs
    // in ahead, so that it fetches as soon as it is.
    const auto next = static_cast<std::size_t>(slot) + 1;
    if (m_ramp.Paid() >= 2 && m_ramp.Asked() < m_setup.connections && next < m_s.helpers.size() &&
        !m_s.helpers[next].started)
        StartHelper(slot + 1);
}

// An extra connection asked for that ended without a range (refused,
// broken) is lost to the ramp; told once. Under the lock.
bool CSegmentFetch::NoteLostConnections()
{
    bool lost = false;
    for (int slot = 1; slot < m_s.active; ++slot) {
        HelperState& h = m_s.helpers[static_cast<std::size_t>(slot)];
        if (h.ended && !h.fetched && !h.reported)
            lost = h.reported = true;
    }
    return lost;
}

void CSegmentFetch::StartHelper(int slot)
{
    {
        std::lock_guard<std::mutex> hold(m_s.lock);
        m_s.helpers[static_cast<std::size_t>(slot)].started = true;
    }
    // The first extra connection takes the one logged in ahead, once.
    CStandbyLogin* standby = slot == 1 && m_setup.standby && !m_setup.standby->Taken() ? m_setup.standby : nullptr;
    m_threads.emplace_back(RunExtraConnection, std::ref(m_s), slot, std::cref(m_setup.settings),
                           std::cref(m_setup.timeouts), m_serverFolder, m_setup.stop, standby);
}

// A listed archive's pieces are checked from here on; those a resumed part
// kept are checked now, and a wrong one is fetched again.
void CSegmentFetch::CheckKeptPieces()
{
    if (!m_setup.listed)
        return;
    std::unique_lock<std::mutex> hold(m_s.lock);
    if (!m_pieces) {
        m_pieces.emplace(m_s, *m_setup.listed);
        m_s.pieces = &*m_pieces;
    }
    m_pieces->Reset();
    m_pieces->QueueWhole();
    m_pieces->Drain(hold);
}

// On every way out of a download too.
void CSegmentFetch::EndExtraConnections()
{
    m_s.over = true;
    m_s.wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
}
