#pragma once
#include "platform/CFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// BLAKE2b-256 of one piece of an archive (as libsodium's crypto_generichash gives it).
using PieceHash = std::array<unsigned char, 32>;
PieceHash HashPiece(const void* data, std::size_t size);

// One archive as the publisher's release list names it: its size, where its
// central directory lies, and the hash of each piece.
struct ReleaseArchive {
    static constexpr std::uint32_t kSmallestPiece = 1u << 20;
    static constexpr std::uint32_t kLargestPiece = 16u << 20;

    std::string name;
    std::uint64_t size = 0;
    std::uint64_t directoryOffset = 0;
    std::uint64_t directorySize = 0;
    std::uint32_t pieceSize = kSmallestPiece;
    std::vector<PieceHash> pieces;

    std::uint64_t PieceBegin(std::size_t piece) const { return std::uint64_t{pieceSize} * piece; }
    std::uint64_t PieceEnd(std::size_t piece) const;
    // The hash of piece `piece` as `file` holds it, read in small blocks
    // through `buffer` (so a 16 MiB piece costs no 16 MiB of memory);
    // nothing when it cannot be read whole.
    std::optional<PieceHash> HashOf(const CFile& file, std::size_t piece, std::vector<char>& buffer) const;
    bool operator==(const ReleaseArchive&) const = default;

    // Describes the zip archive `file` under `name`: the central directory
    // found and read, each piece hashed. Nothing when it is no zip archive or
    // cannot be read (`why` says which).
    static std::optional<ReleaseArchive> Describe(const CFile& file, const std::string& name, std::string& why);
};

// The publisher's signed release list ("KEL.release"): a small text of
// lines a person can read, naming the current application archive and,
// where the release has one, its update, with a serial that only grows and
// an expiry time.
struct CReleaseList {
    static constexpr const char* kFileName = "KEL.release";
    static constexpr const char* kSignatureName = "KEL.release.minisig";
    // The largest list taken: enough for 16 GiB of archives in 1 MiB pieces.
    static constexpr std::size_t kMaxFileSize = 1u << 20;

    std::uint64_t serial = 0;
    std::int64_t expires = 0;   // seconds since 1970, UTC
    ReleaseArchive application;
    std::optional<ReleaseArchive> update;

    std::string Text() const;
    // Nothing when `text` is not exactly a list as Text writes it.
    static std::optional<CReleaseList> Parse(std::string_view text);
    bool operator==(const CReleaseList&) const = default;
};

// "2027-03-10T11:11:00Z" for seconds since 1970, and back (nothing for any other form).
std::string UtcTimeText(std::int64_t seconds);
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
