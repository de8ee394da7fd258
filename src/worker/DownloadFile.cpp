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

bool CKELDownloadThread::DownloadFile(CFtpConnection& connection, const std::string& remoteName, std::uint64_t expectedSize)
{
    // A name from the listing that is empty or would leave the Download
    // folder ("..", "a/b") is refused before anything is touched.
    m_archiveInUse = false;
    m_archiveLock.Close();
    if (!IsPlainFileName(remoteName))
        return false;

    const std::string folder = GetDownloadFolder();
    const std::string localPath = folder + remoteName;

    // The archive stays locked from here until it has been unpacked and
    // deleted, so a second running copy of the program neither writes into it
    // nor unpacks or deletes it meanwhile. A copy that finds it locked leaves it alone.
    auto lockedByOther = [&](int fd) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return false;
        m_archiveInUse = true;
        return true;
    };

    // A complete local copy is taken as it is.
    struct stat st {};
    if (lstat(localPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) == expectedSize) {
        CFileDescriptor existing(open(localPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (existing.IsOpen() && lockedByOther(existing.Get()))
            return false;
        m_archiveLock = std::move(existing);
        return true;
    }

    // Create the local file, making the Download folder first on a fresh
    // machine. It is emptied only once the lock is held, and only when it is
    // not empty already: truncating a file makes some file systems (ext4)
    // flush all it is given later when it is closed.
    CreateFolderChain(folder);
    CFileDescriptor local(open(localPath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!local.IsOpen() || fstat(local.Get(), &st) != 0 || !S_ISREG(st.st_mode) || lockedByOther(local.Get()) ||
        (st.st_size != 0 && ftruncate(local.Get(), 0) != 0))
        return false;
    RemoveIfStopped cleanup{*this, local, localPath};

    PostNotify(UM_PROGRESS_BAR, 0, Low32Signed(expectedSize));

    bool result = false;
    std::unique_ptr<CFtpFile> remote = connection.OpenFile(remoteName);
    if (!remote) {
        PostNotify(UM_PROGRESS_BAR, 0xFFFFFFFFu, -1);
    } else {
        const auto buffer = std::make_unique<char[]>(kChunk);
        // Never ask past the listed size: a longer server file is cut there.
        std::uint32_t request = expectedSize < kChunk ? static_cast<std::uint32_t>(expectedSize) : kChunk;
        std::uint64_t total = 0;

        std::size_t n = remote->Read(buffer.get(), request);
        // Count, progress, status, notify, write, shorten, read.
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

        // Ends the transfer normally when the whole listed size arrived.
        remote->Close();
        remote.reset();
        PostNotify(UM_PROGRESS_BAR, Low32(expectedSize), Low32Signed(expectedSize));
        result = true;
    }

    // The lock outlives the descriptor that wrote. A failed close may mean
    // lost data, like a failed write.
    if (!StopRequested())
        m_archiveLock = CFileDescriptor(dup(local.Get()));
    if (!local.Close())
        throw std::system_error(errno, std::generic_category(), "cannot write " + localPath);
    return result;
}
