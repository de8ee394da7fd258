#include "platform/FileUtil.h"
#include "unzip/CUnzipper.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

bool CKELDownloadThread::UnpackArchive(const std::string& archiveName, const char* subFolder, int* failedEntries)
{
    if (failedEntries)
        *failedEntries = 0;
    // Names that would leave the Download folder are refused like an empty one.
    if (!IsPlainFileName(archiveName) || (subFolder && *subFolder && !IsPlainFileName(subFolder)))
        return false;
    const CFileDescriptor folder = OpenFolderPath(m_downloadFolder, /*create=*/false);
    if (!folder.IsOpen())
        return false;
    // Stopped before unpacking: a complete archive stays (locked until the
    // worker ends), so the next run unpacks it without a download.
    if (StopRequested())
        return false;

    // Only the file this run downloaded or took as complete is unpacked: the
    // same file (device and inode) as the one locked, reached without a link.
    CFileDescriptor archive(openat(folder.Get(), archiveName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (archiveName != m_archiveName || !archive.IsOpen() ||
        !m_archiveLock.IsSameFileAs(CFolder::OpenPath(m_downloadFolder, false).OpenFile(archiveName, FileOpen::Read)))
        return false;

    // The target: the Download folder itself, or a folder right below it.
    // Only an empty folder left from an earlier run is taken away and made
    // anew; a link there is neither followed nor removed, and the Download
    // folder itself is never removed.
    CFileDescriptor target;
    std::string targetPath = m_downloadFolder;
    if (subFolder && *subFolder) {
        unlinkat(folder.Get(), subFolder, AT_REMOVEDIR);   // fails unless it is an empty folder
        target = OpenSubFolder(folder.Get(), subFolder, /*create=*/true, 0777);
        targetPath += std::string(subFolder) + "/";
    } else {
        target = CFileDescriptor(fcntl(folder.Get(), F_DUPFD_CLOEXEC, 0));
    }
    const FreeRoom room = target.IsOpen() ? m_freeSpace(target.Get()) : FreeRoom{};

    int count = 0;
    bool abandoned = false;   // stopped, or no room for it
    int failures = 0;
    bool keepArchive = false;   // a newer build may unpack it without a new download
    {
        CUnzipper unzipper;
        unzipper.SetStopCheck([this] { return StopRequested(); });
        // Open and target results are ignored: an unreadable archive counts 0,
        // and a target that cannot be made fails every entry.
        unzipper.OpenArchive(std::move(archive), m_downloadFolder + archiveName);
        unzipper.SetTargetFolder(std::move(target), targetPath);
        count = unzipper.GetEntryCount();
        // The bar counts the bytes written of all entries' recorded sizes, so
        // one huge entry moves it too; entries that are all empty count as 1,
        // so the run still ends at its range.
        const auto range =
            static_cast<std::int64_t>(count > 0 ? std::max<std::uint64_t>(unzipper.GetTotalUncompressedSize(), 1) : 0);
        PostBarStart(CNotifyChannel::BarCount::Unpacked, range);
        // An entry that nothing here can decode fails the archive before
        // anything is written, and says which entry and why.
        std::string entryName, problem;
        if (count > 0 && unzipper.FindUndecodableEntry(entryName, problem)) {
            m_failure = archiveName + " - " + entryName + ": " + problem;
            SetText(m_pStatusText, m_failure);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
            failures = count;
            abandoned = keepArchive = true;
        }
        // An archive that cannot fit is not begun: a disk filled to the last
        // byte or inode would fail entries at random and leave a broken installation.
        if (count > 0 && !abandoned &&
            (unzipper.GetTotalUncompressedSize() > room.bytes || static_cast<std::uint64_t>(count) > room.inodes)) {
            m_failure = archiveName + " - Not Enough Disk Space";
            SetText(m_pStatusText, m_failure);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
            failures = count;
            abandoned = true;
        }
        // Posted before each entry and then at most once per percent; a
        // position is kept short of the range, which would end the run.
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
        for (int i = 0; i < count && !abandoned; ++i) {
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
            abandoned = StopRequested();
        }
        unzipper.SetProgress({});
        unzipper.CloseArchive();
        PostNotify(UM_PROGRESS_BAR, static_cast<std::uint64_t>(range), range);
    }
    // A stop keeps the archive for the next run, still locked; entries
    // already written are written again then. A resumed archive that failed
    // its checks goes in any case, so the run after starts clean.
    const bool stopped = StopRequested();
    if (m_archiveResumed && failures > 0)
        keepArchive = false;
    // Deleted even when read-only; never what a link points at.
    if (!keepArchive && !stopped)
        RemoveRegularFileAt(folder.Get(), archiveName);
    if (!stopped) {
        m_archiveLock.Close();
        m_archiveName.clear();
    }
    if (failures > 0 && m_failure.empty())
        m_failure = std::to_string(failures) + " of " + std::to_string(count) + " entries of " + archiveName +
                    " could not be unpacked";
    if (failedEntries)
        *failedEntries = failures;
    return count > 0 && !abandoned;
}
