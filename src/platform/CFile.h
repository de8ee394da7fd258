#pragma once
#include "platform/FileResult.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

class CFolder;

// An open file, closed on scope exit. Made by CFolder, so every file the
// engine touches is reached beneath a folder it opened, without links.
class CFile {
public:
    CFile() = default;
    ~CFile() { (void)Close(); }   // a caller that cares closes first and checks
    CFile(CFile&& o) noexcept;
    CFile& operator=(CFile&& o) noexcept;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    bool IsOpen() const { return m_handle >= 0; }
    explicit operator bool() const { return IsOpen(); }
    // Why opening failed; Ok for an open file.
    const FileResult& OpenResult() const { return m_openResult; }

    // Up to `size` bytes at `offset`: the count, 0 at the end, -1 on error.
    long long ReadAt(void* data, std::size_t size, std::uint64_t offset) const;
    // All of `size` bytes at `offset`, retrying short writes.
    FileResult WriteAt(const void* data, std::size_t size, std::uint64_t offset) const;
    // All of `size` bytes at the current position.
    FileResult Write(const void* data, std::size_t size) const;
    // The size of a regular file; nothing for anything else or on error.
    std::optional<std::uint64_t> RegularSize() const;
    FileResult Truncate(std::uint64_t size) const;
    // The data (and what is needed to read it back) is on the disk.
    FileResult SyncData() const;
    // Asks the system to start writing what it holds of the file, without
    // waiting for it, so a later SyncData has little left to wait for.
    void StartWriteBack() const;
    // Takes the exclusive lock of cooperating processes without waiting;
    // false while another holds it. Released on close.
    bool TryLock() const;
    // Modification time in seconds since 1970 (UTC) and the nanoseconds
    // past them; the access time stays.
    bool SetModificationTime(std::int64_t seconds, std::uint32_t nanoseconds = 0) const;
    // The same file on disk as `other` (not only the same name).
    bool IsSameFileAs(const CFile& other) const;
    // A stdio stream reading this file from its start; the stream owns the
    // file from then on, and this object is closed. Null on failure (the file
    // is closed then too).
    std::FILE* ReleaseToStream();
    // False when the system reports an error (written data may be lost).
    bool Close();

private:
    friend class CFolder;
    explicit CFile(std::intptr_t handle, FileResult why = {}) : m_handle(handle), m_openResult(why) {}

    // A POSIX descriptor or a Win32 HANDLE; -1 (INVALID_HANDLE_VALUE) when closed.
    std::intptr_t m_handle = -1;
    FileResult m_openResult;
};
