#include "platform/CFolder.h"
#include "unzip/CArrivingBytes.h"
#include "worker/BaseName.h"
#include "worker/CArchivePart.h"
#include "worker/CKELDownloadThread.h"
#include "worker/CPieceCheck.h"
#include "worker/CSegmentFetch.h"
#include "worker/Messages.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace {

using Outcome = StepResult::Outcome;

// Ranges travel as signed parameters; no file comes near 2^63 bytes.
std::int64_t Range(std::uint64_t v)
{
    return static_cast<std::int64_t>(v);
}

// Why `name` of the Download folder could not be opened.
std::string CannotOpen(const std::string& name, const FileResult& why)
{
    if (why.GetKind() == FileResult::Kind::NotAFile)
        return name + " in the Download folder is not a file";
    return "cannot open " + name + ": " + why.Text();
}

// Why a part that keeps its record for the next run is not whole.
StepResult Unfinished(CSegmentFetch::Outcome fetched, bool stopping, const std::string& remoteName)
{
    using Fetched = CSegmentFetch::Outcome;
    if (fetched == Fetched::Stopped || stopping)
        return StepResult::Fail(Outcome::Stopped, "the download of " + remoteName + " was stopped");
    switch (fetched) {
    case Fetched::ServerEnded:
        return StepResult::Fail(Outcome::Failed, "the server sent less of " + remoteName + " than it listed");
    case Fetched::NoRestart:
        return StepResult::Fail(Outcome::Failed, "the server cannot send the rest of " + remoteName);
    case Fetched::TimeChanged:
        return StepResult::Fail(Outcome::Failed, remoteName + " changed on the server during its download");
    default:
        return StepResult::Fail(Outcome::Failed, remoteName + " did not arrive whole");
    }
}

// On every way out of a download, after its connections and checkers have
// ended: an unpacking that waits for bytes that will not come stops waiting.
class ArrivalEnd {
public:
    ArrivalEnd(std::shared_ptr<CArrivingBytes> bytes, std::function<bool()> stopping)
        : m_bytes(std::move(bytes)), m_stopping(std::move(stopping))
    {}
    ~ArrivalEnd()
    {
        if (!m_bytes || m_bytes->Complete())
            return;
        if (m_stopping())
            m_bytes->Stop();
        else
            m_bytes->Fail();   // also a file the server sent shorter than listed
    }
    ArrivalEnd(const ArrivalEnd&) = delete;
    ArrivalEnd& operator=(const ArrivalEnd&) = delete;

private:
    std::shared_ptr<CArrivingBytes> m_bytes;
    std::function<bool()> m_stopping;
};

}   // namespace

void CKELDownloadThread::ForgetArchive()
{
    m_archiveLock.Close();
    m_archiveName.clear();
}

StepResult CKELDownloadThread::LockArchive(const CFile& file, const std::string& name)
{
    if (file.TryLock())
        return StepResult::Done();
    return StepResult::Fail(Outcome::Held, name + " is held by another running copy of the program");
}

StepResult CKELDownloadThread::TakeArchive(const std::string& name)
{
    ForgetArchive();
    if (!IsPlainFileName(name))
        return StepResult::Fail(Outcome::Failed, "cannot take " + name + " from the Download folder");
    const CFolder folder = CFolder::OpenPath(m_downloadFolder, /*create=*/false);
    if (!folder)
        return StepResult::Fail(Outcome::Failed, "cannot open the Download folder");
    CFile file = folder.OpenFile(name, FileOpen::Read);
    if (!file)
        return StepResult::Fail(Outcome::Failed, CannotOpen(name, file.OpenResult()));
    // Held from here until the archive is unpacked and deleted, so a second
    // running copy neither writes into it nor unpacks or deletes it meanwhile.
    if (StepResult locked = LockArchive(file, name); !locked)
        return locked;
    m_archiveLock = std::move(file);
    m_archiveName = name;
    return StepResult::Done();
}

