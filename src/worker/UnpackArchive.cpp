#include "platform/CFolder.h"
#include "unzip/CUnzipper.h"
#include "worker/CArrivingUnpack.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

namespace {

// Where an archive's entries are written until all of them are: inside the
// Download folder (so they move into place by renames on the same volume),
// hidden, and a name the unzipper refuses for an entry.
constexpr const char* kStaging = ".VORNdownload-unpacking";

// Moves everything in `from` into `to`: what `to` lacks (or holds as an
// empty folder) moves whole, in one rename; a file replaces the file of its
// name; a folder is merged into the folder of its name, one entry at a time;
// nothing replaces a link. Returns how many names could not move (they stay
// in `from`): a file held open by a running program on Windows fails alone.
int MoveInto(const CFolder& from, const CFolder& to)
{
    int unmoved = 0;
    for (const std::string& name : from.List()) {
        const std::optional<FolderEntry> source = from.Stat(name);
        const std::optional<FolderEntry> there = to.Stat(name);
        // An empty folder left from an earlier run is taken away and made
        // anew with the new one, whatever its permissions came to.
        if (source && source->kind == FolderEntry::Kind::Folder && there && there->kind == FolderEntry::Kind::Folder &&
            !to.RemoveEmptyFolder(name)) {
            const CFolder inner = from.OpenFolder(name, /*create=*/false);
            const CFolder outer = to.OpenFolder(name, /*create=*/false);
            unmoved += inner && outer ? MoveInto(inner, outer) : 1;
            continue;
        }
        if (!from.MoveTo(name, to, name).Ok())
            ++unmoved;
    }
    return unmoved;
}

// The staging folder, made anew and hidden, and the target in it: the
// staging folder itself, or a folder right below it. Only an empty folder
// left is taken away and made anew; a link there is neither followed nor
// removed. The target is closed when either cannot be made.
struct Staging {
    CFolder folder;
    CFolder target;
};

Staging MakeStaging(const CFolder& downloadFolder, const std::string& subFolder)
{
    (void)downloadFolder.RemoveTree(kStaging);   // what stays of it fails the folder's making below
    Staging staging;
    staging.folder = downloadFolder.OpenFolder(kStaging, /*create=*/true, 0700);
    if (!staging.folder)
        return staging;
    staging.folder.Hide(kStaging);
    if (subFolder.empty()) {
        staging.target = staging.folder.Duplicate();
    } else {
        (void)staging.folder.RemoveEmptyFolder(subFolder);   // fails unless it is an empty folder
        staging.target = staging.folder.OpenFolder(subFolder, /*create=*/true, 0777);
    }
    return staging;
}

// The target's path, for the unzipper's names.
std::string TargetPath(const std::string& downloadFolder, const std::string& subFolder)
{
    return downloadFolder + kStaging + "/" + (subFolder.empty() ? "" : subFolder + "/");
}

}   // namespace

