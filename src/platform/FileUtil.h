#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// File-descriptor owner: closes on scope exit.
class CFileDescriptor {
public:
    CFileDescriptor() = default;
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor() { Close(); }
    CFileDescriptor(CFileDescriptor&& o) noexcept : m_fd(o.Release()) {}
    CFileDescriptor& operator=(CFileDescriptor&& o) noexcept;
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    int Release();
    // Returns false when close reports an error (the data may not have been written).
    bool Close();

private:
    int m_fd = -1;
};

// A single file name that stays inside its folder: not empty, not "." or "..",
// no "/" and no NUL.
bool IsPlainFileName(std::string_view name);

// Deletes a regular file even when it is read-only (makes it writable for its
// owner first). Anything else at the path, a link or a folder, is left alone.
// Results are ignored: the caller has nothing better to do on failure.
void RemoveRegularFile(const std::string& path);

// Bytes an unprivileged user may still write on the file system holding
// `path`; the largest value when it cannot be told.
std::uint64_t FreeSpace(const std::string& path);

// Writes all of `size` bytes, retrying short writes; false on error.
bool WriteAll(int fd, const void* data, std::size_t size);
