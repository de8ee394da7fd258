#include "unzip/CUnzipper.h"

#include "platform/FileUtil.h"
#include "unzip/CArchiveReader.h"

#include <minizip/unzip.h>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kReadSize = 2048;
// Written in larger blocks than read: a write call per 2 KiB would dominate.
constexpr std::size_t kWriteSize = 256 * 1024;
constexpr std::size_t kMaxName = 260;

// Read once while the program is still single-threaded: umask cannot be
// queried without setting it.
const mode_t kUmask = [] {
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}();

unzFile Handle(void* p) { return static_cast<unzFile>(p); }

bool IsFolderPath(const char* path, bool& exists)
{
    struct stat st {};
    exists = stat(path, &st) == 0;
    return exists && S_ISDIR(st.st_mode);
}

// Splits an entry name into folder parts. False for a name that could land
// outside the folder it is extracted to: absolute, drive-like or with "..".
bool SplitEntryName(const char* name, std::vector<std::string>& parts)
{
    parts.clear();
    if (name[0] == '/' || (std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':'))
        return false;
    std::string_view rest(name);
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            parts.emplace_back(part);
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    return true;
}

// MS-DOS date and time, read as local time. False for values no calendar has.
bool DosToTimespec(std::uint32_t dos, timespec& out)
{
    std::tm t{};
    t.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    t.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    t.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    t.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    t.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    t.tm_sec = static_cast<int>(dos & 0x1F) * 2;
    t.tm_isdst = -1;
    if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 59)
        return false;
    const std::time_t value = std::mktime(&t);
    if (value == static_cast<std::time_t>(-1))
        return false;
    out.tv_sec = value;
    out.tv_nsec = 0;
    return true;
}

// Permission bits for a written file: those an entry made on Unix carries
// (never setuid, setgid or sticky), always readable and writable by the owner
// so the next run can replace it; otherwise the usual default.
mode_t ModeFor(const ZipEntryInfo& info)
{
    const bool madeOnUnix = (info.versionMadeBy >> 8) == 3;
    const mode_t unixBits = static_cast<mode_t>(info.externalAttributes >> 16) & 0777;
    if (madeOnUnix && unixBits)
        return (unixBits | S_IRUSR | S_IWUSR) & ~kUmask;
    return 0666 & ~kUmask;
}

} // namespace

CUnzipper::CUnzipper(const char* zipPath)
{
    if (zipPath)
        OpenArchive(zipPath);
}

CUnzipper::~CUnzipper()
{
    CloseArchive();
}

bool CUnzipper::OpenArchive(const char* zipPath)
{
    CloseArchive();
    if (!zipPath || !*zipPath)
        return false;
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(zipPath, ec);
    if (ec)
        return false;
    zlib_filefunc64_def access = ArchiveReaderFunctions();
    m_archive = unzOpen2_64(full.c_str(), &access);
    if (!m_archive)
        return false;
    // The default target is the archive's own path less its extension.
    m_targetFolder = std::filesystem::path(full).replace_extension().string();
    return true;
}

bool CUnzipper::CloseArchive()
{
    if (!m_archive) {
        m_targetFolder.clear();
        return false;
    }
    unzCloseCurrentFile(Handle(m_archive));   // nothing may be open: the error is expected
    const int rc = unzClose(Handle(m_archive));
    m_archive = nullptr;
    m_targetFolder.clear();
    ForgetFolderChain();
    return rc == UNZ_OK;
}

int CUnzipper::GetEntryCount()
{
    if (!m_archive)
        return 0;
    unz_global_info64 info{};
    if (unzGetGlobalInfo64(Handle(m_archive), &info) != UNZ_OK)
        return 0;
    return info.number_entry > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(info.number_entry);
}

