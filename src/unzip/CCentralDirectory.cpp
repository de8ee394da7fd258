#include "unzip/CCentralDirectory.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::uint32_t kMarker32 = 0xFFFFFFFFu;

std::uint16_t Get16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t Get32(const unsigned char* p)
{
    return Get16(p) | static_cast<std::uint32_t>(Get16(p + 2)) << 16;
}
std::uint64_t Get64(const unsigned char* p)
{
    return Get32(p) | static_cast<std::uint64_t>(Get32(p + 4)) << 32;
}

bool ReadAt(const CFile& file, void* out, std::size_t size, std::uint64_t offset)
{
    auto* p = static_cast<char*>(out);
    while (size > 0) {
        const long long n = file.ReadAt(p, size, offset);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

// Applies the Zip64 extra field (id 1) to the values that carry the 32-bit
// marker; the field holds only those, in this order.
bool ApplyZip64(const unsigned char* extra, std::size_t length, CentralRecord& r)
{
    std::uint64_t* wanted[] = {&r.uncompressedSize, &r.compressedSize, &r.localHeaderOffset};
    while (length >= 4) {
        const std::uint16_t id = Get16(extra);
        const std::size_t size = Get16(extra + 2);
        if (size > length - 4)
            return false;
        if (id == 1) {
            std::size_t at = 0;
            for (std::uint64_t* value : wanted) {
                if (*value != kMarker32)
                    continue;
                if (at + 8 > size)
                    return false;
                *value = Get64(extra + 4 + at);
                at += 8;
            }
            return true;
        }
        extra += 4 + size;
        length -= 4 + size;
    }
    // No field although a value asks for one.
    return std::none_of(std::begin(wanted), std::end(wanted), [](const std::uint64_t* v) { return *v == kMarker32; });
}

}   // namespace

bool CCentralDirectory::Read(const CFile& file)
{
    m_records.clear();
    const std::optional<std::uint64_t> regularSize = file.RegularSize();
    if (!regularSize || !ReadDirectory(file, *regularSize, {}))
        return false;
    for (std::size_t i = 0; i < m_records.size(); ++i)
        if (!EntryFits(file, i))
            return false;
    return true;
}

bool CCentralDirectory::Read(const CFile& file, std::uint64_t size, const ReadyWait& ready)
{
    m_records.clear();
    return ReadDirectory(file, size, ready);
}

std::optional<CCentralDirectory::Place> CCentralDirectory::Locate(const CFile& file, std::uint64_t fileSize,
                                                                  const ReadyWait& ready)
{
    const auto readAt = [&](void* out, std::size_t size, std::uint64_t offset) {
        return (!ready || ready(offset, offset + size)) && ReadAt(file, out, size, offset);
    };
    if (fileSize < kEndRecordSize)
        return std::nullopt;

    // The end record lies within the last 64 KiB (its comment) and 22 bytes.
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, 65535 + kEndRecordSize));
    const std::uint64_t tailAt = fileSize - tailSize;
    std::string tail(tailSize, '\0');
    if (!readAt(tail.data(), tailSize, tailAt))
        return std::nullopt;
    const auto* t = reinterpret_cast<const unsigned char*>(tail.data());
    std::size_t end = std::string::npos;
    for (std::size_t at = tailSize - kEndRecordSize + 1; at-- > 0;) {
        if (std::memcmp(t + at, "PK\5\6", 4) == 0 && at + kEndRecordSize + Get16(t + at + 20) <= tailSize) {
            end = at;
            break;
        }
    }
    if (end == std::string::npos)
        return std::nullopt;
    Place place{.offset = Get32(t + end + 16), .size = Get32(t + end + 12), .count = Get16(t + end + 10)};
    std::uint64_t directoryEnd = tailAt + end;

    // A Zip64 locator just before it points at the Zip64 end record.
    if (tailAt + end >= kZip64LocatorSize) {
        unsigned char locator[kZip64LocatorSize];
        const std::uint64_t locatorAt = tailAt + end - kZip64LocatorSize;
        if (readAt(locator, sizeof locator, locatorAt) && std::memcmp(locator, "PK\6\7", 4) == 0) {
            const std::uint64_t zip64At = Get64(locator + 8);
            unsigned char record[kZip64EndSize];
            if (zip64At > locatorAt || locatorAt - zip64At < kZip64EndSize || !readAt(record, sizeof record, zip64At) ||
                std::memcmp(record, "PK\6\6", 4) != 0)
                return std::nullopt;
            place = {.offset = Get64(record + 48), .size = Get64(record + 40), .count = Get64(record + 32)};
            directoryEnd = zip64At;
        }
    }
    if (place.offset > directoryEnd || place.size > directoryEnd - place.offset)
        return std::nullopt;
    return place;
}

