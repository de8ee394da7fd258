#include "platform/DownloadFolder.h"
#include "platform/FileUtil.h"
#include "unzip/CUnzipper.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

void CreateFolderChain(std::string path)
{
    if (path.size() < 4 || path.front() != '/')
        return;
    if (path.back() != '/')
        path += '/';
    // Every folder along the way; one that exists, or cannot be made, is passed over.
    for (auto slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash + 1).c_str(), 0777);
}

bool CKELDownloadThread::UnpackArchive(std::string archiveName, const char* subFolder, int* failedEntries)
{
    if (failedEntries)
        *failedEntries = 0;
    // Names that would leave the Download folder are refused like an empty one.
    if (!IsPlainFileName(archiveName) || (subFolder && *subFolder && !IsPlainFileName(subFolder)))
        return false;
    const std::string folder = GetDownloadFolder();
    const std::string archivePath = folder + archiveName;
    if (StopRequested()) {
        RemoveRegularFile(archivePath);
        return false;
    }

    int count = 0;
    bool abandoned = false;   // stopped, or no room for it
    int failures = 0;
    {
        CUnzipper unzipper;
        unzipper.SetStopCheck([this] { return StopRequested(); });
        const std::string target = (subFolder && *subFolder) ? folder + subFolder + "/" : folder;
        // Takes away only an empty folder left from an earlier run.
        rmdir(target.c_str());
        CreateFolderChain(target);
        // Open and target results are ignored: an unreadable archive counts 0.
        unzipper.OpenArchive(archivePath.c_str());
        unzipper.SetTargetFolder(target.c_str());
        count = unzipper.GetEntryCount();
        // The bar counts the bytes written of all entries' recorded sizes, so
        // one huge entry moves it too; entries that are all empty count as 1,
        // so the run still ends at its range.
        const auto range = static_cast<std::int64_t>(count > 0 ? std::max<std::uint64_t>(unzipper.GetTotalUncompressedSize(), 1) : 0);
        PostNotify(UM_PROGRESS_BAR, 0, range);
        // An archive that cannot fit is not begun: a disk filled to the last
        // byte would fail entries at random and leave a broken installation.
        if (count > 0 && unzipper.GetTotalUncompressedSize() > m_freeSpace(target)) {
            SetText(m_pStatusText, archiveName + " - Not Enough Disk Space");
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
            failures = count;
            abandoned = true;
        }
        // Posted before each entry and then at most once per percent; a
        // position is kept short of the range, which would end the run.
        const std::uint64_t step = std::max<std::uint64_t>(static_cast<std::uint64_t>(range) / 100, 1);
        std::uint64_t before = 0;     // recorded sizes of the entries already done
        std::uint64_t size = 0;       // the current entry's recorded size
        std::uint64_t written = 0;    // of the current entry
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
            ZipEntryInfo info {};
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
    // Deleted even when read-only; never what a link points at.
    RemoveRegularFile(archivePath);
    m_archiveLock.Close();
    if (failedEntries)
        *failedEntries = failures;
    return count > 0 && !abandoned;
}
