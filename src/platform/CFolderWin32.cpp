// CFolder on Windows: a directory HANDLE that keeps the folder from being
// renamed or deleted while it is open, and full "\\?\" names beneath it whose
// last part is opened with FILE_FLAG_OPEN_REPARSE_POINT and refused when it is
// a link or junction.
#include "platform/CFolder.h"

#include "platform/TextCase.h"
#include "platform/WideText.h"

#include <windows.h>

#include <vector>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder's own handle leaves out FILE_SHARE_DELETE: while it is open the
// folder cannot be renamed, replaced or removed under the names built on it.
constexpr DWORD kShareFolder = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE H(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t Handle(HANDLE h)
{
    return reinterpret_cast<std::intptr_t>(h);
}

bool IsLinkOrFolder(DWORD attributes)
{
    return attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY);
}

// An absolute name ("C:\a\b", "C:/a/b", "\\server\share\a", "\\?\C:\a") as
// its parts below the root, ".." and "." resolved; nothing for a relative one.
bool SplitFullName(std::string path, std::string& root, std::vector<std::string>& parts)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    std::string rest;
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) {
        root = "\\\\?\\UNC\\";
        rest = path.substr(8);
    } else if (path.rfind("\\\\?\\", 0) == 0) {
        root = "\\\\?\\";
        rest = path.substr(4);
    } else if (path.rfind("\\\\", 0) == 0) {
        root = "\\\\?\\UNC\\";
        rest = path.substr(2);
    } else if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') {
        root = "\\\\?\\";
        rest = path;
    } else {
        return false;
    }
    parts.clear();
    std::size_t from = 0;
    while (from <= rest.size()) {
        const std::size_t slash = std::min(rest.find('\\', from), rest.size());
        const std::string part = rest.substr(from, slash - from);
        from = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (parts.size() > 1)   // never above the drive or the share
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty())
        return false;
    // A drive's root is "C:\", not "C:".
    if (parts[0].size() == 2 && parts[0][1] == ':')
        parts[0] += '\\';
    return true;
}

std::string Join(const std::string& root, const std::vector<std::string>& parts, std::size_t count)
{
    std::string name = root;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && name.back() != '\\')
            name += '\\';
        name += parts[i];
    }
    return name;
}

std::optional<WIN32_FILE_ATTRIBUTE_DATA> AttributesOf(const std::wstring& name)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return data;
}

std::optional<FolderEntry> EntryOf(DWORD attributes, DWORD sizeHigh, DWORD sizeLow)
{
    FolderEntry e;
    e.kind = attributes & FILE_ATTRIBUTE_REPARSE_POINT ? FolderEntry::Kind::Other
             : attributes & FILE_ATTRIBUTE_DIRECTORY   ? FolderEntry::Kind::Folder
                                                       : FolderEntry::Kind::File;
    e.size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
    e.writable = !(attributes & FILE_ATTRIBUTE_READONLY);
    return e;
}