StepResult CKELDownloadThread::DownloadFile(CFtpConnection& connection, const std::string& remoteName,
                                            std::uint64_t expectedSize)
{
    // A name from the listing that is empty, would leave the Download folder
    // ("..", "a/b") or holds control characters is refused before anything is touched.
    ForgetArchive();
    m_archiveResumed = false;
    if (!IsPlainFileName(remoteName))
        return StepResult::Fail(Outcome::Failed, "cannot download " + remoteName + " into the Download folder");

    // The Download folder is made on a fresh machine; below it nothing is
    // reached through a link.
    const CFolder folder = CFolder::OpenPath(m_downloadFolder, /*create=*/true);
    if (!folder) {
        const std::optional<FolderEntry> there = CFolder::StatPath(m_downloadFolder);
        const bool isFolder = there && there->kind == FolderEntry::Kind::Folder;
        return StepResult::Fail(Outcome::Failed, "the Download folder " + m_downloadFolder +
                                                     (isFolder ? " cannot be opened" : " cannot be made"));
    }

    // A complete local copy is taken as it is; a folder or a link at its
    // name is never replaced.
    if (const std::optional<FolderEntry> there = folder.Stat(remoteName)) {
        if (there->kind != FolderEntry::Kind::File)
            return StepResult::Fail(Outcome::Failed, remoteName + " in the Download folder is not a file");
        if (there->size == expectedSize)
            return TakeListedArchive(remoteName);
    }

    // Otherwise the part is opened (and maybe resumed), what it lacks is
    // fetched, and it is made durable and given the archive's name.
    CArchivePart part(folder, remoteName);
    if (StepResult opened = OpenPart(part, remoteName); !opened)
        return opened;
    if (StepResult fetched = FetchMissing(connection, part, remoteName, expectedSize); !fetched)
        return fetched;
    PostNotify(UM_PROGRESS_BAR, expectedSize, Range(expectedSize));
    // The file that wrote it keeps its lock until it is unpacked.
    if (const FileResult completed = part.Complete(); !completed.Ok())
        return WriteFailed(part, remoteName, completed);
    m_archiveLock = part.Release();
    m_archiveName = remoteName;
    return StepResult::Done();
}

StepResult CKELDownloadThread::TakeListedArchive(const std::string& name)
{
    StepResult taken = TakeArchive(name);
    if (!taken || !m_listed)
        return taken;
    // A copy from an earlier run is checked piece by piece before it counts.
    bool stopped = false;
    if (CPieceCheck::WholeFileMatches(
            m_archiveLock, *m_listed, [this] { return StopRequested(); }, stopped))
        return taken;
    if (stopped)
        return StepResult::Fail(Outcome::Stopped, "the check of " + name + " was stopped");
    return RefuseArchive(name, "Signature Not Valid");
}

StepResult CKELDownloadThread::OpenPart(CArchivePart& part, const std::string& remoteName)
{
    // The part is locked like a complete archive (see TakeArchive), and the
    // lock goes with it.
    if (const FileResult opened = part.Open(); !opened.Ok())
        return StepResult::Fail(Outcome::Failed, CannotOpen(remoteName + ".part", opened));
    return LockArchive(part.File(), remoteName);
}

