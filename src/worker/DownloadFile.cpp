#include "platform/CFtpFile.h"
#include "platform/DownloadFolder.h"
#include "platform/FileUtil.h"
#include "worker/BaseName.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

namespace {

constexpr std::uint32_t kChunk = 65536;

// Positions and ranges travel as the low 32 bits of byte counts.
std::uint32_t Low32(std::uint64_t v) { return static_cast<std::uint32_t>(v); }
std::int32_t Low32Signed(std::uint64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// Deletes the local file when the run is being stopped, on every way out,
// so a cancelled download never leaves a partial archive behind.
struct RemoveIfStopped {
    const CKELDownloadThread& thread;
    CFileDescriptor& file;
    const std::string& path;
    ~RemoveIfStopped()
    {
        if (!thread.StopRequested())
            return;
        file.Close();
        RemoveRegularFile(path);
    }
};

} // namespace

bool CKELDownloadThread::DownloadFile(CFtpConnection& connection, std::string remoteName, std::uint64_t expectedSize)
{
    // 1. A name from the listing that is empty or would leave the Download
    //    folder ("..", "a/b") is refused before anything is touched.
    if (!IsPlainFileName(remoteName))
        return false;

    // 2. The local path.
    const std::string folder = GetDownloadFolder();
    const std::string localPath = folder + remoteName;

    // 3. A complete local copy is taken as it is.
    struct stat st {};
    if (lstat(localPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) == expectedSize)
        return true;

    // 4. Create the local file, making the Download folder first on a fresh
    //    machine. The lock keeps a second copy of the program from writing the
    //    same archive; the file is emptied only once the lock is held.
    CreateFolderChain(folder);
    CFileDescriptor local(open(localPath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!local.IsOpen())
        return false;
    if (fstat(local.Get(), &st) != 0 || !S_ISREG(st.st_mode) || flock(local.Get(), LOCK_EX | LOCK_NB) != 0 ||
        ftruncate(local.Get(), 0) != 0)
        return false;
    RemoveIfStopped cleanup{*this, local, localPath};

    // 5.
    PostNotify(UM_PROGRESS_BAR, 0, Low32Signed(expectedSize));

    // 6. Open the remote file.
    bool result = false;
    std::unique_ptr<CFtpFile> remote = connection.OpenFile(remoteName);
    if (!remote) {
        PostNotify(UM_PROGRESS_BAR, 0xFFFFFFFFu, -1);
    } else {
        const auto buffer = std::make_unique<char[]>(kChunk);
        // Never ask past the listed size: a longer server file is cut there.
        std::uint32_t request = expectedSize < kChunk ? static_cast<std::uint32_t>(expectedSize) : kChunk;
        std::uint64_t total = 0;

        // 7.
        std::size_t n = remote->Read(buffer.get(), request);
        // 8. Count, progress, status, notify, write, shorten, read.
        while (n != 0) {
            if (StopRequested())
                break;
            total += n;
            PostNotify(UM_PROGRESS_BAR, Low32(total), Low32Signed(expectedSize));
            const double percent = expectedSize ? (static_cast<double>(total) * 100.0) / static_cast<double>(expectedSize) : 100.0;
            char text[512];
            std::snprintf(text, sizeof text, "%s - %.0lf%c Complete", BaseName(remoteName).c_str(), percent, '%');
            SetText(m_pStatusText, text);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
            if (!WriteAll(local.Get(), buffer.get(), n))
                throw std::system_error(errno, std::generic_category(), "cannot write " + localPath);
            const std::uint64_t remaining = expectedSize > total ? expectedSize - total : 0;
            if (remaining < kChunk)
                request = static_cast<std::uint32_t>(remaining);
            n = remote->Read(buffer.get(), request);
        }

        // 9.
        remote->Close();
        remote.reset();
        PostNotify(UM_PROGRESS_BAR, Low32(expectedSize), Low32Signed(expectedSize));
        result = true;
    }

    // 10. A failed close may mean lost data, like a failed write.
    if (!local.Close())
        throw std::system_error(errno, std::generic_category(), "cannot write " + localPath);
    return result;
}