// Opens the folder `name` itself (a link is opened as the link, and refused).
HANDLE OpenFolderHandle(const std::wstring& name, bool followLinks)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(name.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareFolder, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(h);
        SetLastError(ERROR_DIRECTORY);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

const char* const kDeviceNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

// "COM1".."COM9", "LPT1".."LPT9" and the names above, whatever follows a dot:
// Windows opens a device for them in any folder.
bool IsDeviceName(std::string_view name)
{
    const std::string_view base = name.substr(0, name.find('.'));
    for (const char* device : kDeviceNames)
        if (EqualsIgnoringCase(base, device))
            return true;
    return base.size() == 4 && (StartsWithIgnoringCase(base, "COM") || StartsWithIgnoringCase(base, "LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

}   // namespace

bool IsPlainFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ' || IsDeviceName(name))
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F ||
            std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            return false;
    return true;
}

unsigned EffectivePermissions(unsigned permissions)
{
    return permissions;   // no umask: Windows keeps access in the folder's list
}

unsigned long ProcessNumber()
{
    return GetCurrentProcessId();
}

CFolder::~CFolder()
{
    if (m_handle != -1)
        CloseHandle(H(m_handle));   // nothing was written through it
}

CFolder::CFolder(CFolder&& o) noexcept : m_handle(std::exchange(o.m_handle, -1)), m_path(std::move(o.m_path))
{}

CFolder& CFolder::operator=(CFolder&& o) noexcept
{
    if (this != &o) {
        if (m_handle != -1)
            CloseHandle(H(m_handle));
        m_handle = std::exchange(o.m_handle, -1);
        m_path = std::move(o.m_path);
    }
    return *this;
}

CFolder CFolder::OpenPath(const std::string& path, bool create)
{
    std::string root;
    std::vector<std::string> parts;
    if (!SplitFullName(path, root, parts))
        return {};
    if (create) {
        // ERROR_ALREADY_EXISTS: there already, or made meanwhile; the open checks it is a folder.
        for (std::size_t n = 2; n <= parts.size(); ++n)
            if (const auto wide = WideFromUtf8(Join(root, parts, n)))
                (void)CreateDirectoryW(wide->c_str(), nullptr);
    }
    const std::string full = Join(root, parts, parts.size());
    const auto wide = WideFromUtf8(full);
    if (!wide)
        return {};
    const HANDLE h = OpenFolderHandle(*wide, /*followLinks=*/true);
    return h == INVALID_HANDLE_VALUE ? CFolder() : CFolder(Handle(h), full);
}

std::optional<FolderEntry> CFolder::StatPath(const std::string& path)
{
    std::string root;
    std::vector<std::string> parts;
    if (!SplitFullName(path, root, parts))
        return std::nullopt;
    const auto wide = WideFromUtf8(Join(root, parts, parts.size()));
    if (!wide)
        return std::nullopt;
    HANDLE h = CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!known)
        return std::nullopt;
    return EntryOf(info.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT), info.nFileSizeHigh,
                   info.nFileSizeLow);
}

