#include "unzip/CUnzipper.h"

#include "platform/TextCase.h"
#include "unzip/CArrivingSource.h"
#include "unzip/CLzmaDecoder.h"
#include "unzip/CXzDecoder.h"
#include "unzip/CZstdDecoder.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr std::size_t kReadSize = 2048;
// Written in larger blocks than read: a write call per 2 KiB would dominate.
constexpr std::size_t kWriteSize = 256 * 1024;
// A large stored entry of an arriving archive is copied in blocks of this
// size, each as soon as all of it is there.
constexpr std::uint64_t kArrivingBlock = 4u << 20;
constexpr std::size_t kMaxName = 260;
constexpr std::size_t kArchiveBuffer = 256 * 1024;
constexpr std::uint16_t kMethodDeflate64 = 9;
constexpr std::uint16_t kMethodLzma = 14;
constexpr std::uint16_t kMethodZstd = 93;
constexpr std::uint16_t kMethodXz = 95;
constexpr zip_uint16_t kFieldNtfs = 0x000a;
constexpr zip_uint16_t kFieldUnixTime = 0x5455;

constexpr unsigned kFileTypeBits = 0170000;   // of a Unix mode
constexpr unsigned kLinkType = 0120000;

// Host systems whose file systems separate folders with "\": MS-DOS FAT, NTFS, VFAT.
bool MadeOnWindows(std::uint16_t versionMadeBy)
{
    const unsigned host = versionMadeBy >> 8;
    return host == 0 || host == 10 || host == 14;
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

// MS-DOS date and time, read as local time, in seconds since 1970. Nothing
// for values no calendar has.
std::optional<std::int64_t> DosToSeconds(std::uint32_t dos)
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
        return std::nullopt;
    const std::time_t value = std::mktime(&t);
    if (value == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

// Permission bits for a written file: those a regular file made on Unix
// carries (never setuid, setgid or sticky), always readable and writable by
// the owner so the next run can replace it; otherwise 0644. The file system's
// creation mask still applies.
unsigned PermissionsFor(const ZipEntryInfo& info)
{
    const bool madeOnUnix = (info.versionMadeBy >> 8) == 3;
    const unsigned unixMode = info.externalAttributes >> 16;
    if (madeOnUnix && (unixMode & 0777) && (unixMode & kFileTypeBits) != kLinkType)
        return EffectivePermissions((unixMode & 0777) | 0600);
    return EffectivePermissions(0644);
}

// Methods libzip here hands over raw, decoded by a decoder of ours.
bool DecodedHere(std::uint32_t method)
{
    return method == kMethodDeflate64 || method == kMethodLzma || method == kMethodXz || method == kMethodZstd;
}

// Whether the entry's data can be read: by libzip, or raw through libzip and
// decoded here.
bool Decodable(const zip_stat_t& st)
{
    if (st.encryption_method != ZIP_EM_NONE && !zip_encryption_method_supported(st.encryption_method, 0))
        return false;
    return DecodedHere(st.comp_method) || zip_compression_method_supported(static_cast<zip_int32_t>(st.comp_method), 0);
}

// A decoder made when first needed, then kept for the archive's other entries.
template <class Kind>
CEntryDecoder* Made(std::unique_ptr<CEntryDecoder>& decoder)
{
    if (!decoder)
        decoder = std::make_unique<Kind>();
    return decoder.get();
}

// "1024 MiB": a dictionary or window size, rounded up.
std::string Mebibytes(std::uint64_t bytes)
{
    return std::to_string(bytes / (1u << 20) + (bytes % (1u << 20) != 0)) + " MiB";
}

// Buffers what an entry gives and writes it in large blocks, counting and
// checking it on the way. Nothing past the recorded size is ever written:
// the free-space check, made from recorded sizes, holds against an archive
// that lies.
struct EntryWriter {
    const CFile& out;
    char* buffer;   // of kWriteSize bytes
    std::uint64_t recordedSize;
    bool checkCrc;
    const std::function<void(std::uint64_t)>& progress;
    std::size_t pending = 0;
    std::uint64_t total = 0;
    uLong crc = crc32(0, nullptr, 0);

    bool Put(const unsigned char* data, std::size_t n)
    {
        if (n > recordedSize - total)
            return false;
        total += n;
        if (progress)
            progress(n);
        if (checkCrc)
            crc = crc32_z(crc, data, n);
        while (n > 0) {
            const std::size_t part = std::min(n, kWriteSize - pending);
            std::memcpy(buffer + pending, data, part);
            pending += part;
            data += part;
            n -= part;
            if (pending == kWriteSize) {
                if (!out.Write(buffer, pending).Ok())
                    return false;
                pending = 0;
            }
        }
        return true;
    }
    // Every byte of the recorded size came, with the recorded checksum, and is written.
    bool Finish(std::uint32_t recordedCrc)
    {
        return total == recordedSize && (!checkCrc || crc == recordedCrc) &&
               (!pending || out.Write(buffer, pending).Ok());
    }
};

// Seconds since 1970 (UTC) and the nanoseconds past them.
struct FileTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

// Windows' 100 ns steps since 1601 as seconds since 1970.
std::optional<FileTime> FromWindowsFileTime(std::uint64_t fileTime)
{
    constexpr std::uint64_t kStepsPerSecond = 10000000;
    constexpr std::uint64_t kSeconds1601To1970 = 11644473600;
    const std::uint64_t seconds = fileTime / kStepsPerSecond;
    if (fileTime == 0 || seconds < kSeconds1601To1970)
        return std::nullopt;
    return FileTime{static_cast<std::int64_t>(seconds - kSeconds1601To1970),
                    static_cast<std::uint32_t>(fileTime % kStepsPerSecond * 100)};
}

// The modification time from entry `index`'s NTFS or Unix extra field (UTC);
// nothing when it has neither.
std::optional<FileTime> ExtraFieldTime(zip* archive, std::uint64_t index)
{
    // NTFS field: 4 reserved bytes, then tagged attributes; tag 1 holds the
    // modification, access and creation times, in 100 ns steps since 1601.
    zip_uint16_t length = 0;
    const zip_uint8_t* field = zip_file_extra_field_get_by_id(archive, index, kFieldNtfs, 0, &length, ZIP_FL_CENTRAL);
    for (std::size_t at = 4; field && at + 4 <= length;) {
        const unsigned tag = field[at] | field[at + 1] << 8;
        const std::size_t size = field[at + 2] | field[at + 3] << 8;
        if (size > length - at - 4)
            break;
        if (tag == 1 && size >= 8) {
            std::uint64_t value = 0;
            for (int i = 7; i >= 0; --i)
                value = value << 8 | field[at + 4 + i];
            return FromWindowsFileTime(value);
        }
        at += 4 + size;
    }
    // Extended timestamp: a flags byte, then, when bit 0 is set, the
    // modification time as signed seconds since 1970.
    field = zip_file_extra_field_get_by_id(archive, index, kFieldUnixTime, 0, &length, ZIP_FL_CENTRAL);
    if (!field || length < 5 || !(field[0] & 1))
        return std::nullopt;
    const auto seconds = static_cast<std::int32_t>(field[1] | field[2] << 8 | field[3] << 16 |
                                                   static_cast<std::uint32_t>(field[4]) << 24);
    return FileTime{seconds, 0};
}

}   // namespace

void CUnzipper::ArchiveCloser::operator()(zip* archive) const
{
    zip_discard(archive);
}

void CUnzipper::EntryCloser::operator()(zip_file* entry) const
{
    zip_fclose(entry);   // a read error was already seen
}

CUnzipper::CUnzipper(const char* zipPath) : m_tempPrefix(".vorn-unzip-" + std::to_string(ProcessNumber()) + "-")
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
    // A path a caller names means what a link there points at.
    const std::filesystem::path real = std::filesystem::canonical(full, ec);
    if (ec)
        return false;
    const CFolder folder = CFolder::OpenPath(real.parent_path().string(), /*create=*/false);
    return OpenArchive(folder.OpenFile(real.filename().string(), FileOpen::Read), full.string());
}

