#include "worker/CReleaseList.h"

#include "platform/CFolder.h"
#include "unzip/CCentralDirectory.h"
#include "worker/CBlake2b.h"

#include <sodium.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>

namespace {

constexpr std::string_view kHead = "VORN release list 1";
// Pieces per archive the piece size aims at: small pieces cost a line each,
// large ones cost more to fetch again and to check last.
constexpr std::uint64_t kPiecesAimedAt = 4096;

std::string Hex(const PieceHash& hash)
{
    std::string text(hash.size() * 2 + 1, '\0');
    sodium_bin2hex(text.data(), text.size(), hash.data(), hash.size());
    text.pop_back();
    return text;
}

std::optional<PieceHash> FromHex(std::string_view text)
{
    PieceHash hash{};
    std::size_t length = 0;
    const char* end = nullptr;
    if (text.size() != hash.size() * 2 ||
        sodium_hex2bin(hash.data(), hash.size(), text.data(), text.size(), nullptr, &length, &end) != 0 ||
        length != hash.size() || end != text.data() + text.size())
        return std::nullopt;
    return hash;
}

std::optional<std::uint64_t> Number(std::string_view text)
{
    std::uint64_t value = 0;
    if (text.empty() || text.size() > 20 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Reads the list's lines in order; each step takes one line of a known key.
class Lines {
public:
    explicit Lines(std::string_view text) : m_text(text) {}
    bool AtEnd() const { return m_text.empty(); }
    // The next line without its line feed; nothing when none is left whole.
    std::optional<std::string_view> Next()
    {
        const std::size_t end = m_text.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view line = m_text.substr(0, end);
        m_text.remove_prefix(end + 1);
        return line;
    }
    // The text after "<key> " of the next line, when it has that key.
    std::optional<std::string_view> Value(std::string_view key)
    {
        const std::optional<std::string_view> line = Peek();
        if (!line || line->size() <= key.size() || !line->starts_with(key) || (*line)[key.size()] != ' ')
            return std::nullopt;
        Next();
        return line->substr(key.size() + 1);
    }
    std::optional<std::uint64_t> NumberOf(std::string_view key)
    {
        const std::optional<std::string_view> value = Value(key);
        return value ? Number(*value) : std::nullopt;
    }

private:
    std::optional<std::string_view> Peek() const
    {
        Lines copy = *this;
        return copy.Next();
    }
    std::string_view m_text;
};

bool IsListedName(std::string_view name)
{
    return IsPlainFileName(name) && name.find_first_of("/\\") == std::string_view::npos && name.front() != ' ' &&
           name.back() != ' ';
}

void Write(std::string& out, const char* key, const ReleaseArchive& a)
{
    out += key;
    out += ' ' + a.name + "\nsize " + std::to_string(a.size) + "\ncentral-directory " +
           std::to_string(a.directoryOffset) + ' ' + std::to_string(a.directorySize) + "\npiece-size " +
           std::to_string(a.pieceSize) + '\n';
    for (const PieceHash& hash : a.pieces)
        out += "piece " + Hex(hash) + '\n';
}

std::optional<ReleaseArchive> Read(Lines& lines, std::string_view key)
{
    ReleaseArchive a;
    const std::optional<std::string_view> name = lines.Value(key);
    const std::optional<std::uint64_t> size = lines.NumberOf("size");
    const std::optional<std::string_view> directory = lines.Value("central-directory");
    const std::optional<std::uint64_t> pieceSize = lines.NumberOf("piece-size");
    if (!name || !IsListedName(*name) || !size || *size == 0 || !directory || !pieceSize ||
        *pieceSize < ReleaseArchive::kSmallestPiece || *pieceSize > ReleaseArchive::kLargestPiece ||
        (*pieceSize & (*pieceSize - 1)) != 0)
        return std::nullopt;
    const std::size_t blank = directory->find(' ');
    const std::optional<std::uint64_t> offset = Number(directory->substr(0, blank));
    const std::optional<std::uint64_t> length =
        blank == std::string_view::npos ? std::nullopt : Number(directory->substr(blank + 1));
    if (!offset || !length || *offset > *size || *length > *size - *offset)
        return std::nullopt;
    a.name = std::string(*name);
    a.size = *size;
    a.directoryOffset = *offset;
    a.directorySize = *length;
    a.pieceSize = static_cast<std::uint32_t>(*pieceSize);
    const std::uint64_t count = (a.size + a.pieceSize - 1) / a.pieceSize;
    // A count the list's own size cannot hold is refused before anything is kept for it.
    if (count > CReleaseList::kMaxFileSize / 64)
        return std::nullopt;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::optional<std::string_view> hex = lines.Value("piece");
        const std::optional<PieceHash> hash = hex ? FromHex(*hex) : std::nullopt;
        if (!hash)
            return std::nullopt;
        a.pieces.push_back(*hash);
    }
    return a;
}

}   // namespace

PieceHash HashPiece(const void* data, std::size_t size)
{
    PieceHash hash{};
    CBlake2b blake(hash.size());
    blake.Update(data, size);
    blake.Final(hash.data());
    return hash;
}

std::uint64_t ReleaseArchive::PieceEnd(std::size_t piece) const
{
    return std::min(size, PieceBegin(piece) + pieceSize);
}

std::optional<PieceHash> ReleaseArchive::HashOf(const CFile& file, std::size_t piece, std::vector<char>& buffer) const
{
    constexpr std::size_t kBlock = 64 << 10;   // small: read back while the download runs, beside its buffers
    buffer.resize(kBlock);
    PieceHash hash{};
    CBlake2b blake(hash.size());
    for (std::uint64_t at = PieceBegin(piece), end = PieceEnd(piece); at < end;) {
        const long long n =
            file.ReadAt(buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, end - at)), at);
        if (n <= 0)
            return std::nullopt;
        blake.Update(buffer.data(), static_cast<std::size_t>(n));
        at += static_cast<std::uint64_t>(n);
    }
    blake.Final(hash.data());
    return hash;
}