CFolder CFolder::Duplicate() const
{
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (m_handle == -1 ||
        !DuplicateHandle(GetCurrentProcess(), H(m_handle), GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return {};
    return CFolder(Handle(copy), m_path);
}

namespace {

// The full wide name of `name` in the folder `folder`; nothing for a name that
// is not UTF-8.
std::optional<std::wstring> Beneath(const std::string& folder, const std::string& name)
{
    return WideFromUtf8(folder + (folder.back() == '\\' ? "" : "\\") + name);
}

}   // namespace

CFolder CFolder::OpenFolder(const std::string& name, bool create, unsigned permissions) const
{
    (void)permissions;   // Windows gives a new folder its parent's access list
    const auto wide = IsOpen() && IsPlainFileName(name) ? Beneath(m_path, name) : std::nullopt;
    if (!wide)
        return {};
    if (create)
        (void)CreateDirectoryW(wide->c_str(), nullptr);   // there already: the open checks what it is
    const HANDLE h = OpenFolderHandle(*wide, /*followLinks=*/false);
    return h == INVALID_HANDLE_VALUE ? CFolder() : CFolder(Handle(h), Utf8FromWide(*wide));
}

CFile CFolder::OpenFile(const std::string& name, FileOpen how, unsigned permissions) const
{
    (void)permissions;   // Windows gives a new file the folder's access list
    const auto wide = IsOpen() && IsPlainFileName(name) ? Beneath(m_path, name) : std::nullopt;
    if (!wide)
        return CFile(-1, FileResult(FileResult::Kind::Other, ERROR_INVALID_NAME));
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (how) {
    case FileOpen::Read:
        break;
    case FileOpen::ReadWrite:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
        break;
    case FileOpen::CreateNew:
        access = GENERIC_WRITE;
        disposition = CREATE_NEW;
        break;
    case FileOpen::Replace:
        // Opened first and emptied after the checks: CREATE_ALWAYS would
        // empty a link's target before it could be refused.
        access = GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
        break;
    }
    HANDLE h = CreateFileW(wide->c_str(), access, kShareAll, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return CFile(-1, FileResult::FromSystem(static_cast<int>(GetLastError())));
    CFile file(Handle(h));
    if (!file.RegularSize())
        return CFile(-1, FileResult(FileResult::Kind::NotAFile, ERROR_CANT_ACCESS_FILE));
    if (how == FileOpen::Replace) {
        if (const FileResult emptied = file.Truncate(0); !emptied.Ok())
            return CFile(-1, emptied);
    }
    return file;
}

std::optional<FolderEntry> CFolder::Stat(const std::string& name) const
{
    const auto wide = IsOpen() && IsPlainFileName(name) ? Beneath(m_path, name) : std::nullopt;
    const auto data = wide ? AttributesOf(*wide) : std::nullopt;
    if (!data)
        return std::nullopt;
    return EntryOf(data->dwFileAttributes, data->nFileSizeHigh, data->nFileSizeLow);
}

FileResult CFolder::Rename(const std::string& from, const std::string& to) const
{
    const auto a = IsPlainFileName(from) ? Beneath(m_path, from) : std::nullopt;
    const auto b = IsPlainFileName(to) ? Beneath(m_path, to) : std::nullopt;
    if (!IsOpen() || !a || !b)
        return FileResult(FileResult::Kind::Other, ERROR_INVALID_NAME);
    // Written through: the new name is on the disk when this returns, which
    // is what Sync promises after it (a folder handle cannot be flushed).
    return MoveFileExW(a->c_str(), b->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? FileResult()
               : FileResult::FromSystem(static_cast<int>(GetLastError()));
}

FileResult CFolder::Sync() const
{
    // Rename wrote its change through already.
    return IsOpen() ? FileResult() : FileResult(FileResult::Kind::Other, ERROR_INVALID_HANDLE);
}

bool CFolder::RemoveFile(const std::string& name) const
{
    const auto wide = IsOpen() && IsPlainFileName(name) ? Beneath(m_path, name) : std::nullopt;
    const auto data = wide ? AttributesOf(*wide) : std::nullopt;
    if (!data || IsLinkOrFolder(data->dwFileAttributes))
        return false;
    if (data->dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        (void)SetFileAttributesW(wide->c_str(), data->dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return DeleteFileW(wide->c_str()) != 0;   // only this decides
}

bool CFolder::RemoveEmptyFolder(const std::string& name) const
{
    const auto wide = IsOpen() && IsPlainFileName(name) ? Beneath(m_path, name) : std::nullopt;
    const auto data = wide ? AttributesOf(*wide) : std::nullopt;
    // A junction or link to a folder is no folder of ours.
    if (!data || (data->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return RemoveDirectoryW(wide->c_str()) != 0;
}

std::vector<std::string> CFolder::List() const
{
    std::vector<std::string> names;
    const auto pattern = IsOpen() ? Beneath(m_path, "*") : std::nullopt;
    WIN32_FIND_DATAW found{};
    const HANDLE find = pattern ? FindFirstFileW(pattern->c_str(), &found) : INVALID_HANDLE_VALUE;
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = Utf8FromWide(found.cFileName);
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileW(find, &found));
    (void)FindClose(find);   // read only
    return names;
}

FileResult CFolder::MoveTo(const std::string& name, const CFolder& to, const std::string& toName) const
{
    const auto a = IsOpen() && IsPlainFileName(name) ? Beneath(m_path, name) : std::nullopt;
    const auto b = to.IsOpen() && IsPlainFileName(toName) ? Beneath(to.m_path, toName) : std::nullopt;
    if (!a || !b)
        return FileResult(FileResult::Kind::Other, ERROR_INVALID_NAME);
    // Without MOVEFILE_COPY_ALLOWED: a move to another volume fails rather than copies.
    return MoveFileExW(a->c_str(), b->c_str(), MOVEFILE_REPLACE_EXISTING)
               ? FileResult()
               : FileResult::FromSystem(static_cast<int>(GetLastError()));
}

void CFolder::Hide(const std::string& name) const
{
    const auto wide = IsOpen() && IsPlainFileName(name) ? Beneath(m_path, name) : std::nullopt;
    const auto data = wide ? AttributesOf(*wide) : std::nullopt;
    if (data)   // a folder file managers show is only untidy
        (void)SetFileAttributesW(wide->c_str(), data->dwFileAttributes | FILE_ATTRIBUTE_HIDDEN);
}

bool CFolder::SetModificationTime(const std::string& name, std::int64_t seconds) const
{
    const auto wide = IsOpen() && IsPlainFileName(name) ? Beneath(m_path, name) : std::nullopt;
    if (!wide)
        return false;
    HANDLE h = CreateFileW(wide->c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CFile file(Handle(h));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    return file.SetModificationTime(seconds);
}

FreeRoom CFolder::Free() const
{
    FreeRoom room;   // NTFS has no limit on the number of files to speak of
    ULARGE_INTEGER available{};
    const auto wide = IsOpen() ? Beneath(m_path, "") : std::nullopt;
    if (wide && GetDiskFreeSpaceExW(wide->c_str(), &available, nullptr, nullptr))
        room.bytes = available.QuadPart;
    return room;
}