StepResult CKELDownloadThread::UnpackArchive(const std::string& archiveName, const char* subFolder, int* failedEntries)
{
    if (failedEntries)
        *failedEntries = 0;
    const auto failed = [](std::string reason) {
        return StepResult::Fail(StepResult::Outcome::Failed, std::move(reason));
    };
    // Names that would leave the Download folder are refused like an empty one.
    if (!IsPlainFileName(archiveName) || (subFolder && *subFolder && !IsPlainFileName(subFolder)))
        return failed("cannot unpack " + archiveName + ": not a plain file name");
    const CFolder folder = CFolder::OpenPath(m_downloadFolder, /*create=*/false);
    if (!folder.IsOpen())
        return failed("cannot open the Download folder " + m_downloadFolder);
    // Stopped before unpacking: a complete archive stays (locked until the
    // worker ends), so the next run unpacks it without a download.
    if (StopRequested())
        return StepResult::Fail(StepResult::Outcome::Stopped, "stopped before " + archiveName + " was unpacked");

    // Only the file this run downloaded or took as complete is unpacked: the
    // same file as the one locked, reached without a link.
    CFile archive = folder.OpenFile(archiveName, FileOpen::Read);
    if (archiveName != m_archiveName || !archive.IsOpen())
        return failed("cannot open " + archiveName);
    const bool theOneLocked = archive.IsSameFileAs(m_archiveLock);
    if (!theOneLocked)
        return failed("cannot open " + archiveName + ": it is no longer the file taken");

    // Entries are written into the staging folder, left from no earlier run,
    // and moved into place only when the archive is unpacked: a refused,
    // failed or stopped archive leaves the earlier tree as it was. A large
    // archive was unpacked there while it arrived, as far as it could be.
    const std::string sub = subFolder ? subFolder : "";
    if (!m_beside)
        BeginUnpackingWhole(folder, archiveName, sub);
    std::optional<Unpacked> beside = m_beside ? FollowUnpackingBeside(archiveName) : std::nullopt;
    m_beside.reset();   // its thread has ended: nothing of the staging folder is open
    Unpacked unpacked;
    if (beside) {
        unpacked = *beside;
        const CFolder staging = folder.OpenFolder(kStaging, /*create=*/false);
        if (unpacked.result.IsDone() && !StopRequested() && staging)
            unpacked.failures = std::min(unpacked.count, unpacked.failures + MoveInto(staging, folder));
    } else {
        Staging staging = MakeStaging(folder, sub);
        const FreeRoom room = staging.target ? m_freeSpace(staging.target) : FreeRoom{};
        unpacked = UnpackEntries(std::move(archive), std::move(staging.target), TargetPath(m_downloadFolder, sub),
                                 archiveName, room);
        // An entry that cannot take its place fails like one that could not
        // be written; the earlier file stays whole.
        if (unpacked.result.IsDone() && !StopRequested() && staging.folder)
            unpacked.failures = std::min(unpacked.count, unpacked.failures + MoveInto(staging.folder, folder));
    }
    (void)folder.RemoveTree(kStaging);   // a later run removes what stays
    if (failedEntries)
        *failedEntries = unpacked.failures;
    return FinishUnpacking(folder, archiveName, unpacked);
}

void CKELDownloadThread::BeginUnpackingBeside(const std::string& remoteName, std::shared_ptr<CArrivingBytes> bytes)
{
    // Anything that stands in the way leaves the archive to be unpacked
    // after its download, as a small one is.
    const CFolder folder = CFolder::OpenPath(m_downloadFolder, /*create=*/false);
    if (!m_besideFolder || !folder)
        return;
    CFile archive = folder.OpenFile(remoteName + ".part", FileOpen::Read);
    CFile second = folder.OpenFile(remoteName + ".part", FileOpen::Read);
    if (archive)
        StartUnpacking(folder, std::move(archive), std::move(second), remoteName, *m_besideFolder, std::move(bytes), 1);
}

void CKELDownloadThread::BeginUnpackingWhole(const CFolder& folder, const std::string& archiveName,
                                             const std::string& subFolder)
{
    // One unzipper gains nothing over unpacking in order, with its notice per entry.
    if (std::thread::hardware_concurrency() < 2)
        return;
    CFile first = folder.OpenFile(archiveName, FileOpen::Read);
    CFile second = folder.OpenFile(archiveName, FileOpen::Read);
    const std::uint64_t size = first.RegularSize().value_or(0);
    if (!first.IsSameFileAs(m_archiveLock) || !second.IsSameFileAs(m_archiveLock) || size == 0)
        return;
    auto bytes = std::make_shared<CArrivingBytes>(size);
    bytes->Arrived(0, size);
    StartUnpacking(folder, std::move(first), std::move(second), archiveName, subFolder, std::move(bytes),
                   m_twoUnzippersFrom);
}

void CKELDownloadThread::StartUnpacking(const CFolder& folder, CFile archive, CFile second,
                                        const std::string& archiveName, const std::string& subFolder,
                                        std::shared_ptr<CArrivingBytes> bytes, int fewest)
{
    Staging staging = MakeStaging(folder, subFolder);
    if (!staging.target)
        return;
    const FreeRoom room = m_freeSpace(staging.target);
    const std::uint64_t missing = bytes->Missing();
    m_beside = std::make_unique<CArrivingUnpack>(CArrivingUnpack::Setup{
        .archive = std::move(archive),
        .bytes = std::move(bytes),
        .archivePath = m_downloadFolder + archiveName,
        .target = std::move(staging.target),
        .targetPath = TargetPath(m_downloadFolder, subFolder),
        .reserved = kStaging,
        .stop = [this] { return StopRequested(); },
        .room = room,
        .missing = missing,
        .second = std::move(second),
        .secondFrom = m_twoUnzippersFrom,
        .fewest = fewest,
    });
}

void CKELDownloadThread::EndUnpackingBeside()
{
    m_besideFolder.reset();
    if (!m_beside)
        return;
    m_beside.reset();
    if (const CFolder folder = CFolder::OpenPath(m_downloadFolder, /*create=*/false))
        (void)folder.RemoveTree(kStaging);   // a later run removes what stays
}

