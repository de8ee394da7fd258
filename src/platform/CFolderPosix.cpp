// CFolder on POSIX systems: a descriptor of the folder, and the *at() calls
// beneath it with O_NOFOLLOW.
#include "platform/CFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

int Fd(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Read once while the program is still single-threaded: the umask cannot be
// queried without setting it.
const mode_t kUmask = [] {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}();

std::optional<FolderEntry> EntryOf(const struct stat& st)
{
    FolderEntry e;
    e.kind = S_ISREG(st.st_mode)   ? FolderEntry::Kind::File
             : S_ISDIR(st.st_mode) ? FolderEntry::Kind::Folder
                                   : FolderEntry::Kind::Other;
    e.size = static_cast<std::uint64_t>(st.st_size);
    e.writable = (st.st_mode & S_IWUSR) != 0;
    return e;
}

}   // namespace

bool IsPlainFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos)
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

unsigned EffectivePermissions(unsigned permissions)
{
    return permissions & ~static_cast<unsigned>(kUmask);
}

unsigned long ProcessNumber()
{
    return static_cast<unsigned long>(::getpid());
}

CFolder::~CFolder()
{
    if (m_handle >= 0)
        (void)::close(Fd(m_handle));   // nothing was written through it
}

CFolder::CFolder(CFolder&& o) noexcept : m_handle(std::exchange(o.m_handle, -1))
{}

CFolder& CFolder::operator=(CFolder&& o) noexcept
{
    if (this != &o) {
        if (m_handle >= 0)
            (void)::close(Fd(m_handle));
        m_handle = std::exchange(o.m_handle, -1);
    }
    return *this;
}

CFolder CFolder::OpenPath(const std::string& path, bool create)
{
    if (path.empty() || path.front() != '/')
        return {};
    CFolder folder(::open("/", kFolderFlags));
    std::size_t from = 1;
    while (folder.IsOpen() && from < path.size()) {
        std::size_t slash = path.find('/', from);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(from, slash - from);
        from = slash + 1;
        if (part.empty() || part == ".")
            continue;
        CFolder next(::openat(Fd(folder.m_handle), part.c_str(), kFolderFlags));
        // EEXIST: made meanwhile by someone else, which the open checks.
        if (!next.IsOpen() && errno == ENOENT && create &&
            (::mkdirat(Fd(folder.m_handle), part.c_str(), 0777) == 0 || errno == EEXIST))
            next = CFolder(::openat(Fd(folder.m_handle), part.c_str(), kFolderFlags));
        folder = std::move(next);
    }
    return folder;
}

std::optional<FolderEntry> CFolder::StatPath(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return EntryOf(st);
}

CFolder CFolder::Duplicate() const
{
    return CFolder(m_handle >= 0 ? ::fcntl(Fd(m_handle), F_DUPFD_CLOEXEC, 0) : -1);
}

CFolder CFolder::OpenFolder(const std::string& name, bool create, unsigned permissions) const
{
    const int flags = kFolderFlags | O_NOFOLLOW;
    CFolder folder(::openat(Fd(m_handle), name.c_str(), flags));
    if (!folder.IsOpen() && errno == ENOENT && create) {
        // EEXIST: made meanwhile by someone else, which the open below checks.
        if (::mkdirat(Fd(m_handle), name.c_str(), static_cast<mode_t>(permissions)) == 0 || errno == EEXIST)
            folder = CFolder(::openat(Fd(m_handle), name.c_str(), flags));
    }
    return folder;
}

CFile CFolder::OpenFile(const std::string& name, FileOpen how, unsigned permissions) const
{
    // O_NONBLOCK: a FIFO planted at the name fails its checks instead of
    // blocking the open.
    int flags = O_NOFOLLOW | O_CLOEXEC;
    switch (how) {
    case FileOpen::Read:
        flags |= O_RDONLY | O_NONBLOCK;
        break;
    case FileOpen::ReadWrite:
        flags |= O_RDWR | O_CREAT | O_NONBLOCK;
        break;
    case FileOpen::CreateNew:
        flags |= O_WRONLY | O_CREAT | O_EXCL;
        break;
    case FileOpen::Replace:
        flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK;
        break;
    }
    const int fd = ::openat(Fd(m_handle), name.c_str(), flags, static_cast<mode_t>(permissions));
    if (fd < 0)
        return CFile(-1, FileResult::FromSystem(errno));
    CFile file(fd);
    if (how != FileOpen::CreateNew && !file.RegularSize())
        return CFile(-1, FileResult(FileResult::Kind::NotAFile, EINVAL));
    return file;
}

std::optional<FolderEntry> CFolder::Stat(const std::string& name) const
{
    struct stat st {};
    if (::fstatat(Fd(m_handle), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return EntryOf(st);
}

FileResult CFolder::Rename(const std::string& from, const std::string& to) const
{
    return ::renameat(Fd(m_handle), from.c_str(), Fd(m_handle), to.c_str()) == 0 ? FileResult()
                                                                                 : FileResult::FromSystem(errno);
}

FileResult CFolder::Sync() const
{
    return ::fsync(Fd(m_handle)) == 0 ? FileResult() : FileResult::FromSystem(errno);
}

bool CFolder::RemoveFile(const std::string& name) const
{
    struct stat st {};
    if (::fstatat(Fd(m_handle), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return false;
    // Only the unlink decides: a folder's owner may delete what is read-only.
    (void)::fchmodat(Fd(m_handle), name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0);
    return ::unlinkat(Fd(m_handle), name.c_str(), 0) == 0;
}

bool CFolder::RemoveEmptyFolder(const std::string& name) const
{
    return ::unlinkat(Fd(m_handle), name.c_str(), AT_REMOVEDIR) == 0;
}

std::vector<std::string> CFolder::List() const
{
    std::vector<std::string> names;
    const int fd = IsOpen() ? ::openat(Fd(m_handle), ".", kFolderFlags) : -1;
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            (void)::close(fd);
        return names;
    }
    // The stream is this call's own: readdir is unsafe only across threads sharing one.
    while (const dirent* e = ::readdir(dir)) {   // NOLINT(concurrency-mt-unsafe)
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    (void)::closedir(dir);   // read only
    return names;
}

FileResult CFolder::MoveTo(const std::string& name, const CFolder& to, const std::string& toName) const
{
    // A folder in the way would be replaced only when empty: not ours to judge.
    if (const std::optional<FolderEntry> there = to.Stat(toName); there && there->kind == FolderEntry::Kind::Folder)
        return FileResult::FromSystem(EEXIST);
    return ::renameat(Fd(m_handle), name.c_str(), Fd(to.m_handle), toName.c_str()) == 0 ? FileResult()
                                                                                        : FileResult::FromSystem(errno);
}

void CFolder::Hide(const std::string& name) const
{
    (void)name;   // a leading dot hides it
}

bool CFolder::SetModificationTime(const std::string& name, std::int64_t seconds) const
{
    timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    return ::utimensat(Fd(m_handle), name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

FreeRoom CFolder::Free() const
{
    FreeRoom room;
    struct statvfs fs {};
    if (::fstatvfs(Fd(m_handle), &fs) != 0)
        return room;
    room.bytes = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
    // A file system that keeps no inode count reports none at all (f_files 0).
    if (fs.f_files != 0)
        room.inodes = fs.f_favail;
    return room;
}