std::optional<ReleaseArchive> ReleaseArchive::Describe(const CFile& file, const std::string& name, std::string& why)
{
    ReleaseArchive a;
    a.name = name;
    a.size = file.RegularSize().value_or(0);
    CCentralDirectory directory;
    if (!IsListedName(name) || !directory.Read(file)) {
        why = "not a zip archive";
        return std::nullopt;
    }
    a.directoryOffset = directory.Offset();
    a.directorySize = directory.Size();
    while (a.pieceSize < kLargestPiece && a.size / a.pieceSize >= kPiecesAimedAt)
        a.pieceSize *= 2;
    std::vector<char> buffer;
    for (std::size_t piece = 0; a.PieceBegin(piece) < a.size; ++piece) {
        const std::optional<PieceHash> hash = a.HashOf(file, piece, buffer);
        if (!hash) {
            why = "cannot be read";
            return std::nullopt;
        }
        a.pieces.push_back(*hash);
    }
    return a;
}

std::string CReleaseList::Text() const
{
    std::string out =
        std::string(kHead) + "\nserial " + std::to_string(serial) + "\nexpires " + UtcTimeText(expires) + '\n';
    Write(out, "application", application);
    if (update)
        Write(out, "update", *update);
    return out;
}

std::optional<CReleaseList> CReleaseList::Parse(std::string_view text)
{
    if (text.size() > kMaxFileSize)
        return std::nullopt;
    Lines lines(text);
    CReleaseList list;
    const std::optional<std::string_view> head = lines.Next();
    const std::optional<std::uint64_t> serial = lines.NumberOf("serial");
    const std::optional<std::string_view> expires = lines.Value("expires");
    const std::optional<std::int64_t> time = expires ? ParseUtcTime(*expires) : std::nullopt;
    if (head != kHead || !serial || !time)
        return std::nullopt;
    list.serial = *serial;
    list.expires = *time;
    std::optional<ReleaseArchive> application = Read(lines, "application");
    if (!application)
        return std::nullopt;
    list.application = std::move(*application);
    if (!lines.AtEnd()) {
        list.update = Read(lines, "update");
        if (!list.update || list.update->name == list.application.name)
            return std::nullopt;
    }
    if (!lines.AtEnd())
        return std::nullopt;
    return list;
}

std::string UtcTimeText(std::int64_t seconds)
{
    using namespace std::chrono;
    const sys_seconds at{std::chrono::seconds(seconds)};
    const sys_days day = floor<days>(at);
    const year_month_day date(day);
    const hh_mm_ss<std::chrono::seconds> time(at - day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text)
{
    using namespace std::chrono;
    // Exactly "YYYY-MM-DDTHH:MM:SSZ".
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const auto field = [&](std::size_t at, std::size_t length) { return Number(text.substr(at, length)); };
    const auto y = field(0, 4), mo = field(5, 2), d = field(8, 2), h = field(11, 2), mi = field(14, 2),
               s = field(17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 59)
        return std::nullopt;
    const year_month_day date{year(static_cast<int>(*y)), month(static_cast<unsigned>(*mo)),
                              day(static_cast<unsigned>(*d))};
    if (!date.ok())
        return std::nullopt;
    const sys_seconds at = sys_days(date) + hours(static_cast<long>(*h)) + minutes(static_cast<long>(*mi)) +
                           seconds(static_cast<long>(*s));
    return at.time_since_epoch().count();
}