bool CUnzipper::ReadEntryInfo(ZipEntryInfo& info, std::size_t& storedNameLength)
{
    if (!m_archive)
        return false;
    std::memset(&info, 0, sizeof info);
    unz_file_info64 raw{};
    if (unzGetCurrentFileInfo64(Handle(m_archive), &raw, info.name, kMaxName, nullptr, 0, info.comment,
                                sizeof info.comment - 1) != UNZ_OK)
        return false;
    info.versionMadeBy = static_cast<std::uint32_t>(raw.version);
    info.versionNeeded = static_cast<std::uint32_t>(raw.version_needed);
    info.flags = static_cast<std::uint32_t>(raw.flag);
    info.compressionMethod = static_cast<std::uint32_t>(raw.compression_method);
    info.dosDateTime = static_cast<std::uint32_t>(raw.dosDate);
    info.crc = static_cast<std::uint32_t>(raw.crc);
    info.compressedSize = raw.compressed_size;
    info.uncompressedSize = raw.uncompressed_size;
    info.internalAttributes = static_cast<std::uint32_t>(raw.internal_fa);
    info.externalAttributes = static_cast<std::uint32_t>(raw.external_fa);
    info.isFolder = (info.externalAttributes & 0x10) != 0;
    // A name with a NUL inside is shorter than stored: treat it as cut.
    storedNameLength = raw.size_filename;
    if (std::strlen(info.name) < std::min<std::size_t>(storedNameLength, kMaxName))
        storedNameLength = SIZE_MAX;
    return true;
}

void CUnzipper::ForgetFolderChain()
{
    m_chainFds.clear();
    m_chainParts.clear();
    m_chainRoot.clear();
    m_rootFd.Close();
}

int CUnzipper::OpenFolderChain(const std::string& root, const std::vector<std::string>& parts, std::size_t count)
{
    if (root != m_chainRoot || !m_rootFd.IsOpen()) {
        ForgetFolderChain();
        m_rootFd = CFileDescriptor(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!m_rootFd.IsOpen())
            return -1;
        m_chainRoot = root;
    }
    // Entries of one folder usually follow each other: keep the common part open.
    std::size_t keep = 0;
    while (keep < count && keep < m_chainParts.size() && m_chainParts[keep] == parts[keep])
        ++keep;
    m_chainParts.resize(keep);
    m_chainFds.resize(keep);
    for (std::size_t i = keep; i < count; ++i) {
        const int parent = i ? m_chainFds[i - 1].Get() : m_rootFd.Get();
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int fd = openat(parent, parts[i].c_str(), flags);
        if (fd < 0 && errno == ENOENT) {
            if (mkdirat(parent, parts[i].c_str(), 0777) != 0 && errno != EEXIST)
                return -1;
            fd = openat(parent, parts[i].c_str(), flags);
        }
        if (fd < 0)
            return -1;
        m_chainParts.push_back(parts[i]);
        m_chainFds.emplace_back(fd);
    }
    return count ? m_chainFds[count - 1].Get() : m_rootFd.Get();
}

bool CUnzipper::GetEntryInfo(ZipEntryInfo& info)
{
    std::size_t storedNameLength = 0;
    return ReadEntryInfo(info, storedNameLength);
}

bool CUnzipper::GoToNextEntry(const char* extension)
{
    if (!m_archive)
        return false;
    if (!extension || !*extension)
        return unzGoToNextFile(Handle(m_archive)) == UNZ_OK;
    for (;;) {
        if (unzGoToNextFile(Handle(m_archive)) != UNZ_OK)
            return false;
        ZipEntryInfo info;
        if (!GetEntryInfo(info))
            return false;
        const char* lastPart = std::strrchr(info.name, '/');
        lastPart = lastPart ? lastPart + 1 : info.name;
        const char* dot = std::strrchr(lastPart, '.');
        if (dot && strcasecmp(dot + 1, extension) == 0)
            return true;
    }
}

bool CUnzipper::SetTargetFolder(const char* folder)
{
    if (!folder)
        return false;
    bool exists = false;
    if (!IsFolderPath(folder, exists) && exists)
        return false;
    m_targetFolder = folder;
    return EnsureFolder(folder);
}

bool CUnzipper::EnsureFolder(const char* folder)
{
    if (!folder || !*folder)
        return false;
    bool exists = false;
    if (IsFolderPath(folder, exists))
        return true;
    if (exists)
        return false;
    const std::string path(folder);
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return mkdir(folder, 0777) == 0 || IsFolderPath(folder, exists);
    // The parent first; "" is the root, which always exists.
    if (slash > 0 && !EnsureFolder(path.substr(0, slash).c_str()))
        return false;
    // A path ending in "/" names the folder its parent step just made:
    // what counts is that the folder is there now.
    return mkdir(folder, 0777) == 0 || IsFolderPath(folder, exists);
}