bool CUnzipper::OpenArchive(CFile archive, const std::string& path)
{
    CloseArchive();
    // One file serves both readers, so both see the same file.
    if (!archive.IsOpen() || !m_directory.Read(archive))
        return false;
    std::FILE* stream = archive.ReleaseToStream();
    if (!stream || !OpenStream(stream))
        return false;
    // Both readers must agree on every entry, or the archive is not what it seems.
    if (!ReadersAgree()) {
        CloseArchive();
        return false;
    }
    m_current = 0;
    // The default target is the archive's own path less its extension.
    m_targetFolder = std::filesystem::path(path).replace_extension().string();
    return true;
}

bool CUnzipper::OpenArchive(CFile archive, const std::string& path, std::shared_ptr<CArrivingBytes> bytes)
{
    CloseArchive();
    if (!archive.IsOpen() || !bytes)
        return false;
    auto file = std::make_shared<const CFile>(std::move(archive));
    const auto ready = [&bytes](std::uint64_t begin, std::uint64_t end) {
        return bytes->WaitFor(begin, end) == CArrivingBytes::Wait::Ready;
    };
    if (!m_directory.Read(*file, bytes->Size(), ready))
        return false;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = ArrivingSource::Create(file, bytes);
    if (source)
        m_archive.reset(zip_open_from_source(source, ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (!m_archive) {
        if (source)
            zip_source_free(source);
        return false;
    }
    if (!ReadersAgree()) {
        CloseArchive();
        return false;
    }
    m_arrivingFile = std::move(file);
    m_arriving = std::move(bytes);
    m_current = 0;
    m_targetFolder = std::filesystem::path(path).replace_extension().string();
    return true;
}

bool CUnzipper::CurrentEntryFits()
{
    if (!m_arriving)
        return true;   // a whole archive had all its entries checked when opened
    const CentralRecord& r = m_directory.Records()[m_current];
    // A header past the end is caught by EntryFits; only what lies within the file is waited for.
    const std::uint64_t size = m_arriving->Size();
    const std::uint64_t headerAt = std::min(r.localHeaderOffset, size);
    const std::uint64_t headerEnd = std::min(headerAt + std::min<std::uint64_t>(30, size - headerAt), size);
    if (m_arriving->WaitFor(headerAt, headerEnd) != CArrivingBytes::Wait::Ready)
        return false;
    if (m_directory.EntryFits(*m_arrivingFile, m_current))
        return true;
    m_broken = true;
    return false;
}

bool CUnzipper::OpenStream(std::FILE* stream)
{
    // libzip reads through stdio: a buffer larger than the default 4 KiB
    // turns a read per small entry into a read per 256 KiB of archive.
    // (glibc ignores the size unless it is given the buffer.)
    if (!m_archiveBuffer)
        m_archiveBuffer = std::make_unique<char[]>(kArchiveBuffer);
    (void)setvbuf(stream, m_archiveBuffer.get(), _IOFBF, kArchiveBuffer);   // without it reads are only smaller
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_filep_create(stream, 0, -1, &error);
    if (source)
        m_archive.reset(zip_open_from_source(source, ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (m_archive)
        return true;
    if (source)
        zip_source_free(source);   // closes the stream
    else
        (void)std::fclose(stream);   // a read-only stream: nothing is lost
    return false;
}

bool CUnzipper::ReadersAgree() const
{
    const auto& records = m_directory.Records();
    if (zip_get_num_entries(m_archive.get(), 0) != static_cast<zip_int64_t>(records.size()))
        return false;
    for (std::size_t i = 0; i < records.size(); ++i) {
        zip_stat_t st;
        if (zip_stat_index(m_archive.get(), i, 0, &st) != 0 || st.size != records[i].uncompressedSize ||
            st.comp_size != records[i].compressedSize)
            return false;
    }
    return true;
}

bool CUnzipper::CloseArchive()
{
    m_targetFolder.clear();
    m_target = CFolder();
    ForgetFolderChain();
    if (!m_archive)
        return false;
    // A read-only archive has nothing to write back; zip_close only frees it.
    const bool closed = zip_close(m_archive.get()) == 0;
    if (closed)
        (void)m_archive.release();   // zip_close has freed it
    m_archive.reset();
    m_arrivingFile.reset();
    m_arriving.reset();
    m_broken = false;
    return closed;
}

int CUnzipper::GetEntryCount()
{
    if (!m_archive)
        return 0;
    const std::size_t count = m_directory.Records().size();
    return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
}

std::uint64_t CUnzipper::GetTotalUncompressedSize() const
{
    if (!m_archive)
        return 0;
    std::uint64_t total = 0;
    for (const CentralRecord& r : m_directory.Records())
        total = r.uncompressedSize > UINT64_MAX - total ? UINT64_MAX : total + r.uncompressedSize;
    return total;
}

bool CUnzipper::ReadEntryInfo(ZipEntryInfo& info, std::size_t& storedNameLength)
{
    if (!m_archive || m_current >= m_directory.Records().size())
        return false;
    const CentralRecord& r = m_directory.Records()[m_current];
    std::memset(&info, 0, sizeof info);
    // Names not marked UTF-8 are read as the code page of MS-DOS zip tools and
    // given as UTF-8, the way Linux file names are written.
    const char* name = zip_get_name(m_archive.get(), m_current, ZIP_FL_ENC_GUESS);
    const char* raw = zip_get_name(m_archive.get(), m_current, ZIP_FL_ENC_RAW);
    if (!name || !raw)
        return false;
    std::strncpy(info.name, name, kMaxName);
    zip_uint32_t commentLength = 0;
    if (const char* comment = zip_file_get_comment(m_archive.get(), m_current, &commentLength, ZIP_FL_ENC_GUESS))
        std::strncpy(info.comment, comment, sizeof info.comment - 1);
    info.versionMadeBy = r.versionMadeBy;
    info.versionNeeded = r.versionNeeded;
    info.flags = r.flags;
    info.compressionMethod = r.method;
    info.dosDateTime = r.dosDateTime;
    info.crc = r.crc;
    info.compressedSize = r.compressedSize;
    info.uncompressedSize = r.uncompressedSize;
    info.internalAttributes = r.internalAttributes;
    info.externalAttributes = r.externalAttributes;
    // Archives made on Windows separate folders with "\" as well.
    if (MadeOnWindows(r.versionMadeBy))
        std::replace(info.name, info.name + kMaxName, '\\', '/');
    // Folder entries of Java's and other writers carry no attributes, only the "/".
    const std::size_t length = std::strlen(info.name);
    info.isFolder = (info.externalAttributes & 0x10) != 0 || (length > 0 && info.name[length - 1] == '/');
    // A name with a NUL inside is shorter than stored: treat it as cut.
    storedNameLength = std::strlen(name);
    if (std::strlen(raw) != r.nameLength)
        storedNameLength = SIZE_MAX;
    return true;
}

void CUnzipper::ForgetFolderChain()
{
    m_chain.clear();
    m_chainParts.clear();
    m_chainRoot.clear();
    m_root = CFolder();
}

const CFolder* CUnzipper::OpenFolderChain(const std::string& root, const std::vector<std::string>& parts,
                                          std::size_t count)
{
    if (root != m_chainRoot || !m_root.IsOpen()) {
        ForgetFolderChain();
        std::error_code ec;
        const std::filesystem::path full = std::filesystem::absolute(root, ec);
        m_root = root == m_targetFolder && m_target.IsOpen() ? m_target.Duplicate()
                 : ec                                        ? CFolder()
                                                             : CFolder::OpenPath(full.string(), /*create=*/false);
        if (!m_root.IsOpen())
            return nullptr;
        m_chainRoot = root;
    }
    // Entries of one folder usually follow each other: keep the common part open.
    std::size_t keep = 0;
    while (keep < count && keep < m_chainParts.size() && m_chainParts[keep] == parts[keep])
        ++keep;
    m_chainParts.resize(keep);
    m_chain.resize(keep);
    for (std::size_t i = keep; i < count; ++i) {
        const CFolder& parent = i ? m_chain[i - 1] : m_root;
        CFolder folder = parent.OpenFolder(parts[i], /*create=*/true);
        if (!folder.IsOpen())
            return nullptr;
        m_chainParts.push_back(parts[i]);
        m_chain.push_back(std::move(folder));
    }
    return count ? &m_chain[count - 1] : &m_root;
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
    // Past the last entry the last one stays current.
    for (std::uint64_t next = m_current + 1; next < m_directory.Records().size(); ++next) {
        m_current = next;
        if (!extension || !*extension)
            return true;
        ZipEntryInfo info;
        if (!GetEntryInfo(info))
            return false;
        const char* lastPart = std::strrchr(info.name, '/');
        lastPart = lastPart ? lastPart + 1 : info.name;
        const char* dot = std::strrchr(lastPart, '.');
        if (dot && EqualsIgnoringCase(dot + 1, extension))
            return true;
    }
    return false;
}

bool CUnzipper::GoToEntry(std::uint64_t index)
{
    if (!m_archive || index >= m_directory.Records().size())
        return false;
    m_current = index;
    return true;
}

CArrivingBytes::Range CUnzipper::EntryBytes(std::uint64_t index) const
{
    if (!m_archive || index >= m_directory.Records().size())
        return {0, 0};
    return {m_directory.Records()[index].localHeaderOffset, m_directory.EntryEnd(index)};
}

bool CUnzipper::SetTargetFolder(const char* folder)
{
    if (!folder)
        return false;
    const std::optional<FolderEntry> there = CFolder::StatPath(folder);
    if (there && there->kind != FolderEntry::Kind::Folder)
        return false;
    m_targetFolder = folder;
    m_target = CFolder();
    ForgetFolderChain();
    return EnsureFolder(folder);
}

bool CUnzipper::SetTargetFolder(CFolder folder, const std::string& path)
{
    ForgetFolderChain();
    // Without the folder there is no target: its name is not tried instead.
    m_target = std::move(folder);
    m_targetFolder = m_target.IsOpen() ? path : std::string();
    return m_target.IsOpen();
}

bool CUnzipper::EnsureFolder(const char* folder)
{
    if (!folder || !*folder)
        return false;
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(folder, ec);
    return !ec && CFolder::OpenPath(full.string(), /*create=*/true).IsOpen();
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
    const std::optional<std::int64_t> seconds = filePath ? DosToSeconds(dosDateTime) : std::nullopt;
    if (!seconds)
        return false;
    // Links along the path are followed, one at its end is not.
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(filePath, ec);
    if (ec || !full.has_filename())
        return false;
    const CFolder parent = CFolder::OpenPath(full.parent_path().string(), /*create=*/false);
    return parent.IsOpen() && parent.SetModificationTime(full.filename().string(), *seconds);
}

bool CUnzipper::ExtractEntry(const char* folder, bool flatten)
{
    return ExtractEntry(folder, flatten, nullptr);
}

CEntryDecoder* CUnzipper::DecoderFor(std::uint32_t method)
{
    switch (method) {
    case kMethodDeflate64:
        return Made<CDeflate64Decoder>(m_deflate64);
    case kMethodLzma:
        return Made<CLzmaDecoder>(m_lzma);
    case kMethodXz:
        return Made<CXzDecoder>(m_xz);
    case kMethodZstd:
        return Made<CZstdDecoder>(m_zstd);
    default:
        return nullptr;
    }
}

bool CUnzipper::CopyEntry(zip_file* file, CEntryDecoder* decoder, bool checkCrc, const CFile& out,
                          const ZipEntryInfo& info)
{
    if (!m_writeBuffer)
        m_writeBuffer = std::make_unique<char[]>(kWriteSize);
    EntryWriter writer{out, m_writeBuffer.get(), info.uncompressedSize, checkCrc, m_progress};
    const auto stopped = [this] { return m_stop && m_stop(); };
    bool ok = true;
    if (decoder) {
        // libzip hands out the raw data (decrypted where a password was
        // given); the decoder never makes more than the recorded size.
        const auto source = [&](unsigned char* data, std::size_t size) -> long long {
            return stopped() ? -1 : zip_fread(file, data, size);
        };
        const auto sink = [&](const unsigned char* data, std::size_t size) {
            return !stopped() && writer.Put(data, size);
        };
        ok = decoder->Decode(source, sink, info.uncompressedSize);
    } else {
        // The library checks the CRC (and an AES entry's authentication code)
        // as the data ends, and reports a mismatch as a read error.
        unsigned char buffer[kReadSize];
        for (;;) {
            if (stopped())
                return false;
            const zip_int64_t count = zip_fread(file, buffer, kReadSize);
            if (count <= 0) {
                ok = count == 0;
                break;
            }
            if (!writer.Put(buffer, static_cast<std::size_t>(count)))
                return false;
        }
    }
    return ok && writer.Finish(info.crc);
}

std::optional<std::uint64_t> CUnzipper::ArrivingStoredData(const char* password)
{
    zip_stat_t st;
    if (!m_arriving || password || zip_stat_index(m_archive.get(), m_current, 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_COMP_METHOD) || st.comp_method != ZIP_CM_STORE || st.encryption_method != ZIP_EM_NONE ||
        st.size != st.comp_size || st.size < 2 * kArrivingBlock)
        return std::nullopt;
    // The local header was waited for and found to fit (CurrentEntryFits).
    const CentralRecord& r = m_directory.Records()[m_current];
    unsigned char header[30];
    if (m_arrivingFile->ReadAt(header, sizeof header, r.localHeaderOffset) != static_cast<long long>(sizeof header))
        return std::nullopt;
    const auto get16 = [&](std::size_t at) { return static_cast<std::uint64_t>(header[at] | (header[at + 1] << 8)); };
    const std::uint64_t dataAt = r.localHeaderOffset + sizeof header + get16(26) + get16(28);
    if (dataAt > m_arriving->Size() || st.size > m_arriving->Size() - dataAt)
        return std::nullopt;
    return dataAt;
}

bool CUnzipper::CopyArrivingStored(const CFile& out, const ZipEntryInfo& info, std::uint64_t dataAt)
{
    if (!m_writeBuffer)
        m_writeBuffer = std::make_unique<char[]>(kWriteSize);
    char* buffer = m_writeBuffer.get();
    const std::uint64_t size = info.uncompressedSize;
    const std::size_t blocks = static_cast<std::size_t>((size + kArrivingBlock - 1) / kArrivingBlock);
    std::vector<uLong> crcs(blocks);
    std::vector<bool> done(blocks);
    std::size_t left = blocks;
    // The output is a file made new: given its size first, it reads as zeros
    // wherever nothing is written, so runs of zeros (the gaps of a disk
    // image) are left out and take no room where the file system allows.
    if (!out.Truncate(size).Ok())
        return false;
    // One block: read and written whole, its CRC made on the way; false on a
    // read or write error. A block written again meanwhile is copied anew,
    // zeros too: its first copy may have put other bytes there.
    std::vector<bool> tried(blocks);
    const auto copyBlock = [&](std::size_t block) {
        const std::uint64_t begin = static_cast<std::uint64_t>(block) * kArrivingBlock;
        const std::uint64_t end = std::min(size, begin + kArrivingBlock);
        const bool untouched = !tried[block];
        tried[block] = true;
        uLong crc = crc32(0, nullptr, 0);
        for (std::uint64_t at = begin; at < end;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kWriteSize, end - at));
            if (m_arrivingFile->ReadAt(buffer, n, dataAt + at) != static_cast<long long>(n))
                return false;
            const bool zeros = untouched && buffer[0] == 0 && std::memcmp(buffer, buffer + 1, n - 1) == 0;
            if (!zeros && !out.WriteAt(buffer, n, at).Ok())
                return false;
            crc = crc32_z(crc, reinterpret_cast<const Bytef*>(buffer), n);
            at += n;
        }
        crcs[block] = crc;
        return true;
    };
    while (left > 0) {
        const std::uint64_t changes = m_arriving->Changes();
        bool copied = false;
        for (std::size_t block = 0; block < blocks; ++block) {
            const std::uint64_t begin = dataAt + static_cast<std::uint64_t>(block) * kArrivingBlock;
            const std::uint64_t length = std::min<std::uint64_t>(kArrivingBlock, size - (begin - dataAt));
            if (done[block] || !m_arriving->Has(begin, begin + length))
                continue;
            if (m_stop && m_stop())
                return false;
            const std::uint64_t stamp = m_arriving->Stamp();
            if (!copyBlock(block))
                return false;
            if (!m_arriving->Unchanged(stamp))
                continue;   // taken back while it was read: copied again once it is back
            done[block] = true;
            --left;
            copied = true;
            if (m_progress)
                m_progress(length);
        }
        if (!copied && left > 0 && m_arriving->WaitForChange(changes) != CArrivingBytes::Wait::Ready)
            return false;
    }
    uLong crc = crcs.empty() ? crc32(0, nullptr, 0) : crcs[0];
    for (std::size_t block = 1; block < blocks; ++block) {
        const std::uint64_t length =
            std::min<std::uint64_t>(kArrivingBlock, size - static_cast<std::uint64_t>(block) * kArrivingBlock);
        crc = crc32_combine(crc, crcs[block], static_cast<z_off_t>(length));
    }
    return crc == info.crc;
}

std::string CUnzipper::CompressionMethodName(std::uint32_t method)
{
    switch (method) {
    case 0:
        return "Store";
    case 1:
        return "Shrink";
    case 2:
    case 3:
    case 4:
    case 5:
        return "Reduce";
    case 6:
        return "Implode";
    case 8:
        return "Deflate";
    case 9:
        return "Deflate64";
    case 10:
    case 18:
        return "TERSE";
    case 12:
        return "BZip2";
    case 14:
        return "LZMA";
    case 16:
        return "CMPSC";
    case 19:
        return "LZ77";
    case 20:
    case 93:
        return "Zstandard";
    case 94:
        return "MP3";
    case 95:
        return "XZ";
    case 96:
        return "JPEG";
    case 97:
        return "WavPack";
    case 98:
        return "PPMd";
    default:
        return std::to_string(method);
    }
}

std::uint64_t CUnzipper::MemoryAsked(std::uint64_t index, CEntryDecoder& decoder)
{
    // An encrypted entry's header is not readable without its password:
    // the decoder holds it to the bound all the same.
    const std::size_t want = decoder.HeadSize();
    if (want == 0)
        return 0;
    const std::unique_ptr<zip_file, EntryCloser> entry(zip_fopen_index(m_archive.get(), index, ZIP_FL_COMPRESSED));
    if (!entry)
        return 0;
    std::vector<unsigned char> head(want);
    std::size_t size = 0;
    while (size < want) {
        const zip_int64_t got = zip_fread(entry.get(), head.data() + size, want - size);
        if (got <= 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    return decoder.MemoryAsked(head.data(), size);
}

bool CUnzipper::FindUndecodableEntry(std::string& entryName, std::string& problem, bool readHeads)
{
    if (!m_archive)
        return false;
    const std::uint64_t current = m_current;
    problem.clear();
    for (std::uint64_t i = 0; i < m_directory.Records().size() && problem.empty(); ++i) {
        m_current = i;
        problem = CurrentProblem(entryName, readHeads);
    }
    m_current = current;
    return !problem.empty();
}

bool CUnzipper::CurrentEntryUndecodable(std::string& entryName, std::string& problem)
{
    problem = m_archive ? CurrentProblem(entryName, /*readHead=*/true) : std::string();
    return !problem.empty();
}

std::string CUnzipper::CurrentProblem(std::string& entryName, bool readHead)
{
    ZipEntryInfo info;
    std::size_t storedNameLength = 0;
    zip_stat_t st;
    // libzip gives an AES entry's real method; folders are never decoded.
    if (!ReadEntryInfo(info, storedNameLength) || info.isFolder ||
        zip_stat_index(m_archive.get(), m_current, 0, &st) != 0 || !(st.valid & ZIP_STAT_COMP_METHOD))
        return {};
    std::string problem;
    const std::string method = CompressionMethodName(st.comp_method);
    if (!Decodable(st)) {
        problem = "Unsupported Compression (" + method + ")";
    } else if (CEntryDecoder* decoder = DecoderFor(st.comp_method);
               readHead && decoder && st.encryption_method == ZIP_EM_NONE) {
        // Refused before anything is written, like a method not known.
        const std::uint64_t asked = MemoryAsked(m_current, *decoder);
        if (asked > CEntryDecoder::kMemoryLimit)
            problem = (st.comp_method == kMethodZstd ? "Window Too Large (" : "Dictionary Too Large (") + method +
                      ", " + Mebibytes(asked) + ")";
    }
    if (!problem.empty())
        entryName = info.name;
    return problem;
}

bool CUnzipper::ExtractEntry(const char* folder, bool flatten, const char* password)
{
    // The effective folder must exist or be made.
    if (!m_archive)
        return false;
    const std::string effective = folder ? folder : m_targetFolder;
    const bool handedIn = effective == m_targetFolder && m_target.IsOpen();
    if (!handedIn && !EnsureFolder(effective.c_str()))
        return false;
    ZipEntryInfo info;
    std::vector<std::string> parts;
    if (!ReadSafeName(info, parts))
        return false;

    // A folder entry only makes its folder.
    if (info.isFolder)
        return OpenFolderChain(effective, parts, parts.size()) != nullptr;
    if (parts.empty())
        return false;
    if (flatten)
        parts.erase(parts.begin(), parts.end() - 1);

    // The entry is opened before anything is written: one that cannot be read
    // (wrong or missing password, unknown method) leaves the disk as it was.
    if (m_broken || !CurrentEntryFits())
        return false;
    EntryReader reader = OpenEntryData(password);
    if (!reader.entry)
        return false;
    // The entry's folders below the effective folder, then its file.
    const CFolder* parent = OpenFolderChain(effective, parts, parts.size() - 1);
    if (!parent)
        return false;
    const std::string& fileName = parts.back();
    OutputFile out = CreateOutput(*parent, fileName, PermissionsFor(info));
    if (!out.file.IsOpen())
        return false;

    const std::optional<std::uint64_t> storedAt = ArrivingStoredData(password);
    const bool copied = storedAt ? CopyArrivingStored(out.file, info, *storedAt)
                                 : CopyEntry(reader.entry.get(), reader.decoder, reader.checkCrc, out.file, info);
    reader.entry.reset();
    if (copied)
        SetEntryTime(out.file, info);
    return FinishOutput(*parent, fileName, out, copied);
}

bool CUnzipper::ReadSafeName(ZipEntryInfo& info, std::vector<std::string>& parts)
{
    // A name too long for the record is refused rather than written under a cut name.
    std::size_t storedNameLength = 0;
    return ReadEntryInfo(info, storedNameLength) && storedNameLength <= kMaxName && SplitEntryName(info.name, parts) &&
           (m_reserved.empty() || parts.empty() || !EqualsIgnoringCase(parts.front(), m_reserved));
}

CUnzipper::EntryReader CUnzipper::OpenEntryData(const char* password)
{
    // Methods the library cannot undo are refused here: opening such an entry
    // leaks its read chain in libzip 1.7.3.
    // Deflate64, LZMA, XZ and Zstandard are read raw and decoded here.
    EntryReader reader;
    zip_stat_t st;
    if (zip_stat_index(m_archive.get(), m_current, 0, &st) != 0 || !Decodable(st))
        return reader;
    reader.decoder = DecoderFor(st.comp_method);
    const zip_flags_t flags = reader.decoder ? ZIP_FL_COMPRESSED : 0;
    reader.entry.reset(password ? zip_fopen_index_encrypted(m_archive.get(), m_current, flags, password)
                                : zip_fopen_index(m_archive.get(), m_current, flags));
    // Complete and unchanged: every byte of the recorded size, checksum good.
    // (An AES entry's authentication code stands for its checksum, which
    // such entries may leave out.)
    reader.checkCrc = reader.decoder && st.encryption_method != ZIP_EM_AES_128 &&
                      st.encryption_method != ZIP_EM_AES_192 && st.encryption_method != ZIP_EM_AES_256;
    return reader;
}

CUnzipper::OutputFile CUnzipper::CreateOutput(const CFolder& parent, const std::string& fileName, unsigned permissions)
{
    // A new file is written under its own name (made new: nothing that
    // appears meanwhile, a link least of all, is followed) and removed again
    // should the entry fail. Where a file stands already, a link, a folder or
    // a read-only file fails with nothing written; a writable one is replaced
    // only once the new data is complete: it goes to a temporary file beside
    // it, renamed over it at the end, so a damaged entry or a stop never
    // destroys what an earlier run wrote.
    OutputFile out{parent.OpenFile(fileName, FileOpen::CreateNew, permissions), fileName};
    if (out.file.IsOpen())
        return out;
    if (out.file.OpenResult().GetKind() != FileResult::Kind::Exists)
        return {};
    const std::optional<FolderEntry> existing = parent.Stat(fileName);
    if (!existing || existing->kind != FolderEntry::Kind::File || !existing->writable)
        return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        out.name = m_tempPrefix + std::to_string(m_tempCounter++);
        out.file = parent.OpenFile(out.name, FileOpen::CreateNew, permissions);
        if (out.file.IsOpen() || out.file.OpenResult().GetKind() != FileResult::Kind::Exists)
            break;
    }
    return out;
}

void CUnzipper::SetEntryTime(const CFile& file, const ZipEntryInfo& info)
{
    // UTC from an NTFS or Unix extra field, else the MS-DOS time read as
    // local time. A failure to set it is ignored: the data is what counts.
    if (const std::optional<FileTime> time = ExtraFieldTime(m_archive.get(), m_current))
        (void)file.SetModificationTime(time->seconds, time->nanoseconds);
    else if (const std::optional<std::int64_t> local = DosToSeconds(info.dosDateTime))
        (void)file.SetModificationTime(*local);
}

bool CUnzipper::FinishOutput(const CFolder& parent, const std::string& fileName, OutputFile& out, bool copied)
{
    const bool done = out.file.Close() && copied && (out.name == fileName || parent.Rename(out.name, fileName).Ok());
    if (!done)
        (void)parent.RemoveFile(out.name);
    return done;
}
