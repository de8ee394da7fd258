#pragma once
#include "platform/CFolder.h"

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

// The folder `name` right below the open folder `parent`, made with `mode`
// (less umask) when `create` is set and it is missing. A link is never
// followed, so nothing on disk can lead a write out of `parent`.
CFileDescriptor OpenSubFolder(int parent, const std::string& name, bool create, unsigned mode = 0755);

// An absolute folder path, each missing folder along it made when `create`
// is set. Links along the path are followed: it is for the Download folder
// itself and for folders a user names; everything below goes through
// OpenSubFolder.
CFileDescriptor OpenFolderPath(const std::string& path, bool create);

// Deletes a regular file even when it is read-only (makes it writable for its
// owner first). Anything else at the path, a link or a folder, is left alone.
// Results are ignored: the caller has nothing better to do on failure.
void RemoveRegularFile(const std::string& path);
// The same for `name` in the open folder `folder`.
void RemoveRegularFileAt(int folder, const std::string& name);
// The same, unless another process holds the file's lock: then it stays and
// the answer is false.
bool RemoveUnlessLockedAt(int folder, const std::string& name);

// `file` is the very file open as `fd` (the same device and inode).
bool IsSameFile(const CFile& file, const CFileDescriptor& fd);

// Room on the file system of the open folder `folder`; a figure that cannot
// be told (or a file system without an inode limit, such as btrfs) is the largest value.
FreeRoom FreeSpace(int folder);

// Writes all of `size` bytes, retrying short writes; false on error.
bool WriteAll(int fd, const void* data, std::size_t size);
// The same at `offset` in the file (pwrite); errno tells why it failed.
bool WriteAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset);
// Reads up to `size` bytes at `offset` (pread), retrying interruptions: the
// count, 0 at the end of the file, -1 on error.
long long ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset);
