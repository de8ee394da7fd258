#pragma once
#include "platform/CFile.h"
#include "platform/FileResult.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A single file name that stays inside its folder: not empty, not "." or "..",
// no folder separator of this system and no control character (0x00-0x1F,
// 0x7F), which no terminal or file manager shows as it is.
bool IsPlainFileName(std::string_view name);

// What an unprivileged user may still write on a file system.
struct FreeRoom {
    std::uint64_t bytes = UINT64_MAX;
    std::uint64_t inodes = UINT64_MAX;   // files and folders that can still be made
};

// What stands at a name, as found without following a link.
struct FolderEntry {
    enum class Kind { File, Folder, Other };   // Other: a link, a device, ...
    Kind kind = Kind::Other;
    std::uint64_t size = 0;
    bool writable = false;   // by its owner
};

// How CFolder::OpenFile opens a file. A link at the name is never followed.
enum class FileOpen {
    Read,        // an existing file, for reading
    ReadWrite,   // for reading and writing, made empty when missing
    CreateNew,   // made new for writing; fails (Exists) when anything stands there
    Replace,     // for writing, made new or emptied
};

// An open folder, closed on scope exit. Everything below the Download folder
// is reached through these, one name at a time, so nothing on disk (a link
// planted by an archive or a listing) leads a write elsewhere.
class CFolder {
public:
    CFolder() = default;
    ~CFolder();
    CFolder(CFolder&& o) noexcept;
    CFolder& operator=(CFolder&& o) noexcept;
    CFolder(const CFolder&) = delete;
    CFolder& operator=(const CFolder&) = delete;

    // An absolute folder path, each missing folder along it made when
    // `create` is set. Links along the path are followed: it is for the
    // Download folder itself and for folders a user names.
    static CFolder OpenPath(const std::string& path, bool create);
    // What stands at an absolute path, links followed; nothing when nothing does.
    static std::optional<FolderEntry> StatPath(const std::string& path);

    bool IsOpen() const { return m_handle >= 0; }
    explicit operator bool() const { return IsOpen(); }
    // A second handle on the same folder.
    CFolder Duplicate() const;

    // The folder `name` right below this one, made (`permissions` less the
    // umask) when `create` is set and it is missing; never through a link.
    CFolder OpenFolder(const std::string& name, bool create, unsigned permissions = 0755) const;
    // The file `name` in this folder; `permissions` (Unix bits, less the
    // umask) for a file that is made.
    CFile OpenFile(const std::string& name, FileOpen how, unsigned permissions = 0644) const;
    std::optional<FolderEntry> Stat(const std::string& name) const;
    // Replaces `to` (a file) with `from`, within this folder.
    FileResult Rename(const std::string& from, const std::string& to) const;
    // Makes the folder's names (a rename into it) durable.
    FileResult Sync() const;
    // Deletes the regular file `name` even when it is read-only; anything else
    // at the name, a link or a folder, stays. False when it did not go.
    bool RemoveFile(const std::string& name) const;
    // The same, unless another process holds the file's lock: then it stays
    // and the answer is false.
    bool RemoveUnlessLocked(const std::string& name) const;
    // Deletes the folder `name` when it is empty.
    bool RemoveEmptyFolder(const std::string& name) const;
    // The names in this folder ("." and ".." left out); empty on failure.
    std::vector<std::string> List() const;
    // Moves `name` (a file or a whole folder) to `toName` in the folder `to`
    // on the same volume, replacing a file there; a folder there is not
    // replaced. Never copies.
    FileResult MoveTo(const std::string& name, const CFolder& to, const std::string& toName) const;
    // Deletes the folder `name` and everything below it that is a file or a
    // folder, never following a link. False when something stayed.
    bool RemoveTree(const std::string& name) const;
    // Hides `name` from file managers: a no-op where a leading dot hides.
    void Hide(const std::string& name) const;
    // Sets the modification time of the file `name` (seconds since 1970, UTC).
    bool SetModificationTime(const std::string& name, std::int64_t seconds) const;
    // Room on this folder's file system; a figure that cannot be told (or a
    // file system without an inode limit, such as btrfs) is the largest value.
    FreeRoom Free() const;

private:
    explicit CFolder(std::intptr_t handle, std::string path = {}) : m_handle(handle), m_path(std::move(path)) {}

    // A POSIX descriptor or a Win32 HANDLE; -1 (INVALID_HANDLE_VALUE) when closed.
    std::intptr_t m_handle = -1;
    // The folder's full name, which Win32 calls beneath it start from (the
    // handle keeps it from being renamed or deleted meanwhile); POSIX calls
    // need only the descriptor.
    std::string m_path;
};

// The permissions a file made with `permissions` gets (the umask taken off).
unsigned EffectivePermissions(unsigned permissions);
// A number that tells this process from other running copies (for names of
// temporary files).
unsigned long ProcessNumber();
