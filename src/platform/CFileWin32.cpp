// CFile on Windows: a HANDLE from CreateFileW.
#include "platform/CFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <utility>

namespace {

HANDLE H(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

FileResult LastError()
{
    return FileResult::FromSystem(static_cast<int>(GetLastError()));
}

OVERLAPPED At(std::uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

// One call moves at most this much; larger requests are split.
constexpr std::size_t kMostPerCall = std::size_t{1} << 30;

// Seconds since 1970 and the nanoseconds past them as a FILETIME (100 ns
// units since 1601).
FILETIME FileTimeOf(std::int64_t seconds, std::uint32_t nanoseconds)
{
    const auto ticks = static_cast<std::uint64_t>((seconds + 11644473600LL) * 10000000LL) + nanoseconds / 100;
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(ticks);
    t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

// The lock of cooperating processes is one byte far past any real data:
// Windows locks are mandatory, and a lock on the data itself would keep this
// process's own second handle (the unpacker's) from reading it.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

}   // namespace

long long CFile::ReadAt(void* data, std::size_t size, std::uint64_t offset) const
{
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    const auto ask = static_cast<DWORD>(std::min(size, kMostPerCall));
    if (!ReadFile(H(m_handle), data, ask, &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

FileResult CFile::WriteAt(const void* data, std::size_t size, std::uint64_t offset) const
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        OVERLAPPED at = At(offset);
        DWORD put = 0;
        if (!WriteFile(H(m_handle), p, static_cast<DWORD>(std::min(size, kMostPerCall)), &put, &at))
            return LastError();
        if (put == 0)
            return FileResult::FromSystem(ERROR_WRITE_FAULT);
        p += put;
        size -= put;
        offset += put;
    }
    return {};
}

FileResult CFile::Write(const void* data, std::size_t size) const
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(H(m_handle), p, static_cast<DWORD>(std::min(size, kMostPerCall)), &put, nullptr))
            return LastError();
        if (put == 0)
            return FileResult::FromSystem(ERROR_WRITE_FAULT);
        p += put;
        size -= put;
    }
    return {};
}

std::optional<std::uint64_t> CFile::RegularSize() const
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(H(m_handle)) != FILE_TYPE_DISK || !GetFileInformationByHandle(H(m_handle), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return std::nullopt;
    return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

FileResult CFile::Truncate(std::uint64_t size) const
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetFileInformationByHandle(H(m_handle), FileEndOfFileInfo, &end, sizeof end) ? FileResult() : LastError();
}

FileResult CFile::SyncData() const
{
    return FlushFileBuffers(H(m_handle)) ? FileResult() : LastError();
}

void CFile::StartWriteBack() const
{
    // Windows has no call that starts writing without waiting for it; the
    // system's lazy writer does so on its own.
}

bool CFile::TryLock() const
{
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    return LockFileEx(H(m_handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

bool CFile::SetModificationTime(std::int64_t seconds, std::uint32_t nanoseconds) const
{
    const FILETIME t = FileTimeOf(seconds, nanoseconds);
    return SetFileTime(H(m_handle), nullptr, nullptr, &t) != 0;   // null: creation and access times stay
}

bool CFile::IsSameFileAs(const CFile& other) const
{
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    if (!GetFileInformationByHandle(H(m_handle), &a) || !GetFileInformationByHandle(H(other.m_handle), &b))
        return false;
    // Wine 8 tells volume 0 for a handle whose file was renamed after it was
    // opened (the download's part): an unknown volume is then not compared.
    const bool sameVolume =
        a.dwVolumeSerialNumber == b.dwVolumeSerialNumber || a.dwVolumeSerialNumber == 0 || b.dwVolumeSerialNumber == 0;
    return sameVolume && a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::FILE* CFile::ReleaseToStream()
{
    LARGE_INTEGER start{};
    if (!IsOpen() || !SetFilePointerEx(H(m_handle), start, nullptr, FILE_BEGIN)) {
        (void)Close();
        return nullptr;
    }
    const int fd = _open_osfhandle(m_handle, _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        (void)Close();
        return nullptr;
    }
    m_handle = -1;   // the C runtime's descriptor owns the handle now
    std::FILE* stream = _fdopen(fd, "rb");
    if (!stream)
        _close(fd);
    return stream;
}

bool CFile::Close()
{
    if (m_handle == -1)
        return true;
    return CloseHandle(H(std::exchange(m_handle, std::intptr_t{-1}))) != 0;
}
