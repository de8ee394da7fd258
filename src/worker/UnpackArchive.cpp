#include "platform/DownloadFolder.h"
#include "platform/FileUtil.h"
#include "unzip/CUnzipper.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <sys/stat.h>
#include <unistd.h>

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

bool CKELDownloadThread::UnpackArchive(const std::string& archiveName, const char* subFolder, int* failedEntries)
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
        PostNotify(UM_PROGRESS_BAR, 0, count);
        // An archive that cannot fit is not begun: a disk filled to the last
        // byte would fail entries at random and leave a broken installation.
        if (count > 0 && unzipper.GetTotalUncompressedSize() > m_freeSpace(target)) {
            SetText(m_pStatusText, archiveName + " - Not Enough Disk Space");
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
            failures = count;
            abandoned = true;
        }
        for (int i = 0; i < count && !abandoned; ++i) {
            PostNotify(UM_PROGRESS_BAR, static_cast<std::uint32_t>(i), count);
            char text[512];
            std::snprintf(text, sizeof text, "%s - %d of %d", archiveName.c_str(), i + 1, count);
            SetText(m_pStatusText, text);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
            if (!unzipper.ExtractEntry(nullptr, false, nullptr))
                ++failures;   // passed over: the next entry is still unpacked
            unzipper.GoToNextEntry(nullptr);
            abandoned = StopRequested();
        }
        unzipper.CloseArchive();
        PostNotify(UM_PROGRESS_BAR, static_cast<std::uint32_t>(count), count);
    }
    // Deleted even when read-only; never what a link points at.
    RemoveRegularFile(archivePath);
    m_archiveLock.Close();
    if (failedEntries)
        *failedEntries = failures;
    return count > 0 && !abandoned;
}