std::optional<CKELDownloadThread::Unpacked> CKELDownloadThread::FollowUnpackingBeside(const std::string& archiveName)
{
    using End = CArrivingUnpack::End;
    // The directory came last (one connection, or a server that sends no
    // range but from the start): the unzippers read it now, from the disk.
    // Bytes that never came leave the archive to be unpacked as any other.
    CArrivingUnpack::State s = m_beside->Follow({}, std::chrono::milliseconds(0));
    while (!s.opened && !s.end && m_beside->Arrived())
        s = m_beside->Follow(s, std::chrono::milliseconds(250));
    if (!s.opened || s.end == End::FallBack)
        return std::nullopt;
    const auto range = static_cast<std::int64_t>(std::max<std::uint64_t>(s.total, 1));
    PostBarStart(CNotifyChannel::BarCount::Unpacked, range);
    // From the entry being unpacked now on, as ExtractEntries posts: the
    // entries done meanwhile are not told one by one.
    const std::uint64_t step = std::max<std::uint64_t>(static_cast<std::uint64_t>(range) / 100, 1);
    int told = -1;
    std::uint64_t nextPost = 0;
    for (;;) {
        const int current = std::min(s.done + 1, s.count);
        const bool refused = !s.reason.empty();   // told below, once it has ended
        if (!refused && current != told) {
            told = current;
            PostNotify(UM_PROGRESS_BAR, std::min(s.unpacked, static_cast<std::uint64_t>(range - 1)), range);
            nextPost = s.unpacked + step;
            char text[512];
            std::snprintf(text, sizeof text, "%s - %d of %d", archiveName.c_str(), current, s.count);
            SetText(m_pStatusText, text);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        } else if (!refused && s.unpacked >= nextPost && s.unpacked < static_cast<std::uint64_t>(range)) {
            PostNotify(UM_PROGRESS_BAR, s.unpacked, range);
            nextPost = s.unpacked + step;
        }
        if (s.end)
            break;
        // Told at most about 60 times a second, as a person can read it.
        m_beside->Pause(std::chrono::milliseconds(16));
        s = m_beside->Follow(s, std::chrono::milliseconds(250));
    }
    Unpacked unpacked;
    unpacked.count = s.count;
    unpacked.failures = s.failures;
    if (*s.end == End::FallBack) {
        return std::nullopt;
    } else if (*s.end == End::Refused) {
        // As when it is found before anything is written: the archive is kept.
        unpacked = {StepResult::Fail(StepResult::Outcome::Failed, archiveName + " - " + s.reason), s.count, s.count,
                    true};
        SetText(m_pStatusText, unpacked.result.reason);
        PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    }
    PostNotify(UM_PROGRESS_BAR, static_cast<std::uint64_t>(range), range);
    return unpacked;
}

StepResult CKELDownloadThread::FinishUnpacking(const CFolder& folder, const std::string& archiveName,
                                               const Unpacked& unpacked)
{
    // A stop keeps the archive for the next run, still locked; entries
    // already written are written again then. A resumed archive that failed
    // its checks goes in any case, so the run after starts clean.
    const bool stopped = StopRequested();
    const bool keepArchive = unpacked.keepArchive && !(m_archiveResumed && unpacked.failures > 0);
    // Deleted even when read-only; never what a link points at.
    if (!keepArchive && !stopped)
        (void)folder.RemoveFile(archiveName);
    if (!stopped) {
        m_archiveLock.Close();
        m_archiveName.clear();
    }
    if (!unpacked.result.IsDone())
        return unpacked.result;
    const std::string entriesFailed = std::to_string(unpacked.failures) + " of " + std::to_string(unpacked.count) +
                                      " entries of " + archiveName + " could not be unpacked";
    if (stopped)
        return StepResult::Fail(StepResult::Outcome::Stopped, "stopped while " + archiveName + " was unpacked");
    if (unpacked.failures > 0)
        return StepResult::Fail(StepResult::Outcome::Failed, entriesFailed);
    return StepResult::Done();
}

