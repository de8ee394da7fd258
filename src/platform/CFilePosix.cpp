// CFile on POSIX systems: a file descriptor.
#include "platform/CFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

int Fd(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

FileResult LastError()
{
    return FileResult::FromSystem(errno);
}

}   // namespace

long long CFile::ReadAt(void* data, std::size_t size, std::uint64_t offset) const
{
    for (;;) {
        const ssize_t n = ::pread(Fd(m_handle), data, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

FileResult CFile::WriteAt(const void* data, std::size_t size, std::uint64_t offset) const
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(Fd(m_handle), p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 ? FileResult::FromSystem(EIO) : LastError();   // a write that takes nothing takes no more
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return {};
}

FileResult CFile::Write(const void* data, std::size_t size) const
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(Fd(m_handle), p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 ? FileResult::FromSystem(EIO) : LastError();
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

std::optional<std::uint64_t> CFile::RegularSize() const
{
    struct stat st {};
    if (::fstat(Fd(m_handle), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

FileResult CFile::Truncate(std::uint64_t size) const
{
    return ::ftruncate(Fd(m_handle), static_cast<off_t>(size)) == 0 ? FileResult() : LastError();
}

FileResult CFile::SyncData() const
{
    return ::fdatasync(Fd(m_handle)) == 0 ? FileResult() : LastError();
}

void CFile::StartWriteBack() const
{
    // Only a hint: a failure leaves it all to SyncData.
    (void)::sync_file_range(Fd(m_handle), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool CFile::TryLock() const
{
    return ::flock(Fd(m_handle), LOCK_EX | LOCK_NB) == 0;
}

bool CFile::SetModificationTime(std::int64_t seconds, std::uint32_t nanoseconds) const
{
    timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(nanoseconds);
    return ::futimens(Fd(m_handle), times) == 0;
}

bool CFile::IsSameFileAs(const CFile& other) const
{
    struct stat a {};
    struct stat b {};
    return ::fstat(Fd(m_handle), &a) == 0 && ::fstat(Fd(other.m_handle), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::FILE* CFile::ReleaseToStream()
{
    if (!IsOpen() || ::lseek(Fd(m_handle), 0, SEEK_SET) != 0) {
        (void)Close();
        return nullptr;
    }
    std::FILE* stream = ::fdopen(Fd(m_handle), "rb");
    if (stream)
        m_handle = -1;
    else
        (void)Close();
    return stream;
}

bool CFile::Close()
{
    if (m_handle < 0)
        return true;
    const int rc = ::close(Fd(std::exchange(m_handle, std::intptr_t{-1})));
    return rc == 0;
}
