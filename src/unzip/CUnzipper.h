#pragma once
#include "platform/CFile.h"
#include "platform/CFolder.h"
#include "unzip/CArrivingBytes.h"
#include "unzip/CCentralDirectory.h"
#include "unzip/CDeflate64Decoder.h"
#include "unzip/ZipEntryInfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct zip;
struct zip_file;

// Reads one zip archive entry by entry and writes the current entry below a
// target folder, with its folders, its modification time and, for entries
// made on Unix, its permission bits. Entry names that would leave the target
// folder are refused; links in archives are written as plain files; an
// archive whose entries overlap is not opened.
class CUnzipper {
public:
    explicit CUnzipper(const char* zipPath = nullptr);
    virtual ~CUnzipper();
    CUnzipper(const CUnzipper&) = delete;
    CUnzipper& operator=(const CUnzipper&) = delete;

    bool OpenArchive(const char* zipPath);
    // Reads the archive open as `archive` (`path` names it, for the default
    // target), so the caller decides how the file is reached.
    bool OpenArchive(CFile archive, const std::string& path);
    // Reads an archive while it is still arriving: every read waits for its
    // bytes (`bytes`), so the directory is read as soon as it is there and
    // each entry is extracted as its bytes come. Each entry's own header is
    // checked against its neighbours when it is extracted; one that shares
    // bytes with another fails, and ArchiveBroken() says so.
    bool OpenArchive(CFile archive, const std::string& path, std::shared_ptr<CArrivingBytes> bytes);
    // An entry read while arriving proved to share bytes with another: the
    // archive is not what it claims, and no entry of it should be kept.
    bool ArchiveBroken() const { return m_broken; }
    bool CloseArchive();
    int GetEntryCount();
    bool GetEntryInfo(ZipEntryInfo& info);
    bool GoToNextEntry(const char* extension = nullptr);
    // Makes entry `index` (in the directory's order) the current one; false
    // when there is no such entry.
    bool GoToEntry(std::uint64_t index);
    // Where entry `index`'s bytes lie in the archive: from its local header
    // up to the next entry's (or the directory).
    CArrivingBytes::Range EntryBytes(std::uint64_t index) const;
    bool SetTargetFolder(const char* folder);
    // The target as an open folder, which the caller reached as it sees fit;
    // `path` is its name. Entries go below that very folder, whatever the
    // name comes to point at meanwhile.
    bool SetTargetFolder(CFolder folder, const std::string& path);
    bool ExtractEntry(const char* folder = nullptr, bool flatten = false);
    bool ExtractEntry(const char* folder, bool flatten, const char* password);
    const std::string& GetTargetFolder() const { return m_targetFolder; }

    // An entry whose first folder part is `name` (in any case) is refused: the
    // caller keeps a folder of that name beside the entries.
    void SetReservedName(std::string name) { m_reserved = std::move(name); }

    // Asked between reads of an entry: true abandons the entry, and what was
    // written of it is removed.
    void SetStopCheck(std::function<bool()> stop) { m_stop = std::move(stop); }
    // Told how many bytes of the current entry were just copied, as they are.
    void SetProgress(std::function<void(std::uint64_t bytes)> progress) { m_progress = std::move(progress); }
    // The recorded sizes of all entries added up; 0 when closed.
    std::uint64_t GetTotalUncompressedSize() const;
    // The first entry that nothing here may decode: its name and why, as a
    // status says it: "Unsupported Compression (PPMd)" (the method's name, or
    // its number when it has none), or "Dictionary Too Large (LZMA, 1024 MiB)"
    // / "Window Too Large (Zstandard, 512 MiB)" when its first header asks
    // for more memory than the decoders' bound. False when every entry can be
    // decoded, or when no archive is open. Without `readHeads` only what the
    // directory says is asked (no entry's bytes are waited for).
    bool FindUndecodableEntry(std::string& entryName, std::string& problem, bool readHeads = true);
    // The same for the current entry alone, its first header read.
    bool CurrentEntryUndecodable(std::string& entryName, std::string& problem);
    static std::string CompressionMethodName(std::uint32_t method);

