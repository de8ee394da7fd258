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

bool CKELDownloadThread::UnpackArchive(std::string archiveName, const char* subFolder, int* failedEntries)
{
    if (failedEntries)
        *failedEntries = 0;
    // 1. Names that would leave the Download folder are refused like an empty one.
    if (!IsPlainFileName(archiveName) || (subFolder && *subFolder && !IsPlainFileName(subFolder)))
        return false;
    const std::string folder = GetDownloadFolder();
    const std::string archivePath = folder + archiveName;
    if (StopRequested()) {
        RemoveRegularFile(archivePath);
        return false;
    }

    int count = 0;
    bool stopped = false;
    int failures = 0;
    {
        // 2.
        CUnzipper unzipper;
        // 3.
        const std::string target = (subFolder && *subFolder) ? folder + subFolder + "/" : folder;
        // 4. Takes away only an empty folder left from an earlier run.
        rmdir(target.c_str());
        CreateFolderChain(target);
        // 5. Open and target results are ignored: an unreadable archive counts 0.
        unzipper.OpenArchive(archivePath.c_str());
        unzipper.SetTargetFolder(target.c_str());
        count = unzipper.GetEntryCount();
        // 6.
        PostNotify(UM_PROGRESS_BAR, 0, count);
        // 7.
        for (int i = 0; i < count; ++i) {
            PostNotify(UM_PROGRESS_BAR, static_cast<std::uint32_t>(i), count);
            char text[512];
            std::snprintf(text, sizeof text, "%s - %d of %d", archiveName.c_str(), i + 1, count);
            SetText(m_pStatusText, text);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
            if (!unzipper.ExtractEntry(nullptr, false, nullptr))
                ++failures;   // passed over: the next entry is still unpacked
            unzipper.GoToNextEntry(nullptr);
            if (StopRequested()) {
                stopped = true;
                break;
            }
        }
        // 8.
        unzipper.CloseArchive();
        PostNotify(UM_PROGRESS_BAR, static_cast<std::uint32_t>(count), count);
    }
    // 9. Deleted even when read-only; never what a link points at.
    RemoveRegularFile(archivePath);
    if (failedEntries)
        *failedEntries = failures;
    // 10.
    return count > 0 && !stopped;
}