bool CUnzipper::EnsureParentFolder(const char* filePath)
{
    if (!filePath)
        return false;
    const std::string path(filePath);
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return false;
    return slash == 0 || EnsureFolder(path.substr(0, slash).c_str());
}

bool CUnzipper::SetTimesFromDos(const char* filePath, std::uint32_t dosDateTime)
{
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;   // the access time stays as it was
    if (!filePath || !DosToTimespec(dosDateTime, times[1]))
        return false;
    return utimensat(AT_FDCWD, filePath, times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool CUnzipper::ExtractEntry(const char* folder, bool flatten)
{
    return ExtractEntry(folder, flatten, nullptr);
}

bool CUnzipper::ExtractEntry(const char* folder, bool flatten, const char* password)
{
    // 1-3. The effective folder must exist or be made.
    if (!m_archive)
        return false;
    const std::string effective = folder ? folder : m_targetFolder;
    if (!EnsureFolder(effective.c_str()))
        return false;

    // 4. The record, and a name that stays inside the effective folder. A name
    //    too long for the record is refused rather than written under a cut name.
    ZipEntryInfo info;
    std::size_t storedNameLength = 0;
    if (!ReadEntryInfo(info, storedNameLength) || storedNameLength > kMaxName)
        return false;
    std::vector<std::string> parts;
    if (!SplitEntryName(info.name, parts))
        return false;

    // 5. A folder entry only makes its folder.
    if (info.isFolder)
        return OpenFolderChain(effective, parts, parts.size()) >= 0;
    if (parts.empty())
        return false;

    // 6. Flattened, only the file name counts.
    if (flatten)
        parts.erase(parts.begin(), parts.end() - 1);

    // 7-8. The entry's folders below the effective folder.
    const int parent = OpenFolderChain(effective, parts, parts.size() - 1);
    if (parent < 0)
        return false;

    // 9. The target file. An existing read-only file, a folder or anything but
    //    a regular file in the way fails with nothing written; a link is never followed.
    CFileDescriptor target(openat(parent, parts.back().c_str(),
                                  O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, ModeFor(info)));
    if (!target.IsOpen())
        return false;
    struct stat st {};
    if (fstat(target.Get(), &st) != 0 || !S_ISREG(st.st_mode) || !(st.st_mode & S_IWUSR) ||
        (st.st_size != 0 && ftruncate(target.Get(), 0) != 0))
        return false;

    // 10. Open the entry; on failure the empty file stays. An encrypted entry
    //     without a password cannot be read: its bytes would only be noise.
    const bool encrypted = (info.flags & 1) != 0;
    if (encrypted && !password)
        return false;
    const int opened = password ? unzOpenCurrentFilePassword(Handle(m_archive), password)
                                : unzOpenCurrentFile(Handle(m_archive));
    if (opened != UNZ_OK)
        return false;

    // 11. Copy through the 2 KiB read buffer, writing in large blocks.
    if (!m_writeBuffer)
        m_writeBuffer = std::make_unique<char[]>(kWriteSize);
    char buffer[kReadSize];
    std::size_t pending = 0;
    std::uint64_t total = 0;
    int count = 0;
    bool written = true;
    while ((count = unzReadCurrentFile(Handle(m_archive), buffer, kReadSize)) > 0) {
        if (pending + static_cast<std::size_t>(count) > kWriteSize) {
            written = WriteAll(target.Get(), m_writeBuffer.get(), pending);
            pending = 0;
            if (!written)
                break;
        }
        std::memcpy(m_writeBuffer.get() + pending, buffer, static_cast<std::size_t>(count));
        pending += static_cast<std::size_t>(count);
        total += static_cast<std::uint64_t>(count);
    }
    if (written && pending)
        written = WriteAll(target.Get(), m_writeBuffer.get(), pending);

    // 12. Closing the entry checks its CRC: a mismatch is a failed entry. The
    //     library checks it only when the data ran to its recorded size, so a
    //     stream that ends early is caught by the size.
    const int closed = unzCloseCurrentFile(Handle(m_archive));
    if (!written || count < 0 || closed != UNZ_OK || total != info.uncompressedSize)
        return false;

    // 13. Time and permissions; their results are ignored like the original's.
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    if (DosToTimespec(info.dosDateTime, times[1]))
        futimens(target.Get(), times);
    if ((st.st_mode & 07777) != ModeFor(info))
        fchmod(target.Get(), ModeFor(info));
    return target.Close();
}
