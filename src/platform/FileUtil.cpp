#include "platform/FileUtil.h"

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

bool IsPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

void RemoveRegularFile(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
    unlink(path.c_str());
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

std::uint64_t FreeSpace(const std::string& path)
{
    struct statvfs fs {};
    if (statvfs(path.c_str(), &fs) != 0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}
