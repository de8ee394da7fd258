#include "platform/CFtpFile.h"
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
#include <system_error>
#include <memory>

namespace {

constexpr std::uint32_t kChunk = 65536;

// Ranges travel as signed parameters; no file comes near 2^63 bytes.
std::int64_t Range(std::uint64_t v) { return static_cast<std::int64_t>(v); }

// Deletes the local file when the run is being stopped, on every way out,
// so a cancelled download never leaves a partial archive behind.
struct RemoveIfStopped {
    const CKELDownloadThread& thread;
    CFileDescriptor& file;
    int folder;
    const std::string& name;
    ~RemoveIfStopped()
    {
        if (!thread.StopRequested())
            return;
        file.Close();
        RemoveRegularFileAt(folder, name);
    }
};

} // namespace

bool CKELDownloadThread::TakeArchive(const std::string& name)
{
    m_archiveInUse = false;
    m_archiveLock.Close();
    m_archiveName.clear();
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
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
        m_archiveInUse = true;
        m_failure = name + " is held by another running copy of the program";
        return false;
    }
    m_archiveLock = std::move(file);
    m_archiveName = name;
    return true;
}

bool CKELDownloadThread::DownloadFile(CFtpConnection& connection, const std::string& remoteName, std::uint64_t expectedSize)
{
    // A name from the listing that is empty, would leave the Download folder
    // ("..", "a/b") or holds control characters is refused before anything is touched.
    m_archiveInUse = false;
    m_writeFailed = false;
    m_archiveLock.Close();
    m_archiveName.clear();
    if (!IsPlainFileName(remoteName))
        return false;

    // The Download folder is made on a fresh machine; below it nothing is
    // reached through a link.
    const CFileDescriptor folder = OpenFolderPath(m_downloadFolder, /*create=*/true);
    if (!folder.IsOpen())
        return false;

    // A complete local copy is taken as it is.
    struct stat st {};
    if (fstatat(folder.Get(), remoteName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) == expectedSize)
        return TakeArchive(remoteName);

    // The local file is locked like a complete one (see TakeArchive), and
    // emptied only once the lock is held, and only when it is not empty
    // already: truncating a file makes some file systems (ext4) flush all it
    // is given later when it is closed.
    CFileDescriptor local(
        openat(folder.Get(), remoteName.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!local.IsOpen() || fstat(local.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (flock(local.Get(), LOCK_EX | LOCK_NB) != 0) {
        m_archiveInUse = true;
        m_failure = remoteName + " is held by another running copy of the program";
        return false;
    }
    if (st.st_size != 0 && ftruncate(local.Get(), 0) != 0)
        return false;
    RemoveIfStopped cleanup{*this, local, folder.Get(), remoteName};

    // A local write that fails is no internet failure: the partial file goes,
    // so a full disk is not left full, and the run ends saying why.
    auto writeFailed = [&](int error) {
        local.Close();
        RemoveRegularFileAt(folder.Get(), remoteName);
        m_failure = "cannot write " + remoteName + ": " + std::generic_category().message(error);
        if (error == ENOSPC || error == EDQUOT) {
            m_failure = remoteName + " - Not Enough Disk Space";
            SetText(m_pStatusText, m_failure);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        }
        m_writeFailed = true;
        return false;
    };

    PostNotify(UM_PROGRESS_BAR, 0, Range(expectedSize));

    bool result = false;
    std::unique_ptr<CFtpFile> remote = connection.OpenFile(remoteName);
    if (!remote) {
        PostNotify(UM_PROGRESS_BAR, static_cast<std::uint64_t>(-1), -1);   // failed: the bar goes
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
            PostNotify(UM_PROGRESS_BAR, total, Range(expectedSize));
            const double percent = expectedSize ? (static_cast<double>(total) * 100.0) / static_cast<double>(expectedSize) : 100.0;
            char text[512];
            std::snprintf(text, sizeof text, "%s - %.0lf%c Complete", BaseName(remoteName).c_str(), percent, '%');
            SetText(m_pStatusText, text);
            PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
            if (!WriteAll(local.Get(), buffer.get(), n))
                return writeFailed(errno);
            const std::uint64_t remaining = expectedSize > total ? expectedSize - total : 0;
            if (remaining < kChunk)
                request = static_cast<std::uint32_t>(remaining);
            n = remote->Read(buffer.get(), request);
        }

        // Ends the transfer normally when the whole listed size arrived.
        remote->Close();
        remote.reset();
        PostNotify(UM_PROGRESS_BAR, expectedSize, Range(expectedSize));
        result = true;
    }

    // The lock outlives the descriptor that wrote. A failed close may mean
    // lost data, like a failed write.
    if (result && !StopRequested()) {
        m_archiveLock = CFileDescriptor(fcntl(local.Get(), F_DUPFD_CLOEXEC, 0));
        m_archiveName = remoteName;
    }
    if (!local.Close()) {
        m_archiveLock.Close();
        m_archiveName.clear();
        return writeFailed(errno);
    }
    return result;
}
