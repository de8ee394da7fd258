#pragma once
#include "worker/CReleaseList.h"

#include <cstdint>
#include <optional>
#include <string>

// What the program remembers of the last release list it accepted for one
// publisher key: the list's serial and the hash of its text, in a small file
// of its own in the user's state folder, so an older list (or another list
// under the same serial) served later is refused.
class CReleaseState {
public:
    struct Accepted {
        std::uint64_t serial = 0;
        PieceHash list{};   // BLAKE2b-256 of the list's text
        bool operator==(const Accepted&) const = default;
    };

    // `folder`: the state folder, ending in the separator; made when missing.
    explicit CReleaseState(std::string folder) : m_folder(std::move(folder)) {}

    // The list accepted last for `keyId`; nothing when none was, or the
    // record cannot be read or makes no sense.
    std::optional<Accepted> Load(const std::string& keyId) const;
    // Replaces the record for `keyId`, atomically and durably: a crash leaves
    // the old record or the new one. Empty when it did; otherwise why not.
    std::string Store(const std::string& keyId, const Accepted& accepted) const;

private:
    std::string m_folder;
};