StepResult CKELDownloadThread::FetchMissing(CFtpConnection& connection, CArchivePart& part,
                                            const std::string& remoteName, std::uint64_t expectedSize)
{
    // A large archive is unpacked while it arrives (into the staging folder).
    std::shared_ptr<CArrivingBytes> arriving;
    if (m_besideFolder && expectedSize >= m_segmentMinimum)
        arriving = std::make_shared<CArrivingBytes>(expectedSize);
    const ArrivalEnd arrivalEnd(arriving, [this] { return StopRequested(); });
    CSegmentFetch fetch(part, remoteName,
                        {.size = expectedSize,
                         .connections = expectedSize >= m_segmentMinimum ? std::max(m_connections, 1) : 1,
                         .slots = m_connections,
                         .settings = m_settings,
                         .timeouts = m_timeouts,
                         .listed = m_listed,
                         .standby = m_standby,
                         // Below the segmenting size one transfer brings it all,
                         // and it is unpacked after its download.
                         .directoryFirst = expectedSize >= m_segmentMinimum,
                         .stop = [this] { return StopRequested(); },
                         .progress = [this, &remoteName, expectedSize](
                                         std::uint64_t total) { PostProgress(remoteName, total, expectedSize); }});
    if (arriving)
        fetch.Feed(arriving);
    if (const FileResult prepared = fetch.Prepare(); !prepared.Ok())
        return StepResult::Fail(Outcome::Failed, "cannot empty " + remoteName + ".part: " + prepared.Text());
    if (arriving)
        BeginUnpackingBeside(remoteName, arriving);
    PostDownloadStart(remoteName, expectedSize, fetch.Resuming() ? fetch.FinishedBytes() : 0);
    CSegmentFetch::Outcome outcome = fetch.Run(connection);
    while (fetch.MayStartAgain(outcome)) {
        // The part is fetched from its first byte; the bar starts again.
        if (const FileResult emptied = fetch.StartAgain(); !emptied.Ok()) {
            fetch.Settle();
            return WriteFailed(part, remoteName, emptied);
        }
        PostBarStart(CNotifyChannel::BarCount::Downloaded, Range(expectedSize));
        outcome = fetch.Run(connection);
    }
    m_archiveResumed = fetch.Resuming();

    if (outcome == CSegmentFetch::Outcome::WriteFailed || !fetch.WriteError().Ok()) {
        const FileResult failed = fetch.WriteError();
        fetch.Settle();
        return WriteFailed(part, remoteName, failed);
    }
    // A piece wrong twice: the archive is not the publisher's.
    if (fetch.PiecesRefused()) {
        fetch.Settle();
        part.Remove();
        return RefuseArchive(remoteName, "Signature Not Valid");
    }
    if (outcome == CSegmentFetch::Outcome::Refused) {
        PostNotify(UM_PROGRESS_BAR, static_cast<std::uint64_t>(-1), -1);   // failed: the bar goes
        return StepResult::Fail(Outcome::Failed, "the server refused " + remoteName);
    }
    if (!fetch.Whole(outcome)) {
        return Unfinished(outcome, StopRequested(), remoteName);
    }
    fetch.Settle();
    return StepResult::Done();
}

// A local write that fails is no internet failure: the partial data goes, so
// a full disk is not left full, and the run ends saying why.
StepResult CKELDownloadThread::WriteFailed(CArchivePart& part, const std::string& remoteName, const FileResult& why)
{
    part.Remove();
    if (why.GetKind() != FileResult::Kind::NoRoom)
        return StepResult::Fail(Outcome::WriteFailed, "cannot write " + remoteName + ": " + why.Text());
    const std::string full = remoteName + " - Not Enough Disk Space";
    SetText(m_pStatusText, full);
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    return StepResult::Fail(Outcome::WriteFailed, full);
}

// The bar starts at 0 as for any download, and moves at once to what a
// resumed part holds.
void CKELDownloadThread::PostDownloadStart(const std::string& remoteName, std::uint64_t size, std::uint64_t resumedAt)
{
    PostBarStart(CNotifyChannel::BarCount::Downloaded, Range(size));
    if (resumedAt == 0)
        return;
    PostNotify(UM_PROGRESS_BAR, resumedAt, Range(size));
    char text[512];
    std::snprintf(text, sizeof text, "%s - resuming at %.0lf%c", remoteName.c_str(),
                  static_cast<double>(resumedAt) * 100.0 / static_cast<double>(size), '%');
    SetText(m_pStatusText, text);
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
}

// A position and a percentage text.
void CKELDownloadThread::PostProgress(const std::string& remoteName, std::uint64_t total, std::uint64_t size)
{
    PostNotify(UM_PROGRESS_BAR, total, Range(size));
    const double percent = size ? (static_cast<double>(total) * 100.0) / static_cast<double>(size) : 100.0;
    char text[512];
    std::snprintf(text, sizeof text, "%s - %.0lf%c Complete", BaseName(remoteName).c_str(), percent, '%');
    SetText(m_pStatusText, text);
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
}
