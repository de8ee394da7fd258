#pragma once
#include <cstdint>

// The current entry's central-directory record, as CUnzipper::GetEntryInfo fills it.
struct ZipEntryInfo {
    char name[261];   // as stored, "/" separating folders; cut to 260, always terminated
    char comment[256];
    std::uint32_t versionMadeBy;
    std::uint32_t versionNeeded;
    std::uint32_t flags;
    std::uint32_t compressionMethod;
    std::uint32_t dosDateTime;   // date in the high 16 bits, time in the low 16
    std::uint32_t crc;
    std::uint64_t compressedSize;   // 64-bit so that Zip64 entries keep their sizes
    std::uint64_t uncompressedSize;
    std::uint32_t internalAttributes;
    std::uint32_t externalAttributes;
    bool isFolder;   // MS-DOS folder attribute, bit 4 of externalAttributes
};