bool CCentralDirectory::ReadDirectory(const CFile& file, std::uint64_t fileSize, const ReadyWait& ready)
{
    const std::optional<Place> place = Locate(file, fileSize, ready);
    if (!place)
        return false;
    m_offset = place->offset;
    m_size = place->size;
    // A count that the directory's bytes cannot hold is a lie: refused before
    // anything is waited for or allocated.
    if (place->count > place->size / kCentralHeaderSize || (ready && !ready(m_offset, m_offset + m_size)) ||
        !ReadRecords(file, m_offset, m_size, place->count))
        return false;
    OrderEntries();
    return true;
}

bool CCentralDirectory::ReadRecords(const CFile& file, std::uint64_t offset, std::uint64_t size, std::uint64_t count)
{
    std::string directory(static_cast<std::size_t>(size), '\0');
    if (!ReadAt(file, directory.data(), directory.size(), offset))
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(directory.data());
    std::size_t left = directory.size();
    m_records.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        if (left < kCentralHeaderSize || std::memcmp(p, "PK\1\2", 4) != 0)
            return false;
        const std::size_t nameLength = Get16(p + 28);
        const std::size_t extraLength = Get16(p + 30);
        const std::size_t commentLength = Get16(p + 32);
        const std::size_t recordSize = kCentralHeaderSize + nameLength + extraLength + commentLength;
        if (recordSize > left)
            return false;
        CentralRecord r{};
        r.versionMadeBy = Get16(p + 4);
        r.versionNeeded = Get16(p + 6);
        r.flags = Get16(p + 8);
        r.method = Get16(p + 10);
        r.dosDateTime = static_cast<std::uint32_t>(Get16(p + 14)) << 16 | Get16(p + 12);
        r.crc = Get32(p + 16);
        r.compressedSize = Get32(p + 20);
        r.uncompressedSize = Get32(p + 24);
        r.internalAttributes = Get16(p + 36);
        r.externalAttributes = Get32(p + 38);
        r.localHeaderOffset = Get32(p + 42);
        r.nameLength = static_cast<std::uint16_t>(nameLength);
        if (!ApplyZip64(p + kCentralHeaderSize + nameLength, extraLength, r))
            return false;
        m_records.push_back(r);
        p += recordSize;
        left -= recordSize;
    }
    return true;
}

void CCentralDirectory::OrderEntries()
{
    // In file order, each entry's header and data must end where the next
    // entry (or the directory) begins. Entries sharing bytes are how an
    // archive of a few kilobytes claims terabytes.
    std::vector<std::size_t> order(m_records.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
        return m_records[a].localHeaderOffset < m_records[b].localHeaderOffset;
    });
    m_entryEnd.assign(m_records.size(), m_offset);
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        m_entryEnd[order[i]] = m_records[order[i + 1]].localHeaderOffset;
}

std::uint64_t CCentralDirectory::EntryEnd(std::size_t index) const
{
    return index < m_entryEnd.size() ? m_entryEnd[index] : 0;
}

bool CCentralDirectory::EntryFits(const CFile& file, std::size_t index) const
{
    if (index >= m_records.size())
        return false;
    const CentralRecord& r = m_records[index];
    const std::uint64_t next = m_entryEnd[index];
    unsigned char header[kLocalHeaderSize];
    if (r.localHeaderOffset > next || next - r.localHeaderOffset < kLocalHeaderSize ||
        !ReadAt(file, header, sizeof header, r.localHeaderOffset) || std::memcmp(header, "PK\3\4", 4) != 0)
        return false;
    const std::uint64_t used = kLocalHeaderSize + Get16(header + 26) + Get16(header + 28);
    return used <= next - r.localHeaderOffset && r.compressedSize <= next - r.localHeaderOffset - used;
}