    static bool EnsureFolder(const char* folder);
    static bool EnsureParentFolder(const char* filePath);
    static bool SetTimesFromDos(const char* filePath, std::uint32_t dosDateTime);

private:
    struct ArchiveCloser {
        void operator()(zip* archive) const;
    };
    struct EntryCloser {
        void operator()(zip_file* entry) const;
    };
    // The current entry opened for reading, and how its data is checked.
    struct EntryReader {
        std::unique_ptr<zip_file, EntryCloser> entry;   // null when it cannot be read
        CEntryDecoder* decoder = nullptr;               // for a method read raw
        bool checkCrc = false;                          // here, rather than by libzip
    };
    // The file an entry is written to: its own name, or a temporary one
    // beside a file it is to replace.
    struct OutputFile {
        CFile file;
        std::string name;
    };

    // Takes over the stream of an archive whose directory was read.
    bool OpenStream(std::FILE* stream);
    // libzip and the directory read here agree on every entry.
    bool ReadersAgree() const;
    bool ReadEntryInfo(ZipEntryInfo& info, std::size_t& storedNameLength);
    // The current entry's record and its name as folder parts; false for a
    // name that is cut or would leave the folder it is extracted to.
    bool ReadSafeName(ZipEntryInfo& info, std::vector<std::string>& parts);
    // The folder root/parts[0..count), creating what is missing and never
    // following a link, so nothing on disk can redirect an entry out of its
    // folder. Owned by the instance; valid until the next call; null on failure.
    const CFolder* OpenFolderChain(const std::string& root, const std::vector<std::string>& parts, std::size_t count);
    void ForgetFolderChain();
    EntryReader OpenEntryData(const char* password);
    OutputFile CreateOutput(const CFolder& parent, const std::string& fileName, unsigned permissions);
    // Closes `out`, renames it over `fileName` when it had a name of its own,
    // or removes it when the entry failed. True when the entry is in place.
    static bool FinishOutput(const CFolder& parent, const std::string& fileName, OutputFile& out, bool copied);
    // Copies the open entry into `out`, through `decoder` when it is read raw.
    // False on a read or write error, a stop, a checksum that does not match,
    // and at the first byte past the recorded size, which is never written.
    bool CopyEntry(zip_file* entry, CEntryDecoder* decoder, bool checkCrc, const CFile& out, const ZipEntryInfo& info);
    void SetEntryTime(const CFile& file, const ZipEntryInfo& info);
    // The decoder of a method libzip hands over raw; null for the others.
    CEntryDecoder* DecoderFor(std::uint32_t method);
    // The memory entry `index`'s first header asks `decoder` for.
    std::uint64_t MemoryAsked(std::uint64_t index, CEntryDecoder& decoder);
    // Why the current entry cannot be decoded here; empty when it can.
    std::string CurrentProblem(std::string& entryName, bool readHead);

    // An arriving archive: true when entry `m_current` lies within its own bytes.
    bool CurrentEntryFits();
    // Where the current entry's data begins when it is a large stored one of
    // an arriving archive, to be copied as its bytes come; nothing otherwise.
    std::optional<std::uint64_t> ArrivingStoredData(const char* password);
    // Copies such an entry block by block in whatever order the blocks
    // arrive; its CRC-32 is put together from the blocks' and checked.
    bool CopyArrivingStored(const CFile& out, const ZipEntryInfo& info, std::uint64_t dataAt);

    std::unique_ptr<char[]> m_archiveBuffer;       // stdio buffer of the archive; outlives it
    std::shared_ptr<const CFile> m_arrivingFile;   // while an arriving archive is open
    std::shared_ptr<CArrivingBytes> m_arriving;
    bool m_broken = false;
    std::unique_ptr<zip, ArchiveCloser> m_archive;
    CCentralDirectory m_directory;
    std::uint64_t m_current = 0;
    std::string m_targetFolder;
    CFolder m_target;   // open only when the target was handed in open
    std::function<bool()> m_stop;
    std::function<void(std::uint64_t)> m_progress;
    std::unique_ptr<char[]> m_writeBuffer;        // made once per instance, not per entry
    std::unique_ptr<CEntryDecoder> m_deflate64;   // likewise, each when first needed
    std::unique_ptr<CEntryDecoder> m_lzma;
    std::unique_ptr<CEntryDecoder> m_xz;
    std::unique_ptr<CEntryDecoder> m_zstd;
    std::string m_reserved;
    std::string m_tempPrefix;   // names of entries being written, beside their targets
    unsigned m_tempCounter = 0;
    std::string m_chainRoot;
    CFolder m_root;
    std::vector<std::string> m_chainParts;
    std::vector<CFolder> m_chain;
};
