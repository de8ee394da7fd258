#include "platform/FileUtil.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

CFileDescriptor& CFileDescriptor::operator=(CFileDescriptor&& o) noexcept
{
    if (this != &o) {
        Close();
        m_fd = o.Release();
    }
    return *this;
}

int CFileDescriptor::Release()
{
    int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool CFileDescriptor::Close()
{
    if (m_fd < 0)
        return true;
    int rc = ::close(m_fd);
    m_fd = -1;
    return rc == 0;
}

CFileDescriptor OpenSubFolder(int parent, const std::string& name, bool create, unsigned mode)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    CFileDescriptor fd(openat(parent, name.c_str(), flags));
    if (!fd.IsOpen() && errno == ENOENT && create) {
        // EEXIST: made meanwhile by someone else, which the open below checks.
        if (mkdirat(parent, name.c_str(), static_cast<mode_t>(mode)) == 0 || errno == EEXIST)
            fd = CFileDescriptor(openat(parent, name.c_str(), flags));
    }
    return fd;
}

CFileDescriptor OpenFolderPath(const std::string& path, bool create)
{
    if (path.empty() || path.front() != '/')
        return {};
    CFileDescriptor folder(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::size_t from = 1;
    while (folder.IsOpen() && from < path.size()) {
        std::size_t slash = path.find('/', from);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(from, slash - from);
        from = slash + 1;
        if (part.empty() || part == ".")
            continue;
        const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
        CFileDescriptor next(openat(folder.Get(), part.c_str(), flags));
        if (!next.IsOpen() && errno == ENOENT && create &&
            (mkdirat(folder.Get(), part.c_str(), 0777) == 0 || errno == EEXIST))
            next = CFileDescriptor(openat(folder.Get(), part.c_str(), flags));
        folder = std::move(next);
    }
    return folder;
}

void RemoveRegularFile(const std::string& path)
{
    RemoveRegularFileAt(AT_FDCWD, path);
}

void RemoveRegularFileAt(int folder, const std::string& name)
{
    struct stat st {};
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return;
    // Failures are passed over: the caller has nothing better to do.
    fchmodat(folder, name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0);
    unlinkat(folder, name.c_str(), 0);
}

bool IsSameFile(const CFile& file, const CFileDescriptor& fd)
{
    struct stat a {};
    struct stat b {};
    return fstat(static_cast<int>(file.m_handle), &a) == 0 && fstat(fd.Get(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool RemoveUnlessLockedAt(int folder, const std::string& name)
{
    CFileDescriptor f(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (f.IsOpen() && flock(f.Get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    RemoveRegularFileAt(folder, name);
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;   // a write that takes nothing will not take more
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

FreeRoom FreeSpace(int folder)
{
    FreeRoom room;
    struct statvfs fs {};
    if (fstatvfs(folder, &fs) != 0)
        return room;
    room.bytes = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
    // A file system that keeps no inode count reports none at all (f_files 0).
    if (fs.f_files != 0)
        room.inodes = fs.f_favail;
    return room;
}

long long ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset)
{
    for (;;) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}
