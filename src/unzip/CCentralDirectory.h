#pragma once
#include "platform/CFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The raw central-directory records of a zip archive, Zip64 fields applied.
// libzip reads the entries but does not hand out these fields (versions,
// flags, MS-DOS time, internal attributes) nor where each entry lies, which
// is what tells an archive whose entries overlap (a zip bomb) from a sound one.
struct CentralRecord {
    std::uint16_t versionMadeBy;
    std::uint16_t versionNeeded;
    std::uint16_t flags;
    std::uint16_t method;
    std::uint32_t dosDateTime;
    std::uint32_t crc;
    std::uint64_t compressedSize;
    std::uint64_t uncompressedSize;
    std::uint64_t localHeaderOffset;
    std::uint16_t internalAttributes;
    std::uint32_t externalAttributes;
    std::uint16_t nameLength;   // as stored, in bytes
};

class CCentralDirectory {
public:
    // Reads the records from an open archive. False when the end record or a
    // record cannot be read, when the count it claims is not what the
    // directory holds, or when two entries' data overlap.
    bool Read(const CFile& file);
    // The same for an archive still arriving, of `size` bytes: `ready` waits
    // until the bytes asked for are there (false: they never will be). Only
    // the end records and the directory are read; each entry's own header is
    // checked by EntryFits when its bytes have come.
    using ReadyWait = std::function<bool(std::uint64_t begin, std::uint64_t end)>;
    bool Read(const CFile& file, std::uint64_t size, const ReadyWait& ready);
    // Where the directory lies as the end records say (Zip64 included), read
    // through `ready` as above; nothing when they cannot be read or do not fit.
    struct Place {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        std::uint64_t count = 0;   // records it claims
    };
    static std::optional<Place> Locate(const CFile& file, std::uint64_t size, const ReadyWait& ready);
    // Entry `index`'s local header and data lie within its own bytes, up to
    // the next entry in the file (or the directory): false for an entry that
    // shares bytes with another, which makes the whole archive suspect.
    bool EntryFits(const CFile& file, std::size_t index) const;
    // Where entry `index`'s bytes end: the next entry's header, or the directory.
    std::uint64_t EntryEnd(std::size_t index) const;
    const std::vector<CentralRecord>& Records() const { return m_records; }
    // Where the directory lies in the archive, after a Read that succeeded.
    std::uint64_t Offset() const { return m_offset; }
    std::uint64_t Size() const { return m_size; }

private:
    bool ReadDirectory(const CFile& file, std::uint64_t fileSize, const ReadyWait& ready);
    bool ReadRecords(const CFile& file, std::uint64_t offset, std::uint64_t size, std::uint64_t count);
    void OrderEntries();

    std::vector<CentralRecord> m_records;
    std::vector<std::uint64_t> m_entryEnd;   // by record
    std::uint64_t m_offset = 0;
    std::uint64_t m_size = 0;
};