CKELDownloadThread::Unpacked CKELDownloadThread::UnpackEntries(CFile archive, CFolder target,
                                                               const std::string& targetPath,
                                                               const std::string& archiveName, const FreeRoom& room)
{
    CUnzipper unzipper;
    unzipper.SetReservedName(kStaging);
    unzipper.SetStopCheck([this] { return StopRequested(); });
    // A target that cannot be made fails every entry.
    const bool opened = unzipper.OpenArchive(std::move(archive), m_downloadFolder + archiveName);
    unzipper.SetTargetFolder(std::move(target), targetPath);
    Unpacked unpacked;
    unpacked.count = unzipper.GetEntryCount();
    // The bar counts the bytes written of all entries' recorded sizes, so one
    // huge entry moves it too; entries that are all empty count as 1, so the
    // run still ends at its range.
    const auto range = static_cast<std::int64_t>(
        unpacked.count > 0 ? std::max<std::uint64_t>(unzipper.GetTotalUncompressedSize(), 1) : 0);
    PostBarStart(CNotifyChannel::BarCount::Unpacked, range);
    if (!opened) {
        unpacked.result = StepResult::Fail(StepResult::Outcome::Failed, archiveName + " is not a zip archive");
    } else if (unpacked.count == 0) {
        unpacked.result = StepResult::Fail(StepResult::Outcome::Failed, archiveName + " holds nothing to unpack");
    } else {
        const Unpacked refused = CheckBeforeWriting(unzipper, archiveName, room);
        if (refused.result.IsDone())
            unpacked.failures = ExtractEntries(unzipper, archiveName, range);
        else
            unpacked = {refused.result, unpacked.count, unpacked.count, refused.keepArchive};
    }
    unzipper.SetProgress({});
    unzipper.CloseArchive();
    PostNotify(UM_PROGRESS_BAR, static_cast<std::uint64_t>(range), range);
    return unpacked;
}

CKELDownloadThread::Unpacked CKELDownloadThread::CheckBeforeWriting(CUnzipper& unzipper, const std::string& archiveName,
                                                                    const FreeRoom& room)
{
    Unpacked refused;
    // An entry that nothing here can decode fails the archive before anything
    // is written, and says which entry and why.
    std::string entryName, problem;
    if (unzipper.FindUndecodableEntry(entryName, problem)) {
        refused = {StepResult::Fail(StepResult::Outcome::Failed, archiveName + " - " + entryName + ": " + problem), 0,
                   0, true};
    } else if (unzipper.GetTotalUncompressedSize() > room.bytes ||
               static_cast<std::uint64_t>(unzipper.GetEntryCount()) > room.inodes) {
        // An archive that cannot fit is not begun: a disk filled to the last
        // byte or inode would fail entries at random and leave a broken installation.
        refused = {StepResult::Fail(StepResult::Outcome::WriteFailed, archiveName + " - Not Enough Disk Space"), 0, 0,
                   false};
    } else {
        return refused;
    }
    SetText(m_pStatusText, refused.result.reason);
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    return refused;
}

int CKELDownloadThread::ExtractEntries(CUnzipper& unzipper, const std::string& archiveName, std::int64_t range)
{
    // Posted before each entry and then at most once per percent; a position
    // is kept short of the range, which would end the run.
    const std::uint64_t step = std::max<std::uint64_t>(static_cast<std::uint64_t>(range) / 100, 1);
    std::uint64_t before = 0;    // recorded sizes of the entries already done
    std::uint64_t size = 0;      // the current entry's recorded size
    std::uint64_t written = 0;   // of the current entry
    std::uint64_t nextPost = 0;
    auto post = [&](std::uint64_t position) {
        PostNotify(UM_PROGRESS_BAR, std::min(position, static_cast<std::uint64_t>(range - 1)), range);
        nextPost = position + step;
    };
    unzipper.SetProgress([&](std::uint64_t bytes) {
        written += bytes;
        // The end of an entry is told by the next one's notice.
        if (before + written >= nextPost && written < size)
            post(before + written);
    });
    const int count = unzipper.GetEntryCount();
    int failures = 0;
    bool stopped = false;
    for (int i = 0; i < count && !stopped; ++i) {
        ZipEntryInfo info{};
        size = unzipper.GetEntryInfo(info) ? info.uncompressedSize : 0;
        written = 0;
        post(before);
        char text[512];
        std::snprintf(text, sizeof text, "%s - %d of %d", archiveName.c_str(), i + 1, count);
        SetText(m_pStatusText, text);
        PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        if (!unzipper.ExtractEntry(nullptr, false, nullptr))
            ++failures;   // passed over: the next entry is still unpacked
        before += size;
        unzipper.GoToNextEntry(nullptr);
        stopped = StopRequested();
    }
    unzipper.SetProgress({});
    return failures;
}
